// URBs through usbhcd.sys in the test bed: the test plays the hub driver and a device's driver,
// a UHCI controller model walks the schedule the driver builds, frame by frame, and a USB device
// model on its root port answers. Every test ends by unloading the driver and checking that it
// holds nothing any more and that the simulation caught no misuse.
#include <windows.h>

#include <usb.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "testbed.h"

namespace {

using hcsim::Holdings;
using hcsim::OhciController;
using hcsim::Request;
using hcsim::Testbed;
using hcsim::UhciController;
using hcsim::UsbDevice;

constexpr uint32_t kCreateDevice = 0x222003;
constexpr uint32_t kSetAddress = 0x222007;

// URB status values and the NT statuses they complete with.
constexpr uint32_t kUrbSuccess = 0, kUrbInvalidFunction = 0x80000200, kUrbInvalidParameter = 0x80000300,
                   kUrbInvalidPipe = 0x80000600, kUrbHalted = 0xC0000030, kUrbStall = 0xC0000004,
                   kUrbShort = 0x80000900, kUrbCancelled = 0x00010000, kUrbNotResponding = 0xC0000005;
constexpr uint32_t kNtInvalidParameter = 0xC000000D, kNtDataError = 0xC000009C, kNtCancelled = 0xC0000120;

std::string joined(const std::vector<std::string> &lines) {
  std::string s;
  for (const auto &l : lines) s += l + "\n";
  return s;
}

enum class Controller { Uhci, Ohci };

// A started UHCI or OHCI controller with a device on port 0 at address 1, its handle created and
// its address given, as the hub driver leaves it.
struct Bus {
  Testbed tb;
  UhciController *uhci = nullptr;
  OhciController *ohci = nullptr;
  UsbDevice device;
  void *hc = nullptr;
  void *handle = nullptr;

  explicit Bus(Controller type, bool lowSpeed = false) : device(lowSpeed) {
    if (type == Controller::Uhci) {
      uhci = &tb.machine.add(0, 7, 2, std::make_unique<UhciController>(0xE000));
      uhci->setInterrupt(4, 11);
    } else {
      ohci = &tb.machine.add(0, 3, 0, std::make_unique<OhciController>(0xFEBF0000));
      ohci->setInterrupt(1, 10);
    }
  }
  uint64_t frames() const { return uhci ? uhci->frames : ohci->frames; }
  unsigned frameBytes() const { return uhci ? uhci->bytesThisFrame : ohci->bytesThisFrame; }
  // Time passes to the start of the controller's next frame.
  void toFrameStart() {
    uint64_t at = uhci ? uhci->frameTime : ohci->frameTime;
    if (at) tb.advance(1000 - at);
  }
  void start() {
    ASSERT_EQ(hcsim::kSuccess, tb.load()) << joined(tb.errors());
    ASSERT_EQ(hcsim::kSuccess, tb.registerCallback());
    hc = tb.device(L"\\Device\\UsbHc0");
    ASSERT_NE(nullptr, hc);
    if (uhci)
      uhci->attach(0, &device);
    else
      ohci->attach(0, &device);
    ASSERT_EQ(hcsim::kSuccess, tb.internalControl(hc, kCreateDevice, &handle, device.lowSpeed ? 1 : 0, 0));
    device.address = 1;
    ASSERT_EQ(hcsim::kSuccess, tb.internalControl(hc, kSetAddress, handle, 1, 0));
  }
  ~Bus() {
    tb.unload();
    EXPECT_EQ(hcsim::describe(Holdings{}), hcsim::describe(tb.holdings()));
    EXPECT_TRUE(tb.poolByTag().empty());
    EXPECT_TRUE(tb.errors().empty()) << joined(tb.errors());
  }

  std::unique_ptr<Request> submit(URB &urb) {
    urb.UrbHeader.UsbdDeviceHandle = handle;
    return tb.submitUrb(hc, &urb);
  }
  // Simulated milliseconds pass until the request completes (at most limit); answers the frames run.
  uint64_t run(Request &r, unsigned limit = 2000) {
    uint64_t first = frames();
    for (unsigned ms = 0; ms < limit && !r.done(); ++ms) tb.advance(1000);
    return frames() - first;
  }

  // Select configuration 1 with interface 0: the pipes' information comes back in pipes.
  struct Configured {
    std::vector<uint8_t> memory;
    USBD_INTERFACE_INFORMATION *info() {
      return &reinterpret_cast<_URB_SELECT_CONFIGURATION *>(memory.data())->Interface;
    }
    USBD_PIPE_HANDLE pipe(unsigned i) { return info()->Pipes[i].PipeHandle; }
  };
  Configured configure() {
    Configured c;
    size_t interfaceLength = sizeof(USBD_INTERFACE_INFORMATION) + 2 * sizeof(USBD_PIPE_INFORMATION);
    c.memory.assign(sizeof(_URB_SELECT_CONFIGURATION) - sizeof(USBD_INTERFACE_INFORMATION) + interfaceLength, 0);
    auto *urb = reinterpret_cast<_URB_SELECT_CONFIGURATION *>(c.memory.data());
    urb->Hdr.Length = static_cast<USHORT>(c.memory.size());
    urb->Hdr.Function = 0x00;
    urb->Hdr.UsbdDeviceHandle = handle;
    urb->ConfigurationDescriptor =
        reinterpret_cast<PUSB_CONFIGURATION_DESCRIPTOR>(device.configurationDescriptor.data());
    urb->Interface.Length = static_cast<USHORT>(interfaceLength);
    auto r = tb.submitUrb(hc, urb);
    run(*r);
    EXPECT_TRUE(r->done());
    EXPECT_EQ(hcsim::kSuccess, r->status());
    EXPECT_EQ(kUrbSuccess, static_cast<uint32_t>(urb->Hdr.Status));
    return c;
  }

  static URB bulk(USBD_PIPE_HANDLE pipe, void *buffer, ULONG length, ULONG flags) {
    URB u{};
    u.UrbBulkOrInterruptTransfer.Hdr.Length = sizeof(_URB_BULK_OR_INTERRUPT_TRANSFER);
    u.UrbBulkOrInterruptTransfer.Hdr.Function = 0x09;
    u.UrbBulkOrInterruptTransfer.PipeHandle = pipe;
    u.UrbBulkOrInterruptTransfer.TransferBuffer = buffer;
    u.UrbBulkOrInterruptTransfer.TransferBufferLength = length;
    u.UrbBulkOrInterruptTransfer.TransferFlags = flags;
    return u;
  }

  // Get-descriptor of the device (type 1) or its configuration (2) on the default pipe.
  static URB getDescriptor(UCHAR type, void *buffer, ULONG length) {
    URB u{};
    auto &d = u.UrbControlDescriptorRequest;
    d.Hdr.Length = sizeof(_URB_CONTROL_DESCRIPTOR_REQUEST);
    d.Hdr.Function = 0x0B;
    d.TransferBuffer = buffer;
    d.TransferBufferLength = length;
    d.DescriptorType = type;
    return u;
  }
};

class UsbhcdUrbs : public ::testing::TestWithParam<Controller> {};
class UsbhcdTransfers : public ::testing::TestWithParam<Controller> {};
std::string controllerName(const testing::TestParamInfo<Controller> &i) {
  return i.param == Controller::Uhci ? "UHCI" : "OHCI";
}
INSTANTIATE_TEST_SUITE_P(Controllers, UsbhcdUrbs, testing::Values(Controller::Uhci, Controller::Ohci), controllerName);
INSTANTIATE_TEST_SUITE_P(Controllers, UsbhcdTransfers, testing::Values(Controller::Uhci, Controller::Ohci),
                         controllerName);

std::vector<uint8_t> pattern(size_t n, unsigned seed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * 31 + seed + (i >> 8));
  return v;
}

