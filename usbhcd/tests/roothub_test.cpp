// The root hub of usbhcd.sys in the test bed: the test plays the hub driver above the controller,
// asks the root hub its descriptors and port status, sets and clears port features and waits on
// the status-change pipe, while the controller models' root ports connect, reset and disconnect
// as the hardware does. The end-to-end test enumerates a device model plugged into port 1 on each
// controller type; QR_USBHCD_ENUMERATION_LOG=1 prints its steps.
#include <windows.h>

#include <usb.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "testbed.h"

namespace {

using hcsim::Access;
using hcsim::Holdings;
using hcsim::OhciController;
using hcsim::Request;
using hcsim::Testbed;
using hcsim::UhciController;
using hcsim::UsbDevice;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t kCreateDevice = 0x222003, kSetAddress = 0x222007, kCloseDevice = 0x22200B, kResetPort = 0x220007;
constexpr uint32_t kUrbSuccess = 0, kUrbUnsupported = 0xC000000F, kUrbInvalidParameter = 0x80000300,
                   kUrbCancelled = 0x00010000;
constexpr uint32_t kNtDataError = 0xC000009C, kNtCancelled = 0xC0000120;

// Hub class features.
constexpr USHORT kEnable = 1, kSuspend = 2, kReset = 4, kPower = 8, kConnectionChange = 16, kEnableChange = 17,
                 kSuspendChange = 18, kOverCurrentChange = 19, kResetChange = 20;

const Bytes kDeviceDescriptor = {0x12, 0x01, 0x00, 0x01, 0x09, 0x00, 0x00, 0x08, 0x00,
                                 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01};
const Bytes kConfiguration = {0x09, 0x02, 0x19, 0x00, 0x01, 0x01, 0x00, 0x40, 0x00, 0x09, 0x04, 0x00, 0x00,
                              0x01, 0x09, 0x00, 0x00, 0x00, 0x07, 0x05, 0x81, 0x03, 0x01, 0x00, 0xFF};

std::string joined(const std::vector<std::string> &lines) {
  std::string s;
  for (const auto &l : lines) s += l + "\n";
  return s;
}

std::string hex(const Bytes &b) {
  std::string s;
  char t[4];
  for (uint8_t v : b) std::snprintf(t, sizeof(t), "%02X ", v), s += t;
  return s.empty() ? s : s.substr(0, s.size() - 1);
}

enum class Controller { Uhci, Ohci };

// What a request to the root hub came back with.
struct Answer {
  uint32_t urb = 0xFFFFFFFF;
  uint32_t nt = 0xFFFFFFFF;
  Bytes data;
};

// A controller on the test bed with the hub driver's view of it: the root hub's device handle at
// address 1, and the requests a hub driver sends.
struct Hub {
  Testbed tb;
  UhciController *uhci = nullptr;
  OhciController *ohci = nullptr;
  void *hc = nullptr;
  void *root = nullptr;
  std::vector<uint8_t> selectMemory;
  USBD_PIPE_HANDLE changePipe = nullptr;

  explicit Hub(Controller type, unsigned ohciPorts = 2) {
    if (type == Controller::Uhci) {
      uhci = &tb.machine.add(0, 7, 2, std::make_unique<UhciController>(0xE000));
      uhci->setInterrupt(4, 11);
    } else {
      ohci = &tb.machine.add(0, 3, 0, std::make_unique<OhciController>(0xFEBF0000, ohciPorts));
      ohci->setInterrupt(1, 10);
    }
  }
  ~Hub() {
    if (root) {
      EXPECT_EQ(hcsim::kSuccess, tb.internalControl(hc, kCloseDevice, root));
    }
    tb.unload();
    EXPECT_EQ(hcsim::describe(Holdings{}), hcsim::describe(tb.holdings()));
    EXPECT_TRUE(tb.poolByTag().empty());
    EXPECT_TRUE(tb.errors().empty()) << joined(tb.errors());
  }
  std::vector<Access> &log() { return uhci ? uhci->registerLog : ohci->registerLog; }

  void start() {
    ASSERT_EQ(hcsim::kSuccess, tb.load()) << joined(tb.errors());
    ASSERT_EQ(hcsim::kSuccess, tb.registerCallback());
    hc = tb.device(L"\\Device\\UsbHc0");
    ASSERT_NE(nullptr, hc);
    ASSERT_EQ(hcsim::kSuccess, tb.internalControl(hc, kCreateDevice, &root, 0, 1));  // the root hub's handle
    ASSERT_EQ(hcsim::kSuccess, tb.internalControl(hc, kSetAddress, root, 1, 0));
  }

  // A request function that becomes a control transfer to the device behind handle.
  Answer control(void *handle, USHORT function, UCHAR request, USHORT value, USHORT index, ULONG length, bool in) {
    Answer a;
    Bytes buffer(length + 1, 0xEE);
    URB urb{};
    auto &x = urb.UrbControlTransfer;
    x.Hdr.Length = sizeof(_URB_CONTROL_TRANSFER);
    x.Hdr.Function = function;
    x.Hdr.UsbdDeviceHandle = handle;
    x.TransferFlags = in ? USBD_TRANSFER_DIRECTION_IN : 0;
    x.TransferBufferLength = length;
    x.TransferBuffer = length ? buffer.data() : nullptr;
    x.SetupPacket[1] = request;
    x.SetupPacket[2] = static_cast<UCHAR>(value);
    x.SetupPacket[3] = static_cast<UCHAR>(value >> 8);
    x.SetupPacket[4] = static_cast<UCHAR>(index);
    x.SetupPacket[5] = static_cast<UCHAR>(index >> 8);
    auto r = tb.submitUrb(hc, &urb);
    for (unsigned ms = 0; ms < 2000 && !r->done(); ++ms) tb.advance(1000);
    if (!r->done()) return a;
    a.urb = static_cast<uint32_t>(urb.UrbHeader.Status);
    a.nt = r->status();
    EXPECT_EQ(r->information(), x.TransferBufferLength);
    EXPECT_EQ(0xEE, buffer[length]) << "nothing written past the buffer";
    a.data.assign(buffer.begin(), buffer.begin() + std::min<size_t>(x.TransferBufferLength, length));
    return a;
  }
  Answer descriptor(UCHAR type, ULONG length) {
    return control(root, 0x0B, 6, static_cast<USHORT>(type << 8), 0, length, true);
  }
  Answer hubDescriptor(ULONG length = 71) { return control(root, 0x1A, 6, 0x2900, 0, length, true); }
  Answer hubStatus() { return control(root, 0x1A, 0, 0, 0, 4, true); }
  Answer portStatus(USHORT port) { return control(root, 0x1F, 0, 0, port, 4, true); }
  uint32_t portStatusValue(USHORT port) {
    Answer a = portStatus(port);
    EXPECT_EQ(kUrbSuccess, a.urb);
    if (a.data.size() != 4) return 0xFFFFFFFF;
    return a.data[0] | a.data[1] << 8 | a.data[2] << 16 | static_cast<uint32_t>(a.data[3]) << 24;
  }
  Answer setFeature(USHORT port, USHORT feature) { return control(root, 0x1F, 3, feature, port, 0, false); }
  Answer clearFeature(USHORT port, USHORT feature) { return control(root, 0x1F, 1, feature, port, 0, false); }

