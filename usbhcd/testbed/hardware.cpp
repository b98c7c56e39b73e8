#include "hardware.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <set>

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
  interruptReasons = 0;
  frnum = 0;
  flbaseadd = 0;
  sofmod = 0x40;
  // The ports start over: a device still plugged in shows as a new connection.
  for (unsigned i = 0; i < 2; ++i)
    portsc[i] = ports[i] ? static_cast<uint16_t>(0x83 | (ports[i]->lowSpeed ? 0x100 : 0)) : 0x80;
  walk_ = Walk{};
  frameTime = 0;
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
      if (!(usbsts & 0x03)) interruptReasons = 0;
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
      // written (enable only with a device there); bit 7 always reads one; connect status and
      // low speed follow the device. Setting reset resets the device.
      unsigned port = (offset - 0x10) / 2;
      uint16_t &p = portsc[port];
      UsbDevice *d = ports[port];
      uint16_t old = p, written = static_cast<uint16_t>(value & 0x1244);
      if (!d) written &= ~0x0004;
      uint16_t attached = d ? static_cast<uint16_t>(0x01 | (d->lowSpeed ? 0x100 : 0)) : 0;
      p = static_cast<uint16_t>((p & 0x000A & ~value) | written | 0x80 | attached);
      if (d && (p & 0x200) && !(old & 0x200)) d->busReset();
      break;
    }
  }
}

// A frame's transactions take their share of its millisecond: time passes in any steps, and the
// walk gets as far as the bus time elapsed, a transaction in flight completing when its bus time
// has passed. The driver may act between steps, as it can while a real controller works.
void UhciController::advance(uint64_t microseconds) {
  if (!(usbcmd & 0x01)) return;
  while (microseconds) {
    if (!walk_.running) startFrame();
    uint64_t step = std::min<uint64_t>(microseconds, 1000 - frameTime);
    frameTime += step;
    microseconds -= step;
    work(static_cast<unsigned>(frameTime * kFrameBytes / 1000));
    if (frameTime >= 1000) {
      frameTime = 0;
      walk_.running = false;
      frnum = static_cast<uint16_t>((frnum + 1) & 0x7FF);
    }
  }
}

void UhciController::runFrame() {
  if (!walk_.running) startFrame();
  work(kFrameBytes);
  walk_.running = false;
}

void UhciController::attach(unsigned port, UsbDevice *device) {
  ports[port] = device;
  portsc[port] = static_cast<uint16_t>(0x80 | 0x0F | (device && device->lowSpeed ? 0x100 : 0));
  if (!device) portsc[port] = 0x80 | 0x02;
}

void UhciController::plug(unsigned port, UsbDevice *device) {
  ports[port] = device;
  uint16_t &p = portsc[port];
  p = static_cast<uint16_t>((p & 0x0008) | 0x80 | 0x03 | (device->lowSpeed ? 0x100 : 0));
}

void UhciController::unplug(unsigned port) {
  ports[port] = nullptr;
  uint16_t &p = portsc[port];
  p = static_cast<uint16_t>((p & 0x0008) | 0x80 | 0x02 | ((p & 0x0004) ? 0x0008 : 0));
}

bool UhciController::interruptAsserted() const { return (usbsts & 0x03) && (interruptReasons & usbintr); }

UsbDevice *UhciController::deviceAt(uint8_t address) {
  for (unsigned i = 0; i < 2; ++i)
    if (ports[i] && (portsc[i] & 0x04) && !(portsc[i] & 0x1200) && ports[i]->address == address) return ports[i];
  return nullptr;
}