// ---------------------------------------------------------------------------------------------
// Request functions made control transfers

struct Translation {
  USHORT function;
  UCHAR callerType, callerRequest;
  ULONG flags;
  ULONG length;  // the caller's buffer
  UCHAR type, request;
  USHORT sentLength;
};

const Translation kTranslations[] = {
    {0x0B, 0xFF, 0xFF, 0, 18, 0x80, 6, 18},     // get descriptor from device
    {0x0D, 0xFF, 0xFF, 0, 0, 0x00, 3, 0},       // set feature to device
    {0x0E, 0x00, 0x00, 0, 0, 0x01, 3, 0},       // set feature to interface
    {0x10, 0x00, 0x00, 0, 0, 0x00, 1, 0},       // clear feature to device
    {0x12, 0x00, 0x00, 0, 0, 0x02, 1, 0},       // clear feature to endpoint
    {0x13, 0xFF, 0xFF, 0, 2, 0x80, 0, 2},       // get status from device
    {0x14, 0x00, 0x00, 0, 2, 0x81, 0, 2},       // get status from interface
    {0x15, 0x00, 0x00, 0, 2, 0x82, 0, 2},       // get status from endpoint
    {0x17, 0x00, 0x42, 1, 16, 0xC0, 0x42, 16},  // vendor device, in
    {0x18, 0x00, 0x43, 0, 4, 0x41, 0x43, 4},    // vendor interface, out
    {0x1B, 0x00, 0x0A, 1, 8, 0xA1, 0x0A, 8},    // class interface keeps its code, in sets bit 7
    {0x1B, 0xE3, 0x0B, 0, 3, 0x21, 0x0B, 3},    // class interface, out: the caller's type bits masked
    {0x1F, 0x00, 0x01, 0, 0, 0x23, 0x01, 0},    // class other
    {0x21, 0x00, 0x00, 0, 4, 0x83, 0, 4},       // get status from other
    {0x26, 0x00, 0x00, 0, 1, 0x80, 8, 1},       // get configuration
    {0x27, 0x00, 0x00, 0, 1, 0x81, 10, 1},      // get interface
    {0x2B, 0x1C, 0x07, 1, 2, 0x9D, 0x07, 2},    // reserved-type interface: mask 0x1C keeps those bits
};

TEST_P(UsbhcdUrbs, RequestFunctionsBecomeTheirControlTransfers) {
  Bus bus(GetParam());
  bus.start();
  for (const auto &c : kTranslations) {
    SCOPED_TRACE(testing::Message() << "function 0x" << std::hex << c.function);
    std::vector<uint8_t> buffer(c.length + 1, 0xEE);
    URB urb{};
    auto &x = urb.UrbControlTransfer;
    x.Hdr.Length = sizeof(_URB_CONTROL_VENDOR_OR_CLASS_REQUEST);
    x.Hdr.Function = c.function;
    x.TransferFlags = c.flags;
    x.TransferBufferLength = c.length;
    x.TransferBuffer = c.length ? buffer.data() : nullptr;
    x.SetupPacket[0] = c.callerType;
    x.SetupPacket[1] = c.callerRequest;
    x.SetupPacket[3] = 1;     // the descriptor type of a get-descriptor (the device's)
    x.SetupPacket[6] = 0x34;  // the length field is the driver's to set
    size_t before = bus.device.setups.size();
    auto r = bus.submit(urb);
    bus.run(*r);
    ASSERT_TRUE(r->done());
    EXPECT_EQ(hcsim::kSuccess, r->status());
    ASSERT_EQ(before + 1, bus.device.setups.size());
    const auto &s = bus.device.setups.back();
    EXPECT_EQ(c.type, s[0]);
    EXPECT_EQ(c.request, s[1]);
    EXPECT_EQ(c.sentLength, s[6] | s[7] << 8);
    EXPECT_EQ(0xEE, buffer[c.length]) << "nothing written past the buffer";
  }
}

TEST_P(UsbhcdUrbs, FunctionsOutsideTheTableFail) {
  Bus bus(GetParam());
  bus.start();
  for (USHORT function : {0x03, 0x16, 0x1D, 0x2E, 0x7F}) {
    URB urb{};
    urb.UrbHeader.Length = sizeof(_URB_CONTROL_TRANSFER);
    urb.UrbHeader.Function = function;
    auto r = bus.submit(urb);
    EXPECT_TRUE(r->done());
    EXPECT_EQ(kNtInvalidParameter, r->status()) << function;
    EXPECT_EQ(kUrbInvalidFunction, static_cast<uint32_t>(urb.UrbHeader.Status)) << function;
  }
  EXPECT_TRUE(bus.device.setups.empty());
}

// ---------------------------------------------------------------------------------------------
// Configuration and pipes

TEST_P(UsbhcdUrbs, SelectConfigurationOpensThePipesOfTheInterface) {
  Bus bus(GetParam());
  bus.start();
  auto c = bus.configure();
  ASSERT_GE(bus.device.setups.size(), 2u);
  const auto &setConfiguration = bus.device.setups[0], &setInterface = bus.device.setups[1];
  EXPECT_EQ((std::array<uint8_t, 8>{0x00, 9, 1, 0, 0, 0, 0, 0}), setConfiguration);
  EXPECT_EQ((std::array<uint8_t, 8>{0x01, 11, 0, 0, 0, 0, 0, 0}), setInterface);
  EXPECT_EQ(1, bus.device.configuration);
  auto *info = c.info();
  EXPECT_EQ(0xFF, info->Class);
  EXPECT_EQ(0x01, info->SubClass);
  EXPECT_EQ(0x02, info->Protocol);
  EXPECT_EQ(3u, info->NumberOfPipes);
  struct Expected {
    USHORT packet;
    UCHAR address, interval;
    int type;
  } expected[] = {
      {64, 0x81, 0, UsbdPipeTypeBulk}, {64, 0x02, 0, UsbdPipeTypeBulk}, {8, 0x83, 10, UsbdPipeTypeInterrupt}};
  for (unsigned i = 0; i < 3; ++i) {
    EXPECT_EQ(expected[i].packet, info->Pipes[i].MaximumPacketSize) << i;
    EXPECT_EQ(expected[i].address, info->Pipes[i].EndpointAddress) << i;
    EXPECT_EQ(expected[i].interval, info->Pipes[i].Interval) << i;
    EXPECT_EQ(expected[i].type, info->Pipes[i].PipeType) << i;
    EXPECT_NE(nullptr, info->Pipes[i].PipeHandle) << i;
  }
  EXPECT_NE(nullptr, reinterpret_cast<_URB_SELECT_CONFIGURATION *>(c.memory.data())->ConfigurationHandle);
}

