// The test bed's hardware: a machine of PCI buses with devices in their slots, the ISA ports the
// driver touches, and models of the PCI-to-ISA bridge and of UHCI and OHCI host controllers.
// Everything here is plain C++ (no kernel headers): tests build machines from it directly.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace hcsim {

class Machine;

// One logged access: configuration space, a port or a memory-mapped register.
struct Access {
  bool write;
  uint32_t offset;  // configuration offset, port address or register offset
  unsigned size;    // bytes
  uint32_t value;
  bool operator==(const Access &o) const {
    return write == o.write && offset == o.offset && size == o.size && value == o.value;
  }
};

// A PCI function with a 256-byte configuration space and at most one register range.
class PciDevice {
 public:
  enum class Range { None, Io, Memory };

  PciDevice(uint16_t vendor, uint16_t device, uint8_t baseClass, uint8_t subClass, uint8_t progIf);
  virtual ~PciDevice() = default;

  uint8_t config[256] = {};
  std::vector<Access> configWrites;

  Range range = Range::None;
  uint32_t rangeBase = 0;
  uint32_t rangeLength = 0;
  bool busMasterSticks = true;  // false: the command register's bus-master bit reads back clear
  bool interruptShared = true;  // how the HAL reports the interrupt resource

  uint16_t vendorId() const { return static_cast<uint16_t>(config[0] | config[1] << 8); }
  uint8_t interruptPin() const { return config[0x3D]; }
  uint8_t interruptLine() const { return config[0x3C]; }
  void setInterrupt(uint8_t pin, uint8_t line) {
    config[0x3D] = pin;
    config[0x3C] = line;
  }
  uint32_t configValue(unsigned offset, unsigned size) const;

  // Configuration writes pass through here (identification registers are read-only).
  virtual void writeConfig(unsigned offset, const uint8_t *data, unsigned length);

  // Register range accesses (offset from the range's start).
  virtual uint32_t readRegister(uint32_t offset, unsigned size) { return 0xFFFFFFFFu; }
  virtual void writeRegister(uint32_t offset, unsigned size, uint32_t value) {}
  // Simulated time passes (microseconds); models with timed behaviour override this.
  virtual void advance(uint64_t microseconds) {}

  std::vector<Access> registerLog;  // every register access, in order
};

// The Intel 82371AB PCI-to-ISA bridge (8086:7110): PIRQ route registers 0x60-0x63.
class PiixBridge : public PciDevice {
 public:
  PiixBridge();
  uint8_t pirqRoute(unsigned pin) const { return config[0x5F + pin]; }  // pin 1-4
};

// UHCI: I/O registers USBCMD, USBSTS, USBINTR, FRNUM, FLBASEADD, SOFMOD, PORTSC1/2.
class UhciController : public PciDevice {
 public:
  explicit UhciController(uint32_t ioBase = 0xE000, uint16_t vendor = 0x8086, uint16_t device = 0x7112);
  uint32_t readRegister(uint32_t offset, unsigned size) override;
  void writeRegister(uint32_t offset, unsigned size, uint32_t value) override;
  void advance(uint64_t microseconds) override;

  uint16_t usbcmd = 0, usbsts = 0x20, usbintr = 0, frnum = 0, portsc[2] = {0x80, 0x80};
  uint32_t flbaseadd = 0;
  uint8_t sofmod = 0x40;
  uint64_t frameTime = 0;  // microseconds into the current frame

  void hostControllerReset();
};

// OHCI: memory-mapped registers HcRevision ... HcRhPortStatus.
class OhciController : public PciDevice {
 public:
  explicit OhciController(uint32_t memoryBase = 0xFEBF0000, unsigned ports = 2, uint16_t vendor = 0x1045,
                          uint16_t device = 0xC861);
  uint32_t readRegister(uint32_t offset, unsigned size) override;
  void writeRegister(uint32_t offset, unsigned size, uint32_t value) override;

  // Faults to put the driver to the test.
  bool resetNeverCompletes = false;  // HcCommandStatus' reset bit stays set
  bool frameIntervalStuck = false;   // HcFmInterval ignores writes
  unsigned resetReads = 1;           // reads of HcCommandStatus before the reset bit clears
  uint32_t hccaMask = 0xFFFFFF00u;   // writable bits of HcHCCA (256-byte alignment)

  uint32_t reg[0x60 / 4 + 15] = {};
  unsigned ports;
  bool globalPower = false;
  unsigned resetReadsLeft = 0;

  void softwareReset();
};

// The machine: PCI functions by bus and slot, the edge/level control ports, and the last bus
// that exists (configuration reads beyond it return nothing).
class Machine {
 public:
  // slot as NT encodes it: device number in bits 0-4, function in bits 5-7.
  template <class T>
  T &add(unsigned bus, unsigned device, unsigned function, std::unique_ptr<T> d) {
    T &ref = *d;
    devices[{bus, slotNumber(device, function)}] = std::move(d);
    if (bus > lastBus) lastBus = bus;
    return ref;
  }
  static uint32_t slotNumber(unsigned device, unsigned function) { return (device & 31) | (function & 7) << 5; }
  PciDevice *find(unsigned bus, uint32_t slot) const;
  PciDevice *deviceAtPort(uint32_t port, uint32_t *offset) const;
  PciDevice *deviceAtMemory(uint64_t physical, uint32_t *offset) const;
  void advance(uint64_t microseconds);

  std::map<std::pair<unsigned, uint32_t>, std::unique_ptr<PciDevice>> devices;
  unsigned lastBus = 0;
  uint8_t elcr[2] = {0, 0};     // ports 0x4D0, 0x4D1
  std::vector<Access> portLog;  // accesses to ports outside every device's range
};

}  // namespace hcsim