  // Select configuration 1 of a device: the pipe handles of its interface 0 come back.
  std::vector<USBD_PIPE_HANDLE> selectConfiguration(void *handle, Bytes &configuration, unsigned pipes) {
    size_t interfaceLength = sizeof(USBD_INTERFACE_INFORMATION) + (pipes - 1) * sizeof(USBD_PIPE_INFORMATION);
    selectMemory.assign(sizeof(_URB_SELECT_CONFIGURATION) - sizeof(USBD_INTERFACE_INFORMATION) + interfaceLength, 0);
    auto *urb = reinterpret_cast<_URB_SELECT_CONFIGURATION *>(selectMemory.data());
    urb->Hdr.Length = static_cast<USHORT>(selectMemory.size());
    urb->Hdr.Function = 0x00;
    urb->Hdr.UsbdDeviceHandle = handle;
    urb->ConfigurationDescriptor = reinterpret_cast<PUSB_CONFIGURATION_DESCRIPTOR>(configuration.data());
    urb->Interface.Length = static_cast<USHORT>(interfaceLength);
    auto r = tb.submitUrb(hc, urb);
    for (unsigned ms = 0; ms < 2000 && !r->done(); ++ms) tb.advance(1000);
    std::vector<USBD_PIPE_HANDLE> handles;
    EXPECT_TRUE(r->done());
    EXPECT_EQ(hcsim::kSuccess, r->status());
    for (unsigned i = 0; i < urb->Interface.NumberOfPipes && i < pipes; ++i)
      handles.push_back(urb->Interface.Pipes[i].PipeHandle);
    return handles;
  }
  Bytes rootConfiguration;
  void openChangePipe() {
    rootConfiguration = descriptor(2, 25).data;
    auto pipes = selectConfiguration(root, rootConfiguration, 1);
    ASSERT_EQ(1u, pipes.size());
    changePipe = pipes[0];
  }

  // A request on the status-change pipe; it stays pending until a change.
  struct Change {
    URB urb{};
    Bytes buffer;
    std::unique_ptr<Request> request;
    bool done() const { return request->done(); }
    Bytes bitmap() const {
      return Bytes(buffer.begin(), buffer.begin() + urb.UrbBulkOrInterruptTransfer.TransferBufferLength);
    }
  };
  std::unique_ptr<Change> waitForChange(ULONG length = 1) {
    auto c = std::make_unique<Change>();
    c->buffer.assign(length + 1, 0xEE);
    auto &x = c->urb.UrbBulkOrInterruptTransfer;
    x.Hdr.Length = sizeof(_URB_BULK_OR_INTERRUPT_TRANSFER);
    x.Hdr.Function = 0x09;
    x.Hdr.UsbdDeviceHandle = root;
    x.PipeHandle = changePipe;
    x.TransferFlags = USBD_TRANSFER_DIRECTION_IN | USBD_SHORT_TRANSFER_OK;
    x.TransferBuffer = length ? c->buffer.data() : nullptr;
    x.TransferBufferLength = length;
    c->request = tb.submitUrb(hc, &c->urb);
    return c;
  }
  // Milliseconds pass until the change request completes, at most limit; answers how many.
  unsigned run(const Change &c, unsigned limit) {
    unsigned ms = 0;
    for (; ms < limit && !c.done(); ++ms) tb.advance(1000);
    return ms;
  }

  // The register writes since the log's mark, at one offset.
  std::vector<uint32_t> writesAt(size_t mark, uint32_t offset) {
    std::vector<uint32_t> v;
    for (size_t i = mark; i < log().size(); ++i)
      if (log()[i].write && log()[i].offset == offset) v.push_back(log()[i].value);
    return v;
  }