TEST_P(UsbhcdUrbs, AnInterfaceRecordTooShortForItsPipesIsRefused) {
  Bus bus(GetParam());
  bus.start();
  std::vector<uint8_t> memory(sizeof(_URB_SELECT_CONFIGURATION) + 64, 0xAB);
  auto *urb = reinterpret_cast<_URB_SELECT_CONFIGURATION *>(memory.data());
  std::memset(urb, 0, sizeof(*urb));
  urb->Hdr.Length = sizeof(*urb);  // room for one pipe entry; the interface has three
  urb->Hdr.Function = 0x00;
  urb->Hdr.UsbdDeviceHandle = bus.handle;
  urb->ConfigurationDescriptor =
      reinterpret_cast<PUSB_CONFIGURATION_DESCRIPTOR>(bus.device.configurationDescriptor.data());
  urb->Interface.Length = sizeof(USBD_INTERFACE_INFORMATION);
  auto r = bus.tb.submitUrb(bus.hc, urb);
  bus.run(*r);
  ASSERT_TRUE(r->done());
  EXPECT_EQ(kUrbInvalidParameter, static_cast<uint32_t>(urb->Hdr.Status));
  for (size_t i = sizeof(*urb); i < memory.size(); ++i) ASSERT_EQ(0xAB, memory[i]) << "written past the URB at " << i;
  EXPECT_EQ(1u, bus.tb.poolByTag()["Pipe"]) << "only the default pipe is open";
}

TEST_P(UsbhcdUrbs, APipeOfAClosedConfigurationIsRefusedNotFollowed) {
  Bus bus(GetParam());
  bus.start();
  auto c = bus.configure();
  USBD_PIPE_HANDLE old = c.pipe(1);
  URB close{};
  close.UrbSelectConfiguration.Hdr.Length = sizeof(_URB_SELECT_CONFIGURATION);
  close.UrbSelectConfiguration.Hdr.Function = 0x00;
  auto r = bus.submit(close);
  bus.run(*r);
  EXPECT_EQ(hcsim::kSuccess, r->status());
  EXPECT_EQ(0, bus.device.configuration);
  std::vector<uint8_t> data(64);
  URB u = Bus::bulk(old, data.data(), 64, 0);
  auto t = bus.submit(u);
  EXPECT_TRUE(t->done());
  EXPECT_EQ(kUrbInvalidPipe, static_cast<uint32_t>(u.UrbHeader.Status));
}

// ---------------------------------------------------------------------------------------------
// Submission checks

TEST_P(UsbhcdUrbs, SubmissionChecksTheBufferTheLinkAndTheLength) {
  Bus bus(GetParam());
  bus.start();
  auto c = bus.configure();
  std::vector<uint8_t> data(0x40001);
  URB linked{};
  uint8_t listStandIn[64] = {};  // never read: the pair is refused first
  PMDL mdl = reinterpret_cast<PMDL>(listStandIn);
  struct Case {
    const char *what;
    void *buffer;
    PMDL mdl;
    ULONG length;
    URB *link;
    uint32_t urbStatus;
  } cases[] = {
      {"neither buffer nor list", nullptr, nullptr, 16, nullptr, kUrbInvalidParameter},
      {"both buffer and list", data.data(), mdl, 16, nullptr, kUrbInvalidParameter},
      {"a linked URB", data.data(), nullptr, 16, &linked, kUrbInvalidParameter},
      {"0x40001 bytes", data.data(), nullptr, 0x40001, nullptr, kUrbInvalidParameter},
  };
  for (const auto &k : cases) {
    URB u = Bus::bulk(c.pipe(1), k.buffer, k.length, 0);
    u.UrbBulkOrInterruptTransfer.TransferBufferMDL = k.mdl;
    u.UrbBulkOrInterruptTransfer.UrbLink = k.link;
    auto r = bus.submit(u);
    EXPECT_TRUE(r->done()) << k.what;
    EXPECT_EQ(k.urbStatus, static_cast<uint32_t>(u.UrbHeader.Status)) << k.what;
    EXPECT_EQ(kNtInvalidParameter, r->status()) << k.what;
    EXPECT_EQ(0u, r->information()) << k.what;
  }
  EXPECT_TRUE(bus.device.bulkOut.empty());

  // 256 KB exactly is one transfer, and moves every byte.
  auto payload = pattern(0x40000, 3);
  URB u = Bus::bulk(c.pipe(1), payload.data(), 0x40000, 0);
  auto r = bus.submit(u);
  uint64_t frames = bus.run(*r, 1000);
  ASSERT_TRUE(r->done());
  EXPECT_EQ(hcsim::kSuccess, r->status());
  EXPECT_EQ(0x40000u, r->information());
  EXPECT_EQ(payload, bus.device.bulkOut);
  // The frame holds 19 packets of 64 bytes at most: 216 frames for 4096 packets.
  EXPECT_GE(frames, 216u);
}

// ---------------------------------------------------------------------------------------------
// Bulk, interrupt and control transfers on the bus

TEST_P(UsbhcdTransfers, BulkTogglesRunOnAcrossTransfersAndPages) {
  Bus bus(GetParam());
  bus.start();
  auto c = bus.configure();
  // Lengths of odd packet counts, at offsets that put packets across page boundaries.
  struct Piece {
    size_t offset, length;
  } pieces[] = {{0, 100}, {4096 - 30, 64}, {8192 - 64 * 3 + 5, 200}, {100, 1}, {4096 - 1, 129}};
  std::vector<uint8_t> memory(4 * 4096 + 4096);
  uint8_t *pages = reinterpret_cast<uint8_t *>((reinterpret_cast<uintptr_t>(memory.data()) + 4095) & ~uintptr_t(4095));
  std::vector<uint8_t> sent;
  unsigned seed = 1;
  for (const auto &p : pieces) {
    auto data = pattern(p.length, seed++);
    std::memcpy(pages + p.offset, data.data(), p.length);
    URB u = Bus::bulk(c.pipe(1), pages + p.offset, static_cast<ULONG>(p.length), 0);
    auto r = bus.submit(u);
    bus.run(*r);
    ASSERT_TRUE(r->done()) << p.offset;
    EXPECT_EQ(hcsim::kSuccess, r->status());
    EXPECT_EQ(p.length, r->information());
    sent.insert(sent.end(), data.begin(), data.end());
  }
  EXPECT_EQ(sent, bus.device.bulkOut) << "a wrong toggle loses a packet";

  // And in: the device sends what it has, into buffers across page boundaries.
  bus.device.bulkIn = pattern(100 + 64 + 200 + 1 + 129, 9);
  std::vector<uint8_t> expected = bus.device.bulkIn, received;
  for (const auto &p : pieces) {
    std::memset(pages + p.offset, 0, p.length);
    URB u = Bus::bulk(c.pipe(0), pages + p.offset, static_cast<ULONG>(p.length), USBD_TRANSFER_DIRECTION_IN);
    auto r = bus.submit(u);
    bus.run(*r);
    ASSERT_TRUE(r->done()) << p.offset;
    EXPECT_EQ(hcsim::kSuccess, r->status());
    EXPECT_EQ(p.length, r->information());
    received.insert(received.end(), pages + p.offset, pages + p.offset + p.length);
  }
  EXPECT_EQ(expected, received);
}

