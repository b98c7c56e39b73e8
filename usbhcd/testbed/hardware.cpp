#include "hardware.h"

#include <cstring>

namespace hcsim {

PciDevice::PciDevice(uint16_t vendor, uint16_t device, uint8_t baseClass, uint8_t subClass, uint8_t progIf) {
  config[0] = vendor & 0xFF;
  config[1] = vendor >> 8;
  config[2] = device & 0xFF;
  config[3] = device >> 8;
  config[4] = 0x01;  // command: I/O space on, bus master off until the driver sets it
  config[8] = 0x01;  // revision
  config[9] = progIf;
  config[10] = subClass;
  config[11] = baseClass;
  config[0x3C] = 0xFF;  // no interrupt routed
}

uint32_t PciDevice::configValue(unsigned offset, unsigned size) const {
  uint32_t v = 0;
  for (unsigned i = 0; i < size && offset + i < 256; ++i) v |= static_cast<uint32_t>(config[offset + i]) << (8 * i);
  return v;
}

void PciDevice::writeConfig(unsigned offset, const uint8_t *data, unsigned length) {
  uint32_t value = 0;
  for (unsigned i = 0; i < length && i < 4; ++i) value |= static_cast<uint32_t>(data[i]) << (8 * i);
  configWrites.push_back({true, offset, length, value});
  for (unsigned i = 0; i < length && offset + i < 256; ++i) {
    unsigned at = offset + i;
    if (at < 4 || (at >= 8 && at < 12) || at == 0x3D || (at >= 0x2C && at < 0x30)) continue;  // read-only
    uint8_t b = data[i];
    if (at == 4 && !busMasterSticks) b &= ~0x04;
    config[at] = b;
  }
}

PiixBridge::PiixBridge() : PciDevice(0x8086, 0x7110, 0x06, 0x01, 0x00) {
  for (unsigned pin = 1; pin <= 4; ++pin) config[0x5F + pin] = 0x80;  // routing disabled
}

// ---------------------------------------------------------------------------------------------
// UHCI

UhciController::UhciController(uint32_t ioBase, uint16_t vendor, uint16_t device)
    : PciDevice(vendor, device, 0x0C, 0x03, 0x00) {
  range = Range::Io;
  rangeBase = ioBase;
  rangeLength = 0x20;
  config[0x20] = static_cast<uint8_t>(ioBase | 1);
  config[0x21] = static_cast<uint8_t>(ioBase >> 8);
  config[0xC0] = 0x00;  // legacy support: firmware traps off
  config[0xC1] = 0x20;
}

void UhciController::hostControllerReset() {
  usbcmd = 0;
  usbsts = 0x20;
  usbintr = 0;
  frnum = 0;
  flbaseadd = 0;
  sofmod = 0x40;
  portsc[0] = portsc[1] = 0x80;
}

uint32_t UhciController::readRegister(uint32_t offset, unsigned size) {
  uint32_t v = 0xFFFFFFFFu;
  switch (offset) {
    case 0x00:
      v = usbcmd;
      break;
    case 0x02:
      v = usbsts;
      break;
    case 0x04:
      v = usbintr;
      break;
    case 0x06:
      v = frnum;
      break;
    case 0x08:
      v = flbaseadd;
      break;
    case 0x0C:
      v = sofmod;
      break;
    case 0x10:
      v = portsc[0];
      break;
    case 0x12:
      v = portsc[1];
      break;
  }
  if (size == 1) v &= 0xFF;
  if (size == 2) v &= 0xFFFF;
  registerLog.push_back({false, offset, size, v});
  return v;
}

void UhciController::writeRegister(uint32_t offset, unsigned size, uint32_t value) {
  registerLog.push_back({true, offset, size, value});
  switch (offset) {
    case 0x00:
      if (value & 0x02) {  // host-controller reset: done at once
        hostControllerReset();
        return;
      }
      usbcmd = static_cast<uint16_t>(value & 0xFF);
      if (usbcmd & 0x01)
        usbsts &= ~0x20;  // running
      else
        usbsts |= 0x20;  // halted
      break;
    case 0x02:
      usbsts &= ~(value & 0x1F);
      break;  // write one to clear (halted is status only)
    case 0x04:
      usbintr = static_cast<uint16_t>(value & 0x0F);
      break;
    case 0x06:
      if (usbsts & 0x20) frnum = static_cast<uint16_t>(value & 0x7FF);
      break;
    case 0x08:
      flbaseadd = value & 0xFFFFF000u;
      break;
    case 0x0C:
      sofmod = static_cast<uint8_t>(value & 0x7F);
      break;
    case 0x10:
    case 0x12: {
      // Change bits 1 and 3 are cleared by writing one; enable, resume, reset and suspend are
      // written; bit 7 always reads one. No device is attached yet.
      uint16_t &p = portsc[(offset - 0x10) / 2];
      p = static_cast<uint16_t>((p & 0x000A & ~value) | (value & 0x1244) | 0x80);
      break;
    }
  }
}

void UhciController::advance(uint64_t microseconds) {
  if (!(usbcmd & 0x01)) return;
  frameTime += microseconds;
  while (frameTime >= 1000) {
    frameTime -= 1000;
    frnum = static_cast<uint16_t>((frnum + 1) & 0x7FF);
  }
}

// ---------------------------------------------------------------------------------------------
// OHCI

namespace ohci {
enum : uint32_t {
  Revision = 0x00,
  Control = 0x04,
  CommandStatus = 0x08,
  InterruptStatus = 0x0C,
  InterruptEnable = 0x10,
  InterruptDisable = 0x14,
  Hcca = 0x18,
  FmInterval = 0x34,
  FmRemaining = 0x38,
  FmNumber = 0x3C,
  PeriodicStart = 0x40,
  LsThreshold = 0x44,
  RhDescriptorA = 0x48,
  RhDescriptorB = 0x4C,
  RhStatus = 0x50,
};
}

OhciController::OhciController(uint32_t memoryBase, unsigned ports, uint16_t vendor, uint16_t device)
    : PciDevice(vendor, device, 0x0C, 0x03, 0x10), ports(ports) {
  range = Range::Memory;
  rangeBase = memoryBase;
  rangeLength = 0x1000;
  config[0x10] = static_cast<uint8_t>(memoryBase);
  config[0x11] = static_cast<uint8_t>(memoryBase >> 8);
  config[0x12] = static_cast<uint8_t>(memoryBase >> 16);
  config[0x13] = static_cast<uint8_t>(memoryBase >> 24);
  softwareReset();
  reg[ohci::Control / 4] = 0;  // hardware reset state: UsbReset
}

// The software reset: registers to their defaults, the controller in UsbSuspend.
void OhciController::softwareReset() {
  uint32_t rhStatus = reg[ohci::RhStatus / 4];
  std::memset(reg, 0, sizeof(reg));
  reg[ohci::Revision / 4] = 0x10;
  reg[ohci::Control / 4] = 0xC0;  // UsbSuspend
  reg[ohci::FmInterval / 4] = 0x2EDF;
  reg[ohci::LsThreshold / 4] = 0x628;
  reg[ohci::RhDescriptorA / 4] = 0x01000000u | 0x0200u | (ports & 0xFF);  // 2 ms power-on, no power switching
  reg[ohci::RhStatus / 4] = rhStatus;                                     // the root hub keeps its state
}

uint32_t OhciController::readRegister(uint32_t offset, unsigned size) {
  uint32_t v = 0;
  if (offset == ohci::InterruptDisable)
    v = reg[ohci::InterruptEnable / 4];
  else if (offset / 4 < sizeof(reg) / 4)
    v = reg[offset / 4];
  if (offset == ohci::CommandStatus && (v & 1) && !resetNeverCompletes) {
    if (resetReadsLeft > 0 && --resetReadsLeft == 0) {
      softwareReset();
      v = reg[offset / 4];
    }
  }
  registerLog.push_back({false, offset, size, v});
  return v;
}

void OhciController::writeRegister(uint32_t offset, unsigned size, uint32_t value) {
  registerLog.push_back({true, offset, size, value});
  if (offset / 4 >= sizeof(reg) / 4) return;
  uint32_t &r = reg[offset / 4];
  switch (offset) {
    case ohci::Revision:
      break;
    case ohci::CommandStatus:
      if (value & 1) {
        r |= 1;
        resetReadsLeft = resetReads;
      }
      r |= value & 0x0E;
      break;
    case ohci::InterruptStatus:
      r &= ~value;
      break;
    case ohci::InterruptEnable:
      reg[ohci::InterruptEnable / 4] |= value;
      break;
    case ohci::InterruptDisable:
      reg[ohci::InterruptEnable / 4] &= ~value;
      break;
    case ohci::Hcca:
      r = value & hccaMask;
      break;
    case ohci::FmInterval:
      if (!frameIntervalStuck) r = value & 0xFFFF3FFFu;
      break;
    case ohci::RhDescriptorA:
      break;
    case ohci::RhStatus:
      if (value & 0x1) globalPower = false;
      if (value & 0x10000) globalPower = true;
      break;
    default:
      r = value;
      break;
  }
}

// ---------------------------------------------------------------------------------------------

PciDevice *Machine::find(unsigned bus, uint32_t slot) const {
  auto it = devices.find({bus, slot});
  return it == devices.end() ? nullptr : it->second.get();
}

PciDevice *Machine::deviceAtPort(uint32_t port, uint32_t *offset) const {
  for (auto &entry : devices) {
    PciDevice *d = entry.second.get();
    if (d->range == PciDevice::Range::Io && port >= d->rangeBase && port < d->rangeBase + d->rangeLength) {
      *offset = port - d->rangeBase;
      return d;
    }
  }
  return nullptr;
}

PciDevice *Machine::deviceAtMemory(uint64_t physical, uint32_t *offset) const {
  for (auto &entry : devices) {
    PciDevice *d = entry.second.get();
    if (d->range == PciDevice::Range::Memory && physical >= d->rangeBase && physical < d->rangeBase + d->rangeLength) {
      *offset = static_cast<uint32_t>(physical - d->rangeBase);
      return d;
    }
  }
  return nullptr;
}

void Machine::advance(uint64_t microseconds) {
  for (auto &entry : devices) entry.second->advance(microseconds);
}

}  // namespace hcsim