  // Since the mark, the one write `written` to the port's register at `offset` (none for -1), and
  // no write to any other register.
  void expectPortWrite(size_t mark, uint32_t offset, int32_t written) {
    const std::vector<uint32_t> writes = writesAt(mark, offset);
    if (written < 0) {
      EXPECT_TRUE(writes.empty());
    } else {
      ASSERT_EQ(1u, writes.size());
      EXPECT_EQ(static_cast<uint32_t>(written), writes[0]);
    }
    for (size_t i = mark; i < log().size(); ++i)
      if (log()[i].write) {
        EXPECT_EQ(offset, log()[i].offset) << "only the port's own register";
      }
  }
};

class UsbhcdRootHub : public ::testing::TestWithParam<Controller> {};
std::string controllerName(const testing::TestParamInfo<Controller> &i) {
  return i.param == Controller::Uhci ? "UHCI" : "OHCI";
}
INSTANTIATE_TEST_SUITE_P(Controllers, UsbhcdRootHub, testing::Values(Controller::Uhci, Controller::Ohci),
                         controllerName);

// ---------------------------------------------------------------------------------------------
// Control requests

// The requests whose answers do not depend on the controller type, and those the root hub
// refuses, among them every port request for a port the controller does not have.
TEST_P(UsbhcdRootHub, AnswersTheHubRequestsOfItsTable) {
  struct Case {
    const char *what;
    USHORT function;
    UCHAR request;
    USHORT value, index;
    ULONG length;
    bool in;
    uint32_t urb;
    Bytes data;
  };
  const Bytes header(kConfiguration.begin(), kConfiguration.begin() + 9);
  const Case cases[] = {
      {"device descriptor", 0x0B, 6, 0x0100, 0, 18, true, kUrbSuccess, kDeviceDescriptor},
      {"device descriptor, longer buffer", 0x0B, 6, 0x0100, 0, 64, true, kUrbSuccess, kDeviceDescriptor},
      {"device descriptor, first 8 bytes", 0x0B, 6, 0x0100, 0, 8, true, kUrbSuccess,
       Bytes(kDeviceDescriptor.begin(), kDeviceDescriptor.begin() + 8)},
      {"configuration, 9 bytes: the header only", 0x0B, 6, 0x0200, 0, 9, true, kUrbSuccess, header},
      {"configuration, whole", 0x0B, 6, 0x0200, 0, 255, true, kUrbSuccess, kConfiguration},
      {"string descriptor", 0x0B, 6, 0x0300, 0, 255, true, kUrbUnsupported, {}},
      {"device status", 0x13, 0, 0, 0, 2, true, kUrbSuccess, {0x01, 0x00}},
      {"set address", 0x2A, 5, 2, 0, 0, false, kUrbSuccess, {}},
      {"get configuration", 0x26, 8, 0, 0, 1, true, kUrbUnsupported, {}},
      {"interface status", 0x14, 0, 0, 0, 2, true, kUrbUnsupported, {}},
      {"vendor request", 0x17, 1, 0, 0, 4, true, kUrbUnsupported, {}},
      {"hub set feature", 0x1A, 3, 0, 0, 0, false, kUrbUnsupported, {}},
      {"port 0 status", 0x1F, 0, 0, 0, 4, true, kUrbUnsupported, {}},
      {"port 3 status", 0x1F, 0, 0, 3, 4, true, kUrbUnsupported, {}},
      {"port 0x101 status", 0x1F, 0, 0, 0x101, 4, true, kUrbUnsupported, {}},
      {"port 3 set reset", 0x1F, 3, kReset, 3, 0, false, kUrbUnsupported, {}},
      {"port 0 clear enable", 0x1F, 1, kEnable, 0, 0, false, kUrbUnsupported, {}},
      {"port 3 clear connection change", 0x1F, 1, kConnectionChange, 3, 0, false, kUrbUnsupported, {}},
  };
  Hub hub(GetParam());
  hub.start();
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    size_t mark = hub.log().size();
    Answer a = hub.control(hub.root, c.function, c.request, c.value, c.index, c.length, c.in);
    EXPECT_EQ(c.urb, a.urb);
    EXPECT_EQ(c.urb == kUrbSuccess ? hcsim::kSuccess : kNtDataError, a.nt);
    EXPECT_EQ(hex(c.data), hex(a.data));
    if (c.urb != kUrbSuccess) {
      for (size_t i = mark; i < hub.log().size(); ++i) EXPECT_FALSE(hub.log()[i].write) << "no register written";
    }
  }
}

TEST(UsbhcdRootHubUhci, HubDescriptorAndStatusAreTheFixedOnes) {
  Hub hub(Controller::Uhci);
  hub.start();
  EXPECT_EQ("09 29 02 12 00 32 00 00 06", hex(hub.hubDescriptor().data));
  EXPECT_EQ("09 29 02 12", hex(hub.hubDescriptor(4).data));
  EXPECT_EQ("00 00 00 00", hex(hub.hubStatus().data));
}

// The hub descriptor is completed from HcRhDescriptorA and B: one byte each of removable-device
// bits and port-power mask up to 8 ports, two beyond.
TEST(UsbhcdRootHubOhci, HubDescriptorComesFromTheRootHubDescriptors) {
  struct Case {
    unsigned ports;
    uint32_t a, b;
    ULONG length;
    const char *expected;
  } cases[] = {
      {2, 0x32000902, 0x00060004, 71, "09 29 02 09 00 32 00 04 06"},
      {2, 0x01000202, 0x00000000, 71, "09 29 02 02 00 01 00 00 00"},
      {8, 0x05001208, 0x01FE0100, 71, "09 29 08 12 00 05 00 00 FE"},
      {9, 0x05001209, 0x03FE0200, 71, "0B 29 09 12 00 05 00 00 02 FE 03"},
      {15, 0x0A00120F, 0xFFFE8002, 71, "0B 29 0F 12 00 0A 00 02 80 FE FF"},
      {15, 0x0A00120F, 0xFFFE8002, 9, "0B 29 0F 12 00 0A 00 02 80"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.expected);
    Hub hub(Controller::Ohci, c.ports);
    hub.ohci->descriptorA = c.a;
    hub.ohci->descriptorB = c.b;
    hub.start();
    Answer a = hub.hubDescriptor(c.length);
    EXPECT_EQ(kUrbSuccess, a.urb);
    EXPECT_EQ(c.expected, hex(a.data));
  }
}

// Hub status is HcRhStatus without bits 15 (remote-wakeup enable) and 31; port status is the
// port's register as it stands.
TEST(UsbhcdRootHubOhci, HubAndPortStatusComeFromTheRegisters) {
  Hub hub(Controller::Ohci);
  hub.start();
  EXPECT_EQ("00 00 00 00", hex(hub.hubStatus().data));
  hub.ohci->remoteWakeupEnable = true;
  hub.ohci->overCurrent(0, true);  // global over-current: indicator and its change
  EXPECT_EQ("02 00 02 00", hex(hub.hubStatus().data));
  UsbDevice device(true);
  hub.ohci->plug(1, &device);
  EXPECT_EQ(0x00010301u, hub.portStatusValue(2));  // connected, powered, low speed; connect change
  EXPECT_EQ(0x00000100u, hub.portStatusValue(1));
}