TEST_P(UsbhcdTransfers, ShortPacketsEndInTransfersByTheShortTransferFlag) {
  struct Case {
    ULONG flags;
    uint32_t urbStatus, ntStatus;
  } cases[] = {{USBD_TRANSFER_DIRECTION_IN | USBD_SHORT_TRANSFER_OK, kUrbSuccess, 0},
               {USBD_TRANSFER_DIRECTION_IN, kUrbShort, kNtDataError}};
  for (const auto &k : cases) {
    Bus bus(GetParam());
    bus.start();
    auto c = bus.configure();
    bus.device.bulkIn = pattern(100, 4);
    std::vector<uint8_t> buffer(256, 0xEE);
    URB u = Bus::bulk(c.pipe(0), buffer.data(), 256, k.flags);
    auto r = bus.submit(u);
    bus.run(*r);
    ASSERT_TRUE(r->done());
    EXPECT_EQ(k.urbStatus, static_cast<uint32_t>(u.UrbHeader.Status));
    EXPECT_EQ(k.ntStatus, r->status());
    EXPECT_EQ(100u, r->information());
    EXPECT_EQ(100u, u.UrbBulkOrInterruptTransfer.TransferBufferLength);
    EXPECT_EQ(pattern(100, 4), std::vector<uint8_t>(buffer.begin(), buffer.begin() + 100));
    EXPECT_EQ(0xEE, buffer[100]);
    // The toggle follows the short packet: the next transfer goes through.
    bus.device.bulkIn = pattern(64, 5);
    URB next = Bus::bulk(c.pipe(0), buffer.data(), 64, USBD_TRANSFER_DIRECTION_IN);
    auto n = bus.submit(next);
    bus.run(*n);
    EXPECT_EQ(hcsim::kSuccess, n->status());
    EXPECT_EQ(64u, n->information());
  }
}

TEST_P(UsbhcdTransfers, AShortControlDataStageGoesOnToItsStatusStage) {
  Bus bus(GetParam());
  bus.start();
  std::vector<uint8_t> buffer(255, 0xEE);
  URB urb = Bus::getDescriptor(2, buffer.data(), 255);
  auto r = bus.submit(urb);
  bus.run(*r);
  ASSERT_TRUE(r->done());
  EXPECT_EQ(hcsim::kSuccess, r->status());
  EXPECT_EQ(bus.device.configurationDescriptor.size(), r->information());
  EXPECT_TRUE(
      std::equal(bus.device.configurationDescriptor.begin(), bus.device.configurationDescriptor.end(), buffer.begin()));
  EXPECT_EQ(0xEE, buffer[bus.device.configurationDescriptor.size()]);
  // The status stage was sent: a request that takes effect only then does.
  auto c = bus.configure();
  EXPECT_EQ(1, bus.device.configuration);
}

TEST_P(UsbhcdTransfers, AStalledEndpointHaltsThePipeUntilResetPipe) {
  Bus bus(GetParam());
  bus.start();
  auto c = bus.configure();
  bus.device.endpoint(0x81)->stalled = true;
  std::vector<uint8_t> buffer(64);
  URB u = Bus::bulk(c.pipe(0), buffer.data(), 64, USBD_TRANSFER_DIRECTION_IN);
  auto r = bus.submit(u);
  bus.run(*r);
  ASSERT_TRUE(r->done());
  EXPECT_EQ(kUrbStall, static_cast<uint32_t>(u.UrbHeader.Status));
  EXPECT_EQ(kNtDataError, r->status());

  URB again = Bus::bulk(c.pipe(0), buffer.data(), 64, USBD_TRANSFER_DIRECTION_IN);
  auto h = bus.submit(again);
  EXPECT_TRUE(h->done());
  EXPECT_EQ(kUrbHalted, static_cast<uint32_t>(again.UrbHeader.Status));

  URB reset{};
  reset.UrbPipeRequest.Hdr.Length = sizeof(_URB_PIPE_REQUEST);
  reset.UrbPipeRequest.Hdr.Function = 0x1E;
  reset.UrbPipeRequest.PipeHandle = c.pipe(0);
  auto rr = bus.submit(reset);
  EXPECT_FALSE(rr->done()) << "reset pipe always goes to a worker";
  bus.tb.runWorkItems();
  ASSERT_TRUE(rr->done());
  EXPECT_EQ(hcsim::kSuccess, rr->status());
  EXPECT_EQ((std::array<uint8_t, 8>{0x02, 1, 0, 0, 0x81, 0, 0, 0}), bus.device.setups.back());
  EXPECT_FALSE(bus.device.endpoint(0x81)->stalled);

  bus.device.bulkIn = pattern(64, 6);
  URB after = Bus::bulk(c.pipe(0), buffer.data(), 64, USBD_TRANSFER_DIRECTION_IN);
  auto a = bus.submit(after);
  bus.run(*a);
  EXPECT_EQ(hcsim::kSuccess, a->status()) << "the toggle starts again at DATA0";
  EXPECT_EQ(pattern(64, 6), buffer);
}

TEST_P(UsbhcdTransfers, ADeviceThatDoesNotAnswerFailsAfterThreeErrors) {
  Bus bus(GetParam());
  bus.start();
  auto c = bus.configure();
  bus.device.endpoint(0x02)->timeout = true;
  std::vector<uint8_t> buffer(8);
  URB u = Bus::bulk(c.pipe(1), buffer.data(), 8, 0);
  auto r = bus.submit(u);
  bus.run(*r);
  ASSERT_TRUE(r->done());
  EXPECT_EQ(kUrbNotResponding, static_cast<uint32_t>(u.UrbHeader.Status));
  EXPECT_EQ(3u, bus.device.endpoint(0x02)->transactions);
}

TEST_P(UsbhcdTransfers, AbortCancelsQueuedTransfers) {
  Bus bus(GetParam());
  bus.start();
  auto c = bus.configure();
  std::vector<uint8_t> a(64), b(64);
  URB first = Bus::bulk(c.pipe(0), a.data(), 64, USBD_TRANSFER_DIRECTION_IN);
  URB second = Bus::bulk(c.pipe(0), b.data(), 64, USBD_TRANSFER_DIRECTION_IN);
  auto r1 = bus.submit(first), r2 = bus.submit(second);
  bus.tb.advance(5000);  // the device NAKs: nothing to send
  EXPECT_FALSE(r1->done());
  EXPECT_FALSE(r2->done());
  URB abort{};
  abort.UrbPipeRequest.Hdr.Length = sizeof(_URB_PIPE_REQUEST);
  abort.UrbPipeRequest.Hdr.Function = 0x02;
  abort.UrbPipeRequest.PipeHandle = c.pipe(0);
  uint64_t start = bus.tb.now();
  auto ra = bus.submit(abort);
  bus.run(*ra, 100);
  ASSERT_TRUE(ra->done());
  EXPECT_EQ(hcsim::kSuccess, ra->status());
  EXPECT_GE(bus.tb.now() - start, 10000u) << "the abort's check runs 10 ms on";
  for (auto *r : {r1.get(), r2.get()}) {
    EXPECT_TRUE(r->done());
    EXPECT_EQ(kNtCancelled, r->status());
  }
  EXPECT_EQ(kUrbCancelled, static_cast<uint32_t>(first.UrbHeader.Status));
  EXPECT_EQ(kUrbCancelled, static_cast<uint32_t>(second.UrbHeader.Status));
  // The device sends later: nothing lands in the cancelled buffers.
  bus.device.bulkIn = pattern(64, 7);
  bus.tb.advance(5000);
  EXPECT_EQ(std::vector<uint8_t>(64), a);
  EXPECT_EQ(64u, bus.device.bulkIn.size());
}