namespace {
uint32_t load32(Machine *m, uint32_t physical) {
  uint8_t *p = m && m->memory ? m->memory->at(physical, 4) : nullptr;
  if (!p) return 1;  // no memory there: reads as a terminating link
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
void store32(Machine *m, uint32_t physical, uint32_t value) {
  uint8_t *p = m && m->memory ? m->memory->at(physical, 4) : nullptr;
  if (p) std::memcpy(p, &value, 4);
}
}  // namespace

// A transfer descriptor is fetched: its words are read once, and its transaction takes the bus
// time it needs if the frame still has it (its data plus the protocol overhead; low speed eight
// times as much). The transaction completes later, from the words fetched.
UhciController::TdResult UhciController::fetchTd(uint32_t td) {
  uint32_t control = load32(machine, td + 4);
  if (!(control & (1u << 23))) return TdResult::Inactive;
  Walk &w = walk_;
  w.td = td;
  w.words[0] = load32(machine, td);
  w.words[1] = control;
  w.words[2] = load32(machine, td + 8);
  w.words[3] = load32(machine, td + 12);
  unsigned maximum = ((w.words[2] >> 21) + 1) & 0x7FF;
  bool iso = control & (1u << 25);
  unsigned cost = maximum + (iso ? kIsochronousOverhead : kTransactionOverhead);
  if (control & (1u << 26)) cost *= 8;
  if (bytesThisFrame + cost > kFrameBytes) return TdResult::NoTime;
  bytesThisFrame += cost;
  w.end = bytesThisFrame;
  w.held = true;
  return TdResult::Done;
}

// The fetched descriptor's transaction: its token goes to the device and its status is written
// back as the controller does.
UhciController::TdResult UhciController::completeTd() {
  uint32_t td = walk_.td, control = walk_.words[1], token = walk_.words[2], buffer = walk_.words[3];
  Pid pid = static_cast<Pid>(token & 0xFF);
  uint8_t address = (token >> 8) & 0x7F;
  uint8_t endpoint = (token >> 15) & 0x0F;
  bool toggle = (token >> 19) & 1;
  unsigned maximum = ((token >> 21) + 1) & 0x7FF;  // 0x7FF + 1: zero bytes
  bool iso = control & (1u << 25);
  UsbDevice *device = deviceAt(address);
  std::vector<uint8_t> data(maximum);
  unsigned length = maximum;
  uint8_t *memory = nullptr;
  if (maximum) {
    memory = machine && machine->memory ? machine->memory->at(buffer, maximum) : nullptr;
    if (!memory) {  // the buffer is not memory: a data buffer error, the descriptor retires
      store32(machine, td + 4, (control & ~(1u << 23) & ~0x7FFu) | (1u << 22) | (1u << 21) | 0x7FF);
      usbsts |= 0x02;
      interruptReasons |= 0x01;
      return TdResult::Error;
    }
    if (pid != Pid::In) std::memcpy(data.data(), memory, maximum);
  }
  bool sentToggle = toggle;
  // A device hears only tokens of its own speed.
  bool reaches = device && device->lowSpeed == ((control & (1u << 26)) != 0);
  Handshake h = reaches ? device->transact(pid, endpoint, &sentToggle, data.data(), length) : Handshake::Timeout;
  bool ioc = control & (1u << 24);
  if (iso && h != Handshake::Ack) {  // no handshake and no retries: the packet is lost, the descriptor retires
    store32(machine, td + 4, (control & ~(1u << 23) & ~0x7FFu) | (1u << 18) | 0x7FF);
    if (ioc) {
      usbsts |= 0x01;
      interruptReasons |= 0x04;
    }
    return TdResult::Done;
  }
  switch (h) {
    case Handshake::Ack: {
      if (pid == Pid::In && !iso && sentToggle != toggle) return TdResult::Retry;  // data dropped, sequence wrong
      if (pid == Pid::In && length) std::memcpy(memory, data.data(), length);
      dataBytes += pid == Pid::Setup ? 0 : length;
      control = (control & ~(1u << 23) & ~0x7FFu & ~(0xFEu << 16)) | ((length - 1) & 0x7FF);
      bool isShort = pid == Pid::In && length < maximum;
      store32(machine, td + 4, control);
      if (ioc) {
        usbsts |= 0x01;
        interruptReasons |= 0x04;
      }
      if (isShort && (control & (1u << 29))) {
        usbsts |= 0x01;
        interruptReasons |= 0x08;
        return TdResult::Short;
      }
      return TdResult::Done;
    }
    case Handshake::Nak:
      store32(machine, td + 4, control | (1u << 19));
      return TdResult::Retry;
    case Handshake::Stall:
      store32(machine, td + 4, (control & ~(1u << 23) & ~0x7FFu) | (1u << 22) | 0x7FF);
      usbsts |= 0x02;
      interruptReasons |= 0x01;
      if (ioc) interruptReasons |= 0x04;
      return TdResult::Error;
    case Handshake::Timeout: {
      unsigned errors = (control >> 27) & 3;
      control |= 1u << 18;  // CRC/time-out
      if (errors) {
        --errors;
        control = (control & ~(3u << 27)) | (errors << 27);
      }
      if (errors == 0) {
        control = (control & ~(1u << 23) & ~0x7FFu) | (1u << 22) | 0x7FF;
        usbsts |= 0x02;
        interruptReasons |= 0x01;
        if (ioc) interruptReasons |= 0x04;
        store32(machine, td + 4, control);
        return TdResult::Error;
      }
      store32(machine, td + 4, control);
      return TdResult::Retry;
    }
  }
  return TdResult::Retry;
}

// A frame: from the frame list's entry, transfer descriptors and queue heads are followed
// through their links. A queue head's element runs; a descriptor that completes advances the
// element to the descriptor's link (written back into the queue head), and the walk goes on down
// the queue when that link has its depth-first bit, else on along the queue head's link. A loop
// of queue heads (bandwidth reclamation) is walked while transactions happen; one pass without
// any ends the frame, as does running out of the frame's bus time.
void UhciController::startFrame() {
  ++frames;
  bytesThisFrame = 0;
  uint32_t frameNumber = static_cast<uint32_t>(frames);
  for (auto *p : ports)
    if (p) p->frame = frameNumber;
  walk_ = Walk{};
  walk_.running = true;
  walk_.link = load32(machine, (flbaseadd & 0xFFFFF000u) + (frnum & 0x3FF) * 4);
}

// The walk goes on as far as the bus time elapsed in the frame allows (budget, in bytes).
void UhciController::work(unsigned budget) {
  Walk &w = walk_;
  for (unsigned steps = 0; !w.ended && steps < 100000; ++steps) {
    if (w.held) {
      if (w.end > budget) return;  // the transaction is still on the bus
      w.held = false;
      TdResult r = completeTd();
      if (!w.qh) {  // a descriptor of the horizontal list (isochronous)
        w.link = w.words[0];
        continue;
      }
      if (r != TdResult::Retry) w.idle.clear();
      uint32_t next = w.words[0];
      if (r == TdResult::Done) {
        store32(machine, w.qh + 4, next);
        if (!(next & 1) && !(next & 2) && (next & 4)) {  // depth first: on down the queue
          TdResult f = fetchTd(next & ~0xFu);
          if (f == TdResult::NoTime) {
            w.ended = true;
            return;
          }
          if (f != TdResult::Inactive) continue;
        }
      }
      w.link = load32(machine, w.qh);
      w.qh = 0;
      continue;
    }
    if (w.link & 1) break;
    uint32_t at = w.link & ~0xFu;
    if (!(w.link & 2)) {  // a descriptor in the horizontal list
      TdResult f = fetchTd(at);
      if (f == TdResult::NoTime) break;
      if (f == TdResult::Inactive) w.link = load32(machine, at);
      continue;
    }
    if (!w.idle.insert(at).second) break;
    uint32_t element = load32(machine, at + 4);
    if (!(element & 1) && !(element & 2)) {
      TdResult f = fetchTd(element & ~0xFu);
      if (f == TdResult::NoTime) break;
      if (f != TdResult::Inactive) {
        w.qh = at;
        continue;
      }
    }
    w.link = load32(machine, at);
  }
  w.ended = true;
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
  ControlHeadED = 0x20,
  BulkHeadED = 0x28,
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
  if (this->ports > kMaxPorts) this->ports = kMaxPorts;
  descriptorA = 0x01000000u | 0x0200u | this->ports;                 // 2 ms power-on, no power switching
  for (unsigned i = 0; i < this->ports; ++i) portStatus(i) = 0x100;  // powered
  softwareReset();
  reg[ohci::Control / 4] = 0;  // hardware reset state: UsbReset
}

// The software reset: registers to their defaults, the controller in UsbSuspend; the root hub
// keeps its state.
void OhciController::softwareReset() {
  uint32_t rhStatus = reg[ohci::RhStatus / 4];
  uint32_t portRegisters[kMaxPorts];
  std::memcpy(portRegisters, &portStatus(0), sizeof(portRegisters));
  std::memset(reg, 0, sizeof(reg));
  std::memcpy(&portStatus(0), portRegisters, sizeof(portRegisters));
  reg[ohci::Revision / 4] = 0x10;
  reg[ohci::Control / 4] = 0xC0;  // UsbSuspend
  reg[ohci::FmInterval / 4] = 0x2EDF;
  reg[ohci::LsThreshold / 4] = 0x628;
  reg[ohci::RhDescriptorA / 4] = descriptorA;
  reg[ohci::RhDescriptorB / 4] = descriptorB;
  reg[ohci::RhStatus / 4] = rhStatus;
  walk_ = Walk{};
  frameTime = 0;
}

uint32_t OhciController::readRegister(uint32_t offset, unsigned size) {
  uint32_t v = 0;
  if (offset == ohci::InterruptDisable)
    v = reg[ohci::InterruptEnable / 4];
  else if (offset == ohci::RhStatus)  // local power status and its change read 0
    v = (overCurrentIndicator_ ? 0x2u : 0) | (remoteWakeupEnable ? 0x8000u : 0) | (reg[offset / 4] & 0x20000u);
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
    case ohci::RhDescriptorA:  // the port count is read-only
      r = (r & 0xFFu) | (value & 0xFF001F00u);
      break;
    case ohci::RhStatus:
      if (value & 0x1) globalPower = false;
      if (value & 0x10000) globalPower = true;
      if (value & 0x20000) r &= ~0x20000u;
      if (value & 0x8000) remoteWakeupEnable = true;
      if (value & 0x80000000u) remoteWakeupEnable = false;
      break;
    default:
      if (offset >= 0x54) {
        if ((offset - 0x54) / 4 < ports) writePort((offset - 0x54) / 4, value);
        break;
      }
      r = value;
      break;
  }
}

