// The test bed's hardware: a machine of PCI buses with devices in their slots, the ISA ports the
// driver touches, and models of the PCI-to-ISA bridge and of UHCI and OHCI host controllers.
// Everything here is plain C++ (no kernel headers): tests build machines from it directly.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace hcsim {

class Machine;

// Memory the controllers reach as bus masters: a physical range to the bytes behind it, or null
// when the range is not memory (or runs past the end of what lies there).
class DmaSpace {
 public:
  virtual ~DmaSpace() = default;
  virtual uint8_t *at(uint32_t physical, uint32_t length) = 0;
};

// USB packet identifiers of the tokens a host controller sends.
enum class Pid : uint8_t { Out = 0xE1, In = 0x69, Setup = 0x2D };
// How a device answers one transaction.
enum class Handshake { Ack, Nak, Stall, Timeout };

// A full-speed (or low-speed) USB function on a root port. Endpoint 0 answers the standard
// requests from the device's descriptors; endpoint 0x81 is bulk in, 0x02 bulk out, 0x83 interrupt
// in (8 bytes, bInterval 10); interface 1 has 0x84, an isochronous in stream of 256-byte packets
// every frame, as a camera sends (byte i of the stream is i * 7 mod 251). Every endpoint keeps its data toggle as a
// device does: an out packet with the wrong toggle is acknowledged and dropped, an in packet carries the endpoint's
// toggle and the host checks it. Any endpoint can be told to NAK, STALL or not answer at all.
class UsbDevice {
 public:
  struct Endpoint {
    uint8_t address = 0;
    uint8_t type = 0;  // 0 control, 1 isochronous, 2 bulk, 3 interrupt
    uint16_t maxPacket = 0;
    uint8_t interval = 0;
    bool toggle = false;
    bool stalled = false;          // answers STALL until a clear-feature (endpoint halt)
    bool nak = false;              // answers NAK while set
    bool timeout = false;          // does not answer while set
    unsigned transactions = 0;     // tokens seen, NAKed ones included
    std::vector<uint32_t> frames;  // frame number of every token seen (interrupt and iso endpoints)
  };

  explicit UsbDevice(bool lowSpeed = false);
  bool lowSpeed;
  uint8_t address = 0;
  uint8_t configuration = 0;
  uint8_t alternateSetting = 0;
  std::vector<Endpoint> endpoints;
  std::vector<uint8_t> deviceDescriptor;
  std::vector<uint8_t> configurationDescriptor;

  std::vector<std::array<uint8_t, 8>> setups;  // every setup packet received, in order
  std::vector<uint8_t> controlOut;             // data stages received on endpoint 0
  std::vector<uint8_t> bulkIn;                 // bytes endpoint 0x81 still has to send
  std::vector<uint8_t> bulkOut;                // bytes endpoint 0x02 received
  std::vector<uint8_t> interruptIn;            // bytes endpoint 0x83 still has to send
  uint32_t isoSent = 0;                        // bytes the stream of endpoint 0x84 has sent
  uint32_t frame = 0;                          // set by the controller before each frame

  Endpoint *endpoint(uint8_t address);
  // A bus reset on its port: address 0, unconfigured, every endpoint back to DATA0 and unhalted.
  void busReset();
  unsigned busResets = 0;
  // One transaction. Out and setup: length bytes at data. In: at most length bytes into data,
  // length set to what was sent; *toggle is the data PID's toggle (the endpoint's).
  Handshake transact(Pid pid, uint8_t endpoint, bool *toggle, uint8_t *data, unsigned &length);

 private:
  std::vector<uint8_t> controlReply_;
  size_t controlReplyAt_ = 0;
  bool controlIn_ = false;
  std::array<uint8_t, 8> pending_{};
  void finishControl();
};

// The bus time a full-speed frame has, and the cost of a transaction in bytes of it: the data
// plus the protocol overhead of token, data packet framing, handshake and the gaps between them
// (13 bytes for control, bulk and interrupt transactions, 9 for isochronous ones without a
// handshake, the figures of USB 2.0's bus-time tables). A low-speed
// transaction takes eight times as long.
constexpr unsigned kFrameBytes = 1500;
constexpr unsigned kTransactionOverhead = 13;
constexpr unsigned kIsochronousOverhead = 9;

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
  // Whether the device holds its interrupt line asserted now.
  virtual bool interruptAsserted() const { return false; }

  std::vector<Access> registerLog;  // every register access, in order
  Machine *machine = nullptr;       // set when the device is put into a slot
};