// An abort in the middle of a frame, while a packet of the transfer is on the bus: the controller
// still finishes that packet from the descriptor it fetched and writes it back, so the driver
// frees the descriptors (and completes the transfer) only when the frame has passed. Freed at
// once, they would be the next transfer's, and the packet in flight would land in a buffer whose
// request had completed and mark the next transfer's first descriptor done.
TEST_P(UsbhcdTransfers, AnAbortInTheMiddleOfAFrameWaitsForTheFrameToPass) {
  Bus bus(GetParam());
  bus.start();
  auto c = bus.configure();
  bus.device.bulkIn = pattern(16384, 8);
  std::vector<uint8_t> in(4096, 0xEE);
  URB first = Bus::bulk(c.pipe(0), in.data(), 4096, USBD_TRANSFER_DIRECTION_IN);
  bus.toFrameStart();
  auto r = bus.submit(first);
  bus.tb.advance(1500);  // one frame and half the next
  ASSERT_FALSE(r->done());
  URB abort{};
  abort.UrbPipeRequest.Hdr.Length = sizeof(_URB_PIPE_REQUEST);
  abort.UrbPipeRequest.Hdr.Function = 0x02;
  abort.UrbPipeRequest.PipeHandle = c.pipe(0);
  auto ra = bus.submit(abort);
  std::vector<uint8_t> atCompletion;
  if (r->done()) atCompletion = in;
  // At once, on the other pipe: the blocks it takes are free only if the driver let them go.
  auto out = pattern(640, 9);
  URB second = Bus::bulk(c.pipe(1), out.data(), 640, 0);
  auto r2 = bus.submit(second);
  for (unsigned step = 0; step < 400 && !(ra->done() && r2->done()); ++step) {
    bus.tb.advance(100);
    if (r->done() && atCompletion.empty()) atCompletion = in;
  }
  ASSERT_TRUE(r->done());
  ASSERT_TRUE(ra->done());
  ASSERT_TRUE(r2->done());
  EXPECT_EQ(kUrbCancelled, static_cast<uint32_t>(first.UrbHeader.Status));
  EXPECT_EQ(hcsim::kSuccess, ra->status());
  EXPECT_EQ(hcsim::kSuccess, r2->status());
  EXPECT_EQ(out, bus.device.bulkOut) << "the next transfer's descriptors were overwritten";
  bus.tb.advance(20000);
  EXPECT_TRUE(atCompletion == in) << "bytes landed in the buffer after its request completed";
  // What the device sent went into the buffer, in order, and nowhere else.
  size_t sent = 16384 - bus.device.bulkIn.size();
  ASSERT_LE(sent, 4096u);
  EXPECT_GT(sent, 19u * 64) << "the abort came after the first frame";
  auto expected = pattern(16384, 8);
  EXPECT_TRUE(std::equal(expected.begin(), expected.begin() + sent, in.begin()));
  EXPECT_EQ(0xEE, in[sent]);
  EXPECT_EQ(sent, r->information()) << "the cancelled transfer reports what it moved";
}

// An interrupt-in read of endpoint 0x83 (bInterval 10, on the tree's 8-frame level) while the
// device has nothing to send: still pending after `microseconds`, with at least `polls` tokens
// eight frames apart.
void expectPolledEveryEightFrames(Bus &bus, Request &read, uint64_t microseconds, size_t polls) {
  bus.tb.advance(microseconds);
  EXPECT_FALSE(read.done());
  const auto &frames = bus.device.endpoint(0x83)->frames;
  ASSERT_GE(frames.size(), polls);
  for (size_t i = 1; i < frames.size(); ++i) EXPECT_EQ(8u, frames[i] - frames[i - 1]);
}

TEST_P(UsbhcdTransfers, AnInterruptPipeIsPolledEveryEightFramesForAnIntervalOfTen) {
  Bus bus(GetParam());
  bus.start();
  auto c = bus.configure();
  std::vector<uint8_t> buffer(8);
  URB u = Bus::bulk(c.pipe(2), buffer.data(), 8, USBD_TRANSFER_DIRECTION_IN | USBD_SHORT_TRANSFER_OK);
  auto r = bus.submit(u);
  ASSERT_NO_FATAL_FAILURE(expectPolledEveryEightFrames(bus, *r, 64000, 7));
  bus.device.interruptIn = {1, 2, 3};
  bus.run(*r, 20);
  ASSERT_TRUE(r->done());
  EXPECT_EQ(hcsim::kSuccess, r->status());
  EXPECT_EQ(3u, r->information());
  EXPECT_EQ(1, buffer[0]);
}

// A low-speed device: the driver marks its descriptors low speed (the device hears nothing else),
// its default pipe has 8-byte packets, and its interrupt endpoint is polled as a full-speed one.
TEST_P(UsbhcdTransfers, ALowSpeedDeviceAnswersControlAndInterruptTransfers) {
  Bus bus(GetParam(), true);
  bus.start();
  std::vector<uint8_t> descriptor(18, 0xEE);
  URB urb = Bus::getDescriptor(1, descriptor.data(), 18);
  auto r = bus.submit(urb);
  bus.run(*r);
  ASSERT_TRUE(r->done());
  EXPECT_EQ(hcsim::kSuccess, r->status());
  EXPECT_EQ(18u, r->information()) << "three 8-byte packets, not one";
  EXPECT_EQ(bus.device.deviceDescriptor, descriptor);
  auto c = bus.configure();
  EXPECT_EQ(1, bus.device.configuration);
  std::vector<uint8_t> buffer(8);
  URB u = Bus::bulk(c.pipe(2), buffer.data(), 8, USBD_TRANSFER_DIRECTION_IN | USBD_SHORT_TRANSFER_OK);
  auto i = bus.submit(u);
  ASSERT_NO_FATAL_FAILURE(expectPolledEveryEightFrames(bus, *i, 40000, 4));
  bus.device.interruptIn = {4, 5, 6, 7, 8, 9, 10, 11};
  bus.run(*i, 20);
  ASSERT_TRUE(i->done());
  EXPECT_EQ(hcsim::kSuccess, i->status());
  EXPECT_EQ((std::vector<uint8_t>{4, 5, 6, 7, 8, 9, 10, 11}), buffer);
}

// A low-speed transaction takes eight times the bus time: (8 + 13) x 8 = 168 bytes of the
// frame's 1,500 for an 8-byte packet, so a frame holds eight of them.
TEST_P(UsbhcdTransfers, LowSpeedPacketsTakeEightTimesTheBusTime) {
  Bus bus(GetParam(), true);
  bus.start();
  std::vector<uint8_t> buffer(512);
  URB urb{};
  auto &x = urb.UrbControlVendorClassRequest;
  x.Hdr.Length = sizeof(_URB_CONTROL_VENDOR_OR_CLASS_REQUEST);
  x.Hdr.Function = 0x17;  // vendor device request, in: the device answers with patterned bytes
  x.TransferFlags = USBD_TRANSFER_DIRECTION_IN;
  x.TransferBuffer = buffer.data();
  x.TransferBufferLength = 512;
  x.Request = 0x42;
  bus.toFrameStart();
  auto r = bus.submit(urb);
  unsigned most = 0, frames = 0;
  for (; frames < 100 && !r->done(); ++frames) {
    bus.tb.advance(1000);
    most = std::max(most, bus.frameBytes());
  }
  ASSERT_TRUE(r->done());
  EXPECT_EQ(512u, r->information());
  EXPECT_EQ(8u * (8 + hcsim::kTransactionOverhead) * 8, most);
  EXPECT_GE(frames, (64u + 2) / 8) << "64 data packets, setup and status, eight a frame";
}