void OhciController::attach(unsigned port, UsbDevice *device) {
  devices[port] = device;
  portStatus(port) = device ? (0x103u | (device->lowSpeed ? 0x200u : 0)) : 0x100u;
}

void OhciController::portChange(unsigned port, uint32_t bits) {
  portStatus(port) |= bits;
  reg[ohci::InterruptStatus / 4] |= 0x40;
}

void OhciController::plug(unsigned port, UsbDevice *device) {
  devices[port] = device;
  uint32_t &r = portStatus(port);
  r = (r & 0x1F0100u) | 0x1u | (device->lowSpeed ? 0x200u : 0);
  portChange(port, 0x10000);
}

void OhciController::unplug(unsigned port) {
  devices[port] = nullptr;
  uint32_t &r = portStatus(port);
  bool enabled = r & 0x2;
  r &= 0x1F0100u;
  resetLeft_[port] = resumeLeft_[port] = 0;
  portChange(port, 0x10000 | (enabled ? 0x20000 : 0));
}

void OhciController::overCurrent(unsigned port, bool present) {
  if (reg[ohci::RhDescriptorA / 4] & 0x800) {  // per port
    uint32_t &r = portStatus(port);
    bool enabled = r & 0x2;
    r = present ? ((r | 0x8) & ~0x2u) : (r & ~0x8u);
    portChange(port, 0x80000 | (present && enabled ? 0x20000 : 0));
  } else {
    overCurrentIndicator_ = present;
    reg[ohci::RhStatus / 4] |= 0x20000;
    reg[ohci::InterruptStatus / 4] |= 0x40;
  }
}