// The Intel 82371AB PCI-to-ISA bridge (8086:7110): PIRQ route registers 0x60-0x63.
class PiixBridge : public PciDevice {
 public:
  PiixBridge();
  uint8_t pirqRoute(unsigned pin) const { return config[0x5F + pin]; }  // pin 1-4
};

// UHCI: I/O registers USBCMD, USBSTS, USBINTR, FRNUM, FLBASEADD, SOFMOD, PORTSC1/2.
//
// The root ports follow PORTSC of the UHCI design guide: connect status (bit 0) and its change
// (1), enable (2) and its change (3, set when the port is disabled by a disconnect), resume detect
// (6, written by software to signal a resume), bit 7 always one, low-speed device (8), reset (9,
// held by software: the device is in reset while it is set), suspend (12). Bits 1 and 3 are
// cleared by writing one; the port can be enabled only with a device connected. No interrupt
// tells of a port change.
class UhciController : public PciDevice {
 public:
  explicit UhciController(uint32_t ioBase = 0xE000, uint16_t vendor = 0x8086, uint16_t device = 0x7112);
  uint32_t readRegister(uint32_t offset, unsigned size) override;
  void writeRegister(uint32_t offset, unsigned size, uint32_t value) override;
  void advance(uint64_t microseconds) override;

  bool interruptAsserted() const override;

  uint16_t usbcmd = 0, usbsts = 0x20, usbintr = 0, frnum = 0, portsc[2] = {0x80, 0x80};
  uint32_t flbaseadd = 0;
  uint8_t sofmod = 0x40;
  uint64_t frameTime = 0;  // microseconds into the current frame

  // A device on a root port (the port is connected and enabled, as the hub driver leaves it).
  void attach(unsigned port, UsbDevice *device);
  // A device is plugged in (connect status and change; not enabled until the port is reset and
  // enabled) or pulled out (connection gone with its change; an enabled port is disabled with the
  // enable change). Ports are 0 and 1.
  void plug(unsigned port, UsbDevice *device);
  void unplug(unsigned port);
  UsbDevice *ports[2] = {nullptr, nullptr};

  uint64_t frames = 0;            // frames run since the controller last started
  unsigned bytesThisFrame = 0;    // bus time used by the last frame, in bytes
  uint64_t dataBytes = 0;         // payload moved, all frames
  unsigned interruptReasons = 0;  // USBINTR bits whose events are pending

  void hostControllerReset();
  void runFrame();  // the rest of the current frame (or a whole one) at once

 private:
  enum class TdResult { Inactive, Done, Short, Retry, Error, NoTime };
  // Where the frame's walk is: the next link, the queue head whose element runs, and the
  // descriptor whose transaction is on the bus (its words as fetched) until the frame's bus time
  // reaches end.
  struct Walk {
    bool running = false, ended = false, held = false;
    uint32_t link = 1, qh = 0, td = 0, words[4] = {};
    unsigned end = 0;
    std::set<uint32_t> idle;  // queue heads passed since the last transaction
  } walk_;
  void startFrame();
  void work(unsigned budget);
  TdResult fetchTd(uint32_t td);
  TdResult completeTd();
  UsbDevice *deviceAt(uint8_t address);
};

// OHCI: memory-mapped registers HcRevision ... HcRhPortStatus.
//
// The root hub follows the OHCI 1.0a register descriptions: HcRhDescriptorA (port count, the
// power-switching and over-current modes, power-on-to-power-good time; all but the port count
// writable), HcRhDescriptorB (removable-device bits and port-power control mask), HcRhStatus
// (over-current indicator and its change, remote-wakeup enable; written with the command bits
// clear/set global power, set/clear remote-wakeup enable) and HcRhPortStatus[n] (written with
// command bits: clear enable, set enable, set suspend, clear suspend (a 20 ms resume), set reset
// (the controller times 10 ms, then the port is enabled with the reset change), set and clear
// power; bits 16-20 are changes, cleared by writing one). Enable, suspend and reset of a port
// without a device set its connect change instead. Every change raises the root-hub status-change
// interrupt (0x40).
class OhciController : public PciDevice {
 public:
  static constexpr unsigned kMaxPorts = 15;
  explicit OhciController(uint32_t memoryBase = 0xFEBF0000, unsigned ports = 2, uint16_t vendor = 0x1045,
                          uint16_t device = 0xC861);
  uint32_t readRegister(uint32_t offset, unsigned size) override;
  void writeRegister(uint32_t offset, unsigned size, uint32_t value) override;