// A schedule that spends the frame on overhead is slower in simulated frames: the same 16 KB out
// in 8-byte packets instead of 64-byte ones.
TEST_P(UsbhcdTransfers, TheFrameBudgetMakesSmallPacketsSlower) {
  uint64_t frames[2] = {};
  unsigned packets[2] = {64, 8};
  for (int i = 0; i < 2; ++i) {
    Bus bus(GetParam());
    bus.device.configurationDescriptor[18 + 7 + 4] = static_cast<uint8_t>(packets[i]);  // endpoint 0x02
    bus.device.endpoint(0x02)->maxPacket = static_cast<uint16_t>(packets[i]);
    bus.start();
    auto c = bus.configure();
    auto payload = pattern(16384, 2);
    URB u = Bus::bulk(c.pipe(1), payload.data(), 16384, 0);
    auto r = bus.submit(u);
    frames[i] = bus.run(*r, 2000);
    ASSERT_TRUE(r->done());
    EXPECT_EQ(payload, bus.device.bulkOut);
  }
  // 64-byte packets: 19 a frame (1216 bytes); 8-byte ones: 71 a frame (568 bytes).
  EXPECT_GE(frames[0], 16384u / 1216);
  EXPECT_GE(frames[1], 16384u / 568);
  EXPECT_GT(frames[1], frames[0] * 2);
}

TEST_P(UsbhcdTransfers, RemovalCompletesTheTransfersStillQueued) {
  Bus bus(GetParam());
  bus.start();
  auto c = bus.configure();
  std::vector<uint8_t> buffer(64);
  URB u = Bus::bulk(c.pipe(0), buffer.data(), 64, USBD_TRANSFER_DIRECTION_IN);
  auto r = bus.submit(u);
  bus.tb.advance(5000);  // the device NAKs
  ASSERT_FALSE(r->done());
  bus.tb.unload();
  ASSERT_TRUE(r->done());
  EXPECT_EQ(kNtCancelled, r->status());
  EXPECT_EQ(kUrbCancelled, static_cast<uint32_t>(u.UrbHeader.Status));
}

// ---------------------------------------------------------------------------------------------
// Isochronous streams

// Interface 1 selected: its isochronous in pipe.
USBD_PIPE_HANDLE selectStream(Bus &bus, Bus::Configured &c) {
  std::vector<uint8_t> select(sizeof(_URB_SELECT_INTERFACE), 0);
  auto *si = reinterpret_cast<_URB_SELECT_INTERFACE *>(select.data());
  si->Hdr.Length = sizeof(_URB_SELECT_INTERFACE);
  si->Hdr.Function = 0x01;
  si->Hdr.UsbdDeviceHandle = bus.handle;
  si->ConfigurationHandle = reinterpret_cast<_URB_SELECT_CONFIGURATION *>(c.memory.data())->ConfigurationHandle;
  si->Interface.Length = sizeof(USBD_INTERFACE_INFORMATION);
  si->Interface.InterfaceNumber = 1;
  auto s = bus.tb.submitUrb(bus.hc, si);
  bus.run(*s);
  EXPECT_EQ(hcsim::kSuccess, s->status());
  EXPECT_EQ(1u, si->Interface.NumberOfPipes);
  EXPECT_EQ(UsbdPipeTypeIsochronous, si->Interface.Pipes[0].PipeType);
  EXPECT_EQ(bus.device.endpoint(0x84)->maxPacket, si->Interface.Pipes[0].MaximumPacketSize);
  return si->Interface.Pipes[0].PipeHandle;
}

// An isochronous in URB of packets of one size, in its own memory.
struct IsoUrb {
  std::vector<uint8_t> memory;
  IsoUrb(USBD_PIPE_HANDLE pipe, uint8_t *buffer, unsigned packets, unsigned size, ULONG flags, ULONG startFrame = 0)
      : memory(sizeof(_URB_ISOCH_TRANSFER) + (packets - 1) * sizeof(USBD_ISO_PACKET_DESCRIPTOR)) {
    auto *x = urb();
    x->Hdr.Length = static_cast<USHORT>(memory.size());
    x->Hdr.Function = 0x0A;
    x->PipeHandle = pipe;
    x->TransferFlags = USBD_TRANSFER_DIRECTION_IN | flags;
    x->TransferBuffer = buffer;
    x->TransferBufferLength = packets * size;
    x->NumberOfPackets = packets;
    x->StartFrame = startFrame;
    for (unsigned k = 0; k < packets; ++k) x->IsoPacket[k].Offset = k * size;
  }
  _URB_ISOCH_TRANSFER *urb() { return reinterpret_cast<_URB_ISOCH_TRANSFER *>(memory.data()); }
};

ULONG currentFrame(Bus &bus) {
  URB u{};
  u.UrbGetCurrentFrameNumber.Hdr.Length = sizeof(_URB_GET_CURRENT_FRAME_NUMBER);
  u.UrbGetCurrentFrameNumber.Hdr.Function = 0x07;
  auto r = bus.submit(u);
  EXPECT_EQ(hcsim::kSuccess, r->status());
  return u.UrbGetCurrentFrameNumber.FrameNumber;
}

// Interface 1's stream: three URBs of 16 packets each, queued as soon as possible one after the
// other into a buffer that starts 100 bytes into a page, so that packets straddle pages, deliver
// every frame's packet in order.
TEST_P(UsbhcdTransfers, AnIsochronousStreamDeliversEveryFrame) {
  Bus bus(GetParam());
  bus.start();
  auto c = bus.configure();
  USBD_PIPE_HANDLE pipe = selectStream(bus, c);
  constexpr unsigned kPackets = 16, kUrbs = 3;
  std::vector<uint8_t> memory(kUrbs * kPackets * 256 + 8192);
  uint8_t *stream =
      reinterpret_cast<uint8_t *>((reinterpret_cast<uintptr_t>(memory.data()) + 4095) & ~uintptr_t(4095)) + 100;
  std::vector<IsoUrb> urbs;
  std::vector<std::unique_ptr<Request>> requests;
  ULONG before = currentFrame(bus);
  for (unsigned u = 0; u < kUrbs; ++u) {
    urbs.emplace_back(pipe, stream + u * kPackets * 256, kPackets, 256, USBD_START_ISO_TRANSFER_ASAP);
    requests.push_back(bus.submit(*reinterpret_cast<URB *>(urbs.back().urb())));
  }
  for (auto &r : requests) bus.run(*r, 200);
  EXPECT_EQ(before + 2, urbs[0].urb()->StartFrame) << "as soon as possible: two frames on";
  for (unsigned u = 0; u < kUrbs; ++u) {
    SCOPED_TRACE(u);
    auto *x = urbs[u].urb();
    ASSERT_TRUE(requests[u]->done());
    EXPECT_EQ(hcsim::kSuccess, requests[u]->status());
    EXPECT_EQ(kPackets * 256, requests[u]->information());
    EXPECT_EQ(0u, x->ErrorCount);
    if (u) {
      EXPECT_EQ(urbs[u - 1].urb()->StartFrame + kPackets, x->StartFrame) << "right after the last queued frame";
    }
    for (unsigned k = 0; k < kPackets; ++k) {
      EXPECT_EQ(0, x->IsoPacket[k].Status) << k;
      EXPECT_EQ(256u, x->IsoPacket[k].Length) << k;
    }
  }
  for (unsigned i = 0; i < kUrbs * kPackets * 256; ++i)
    ASSERT_EQ(static_cast<uint8_t>(i * 7 % 251), stream[i]) << "stream byte " << i;
  const auto &frames = bus.device.endpoint(0x84)->frames;
  ASSERT_EQ(kUrbs * kPackets, frames.size());
  for (size_t i = 1; i < frames.size(); ++i) ASSERT_EQ(1u, frames[i] - frames[i - 1]) << "a frame was missed at " << i;
  EXPECT_TRUE(bus.tb.errors().empty()) << joined(bus.tb.errors());
}