// A write to HcRhPortStatus: each bit is a command.
void OhciController::writePort(unsigned port, uint32_t value) {
  uint32_t &r = portStatus(port);
  bool connected = r & 0x1;
  r &= ~(value & 0x1F0000u);
  if (value & 0x1) r &= ~0x2u;  // clear port enable
  if (value & 0x16) {           // set enable, set suspend, set reset
    if (!connected) {
      portChange(port, 0x10000);
    } else {
      if (value & 0x2) r |= 0x2;
      if ((value & 0x4) && (r & 0x2)) r |= 0x4;
      if ((value & 0x10) && !(r & 0x10)) {
        r |= 0x10;
        resetLeft_[port] = 10000;
        if (devices[port]) devices[port]->busReset();
      }
    }
  }
  if ((value & 0x8) && (r & 0x4) && !resumeLeft_[port]) resumeLeft_[port] = 20000;  // clear suspend: resume
  if (value & 0x100) r |= 0x100;
  if ((value & 0x200) && !(reg[ohci::RhDescriptorA / 4] & 0x200)) r &= ~0x102u;  // power off (when switched)
}

void OhciController::advancePorts(uint64_t microseconds) {
  for (unsigned i = 0; i < ports; ++i) {
    if (resetLeft_[i]) {
      resetLeft_[i] -= std::min(resetLeft_[i], microseconds);
      if (!resetLeft_[i]) {
        portStatus(i) = (portStatus(i) & ~0x14u) | 0x2u;
        portChange(i, 0x100000);
      }
    }
    if (resumeLeft_[i]) {
      resumeLeft_[i] -= std::min(resumeLeft_[i], microseconds);
      if (!resumeLeft_[i]) {
        portStatus(i) &= ~0x4u;
        portChange(i, 0x40000);
      }
    }
  }
}

bool OhciController::interruptAsserted() const {
  uint32_t enable = reg[ohci::InterruptEnable / 4];
  return (enable & 0x80000000u) && (reg[ohci::InterruptStatus / 4] & enable & 0x7F);
}

void OhciController::advance(uint64_t microseconds) {
  advancePorts(microseconds);
  if ((reg[ohci::Control / 4] & 0xC0) != 0x80) return;  // not UsbOperational
  while (microseconds) {
    if (!walk_.running) startFrame();
    uint64_t step = std::min<uint64_t>(microseconds, 1000 - frameTime);
    frameTime += step;
    microseconds -= step;
    work(static_cast<unsigned>(frameTime * kFrameBytes / 1000));
    if (frameTime >= 1000) {
      frameTime = 0;
      endFrame();
    }
  }
}

UsbDevice *OhciController::deviceAt(uint8_t address) {
  for (unsigned i = 0; i < ports; ++i)
    if (devices[i] && (portStatus(i) & 0x16) == 0x02 && devices[i]->address == address) return devices[i];
  return nullptr;
}

// One transaction of an endpoint descriptor's head transfer descriptor, as the controller makes
// it: the descriptor's current buffer pointer runs on (into the last byte's page when it crosses
// a 4 KB boundary); a descriptor retires to the done queue when its buffer is done, on a short
// packet (condition code 9: data underrun, without buffer rounding), on a stall (4) or after
// three errors (5: device not responding); every retirement other than success halts the
// endpoint. The endpoint's toggle carry follows each retired descriptor.
OhciController::EdResult OhciController::serviceEd(uint32_t ed) {
  uint32_t e0 = load32(machine, ed), tail = load32(machine, ed + 4) & ~0xFu, head = load32(machine, ed + 8);
  if ((e0 & 0x4000) || (head & 1) || (head & ~0xFu) == tail || (head & ~0xFu) == 0) return EdResult::Idle;
  uint32_t td = head & ~0xFu;
  uint32_t c = load32(machine, td), cbp = load32(machine, td + 4), next = load32(machine, td + 8),
           be = load32(machine, td + 12);
  unsigned maximum = (e0 >> 16) & 0x7FF;
  bool toggle = (c & 0x02000000u) ? ((c >> 24) & 1) : ((head >> 1) & 1);
  unsigned remaining = 0;
  if (cbp) remaining = ((be ^ cbp) & ~0xFFFu) ? (0x1000 - (cbp & 0xFFF)) + (be & 0xFFF) + 1 : be - cbp + 1;
  unsigned length = std::min(maximum, remaining);
  unsigned cost = length + kTransactionOverhead;
  if (e0 & 0x2000) cost *= 8;
  if (bytesThisFrame + cost > kFrameBytes) return EdResult::NoTime;
  bytesThisFrame += cost;
  Transaction &x = walk_.x;
  x = Transaction{false, ed, td, e0, head, c, cbp, next, be, toggle, remaining, length, 0, 0, 0, 0, bytesThisFrame};
  walk_.held = true;
  return EdResult::Started;
}