  // Faults to put the driver to the test.
  bool resetNeverCompletes = false;  // HcCommandStatus' reset bit stays set
  bool frameIntervalStuck = false;   // HcFmInterval ignores writes
  unsigned resetReads = 1;           // reads of HcCommandStatus before the reset bit clears
  uint32_t hccaMask = 0xFFFFFF00u;   // writable bits of HcHCCA (256-byte alignment)

  uint32_t reg[0x54 / 4 + kMaxPorts] = {};
  unsigned ports;
  bool globalPower = false;
  unsigned resetReadsLeft = 0;
  // The root hub descriptors as the board sets them up, loaded at every reset; descriptor A's
  // port count comes from the constructor.
  uint32_t descriptorA;
  uint32_t descriptorB = 0;
  bool remoteWakeupEnable = false;

  void advance(uint64_t microseconds) override;
  bool interruptAsserted() const override;
  // A device on a root port (connected and enabled, as the hub driver leaves it).
  void attach(unsigned port, UsbDevice *device);
  // Plugged in (connect change; not enabled until reset) or pulled out (connect change; an enabled
  // port is disabled with the enable change). Ports are 0 ... ports - 1.
  void plug(unsigned port, UsbDevice *device);
  void unplug(unsigned port);
  // Over-current on a port begins or ends: per port (descriptor A bit 11) in the port's register,
  // which also disables the port, else for the whole hub in HcRhStatus.
  void overCurrent(unsigned port, bool present);
  uint32_t &portStatus(unsigned port) { return reg[0x54 / 4 + port]; }
  UsbDevice *devices[kMaxPorts] = {};
  uint64_t frameTime = 0;
  uint64_t frames = 0;          // frames run while operational
  unsigned bytesThisFrame = 0;  // bus time used by the last frame, in bytes
  uint64_t dataBytes = 0;       // payload moved, all frames
  uint32_t doneHead = 0;        // retired descriptors not yet written to the communication area
  unsigned failNextWith = 0;    // a fault: the next general descriptor retires with this condition code

  void softwareReset();
  void runFrame();  // the rest of the current frame (or a whole one) at once

 private:
  enum class EdResult { Idle, Retry, Progress, NoTime, Started };
  // A transaction on the bus: its endpoint and transfer descriptor's words as fetched, until the
  // frame's bus time reaches end.
  struct Transaction {
    bool iso;
    uint32_t ed, td, e0, head, c, cbp, next, be;
    bool toggle;
    unsigned remaining, length;
    int relative;
    unsigned count, start, size, end;
  };
  // Where the frame's walk is.
  struct Walk {
    bool running = false, ended = false, held = false, inPeriodic = true, moved = false;
    uint32_t control = 0, number = 0, periodic = 0;
    unsigned periodicSteps = 0, slot = 0, round = 0;
    size_t tried = 0, at[2] = {0, 0};
    std::vector<uint32_t> lists[2];
    Transaction x{};
  } walk_;
  void startFrame();
  void endFrame();
  void work(unsigned budget);
  EdResult serviceEd(uint32_t ed);  // fetches the head descriptor: Started when its transaction is on the bus
  EdResult finishEd();
  EdResult serviceIsochronous(uint32_t ed, uint32_t frame);
  EdResult finishIsochronous();
  UsbDevice *deviceAt(uint8_t address);
  void portChange(unsigned port, uint32_t bits);
  void writePort(unsigned port, uint32_t value);
  void advancePorts(uint64_t microseconds);
  uint64_t resetLeft_[kMaxPorts] = {};   // microseconds of a port reset still to run
  uint64_t resumeLeft_[kMaxPorts] = {};  // microseconds of a resume still to run
  bool overCurrentIndicator_ = false;
};

// The machine: PCI functions by bus and slot, the edge/level control ports, and the last bus
// that exists (configuration reads beyond it return nothing).
class Machine {
 public:
  // slot as NT encodes it: device number in bits 0-4, function in bits 5-7.
  template <class T>
  T &add(unsigned bus, unsigned device, unsigned function, std::unique_ptr<T> d) {
    T &ref = *d;
    ref.machine = this;
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
  uint8_t elcr[2] = {0, 0};               // ports 0x4D0, 0x4D1
  std::vector<Access> portLog;            // accesses to ports outside every device's range
  DmaSpace *memory = nullptr;             // what bus masters reach
  std::chrono::nanoseconds modelTime{0};  // host time spent in the devices' advance (the models)
};

}  // namespace hcsim