// Packets the device does not answer fail one by one (no retries): device not responding, no
// length, counted in the URB's error count; the URB itself succeeds, the same on both controllers.
TEST_P(UsbhcdTransfers, UnansweredIsochronousPacketsFailOneByOne) {
  Bus bus(GetParam());
  bus.start();
  auto c = bus.configure();
  USBD_PIPE_HANDLE pipe = selectStream(bus, c);
  bus.device.endpoint(0x84)->timeout = true;
  std::vector<uint8_t> buffer(8 * 256, 0xEE);
  IsoUrb iso(pipe, buffer.data(), 8, 256, USBD_START_ISO_TRANSFER_ASAP);
  auto r = bus.submit(*reinterpret_cast<URB *>(iso.urb()));
  bus.run(*r, 100);
  ASSERT_TRUE(r->done());
  EXPECT_EQ(kUrbSuccess, static_cast<uint32_t>(iso.urb()->Hdr.Status));
  EXPECT_EQ(0u, r->information());
  EXPECT_EQ(8u, iso.urb()->ErrorCount);
  for (unsigned k = 0; k < 8; ++k) {
    EXPECT_EQ(kUrbNotResponding, static_cast<uint32_t>(iso.urb()->IsoPacket[k].Status)) << k;
    EXPECT_EQ(0u, iso.urb()->IsoPacket[k].Length) << k;
  }
  EXPECT_EQ(8u, bus.device.endpoint(0x84)->transactions) << "one try a packet";
}

// A URB whose explicit start frame has passed sends nothing: every packet is not accessed, the
// URB itself succeeds, as an OHCI controller reports descriptors whose frames have passed.
TEST_P(UsbhcdTransfers, AnIsochronousUrbWhoseFramesHavePassedFailsItsPackets) {
  Bus bus(GetParam());
  bus.start();
  auto c = bus.configure();
  USBD_PIPE_HANDLE pipe = selectStream(bus, c);
  bus.tb.advance(100000);
  std::vector<uint8_t> buffer(8 * 256, 0xEE);
  IsoUrb iso(pipe, buffer.data(), 8, 256, 0, currentFrame(bus) - 40);
  auto r = bus.submit(*reinterpret_cast<URB *>(iso.urb()));
  bus.run(*r, 100);
  ASSERT_TRUE(r->done());
  EXPECT_EQ(kUrbSuccess, static_cast<uint32_t>(iso.urb()->Hdr.Status));
  EXPECT_EQ(0u, r->information());
  EXPECT_EQ(8u, iso.urb()->ErrorCount);
  for (unsigned k = 0; k < 8; ++k) {
    EXPECT_EQ(0xC000000Fu, static_cast<uint32_t>(iso.urb()->IsoPacket[k].Status)) << k;
    EXPECT_EQ(0u, iso.urb()->IsoPacket[k].Length) << k;
  }
  EXPECT_EQ(std::vector<uint8_t>(8 * 256, 0xEE), buffer);
  EXPECT_TRUE(bus.device.endpoint(0x84)->frames.empty());
}

// UHCI's frame list holds 1,024 frames: a URB whose packets reach further ahead would land in
// frames of the wrong round, so it is refused with nothing linked, and the pipe streams on.
TEST(UsbhcdUhciIsochronous, AUrbReachingBeyondTheFrameListIsRefused) {
  Bus bus(Controller::Uhci);
  bus.start();
  auto c = bus.configure();
  USBD_PIPE_HANDLE pipe = selectStream(bus, c);
  std::vector<uint8_t> buffer(8 * 256, 0xEE);
  IsoUrb ahead(pipe, buffer.data(), 8, 256, 0, currentFrame(bus) + 1020);
  auto r = bus.submit(*reinterpret_cast<URB *>(ahead.urb()));
  bus.run(*r, 50);
  ASSERT_TRUE(r->done());
  EXPECT_EQ(0xC0000A00u, static_cast<uint32_t>(ahead.urb()->Hdr.Status)) << "bad start frame";
  EXPECT_NE(hcsim::kSuccess, r->status());
  IsoUrb next(pipe, buffer.data(), 8, 256, USBD_START_ISO_TRANSFER_ASAP);
  auto n = bus.submit(*reinterpret_cast<URB *>(next.urb()));
  bus.run(*n, 50);
  ASSERT_TRUE(n->done());
  EXPECT_EQ(hcsim::kSuccess, n->status());
  EXPECT_EQ(8u * 256, n->information());
  EXPECT_EQ(8u, bus.device.endpoint(0x84)->frames.size()) << "only the second URB's packets were sent";
  EXPECT_TRUE(bus.tb.errors().empty()) << joined(bus.tb.errors());
}

// Every error condition code of an OHCI descriptor finishes its transfer with its status and
// halts the pipe; reset pipe lets the next one through.
TEST(UsbhcdOhciConditionCodes, ErrorCodesFinishWithTheirStatusAndHaltThePipe) {
  struct Case {
    unsigned code;
    uint32_t status;
  } cases[] = {{1, 0xC0000001},  {2, 0xC0000002},  {3, 0xC0000003}, {4, 0xC0000004},  {5, 0xC0000005},
               {6, 0xC0000006},  {7, 0xC0000007},  {8, 0xC0000008}, {10, 0xC000000A}, {12, 0xC000000C},
               {13, 0xC000000D}, {14, 0xC000000F}, {15, 0xC000000F}};
  Bus bus(Controller::Ohci);
  bus.start();
  auto c = bus.configure();
  std::vector<uint8_t> data = pattern(8, 1);
  for (const auto &k : cases) {
    SCOPED_TRACE(k.code);
    bus.ohci->failNextWith = k.code;
    URB u = Bus::bulk(c.pipe(1), data.data(), 8, 0);
    auto r = bus.submit(u);
    bus.run(*r);
    ASSERT_TRUE(r->done());
    EXPECT_EQ(k.status, static_cast<uint32_t>(u.UrbHeader.Status));
    EXPECT_EQ(kNtDataError, r->status());
    URB again = Bus::bulk(c.pipe(1), data.data(), 8, 0);
    auto h = bus.submit(again);
    EXPECT_EQ(kUrbHalted, static_cast<uint32_t>(again.UrbHeader.Status));
    URB reset{};
    reset.UrbPipeRequest.Hdr.Length = sizeof(_URB_PIPE_REQUEST);
    reset.UrbPipeRequest.Hdr.Function = 0x1E;
    reset.UrbPipeRequest.PipeHandle = c.pipe(1);
    auto rr = bus.submit(reset);
    bus.tb.runWorkItems();
    ASSERT_TRUE(rr->done());
    EXPECT_EQ(hcsim::kSuccess, rr->status());
  }
  URB last = Bus::bulk(c.pipe(1), data.data(), 8, 0);
  auto r = bus.submit(last);
  bus.run(*r);
  EXPECT_EQ(hcsim::kSuccess, r->status());
  EXPECT_EQ(data, bus.device.bulkOut);
}