// The fetched general descriptor's transaction completes.
OhciController::EdResult OhciController::finishEd() {
  const Transaction &x = walk_.x;
  uint32_t ed = x.ed, td = x.td, e0 = x.e0, c = x.c, cbp = x.cbp, next = x.next, be = x.be;
  bool toggle = x.toggle;
  unsigned remaining = x.remaining, length = x.length;
  uint8_t address = e0 & 0x7F, number = (e0 >> 7) & 0x0F;
  unsigned direction = (e0 >> 11) & 3;
  if (direction == 0 || direction == 3) direction = (c >> 19) & 3;
  Pid pid = direction == 0 ? Pid::Setup : direction == 1 ? Pid::Out : Pid::In;

  // The bytes at the current buffer pointer, across into the last byte's page.
  auto span = [&](unsigned n, std::vector<std::pair<uint8_t *, unsigned>> &parts) {
    uint32_t at = cbp;
    while (n) {
      unsigned inPage = std::min(n, 0x1000 - (at & 0xFFF));
      uint8_t *p = machine && machine->memory ? machine->memory->at(at, inPage) : nullptr;
      if (!p) return false;
      parts.push_back({p, inPage});
      n -= inPage;
      at = (be & ~0xFFFu);
    }
    return true;
  };
  auto retire = [&](unsigned code, bool halt, bool carry) {
    c = (c & 0x0FFFFFFFu & ~0x0C000000u) | (code << 28);
    store32(machine, td, c);
    store32(machine, td + 4, cbp);
    store32(machine, ed + 8, (next & ~0xFu) | (carry ? 2u : 0u) | (halt ? 1u : 0u));
    store32(machine, td + 8, doneHead);
    doneHead = td;
  };
  if (failNextWith) {
    retire(failNextWith, true, toggle);
    failNextWith = 0;
    return EdResult::Progress;
  }
  std::vector<std::pair<uint8_t *, unsigned>> parts;
  std::vector<uint8_t> data(length);
  if (!span(length, parts)) {
    retire(pid == Pid::In ? 12 : 13, true, toggle);  // buffer overrun / underrun
    return EdResult::Progress;
  }
  if (pid != Pid::In) {
    unsigned at = 0;
    for (auto &p : parts) std::memcpy(data.data() + at, p.first, p.second), at += p.second;
  }
  UsbDevice *device = deviceAt(address);
  if (device && device->lowSpeed != ((e0 & 0x2000) != 0)) device = nullptr;  // it hears only its own speed
  bool sent = toggle;
  unsigned n = length;
  Handshake h = device ? device->transact(pid, number, &sent, data.data(), n) : Handshake::Timeout;
  switch (h) {
    case Handshake::Ack: {
      if (pid == Pid::In && sent != toggle) return EdResult::Retry;
      if (pid == Pid::In) {
        unsigned at = 0;
        for (auto &p : parts) {
          unsigned k = std::min(p.second, n - std::min(n, at));
          std::memcpy(p.first, data.data() + at, k);
          at += p.second;
        }
      }
      if (pid != Pid::Setup) dataBytes += n;
      toggle = !toggle;
      c = (c & ~0x0F000000u) | 0x02000000u | (toggle ? 0x01000000u : 0);
      if (n == remaining) {
        cbp = 0;
        retire(0, false, toggle);
        return EdResult::Progress;
      }
      uint32_t moved = cbp + n;
      if (((moved ^ cbp) & ~0xFFFu)) moved = (be & ~0xFFFu) | (moved & 0xFFF);
      cbp = moved;
      if (pid == Pid::In && n < length) {
        bool rounding = c & 0x00040000u;
        retire(rounding ? 0 : 9, !rounding, toggle);
        return EdResult::Progress;
      }
      store32(machine, td, c);
      store32(machine, td + 4, cbp);
      return EdResult::Progress;
    }
    case Handshake::Nak:
      return EdResult::Retry;
    case Handshake::Stall:
      retire(4, true, toggle);
      return EdResult::Progress;
    case Handshake::Timeout: {
      unsigned errors = ((c >> 26) & 3) + 1;
      if (errors >= 3) {
        retire(5, true, toggle);
        return EdResult::Progress;
      }
      c = (c & ~0x0C000000u) | (errors << 26);
      store32(machine, td, c);
      return EdResult::Retry;
    }
  }
  return EdResult::Retry;
}

// An isochronous descriptor's packet of this frame: relative frame R = frame - start frame; the
// packet's bytes run from its offset word to the next one's (the last to the buffer end), in the
// first page or, with bit 12, the last byte's page. The packet status word gets the condition
// code and size; the descriptor retires after its last packet, or with data overrun (8) when its
// frames have passed.
OhciController::EdResult OhciController::serviceIsochronous(uint32_t ed, uint32_t frame) {
  uint32_t e0 = load32(machine, ed), tail = load32(machine, ed + 4) & ~0xFu, head = load32(machine, ed + 8);
  if ((e0 & 0x4000) || (head & 1) || (head & ~0xFu) == tail || (head & ~0x1Fu) == 0) return EdResult::Idle;
  uint32_t td = head & ~0x1Fu;
  uint32_t c = load32(machine, td), bp0 = load32(machine, td + 4), next = load32(machine, td + 8),
           be = load32(machine, td + 12);
  int16_t relative = static_cast<int16_t>(static_cast<uint16_t>(frame) - static_cast<uint16_t>(c & 0xFFFF));
  unsigned count = ((c >> 24) & 7) + 1;
  auto retire = [&](unsigned code) {
    store32(machine, td, (c & 0x0FFFFFFFu) | (code << 28));
    store32(machine, ed + 8, (next & ~0xFu) | (head & 2));
    store32(machine, td + 8, doneHead);
    doneHead = td;
  };
  if (relative < 0) return EdResult::Idle;
  if (static_cast<unsigned>(relative) >= count) {
    retire(8);
    return EdResult::Progress;
  }
  auto word = [&](unsigned k) {
    uint8_t *p = machine->memory->at(td + 16 + 2 * k, 2);
    return p ? static_cast<uint16_t>(p[0] | p[1] << 8) : uint16_t(0);
  };
  uint32_t start = word(relative) & 0x1FFF;
  uint32_t end = static_cast<unsigned>(relative) + 1 < count
                     ? (word(relative + 1) & 0x1FFF)
                     : (((be & ~0xFFFu) != (bp0 & ~0xFFFu) ? 0x1000u : 0u) | (be & 0xFFF)) + 1;
  unsigned size = end > start ? end - start : 0;
  unsigned cost = size + kIsochronousOverhead;
  if (bytesThisFrame + cost > kFrameBytes) return EdResult::NoTime;
  bytesThisFrame += cost;
  Transaction &x = walk_.x;
  x = Transaction{true, ed, td, e0, head, c, bp0, next, be, false, 0, 0, relative, count, start, size, bytesThisFrame};
  walk_.held = true;
  return EdResult::Started;
}