// Set and clear feature write the feature's command value to the port's register, or nothing.
TEST(UsbhcdRootHubOhci, FeaturesWriteTheirCommandValues) {
  struct Case {
    bool set;
    USHORT feature;
    int64_t written;  // -1: nothing
  } cases[] = {
      {true, kEnable, 0x2},
      {true, kSuspend, 0x4},
      {true, kReset, 0x10},
      {true, kPower, 0x100},
      {true, 0, -1},
      {true, 3, -1},
      {true, kConnectionChange, -1},
      {false, kEnable, 0x1},
      {false, kSuspend, 0x8},
      {false, kPower, 0x200},
      {false, kConnectionChange, 0x10000},
      {false, kEnableChange, 0x20000},
      {false, kSuspendChange, 0x40000},
      {false, kOverCurrentChange, 0x80000},
      {false, kResetChange, 0x100000},
      {false, 21, -1},
      {false, 0, -1},
      {false, kReset, -1},
      {false, 0x8010, -1},
  };
  Hub hub(Controller::Ohci);
  hub.start();
  for (const auto &c : cases) {
    SCOPED_TRACE(testing::Message() << (c.set ? "set " : "clear ") << c.feature);
    size_t mark = hub.log().size();
    Answer a = c.set ? hub.setFeature(2, c.feature) : hub.clearFeature(2, c.feature);
    EXPECT_EQ(kUrbSuccess, a.urb);
    hub.expectPortWrite(mark, 0x58, c.written);
  }
}

// UHCI writes carry the write-one-to-clear change bits (1 and 3) as 0 unless a change is being
// acknowledged; the software changes are flags of the driver and write nothing.
TEST(UsbhcdRootHubUhci, FeaturesWritePortscLeavingTheChangeBitsAlone) {
  struct Case {
    bool set;
    USHORT feature;
    uint16_t before;
    int32_t written;  // -1: nothing
  } cases[] = {
      {true, kEnable, 0x008B, 0x0085},  // connected, both changes pending, not enabled
      {true, kSuspend, 0x008F, 0x1085},
      {true, kPower, 0x008F, -1},
      {true, 0, 0x008F, -1},
      {false, kEnable, 0x008F, 0x0081},
      {false, kSuspend, 0x108F, 0x10C5},  // resume signalling
      {false, kConnectionChange, 0x008F, 0x0087},
      {false, kEnableChange, 0x008F, 0x008D},
      {false, kSuspendChange, 0x008F, -1},
      {false, kResetChange, 0x008F, -1},
      {false, kPower, 0x008F, -1},
      {false, 21, 0x008F, -1},
      {true, kReset, 0x0080, -1},  // nothing connected: no reset
      {true, kReset, 0x008B, 0x0285},
  };
  Hub hub(Controller::Uhci);
  UsbDevice device;
  hub.start();
  for (const auto &c : cases) {
    SCOPED_TRACE(testing::Message() << (c.set ? "set " : "clear ") << c.feature << " on 0x" << std::hex << c.before);
    hub.uhci->ports[1] = (c.before & 1) ? &device : nullptr;
    hub.uhci->portsc[1] = c.before;
    size_t mark = hub.log().size();
    Answer a = c.set ? hub.setFeature(2, c.feature) : hub.clearFeature(2, c.feature);
    EXPECT_EQ(kUrbSuccess, a.urb);
    hub.expectPortWrite(mark, 0x12, c.written);
  }
}

// Port status from PORTSC: connection, enable, suspend, reset and low speed as the hub's status
// bits 0, 1, 2, 4 and 9 with power (8) always set; connect and enable changes as change bits 0, 1.
TEST(UsbhcdRootHubUhci, PortStatusIsPortscInTheHubsBits) {
  struct Case {
    uint16_t portsc;
    uint32_t status;
  } cases[] = {
      {0x0080, 0x00000100}, {0x0081, 0x00000101}, {0x0083, 0x00010101}, {0x0085, 0x00000103},
      {0x008F, 0x00030103}, {0x0185, 0x00000303}, {0x1085, 0x00000107}, {0x0285, 0x00000113},
  };
  Hub hub(Controller::Uhci);
  hub.start();
  for (const auto &c : cases) {
    hub.uhci->portsc[0] = c.portsc;
    EXPECT_EQ(c.status, hub.portStatusValue(1)) << std::hex << c.portsc;
  }
}

// ---------------------------------------------------------------------------------------------
// Timed port work

// UHCI: the driver holds the reset for 60 ms, then enables the port and reports the reset change.
TEST(UsbhcdRootHubUhci, PortResetEndsAfter60msWithTheResetChange) {
  Hub hub(Controller::Uhci);
  UsbDevice device;
  hub.start();
  hub.uhci->plug(0, &device);
  device.address = 5;
  EXPECT_EQ(0x00010101u, hub.portStatusValue(1));
  EXPECT_EQ(kUrbSuccess, hub.clearFeature(1, kConnectionChange).urb);
  uint64_t start = hub.tb.now();
  EXPECT_EQ(kUrbSuccess, hub.setFeature(1, kReset).urb);
  EXPECT_EQ(0x00000113u, hub.portStatusValue(1)) << "in reset";
  EXPECT_EQ(0u, device.address) << "the device is reset";
  while (hub.tb.now() - start < 59000) {
    hub.tb.advance(1000);
    ASSERT_NE(0u, hub.uhci->portsc[0] & 0x200) << "reset ended early, at " << hub.tb.now() - start << " us";
  }
  hub.tb.advance(2000);
  EXPECT_EQ(0u, hub.uhci->portsc[0] & 0x200);
  EXPECT_EQ(0x00100103u, hub.portStatusValue(1)) << "enabled, reset change";
  EXPECT_EQ(1u, device.busResets);
  EXPECT_EQ(kUrbSuccess, hub.clearFeature(1, kResetChange).urb);
  EXPECT_EQ(0x00000103u, hub.portStatusValue(1));
}

// UHCI: clearing suspend signals a resume for 30 ms, then reports the suspend change.
TEST(UsbhcdRootHubUhci, ResumeEndsAfter30msWithTheSuspendChange) {
  Hub hub(Controller::Uhci);
  UsbDevice device;
  hub.start();
  hub.uhci->attach(1, &device);
  hub.uhci->portsc[1] = 0x0085;
  EXPECT_EQ(kUrbSuccess, hub.setFeature(2, kSuspend).urb);
  EXPECT_EQ(0x00000107u, hub.portStatusValue(2));
  EXPECT_EQ(kUrbSuccess, hub.clearFeature(2, kSuspend).urb);
  EXPECT_NE(0u, hub.uhci->portsc[1] & 0x40) << "resume signalled";
  hub.tb.advance(29000);
  EXPECT_EQ(0x00000107u, hub.portStatusValue(2)) << "still suspended";
  hub.tb.advance(2000);
  EXPECT_EQ(0x00040103u, hub.portStatusValue(2)) << "resumed, suspend change";
  EXPECT_EQ(0u, hub.uhci->portsc[1] & 0x1040);
  EXPECT_EQ(kUrbSuccess, hub.clearFeature(2, kSuspendChange).urb);
  EXPECT_EQ(0x00000103u, hub.portStatusValue(2));
}