// ---------------------------------------------------------------------------------------------
// Random URBs: functions, pipes (open, closed and foreign), lengths, flags, setup packets and
// device behaviour drawn at random. Every request completes exactly once (the test bed catches a
// second completion), nothing is written outside a buffer, and the driver unloads clean.

TEST_P(UsbhcdUrbs, RandomUrbsStayInsideTheirBuffersAndCompleteOnce) {
  Bus bus(GetParam());
  bus.start();
  auto c = bus.configure();
  uint32_t state = 12345;
  auto random = [&state](uint32_t n) {
    state = state * 1103515245u + 12345u;
    return (state >> 8) % n;
  };
  static const USHORT functions[] = {0x00, 0x01, 0x02, 0x07, 0x08, 0x09, 0x09, 0x09, 0x0A, 0x0B, 0x0C, 0x0F,
                                     0x13, 0x16, 0x17, 0x18, 0x1B, 0x1E, 0x21, 0x26, 0x2A, 0x2D, 0x30};
  int foreign = 0;
  for (int i = 0; i < 400; ++i) {
    SCOPED_TRACE(i);
    size_t length = random(3) == 0 ? random(4) : random(700);
    std::vector<uint8_t> memory(length + 64, 0xA5);
    uint8_t *buffer = memory.data() + 32;
    std::vector<uint8_t> urbMemory(sizeof(URB) + 64, 0x5A);
    URB &urb = *reinterpret_cast<URB *>(urbMemory.data() + 32);
    std::memset(&urb, 0, sizeof(URB));
    auto &x = urb.UrbControlTransfer;
    x.Hdr.Function = functions[random(sizeof functions / sizeof functions[0])];
    x.Hdr.Length = static_cast<USHORT>(random(4) == 0 ? random(sizeof(URB)) : sizeof(_URB_CONTROL_TRANSFER));
    USBD_PIPE_HANDLE pipes[] = {c.pipe(0), c.pipe(1), c.pipe(2), nullptr, &foreign};
    x.PipeHandle = pipes[random(5)];
    x.TransferFlags = random(4);
    x.TransferBufferLength = static_cast<ULONG>(random(5) == 0 ? 0 : length);
    x.TransferBuffer = random(8) == 0 ? nullptr : buffer;
    for (auto &b : x.SetupPacket) b = static_cast<uint8_t>(random(256));
    if (x.Hdr.Function == 0x00) {  // select configuration: the device's own, or none
      urb.UrbSelectConfiguration.ConfigurationDescriptor =
          random(2) ? reinterpret_cast<PUSB_CONFIGURATION_DESCRIPTOR>(bus.device.configurationDescriptor.data())
                    : nullptr;
      x.Hdr.Length = static_cast<USHORT>(random(2) ? sizeof(_URB_SELECT_CONFIGURATION) : 8);
    }
    if (x.Hdr.Function == 0x01) urb.UrbSelectInterface.ConfigurationHandle = &foreign;
    bus.device.endpoint(0x81)->stalled = random(10) == 0;
    bus.device.endpoint(0x02)->nak = random(10) == 0;
    bus.device.bulkIn = pattern(random(300), i);
    bus.device.interruptIn = pattern(random(10), i);
    auto r = bus.submit(urb);
    bus.tb.runWorkItems();
    bus.run(*r, 40);
    if (!r->done() && x.PipeHandle) {  // still queued: the pipe is aborted
      URB abort{};
      abort.UrbPipeRequest.Hdr.Length = sizeof(_URB_PIPE_REQUEST);
      abort.UrbPipeRequest.Hdr.Function = 0x02;
      abort.UrbPipeRequest.PipeHandle = x.PipeHandle;
      auto a = bus.submit(abort);
      bus.run(*a, 100);
      EXPECT_TRUE(a->done());
    }
    bus.run(*r, 100);
    ASSERT_TRUE(r->done()) << "function 0x" << std::hex << x.Hdr.Function;
    for (size_t k = 0; k < 32; ++k) {
      ASSERT_EQ(0xA5, memory[k]) << "written before the buffer";
      ASSERT_EQ(0xA5, memory[32 + length + k]) << "written past the buffer";
      ASSERT_EQ(0x5A, urbMemory[k]) << "written before the URB";
      ASSERT_EQ(0x5A, urbMemory[32 + sizeof(URB) + k]) << "written past the URB";
    }
    ASSERT_TRUE(bus.tb.errors().empty()) << joined(bus.tb.errors());
    if (bus.device.configuration == 0) c = bus.configure();  // pipes again for the next URBs
  }
}

// ---------------------------------------------------------------------------------------------
// The OHCI done queue

bool printed(const Testbed &tb, const std::string &text) {
  for (const auto &line : tb.debugPrints())
    if (line.find(text) != std::string::npos) return true;
  return false;
}

// A done-queue address that is not the start of one of the driver's descriptors is reported and
// passed over; the controller goes on working.
TEST(UsbhcdOhciDoneQueue, AddressesThatAreNoDescriptorOfTheDriverAreReportedAndSurvived) {
  struct Case {
    const char *what;
    bool insideABlock;
    uint32_t address;
  } cases[] = {{"outside every pool", false, 0x00F00010}, {"the middle of a block", true, 16}};
  for (const auto &k : cases) {
    SCOPED_TRACE(k.what);
    Bus bus(Controller::Ohci);
    bus.start();
    // The control list's head is the default pipe's endpoint descriptor: a block of the pool.
    uint32_t address = k.insideABlock ? bus.ohci->reg[0x20 / 4] + k.address : k.address;
    bus.ohci->doneHead = address;
    bus.tb.advance(3000);
    char text[16];
    std::snprintf(text, sizeof text, "%08X", address);
    EXPECT_TRUE(printed(bus.tb, text)) << joined(bus.tb.debugPrints());
    std::vector<uint8_t> status(2, 0xEE);
    URB urb{};
    auto &x = urb.UrbControlTransfer;
    x.Hdr.Length = sizeof(_URB_CONTROL_GET_STATUS_REQUEST);
    x.Hdr.Function = 0x13;
    x.TransferBuffer = status.data();
    x.TransferBufferLength = 2;
    auto r = bus.submit(urb);
    bus.run(*r);
    ASSERT_TRUE(r->done());
    EXPECT_EQ(hcsim::kSuccess, r->status());
    EXPECT_EQ(2u, r->information());
  }
}

}  // namespace