// The fetched isochronous descriptor's packet completes.
OhciController::EdResult OhciController::finishIsochronous() {
  const Transaction &x = walk_.x;
  uint32_t ed = x.ed, td = x.td, e0 = x.e0, head = x.head, c = x.c, bp0 = x.cbp, next = x.next, be = x.be;
  int relative = x.relative;
  unsigned count = x.count, start = x.start, size = x.size;
  auto retire = [&](unsigned code) {
    store32(machine, td, (c & 0x0FFFFFFFu) | (code << 28));
    store32(machine, ed + 8, (next & ~0xFu) | (head & 2));
    store32(machine, td + 8, doneHead);
    doneHead = td;
  };
  auto address = [&](uint32_t offset) {
    return ((offset & 0x1000) ? (be & ~0xFFFu) : (bp0 & ~0xFFFu)) | (offset & 0xFFF);
  };
  uint8_t number = (e0 >> 7) & 0x0F, devaddr = e0 & 0x7F;
  bool in = ((e0 >> 11) & 3) == 2;
  std::vector<uint8_t> data(size);
  unsigned n = size;
  bool toggle = false;
  UsbDevice *device = deviceAt(devaddr);
  Handshake h = device && in ? device->transact(Pid::In, number, &toggle, data.data(), n) : Handshake::Timeout;
  uint16_t status;
  if (h == Handshake::Ack) {
    for (unsigned i = 0; i < n;) {  // the packet may cross from the first page into the last
      uint32_t at = address(start + i);
      unsigned chunk = std::min(n - i, 0x1000 - (at & 0xFFF));
      if (uint8_t *p = machine->memory->at(at, chunk)) std::memcpy(p, data.data() + i, chunk);
      i += chunk;
    }
    dataBytes += n;
    status = static_cast<uint16_t>((n < size ? 9u : 0u) << 12 | (n & 0x7FF));
  } else {
    status = static_cast<uint16_t>(5u << 12);
  }
  if (uint8_t *p = machine->memory->at(td + 16 + 2 * relative, 2)) {
    p[0] = static_cast<uint8_t>(status);
    p[1] = static_cast<uint8_t>(status >> 8);
  }
  if (static_cast<unsigned>(relative) + 1 == count) retire(0);
  return EdResult::Progress;
}

// A frame: its start writes the frame number to the communication area (start of frame); then
// the periodic list of the frame's slot of the interrupt table, then the control and bulk lists
// (as they were linked when the frame began) in the control/bulk service ratio until the frame's
// bus time is spent or a pass moves nothing; at its end the done queue goes to the communication
// area when the driver has taken the last one. The transactions take their share of the
// millisecond, so the driver may act while one is on the bus, as with a real controller.
void OhciController::startFrame() {
  ++frames;
  bytesThisFrame = 0;
  uint32_t hcca = reg[ohci::Hcca / 4];
  uint32_t number = (reg[ohci::FmNumber / 4] + 1) & 0xFFFF;
  reg[ohci::FmNumber / 4] = number;
  if (uint8_t *p = machine && machine->memory ? machine->memory->at(hcca + 0x80, 4) : nullptr) {
    p[0] = static_cast<uint8_t>(number);
    p[1] = static_cast<uint8_t>(number >> 8);
    p[2] = p[3] = 0;
  }
  uint32_t &status = reg[ohci::InterruptStatus / 4];
  status |= 0x04;  // start of frame
  if ((number & 0x7FFF) == 0) status |= 0x20;
  for (auto *d : devices)
    if (d) d->frame = static_cast<uint32_t>(frames);
  Walk &w = walk_;
  w = Walk{};
  w.running = true;
  w.control = reg[ohci::Control / 4];
  w.number = number;
  w.periodic = (w.control & 0x04) ? load32(machine, hcca + (number % 32) * 4) : 0;
  auto chain = [&](uint32_t head) {
    std::vector<uint32_t> v;
    for (uint32_t ed = head & ~0xFu; ed && v.size() < 64; ed = load32(machine, ed + 12) & ~0xFu) v.push_back(ed);
    return v;
  };
  if (w.control & 0x10) w.lists[0] = chain(reg[ohci::ControlHeadED / 4]);
  if (w.control & 0x20) w.lists[1] = chain(reg[ohci::BulkHeadED / 4]);
}