// OHCI: the controller times the reset (10 ms) and enables the port with the reset change.
TEST(UsbhcdRootHubOhci, TheControllerTimesThePortReset) {
  Hub hub(Controller::Ohci);
  UsbDevice device;
  hub.start();
  hub.ohci->plug(0, &device);
  EXPECT_EQ(kUrbSuccess, hub.clearFeature(1, kConnectionChange).urb);
  EXPECT_EQ(0x00000101u, hub.portStatusValue(1));
  EXPECT_EQ(kUrbSuccess, hub.setFeature(1, kReset).urb);
  EXPECT_EQ(0x00000111u, hub.portStatusValue(1));
  hub.tb.advance(9000);
  EXPECT_EQ(0x00000111u, hub.portStatusValue(1));
  hub.tb.advance(2000);
  EXPECT_EQ(0x00100103u, hub.portStatusValue(1));
  EXPECT_EQ(kUrbSuccess, hub.clearFeature(1, kResetChange).urb);
  EXPECT_EQ(0x00000103u, hub.portStatusValue(1));
}

// The port reset request resets the port given in argument 1 as the hub's set-feature does.
TEST_P(UsbhcdRootHub, ThePortResetRequestResetsThatPort) {
  Hub hub(GetParam());
  UsbDevice device;
  hub.start();
  if (hub.uhci)
    hub.uhci->plug(1, &device);
  else
    hub.ohci->plug(1, &device);
  EXPECT_EQ(hcsim::kInvalidParameter, hub.tb.internalControl(hub.hc, kResetPort, reinterpret_cast<void *>(0)));
  EXPECT_EQ(hcsim::kInvalidParameter, hub.tb.internalControl(hub.hc, kResetPort, reinterpret_cast<void *>(3)));
  EXPECT_EQ(0u, device.busResets);
  EXPECT_EQ(hcsim::kSuccess, hub.tb.internalControl(hub.hc, kResetPort, reinterpret_cast<void *>(2)));
  EXPECT_EQ(1u, device.busResets);
  hub.tb.advance(100000);
  EXPECT_EQ(0x00100003u, hub.portStatusValue(2) & 0x00100003u) << "connected, enabled, reset change";
}

// ---------------------------------------------------------------------------------------------
// The status-change pipe