void OhciController::endFrame() {
  uint32_t &status = reg[ohci::InterruptStatus / 4];
  if (doneHead && !(status & 0x02)) {
    store32(machine, reg[ohci::Hcca / 4] + 0x84, doneHead);
    reg[0x30 / 4] = doneHead;
    doneHead = 0;
    status |= 0x02;
  }
  walk_.running = false;
}

// The walk goes on as far as the bus time elapsed in the frame allows (budget, in bytes).
void OhciController::work(unsigned budget) {
  Walk &w = walk_;
  unsigned ratio = (w.control & 3) + 1;
  for (unsigned steps = 0; !w.ended && steps < 400000; ++steps) {
    if (w.held) {
      if (w.x.end > budget) return;  // the transaction is still on the bus
      w.held = false;
      EdResult r = w.x.iso ? finishIsochronous() : finishEd();
      if (w.inPeriodic) {
        w.periodic = load32(machine, w.x.ed + 12) & ~0xFu;
        ++w.periodicSteps;
      } else {
        if (r == EdResult::Progress) w.moved = true;
        ++w.slot;
        w.tried = 0;
      }
      continue;
    }
    if (w.inPeriodic) {
      if (!w.periodic || w.periodicSteps >= 256) {
        w.inPeriodic = false;
        continue;
      }
      uint32_t ed = w.periodic, e0 = load32(machine, ed);
      EdResult r =
          (e0 & 0x8000) ? ((w.control & 0x08) ? serviceIsochronous(ed, w.number) : EdResult::Idle) : serviceEd(ed);
      if (r == EdResult::NoTime) break;
      if (r != EdResult::Started) {
        w.periodic = load32(machine, ed + 12) & ~0xFu;
        ++w.periodicSteps;
      }
      continue;
    }
    // Control and bulk: per round, ratio transactions of control endpoints, then one of bulk.
    if (w.slot > ratio) {
      if (!w.moved || ++w.round >= 100000) break;
      w.slot = 0;
      w.moved = false;
      continue;
    }
    int list = w.slot < ratio ? 0 : 1;
    auto &v = w.lists[list];
    if (w.tried >= v.size()) {  // nothing to do on this list now
      ++w.slot;
      w.tried = 0;
      continue;
    }
    uint32_t ed = v[w.at[list] % v.size()];
    w.at[list]++;
    w.tried++;
    EdResult r = serviceEd(ed);
    if (r == EdResult::NoTime) break;
    if (r == EdResult::Idle) continue;
    if (r == EdResult::Progress) w.moved = true;
    if (r != EdResult::Started) {
      ++w.slot;
      w.tried = 0;
    }
  }
  w.ended = true;
}

void OhciController::runFrame() {
  if (!walk_.running) startFrame();
  work(kFrameBytes);
  endFrame();
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
  auto start = std::chrono::steady_clock::now();
  for (auto &entry : devices) entry.second->advance(microseconds);
  modelTime += std::chrono::steady_clock::now() - start;
}

// ---------------------------------------------------------------------------------------------
// USB device

UsbDevice::UsbDevice(bool lowSpeed) : lowSpeed(lowSpeed) {
  uint8_t packet0 = lowSpeed ? 8 : 64;
  auto add = [this](uint8_t address, uint8_t type, uint16_t maxPacket, uint8_t interval) {
    Endpoint e;
    e.address = address;
    e.type = type;
    e.maxPacket = maxPacket;
    e.interval = interval;
    endpoints.push_back(e);
  };
  add(0x00, 0, packet0, 0);
  add(0x81, 2, 64, 0);
  add(0x02, 2, 64, 0);
  add(0x83, 3, 8, 10);
  add(0x84, 1, 256, 1);
  deviceDescriptor = {18, 1, 0x10, 0x01, 0xFF, 0, 0, packet0, 0x34, 0x12, 0x78, 0x56, 0x00, 0x01, 0, 0, 0, 1};
  configurationDescriptor = {9, 2, 0, 0, 1, 1, 0, 0x80, 50,
                             // interface 0, alternate 0: three endpoints
                             9, 4, 0, 0, 3, 0xFF, 0x01, 0x02, 0, 7, 5, 0x81, 2, 64, 0, 0, 7, 5, 0x02, 2, 64, 0, 0, 7, 5,
                             0x83, 3, 8, 0, 10,
                             // interface 1: the isochronous stream
                             9, 4, 1, 0, 1, 0xFF, 0x02, 0x00, 0, 7, 5, 0x84, 1, 0x00, 0x01, 1};
  configurationDescriptor[4] = 2;
  configurationDescriptor[2] = static_cast<uint8_t>(configurationDescriptor.size());
}

UsbDevice::Endpoint *UsbDevice::endpoint(uint8_t address) {
  for (auto &e : endpoints)
    if (e.address == address || (e.type == 0 && (e.address & 0x0F) == (address & 0x0F))) return &e;
  return nullptr;
}

void UsbDevice::busReset() {
  ++busResets;
  address = 0;
  configuration = 0;
  alternateSetting = 0;
  for (auto &e : endpoints) e.toggle = false, e.stalled = false;
  controlReply_.clear();
  controlReplyAt_ = 0;
}

// A control request's status stage has been acknowledged: what it sets takes effect now.
void UsbDevice::finishControl() {
  const auto &s = pending_;
  uint16_t value = static_cast<uint16_t>(s[2] | s[3] << 8), index = static_cast<uint16_t>(s[4] | s[5] << 8);
  if ((s[0] & 0x60) != 0) return;
  switch (s[1]) {
    case 5:  // set address
      address = value & 0x7F;
      break;
    case 9:  // set configuration
      configuration = value & 0xFF;
      for (auto &e : endpoints)
        if (e.type) e.toggle = false, e.stalled = false;
      break;
    case 11:  // set interface
      alternateSetting = value & 0xFF;
      break;
    case 1:  // clear feature: endpoint halt
      if ((s[0] & 0x1F) == 2 && value == 0)
        if (Endpoint *e = endpoint(index & 0x8F)) e->stalled = false, e->toggle = false;
      break;
    case 3:
      if ((s[0] & 0x1F) == 2 && value == 0)
        if (Endpoint *e = endpoint(index & 0x8F)) e->stalled = true;
      break;
  }
}

Handshake UsbDevice::transact(Pid pid, uint8_t number, bool *toggle, uint8_t *data, unsigned &length) {
  uint8_t address = static_cast<uint8_t>(number | (pid == Pid::In && number ? 0x80 : 0));
  Endpoint *e = endpoint(address);
  if (!e || (e->type == 0 && number != 0)) return Handshake::Timeout;
  e->transactions++;
  if (e->type == 3 || e->type == 1) e->frames.push_back(frame);
  if (e->timeout) return Handshake::Timeout;

  if (e->type == 0) {  // the default control endpoint
    if (pid == Pid::Setup) {
      if (length != 8) return Handshake::Timeout;
      std::memcpy(pending_.data(), data, 8);
      setups.push_back(pending_);
      e->stalled = false;
      e->toggle = true;
      controlReply_.clear();
      controlReplyAt_ = 0;
      controlIn_ = (data[0] & 0x80) != 0;
      uint16_t value = static_cast<uint16_t>(data[2] | data[3] << 8);
      uint16_t wanted = static_cast<uint16_t>(data[6] | data[7] << 8);
      if (controlIn_) {
        if ((data[0] & 0x60) == 0 && data[1] == 6) {  // get descriptor
          uint8_t type = value >> 8;
          if (type == 1)
            controlReply_ = deviceDescriptor;
          else if (type == 2)
            controlReply_ = configurationDescriptor;
          else
            e->stalled = true;
        } else if ((data[0] & 0x60) == 0 && data[1] == 0) {
          controlReply_ = {0, 0};
        } else if ((data[0] & 0x60) == 0 && data[1] == 8) {
          controlReply_ = {configuration};
        } else if ((data[0] & 0x60) == 0 && data[1] == 10) {
          controlReply_ = {alternateSetting};
        } else {
          for (unsigned i = 0; i < wanted; ++i) controlReply_.push_back(static_cast<uint8_t>(i * 7 + 1));
        }
        if (controlReply_.size() > wanted) controlReply_.resize(wanted);
      }
      return Handshake::Ack;
    }
    if (e->stalled) return Handshake::Stall;
    if (e->nak) return Handshake::Nak;
    if (pid == Pid::In) {
      if (controlIn_) {  // data stage
        unsigned n =
            static_cast<unsigned>(std::min<size_t>({length, e->maxPacket, controlReply_.size() - controlReplyAt_}));
        std::memcpy(data, controlReply_.data() + controlReplyAt_, n);
        controlReplyAt_ += n;
        length = n;
        *toggle = e->toggle;
        e->toggle = !e->toggle;
      } else {  // status stage of an out or no-data request: always DATA1
        length = 0;
        finishControl();
        *toggle = true;
      }
      return Handshake::Ack;
    }
    if (controlIn_) {  // the status stage of an in request
      if (*toggle) finishControl();
    } else if (*toggle == e->toggle) {  // data stage of an out request
      controlOut.insert(controlOut.end(), data, data + length);
      e->toggle = !e->toggle;
    }
    return Handshake::Ack;
  }

  if (e->stalled) return Handshake::Stall;
  if (e->type == 1) {  // isochronous: no handshake, the stream never stops
    if (pid != Pid::In) return Handshake::Timeout;
    unsigned n = std::min<unsigned>(length, e->maxPacket);
    for (unsigned i = 0; i < n; ++i) data[i] = static_cast<uint8_t>((isoSent + i) * 7 % 251);
    isoSent += n;
    length = n;
    *toggle = false;
    return Handshake::Ack;
  }
  if (e->nak) return Handshake::Nak;
  if (pid == Pid::In) {
    std::vector<uint8_t> &source = e->type == 3 ? interruptIn : bulkIn;
    if (source.empty()) return Handshake::Nak;
    unsigned n = static_cast<unsigned>(std::min<size_t>({length, e->maxPacket, source.size()}));
    std::memcpy(data, source.data(), n);
    source.erase(source.begin(), source.begin() + n);
    length = n;
    *toggle = e->toggle;
    e->toggle = !e->toggle;
    return Handshake::Ack;
  }
  if (pid == Pid::Out) {
    if (length > e->maxPacket) return Handshake::Stall;  // babble from the host
    if (*toggle == e->toggle) {
      bulkOut.insert(bulkOut.end(), data, data + length);
      e->toggle = !e->toggle;
    }
    return Handshake::Ack;
  }
  return Handshake::Timeout;
}

}  // namespace hcsim