// UHCI: a check every 100 ms; the bitmap's length is (n + 7) / 8 bytes for the n ports covered, at
// most 8 x length - 1 of them; a request without a byte for the bitmap is refused.
TEST(UsbhcdRootHubUhci, TheChangeCheckRunsEvery100ms) {
  struct Case {
    ULONG length;
    bool port1, port2;
    Bytes bitmap;
  } cases[] = {
      {1, true, true, {0x06}},
      {1, false, true, {0x04}},
      {4, true, false, {0x02}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(hex(c.bitmap));
    Hub hub(Controller::Uhci);
    UsbDevice a, b;
    hub.start();
    hub.openChangePipe();
    auto change = hub.waitForChange(c.length);
    hub.tb.advance(250000);
    EXPECT_FALSE(change->done()) << "no change, no answer";
    if (c.port1) hub.uhci->plug(0, &a);
    if (c.port2) hub.uhci->plug(1, &b);
    unsigned ms = hub.run(*change, 200);
    ASSERT_TRUE(change->done());
    EXPECT_LE(ms, 51u) << "answered by the check at 300 ms";
    EXPECT_GE(ms, 49u);
    EXPECT_EQ(hcsim::kSuccess, change->request->status());
    EXPECT_EQ(hex(c.bitmap), hex(change->bitmap()));
    EXPECT_EQ(0xEE, change->buffer[c.length]);
  }
  Hub hub(Controller::Uhci);
  hub.start();
  hub.openChangePipe();
  auto empty = hub.waitForChange(0);
  EXPECT_TRUE(empty->done());
  EXPECT_EQ(kUrbInvalidParameter, static_cast<uint32_t>(empty->urb.UrbHeader.Status));
}

// OHCI: the root-hub status-change interrupt answers; a change from before the request is
// reported as soon as the request comes; a 15-port hub's bitmap has two bytes.
TEST(UsbhcdRootHubOhci, TheStatusChangeInterruptAnswers) {
  struct Case {
    unsigned ports, port;
    bool before;  // plugged in before the request
    Bytes bitmap;
  } cases[] = {
      {2, 0, false, {0x02}},
      {2, 1, true, {0x04}},
      {15, 9, false, {0x00, 0x04}},
      {15, 14, true, {0x00, 0x80}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(hex(c.bitmap));
    Hub hub(Controller::Ohci, c.ports);
    UsbDevice device;
    hub.start();
    hub.openChangePipe();
    if (c.before) hub.ohci->plug(c.port, &device);
    size_t mark = hub.log().size();
    auto change = hub.waitForChange(4);
    EXPECT_EQ(std::vector<uint32_t>{0x40}, hub.writesAt(mark, 0x10)) << "the interrupt enabled";
    if (!c.before) {
      hub.tb.advance(20000);
      EXPECT_FALSE(change->done());
      hub.ohci->plug(c.port, &device);
    }
    EXPECT_LE(hub.run(*change, 20), 2u);
    ASSERT_TRUE(change->done());
    EXPECT_EQ(hex(c.bitmap), hex(change->bitmap()));
    auto disables = hub.writesAt(mark, 0x14);
    EXPECT_EQ(1, std::count(disables.begin(), disables.end(), 0x40u)) << "disabled with no request left";
  }
}

// Waiting change requests are answered oldest first, one change report each; the checks (UHCI)
// and the interrupt (OHCI) stay armed while one still waits.
TEST_P(UsbhcdRootHub, WaitingChangeRequestsAreAnsweredInOrder) {
  Hub hub(GetParam());
  UsbDevice a, b;
  hub.start();
  hub.openChangePipe();
  auto first = hub.waitForChange(1), second = hub.waitForChange(1);
  if (hub.uhci)
    hub.uhci->plug(0, &a);
  else
    hub.ohci->plug(0, &a);
  hub.run(*first, 200);
  ASSERT_TRUE(first->done());
  EXPECT_EQ("02", hex(first->bitmap()));
  EXPECT_FALSE(second->done());
  EXPECT_EQ(kUrbSuccess, hub.clearFeature(1, kConnectionChange).urb);
  hub.tb.advance(300000);
  EXPECT_FALSE(second->done()) << "nothing changed since";
  if (hub.uhci)
    hub.uhci->plug(1, &b);
  else
    hub.ohci->plug(1, &b);
  hub.run(*second, 200);
  ASSERT_TRUE(second->done());
  EXPECT_EQ("04", hex(second->bitmap()));
}

// Aborting the change pipe ends its waiting requests cancelled.
TEST_P(UsbhcdRootHub, AbortEndsTheWaitingChangeRequests) {
  Hub hub(GetParam());
  hub.start();
  hub.openChangePipe();
  auto first = hub.waitForChange(1), second = hub.waitForChange(1);
  hub.tb.advance(300000);
  EXPECT_FALSE(first->done());
  URB abort{};
  abort.UrbPipeRequest.Hdr.Length = sizeof(_URB_PIPE_REQUEST);
  abort.UrbPipeRequest.Hdr.Function = 0x02;
  abort.UrbPipeRequest.Hdr.UsbdDeviceHandle = hub.root;
  abort.UrbPipeRequest.PipeHandle = hub.changePipe;
  auto r = hub.tb.submitUrb(hub.hc, &abort);
  hub.tb.advance(20000);
  ASSERT_TRUE(r->done());
  EXPECT_EQ(hcsim::kSuccess, r->status());
  for (auto *c : {first.get(), second.get()}) {
    ASSERT_TRUE(c->done());
    EXPECT_EQ(kUrbCancelled, static_cast<uint32_t>(c->urb.UrbHeader.Status));
    EXPECT_EQ(kNtCancelled, c->request->status());
  }
  auto third = hub.waitForChange(1);  // left waiting: closing the handle cancels it
  EXPECT_FALSE(third->done());
  EXPECT_EQ(hcsim::kSuccess, hub.tb.internalControl(hub.hc, kCloseDevice, hub.root));
  hub.root = nullptr;
  EXPECT_TRUE(third->done());
  EXPECT_EQ(kUrbCancelled, static_cast<uint32_t>(third->urb.UrbHeader.Status));
}

// ---------------------------------------------------------------------------------------------
// The models' root ports, by themselves

TEST(UsbhcdRootPortModels, UhciPortsConnectAndDisconnectAsPortscSays) {
  UhciController uhci;
  UsbDevice full, low(true);
  struct Step {
    const char *what;
    std::function<void()> act;
    uint16_t portsc;
  } steps[] = {
      {"plugged in: connected, connect change", [&] { uhci.plug(0, &low); }, 0x0183},
      {"acknowledged", [&] { uhci.writeRegister(0x10, 2, 0x0002); }, 0x0181},
      {"enabled", [&] { uhci.writeRegister(0x10, 2, 0x0004); }, 0x0185},
      {"unplugged: disabled with both changes", [&] { uhci.unplug(0); }, 0x008A},
      {"enable without a device does nothing", [&] { uhci.writeRegister(0x10, 2, 0x0004); }, 0x008A},
      {"changes cleared by writing one", [&] { uhci.writeRegister(0x10, 2, 0x000A); }, 0x0080},
      {"a full-speed device", [&] { uhci.plug(0, &full); }, 0x0083},
      {"reset held by software", [&] { uhci.writeRegister(0x10, 2, 0x0200); }, 0x0283},
      {"reset released, enabled", [&] { uhci.writeRegister(0x10, 2, 0x0004); }, 0x0087},
      {"suspended", [&] { uhci.writeRegister(0x10, 2, 0x1004); }, 0x1087},
  };
  for (const auto &s : steps) {
    s.act();
    EXPECT_EQ(s.portsc, uhci.portsc[0]) << s.what;
  }
  EXPECT_EQ(1u, full.busResets);
}

TEST(UsbhcdRootPortModels, OhciPortsFollowTheirCommandBits) {
  OhciController ohci(0xFEBF0000, 3);
  UsbDevice full, low(true);
  struct Step {
    const char *what;
    std::function<void()> act;
    uint32_t status;
  } steps[] = {
      {"powered, empty", [] {}, 0x00000100},
      {"set enable without a device: connect change", [&] { ohci.writeRegister(0x5C, 4, 0x2); }, 0x00010100},
      {"change cleared", [&] { ohci.writeRegister(0x5C, 4, 0x10000); }, 0x00000100},
      {"plugged in, low speed", [&] { ohci.plug(2, &low); }, 0x00010301},
      {"set reset", [&] { ohci.writeRegister(0x5C, 4, 0x10); }, 0x00010311},
      {"10 ms later: enabled, reset change", [&] { ohci.advance(10000); }, 0x00110303},
      {"set suspend", [&] { ohci.writeRegister(0x5C, 4, 0x4); }, 0x00110307},
      {"clear suspend: resuming", [&] { ohci.writeRegister(0x5C, 4, 0x8); }, 0x00110307},
      {"20 ms later: resumed, suspend change", [&] { ohci.advance(20000); }, 0x00150303},
      {"clear enable", [&] { ohci.writeRegister(0x5C, 4, 0x1); }, 0x00150301},
      {"changes cleared", [&] { ohci.writeRegister(0x5C, 4, 0x1F0000); }, 0x00000301},
      {"enabled again", [&] { ohci.writeRegister(0x5C, 4, 0x2); }, 0x00000303},
      {"unplugged: disabled with both changes", [&] { ohci.unplug(2); }, 0x00030100},
  };
  for (const auto &s : steps) {
    s.act();
    EXPECT_EQ(s.status, ohci.portStatus(2)) << s.what;
  }
  EXPECT_EQ(1u, low.busResets);
  EXPECT_NE(0u, ohci.reg[0x0C / 4] & 0x40) << "root-hub status change raised";

  ohci.writeRegister(0x50, 4, 0x8000);  // set remote-wakeup enable
  ohci.overCurrent(1, true);            // for the whole hub: descriptor A bit 11 is clear
  EXPECT_EQ(0x00028002u, ohci.readRegister(0x50, 4));
  ohci.writeRegister(0x50, 4, 0x80020000u);  // clear remote-wakeup enable, acknowledge the change
  EXPECT_EQ(0x00000002u, ohci.readRegister(0x50, 4));
  ohci.overCurrent(1, false);
  EXPECT_EQ(0x00020000u, ohci.readRegister(0x50, 4));

  ohci.descriptorA |= 0x800;  // per-port over-current
  ohci.softwareReset();
  ohci.plug(0, &full);
  ohci.writeRegister(0x54, 4, 0x10);
  ohci.advance(10000);
  ohci.writeRegister(0x54, 4, 0x1F0000);
  ohci.overCurrent(0, true);
  EXPECT_EQ(0x000A0109u, ohci.portStatus(0)) << "over-current disables the port";
  ohci.overCurrent(0, false);
  EXPECT_EQ(0x000A0101u, ohci.portStatus(0));
}

// ---------------------------------------------------------------------------------------------
// End to end

// The steps of an enumeration, printed when QR_USBHCD_ENUMERATION_LOG is set.
struct Narrator {
  bool on = std::getenv("QR_USBHCD_ENUMERATION_LOG") != nullptr;
  Testbed &tb;
  const char *type;
  void operator()(const std::string &line) const {
    if (on) std::printf("[%s %7.1f ms] %s\n", type, tb.now() / 1000.0, line.c_str());
  }
};

// The hub driver's part: the controller is found, its root hub described, a device plugged into
// port 1 seen in the change bitmap, the port reset, the device addressed, described and
// configured, its bulk and isochronous endpoints read, and its removal seen.
TEST_P(UsbhcdRootHub, ADevicePluggedIntoPort1IsEnumeratedAndStreams) {
  Hub hub(GetParam());
  Narrator say{std::getenv("QR_USBHCD_ENUMERATION_LOG") != nullptr, hub.tb, hub.uhci ? "UHCI" : "OHCI"};
  UsbDevice camera;
  ASSERT_EQ(hcsim::kSuccess, hub.tb.load());
  ASSERT_EQ(hcsim::kSuccess, hub.tb.registerCallback());
  ASSERT_EQ(1u, hub.tb.callbackDevices().size());
  hub.hc = hub.tb.callbackDevices()[0];
  ASSERT_EQ(hub.tb.device(L"\\Device\\UsbHc0"), hub.hc);
  say("callback registered: controller \\Device\\UsbHc0 started");

  ASSERT_EQ(hcsim::kSuccess, hub.tb.internalControl(hub.hc, kCreateDevice, &hub.root, 0, 1));
  ASSERT_EQ(kUrbSuccess, hub.control(hub.root, 0x2A, 5, 1, 0, 0, false).urb);
  ASSERT_EQ(hcsim::kSuccess, hub.tb.internalControl(hub.hc, kSetAddress, hub.root, 1, 0));
  Answer device = hub.descriptor(1, 18);
  ASSERT_EQ(kDeviceDescriptor, device.data);
  say("root hub device descriptor: " + hex(device.data));
  Answer hubDescriptor = hub.hubDescriptor();
  ASSERT_EQ(kUrbSuccess, hubDescriptor.urb);
  ASSERT_EQ(2, hubDescriptor.data.at(2)) << "two ports";
  say("root hub hub descriptor: " + hex(hubDescriptor.data));
  hub.openChangePipe();
  say("root hub configured: status-change pipe open");

  auto change = hub.waitForChange(1);
  hub.tb.advance(50000);
  ASSERT_FALSE(change->done());
  if (hub.uhci)
    hub.uhci->plug(0, &camera);
  else
    hub.ohci->plug(0, &camera);
  say("device plugged into port 1");
  hub.run(*change, 200);
  ASSERT_TRUE(change->done());
  ASSERT_EQ(Bytes{0x02}, change->bitmap());
  say("change bitmap " + hex(change->bitmap()));
  ASSERT_EQ(0x00010101u, hub.portStatusValue(1));
  say("port 1 status 0x" +
      [&] {
        char t[16];
        std::snprintf(t, sizeof(t), "%08X", hub.portStatusValue(1));
        return std::string(t);
      }() +
      ": connected, connect change");
  ASSERT_EQ(kUrbSuccess, hub.clearFeature(1, kConnectionChange).urb);

  change = hub.waitForChange(1);
  ASSERT_EQ(kUrbSuccess, hub.setFeature(1, kReset).urb);
  say("port 1 reset");
  hub.run(*change, 300);
  ASSERT_TRUE(change->done());
  ASSERT_EQ(Bytes{0x02}, change->bitmap());
  ASSERT_EQ(0x00100103u, hub.portStatusValue(1));
  ASSERT_EQ(kUrbSuccess, hub.clearFeature(1, kResetChange).urb);
  say("reset change: port 1 enabled");

  void *handle = nullptr;
  ASSERT_EQ(hcsim::kSuccess, hub.tb.internalControl(hub.hc, kCreateDevice, &handle, 0, 0));
  Answer first8 = hub.control(handle, 0x0B, 6, 0x0100, 0, 8, true);
  ASSERT_EQ(kUrbSuccess, first8.urb);
  say("device handle created; first 8 bytes of the device descriptor at address 0: " + hex(first8.data));
  ASSERT_EQ(kUrbSuccess, hub.control(handle, 0x2A, 5, 2, 0, 0, false).urb);
  ASSERT_EQ(hcsim::kSuccess, hub.tb.internalControl(hub.hc, kSetAddress, handle, 2, 0));
  ASSERT_EQ(2, camera.address);
  say("address 2 set");
  Answer deviceDescriptor = hub.control(handle, 0x0B, 6, 0x0100, 0, 18, true);
  ASSERT_EQ(camera.deviceDescriptor, deviceDescriptor.data);
  say("device descriptor: " + hex(deviceDescriptor.data));
  Answer header = hub.control(handle, 0x0B, 6, 0x0200, 0, 9, true);
  ASSERT_EQ(9u, header.data.size());
  ULONG total = header.data[2] | header.data[3] << 8;
  Bytes configuration = hub.control(handle, 0x0B, 6, 0x0200, 0, total, true).data;
  ASSERT_EQ(camera.configurationDescriptor, configuration);
  say("configuration descriptor: " + std::to_string(total) + " bytes, " + std::to_string(configuration[4]) +
      " interfaces");

  // The device driver's part: the request built by the driver's helper export, for alternate
  // setting 0 of every interface.
  using CreateRequest = PURB(NTAPI *)(PUSB_CONFIGURATION_DESCRIPTOR, PUSHORT);
  auto create = reinterpret_cast<CreateRequest>(hub.tb.driverExport("USBD_CreateConfigurationRequest"));
  ASSERT_NE(nullptr, create);
  USHORT requestLength = 0;
  PURB select = create(reinterpret_cast<PUSB_CONFIGURATION_DESCRIPTOR>(configuration.data()), &requestLength);
  ASSERT_NE(nullptr, select);
  say("USBD_CreateConfigurationRequest: " + std::to_string(requestLength) + " bytes");
  select->UrbHeader.UsbdDeviceHandle = handle;
  auto selected = hub.tb.submitUrb(hub.hc, select);
  for (unsigned ms = 0; ms < 200 && !selected->done(); ++ms) hub.tb.advance(1000);
  ASSERT_TRUE(selected->done());
  ASSERT_EQ(hcsim::kSuccess, selected->status());
  ASSERT_EQ(1, camera.configuration);
  USBD_INTERFACE_INFORMATION *interface0 = &select->UrbSelectConfiguration.Interface;
  auto *interface1 =
      reinterpret_cast<USBD_INTERFACE_INFORMATION *>(reinterpret_cast<uint8_t *>(interface0) + interface0->Length);
  ASSERT_EQ(3u, interface0->NumberOfPipes);
  ASSERT_EQ(1u, interface1->NumberOfPipes);
  std::vector<USBD_PIPE_HANDLE> pipes;
  for (unsigned i = 0; i < 3; ++i) pipes.push_back(interface0->Pipes[i].PipeHandle);
  USBD_PIPE_HANDLE isoPipe = interface1->Pipes[0].PipeHandle;
  ASSERT_EQ(UsbdPipeTypeIsochronous, interface1->Pipes[0].PipeType);
  hub.tb.freePool(select);
  say("configuration 1 selected: interface 0 with 3 pipes, interface 1 with 1");

  Bytes data(1000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 13 + 5);
  camera.bulkIn = data;
  Bytes received(1024, 0);
  URB bulk{};
  auto &b = bulk.UrbBulkOrInterruptTransfer;
  b.Hdr.Length = sizeof(_URB_BULK_OR_INTERRUPT_TRANSFER);
  b.Hdr.Function = 0x09;
  b.Hdr.UsbdDeviceHandle = handle;
  b.PipeHandle = pipes[0];
  b.TransferFlags = USBD_TRANSFER_DIRECTION_IN | USBD_SHORT_TRANSFER_OK;
  b.TransferBuffer = received.data();
  b.TransferBufferLength = static_cast<ULONG>(received.size());
  auto r = hub.tb.submitUrb(hub.hc, &bulk);
  for (unsigned ms = 0; ms < 200 && !r->done(); ++ms) hub.tb.advance(1000);
  ASSERT_TRUE(r->done());
  ASSERT_EQ(hcsim::kSuccess, r->status());
  ASSERT_EQ(data.size(), b.TransferBufferLength);
  ASSERT_TRUE(std::equal(data.begin(), data.end(), received.begin()));
  say("bulk in from endpoint 0x81: " + std::to_string(b.TransferBufferLength) + " bytes");

  // Interface 1's isochronous stream.
  constexpr unsigned kPackets = 8;
  size_t urbSize = sizeof(_URB_ISOCH_TRANSFER) + (kPackets - 1) * sizeof(USBD_ISO_PACKET_DESCRIPTOR);
  Bytes isoUrb(urbSize), stream(kPackets * 256);
  auto *x = reinterpret_cast<_URB_ISOCH_TRANSFER *>(isoUrb.data());
  x->Hdr.Length = static_cast<USHORT>(urbSize);
  x->Hdr.Function = 0x0A;
  x->Hdr.UsbdDeviceHandle = handle;
  x->PipeHandle = isoPipe;
  x->TransferFlags = USBD_TRANSFER_DIRECTION_IN | USBD_START_ISO_TRANSFER_ASAP;
  x->TransferBuffer = stream.data();
  x->TransferBufferLength = static_cast<ULONG>(stream.size());
  x->NumberOfPackets = kPackets;
  for (unsigned k = 0; k < kPackets; ++k) x->IsoPacket[k].Offset = k * 256;
  auto iso = hub.tb.submitUrb(hub.hc, x);
  for (unsigned ms = 0; ms < 200 && !iso->done(); ++ms) hub.tb.advance(1000);
  ASSERT_TRUE(iso->done());
  ASSERT_EQ(hcsim::kSuccess, iso->status());
  ASSERT_EQ(stream.size(), iso->information());
  for (unsigned i = 0; i < stream.size(); ++i) ASSERT_EQ(static_cast<uint8_t>(i * 7 % 251), stream[i]) << i;
  say("isochronous in from endpoint 0x84: " + std::to_string(kPackets) + " packets, " +
      std::to_string(iso->information()) + " bytes");

  change = hub.waitForChange(1);
  if (hub.uhci)
    hub.uhci->unplug(0);
  else
    hub.ohci->unplug(0);
  say("device pulled out of port 1");
  hub.run(*change, 200);
  ASSERT_TRUE(change->done());
  ASSERT_EQ(Bytes{0x02}, change->bitmap());
  ASSERT_EQ(0x00030100u, hub.portStatusValue(1));
  say("change bitmap " + hex(change->bitmap()) + ": port 1 disconnected and disabled");
  ASSERT_EQ(kUrbSuccess, hub.clearFeature(1, kConnectionChange).urb);
  ASSERT_EQ(kUrbSuccess, hub.clearFeature(1, kEnableChange).urb);
  ASSERT_EQ(hcsim::kSuccess, hub.tb.internalControl(hub.hc, kCloseDevice, handle));
  say("device handle closed");
}

}  // namespace
