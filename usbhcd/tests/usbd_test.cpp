// The six USBD helpers of usbhcd.sys in the test bed: the real driver image is loaded, the helpers
// are taken from the helper-table request and by name from its exports, and a device driver's
// descriptors go through them. Requests the helpers build come from the simulated non-paged pool,
// so their tag and size are checked there, and every test ends with nothing left in the pool.
#include <windows.h>

#include <usb.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "testbed.h"

namespace {

using hcsim::Testbed;

constexpr uint32_t kHelperTable = 0x222EE0;
constexpr size_t kHead = offsetof(_URB_SELECT_CONFIGURATION, Interface);
constexpr size_t kRecordHead = offsetof(USBD_INTERFACE_INFORMATION, Pipes);
constexpr size_t kPipe = sizeof(USBD_PIPE_INFORMATION);

// The kit's interface-list entry (usbdlib.h is a kernel-mode header).
struct ListEntry {
  PUSB_INTERFACE_DESCRIPTOR descriptor;
  PUSBD_INTERFACE_INFORMATION information;
};

// The helpers' prototypes as the kit declares them.
using GetVersion = VOID(NTAPI *)(PUSBD_VERSION_INFORMATION);
using ParseDescriptors = PUSB_COMMON_DESCRIPTOR(NTAPI *)(PVOID, ULONG, PVOID, LONG);
using ParseConfiguration = PUSB_INTERFACE_DESCRIPTOR(NTAPI *)(PUSB_CONFIGURATION_DESCRIPTOR, UCHAR, UCHAR);
using ParseConfigurationEx = PUSB_INTERFACE_DESCRIPTOR(NTAPI *)(PUSB_CONFIGURATION_DESCRIPTOR, PVOID, LONG, LONG, LONG,
                                                                LONG, LONG);
using CreateRequest = PURB(NTAPI *)(PUSB_CONFIGURATION_DESCRIPTOR, PUSHORT);
using CreateRequestEx = PURB(NTAPI *)(PUSB_CONFIGURATION_DESCRIPTOR, ListEntry *);

const char *const kNames[6] = {"USBD_GetUSBDIVersion",
                               "USBD_ParseDescriptors",
                               "USBD_ParseConfigurationDescriptor",
                               "USBD_ParseConfigurationDescriptorEx",
                               "USBD_CreateConfigurationRequest",
                               "USBD_CreateConfigurationRequestEx"};

std::string joined(const std::vector<std::string> &lines) {
  std::string s;
  for (const auto &l : lines) s += l + "\n";
  return s;
}

// A configuration descriptor set, built descriptor by descriptor. The interface count is the
// number of distinct interface numbers unless given; the total length is the bytes unless given.
struct Config {
  std::vector<uint8_t> bytes;
  std::vector<uint8_t> numbers;
  Config() : bytes{9, 2, 0, 0, 0, 1, 0, 0x80, 50} {}
  Config &interface(uint8_t number, uint8_t alternate, uint8_t endpoints, uint8_t cls = 0xFF, uint8_t sub = 0,
                    uint8_t protocol = 0) {
    bytes.insert(bytes.end(), {9, 4, number, alternate, endpoints, cls, sub, protocol, 0});
    bool known = false;
    for (uint8_t n : numbers) known = known || n == number;
    if (!known) numbers.push_back(number);
    return *this;
  }
  Config &endpoint(uint8_t address, uint8_t attributes, uint16_t maxPacket, uint8_t interval = 0) {
    bytes.insert(bytes.end(), {7, 5, address, attributes, static_cast<uint8_t>(maxPacket),
                               static_cast<uint8_t>(maxPacket >> 8), interval});
    return *this;
  }
  Config &raw(std::vector<uint8_t> b) {
    bytes.insert(bytes.end(), b.begin(), b.end());
    return *this;
  }
  std::vector<uint8_t> done(std::optional<uint8_t> interfaces = {}, std::optional<uint16_t> total = {}) const {
    std::vector<uint8_t> out = bytes;
    uint16_t t = total ? *total : static_cast<uint16_t>(out.size());
    out[2] = static_cast<uint8_t>(t), out[3] = static_cast<uint8_t>(t >> 8);
    out[4] = interfaces ? *interfaces : static_cast<uint8_t>(numbers.size());
    return out;
  }
};

// A camera: a control interface with a bulk pair, and a streaming interface whose alternate
// setting 0 has no bandwidth and whose settings 1 and 2 carry an isochronous endpoint behind a
// class-specific descriptor.
std::vector<uint8_t> camera() {
  return Config()
      .interface(0, 0, 2, 0xFF, 1, 0)
      .endpoint(0x81, 2, 64)
      .endpoint(0x02, 2, 64)
      .interface(1, 0, 0, 0xFF, 2, 0)
      .interface(1, 1, 1, 0xFF, 2, 0)
      .raw({5, 0x24, 1, 2, 3})
      .endpoint(0x84, 1, 256, 1)
      .interface(1, 2, 1, 0xFF, 2, 1)
      .endpoint(0x84, 1, 512, 1)
      .done();
}

std::vector<uint8_t> withTotal(std::vector<uint8_t> bytes, size_t total) {
  bytes[2] = static_cast<uint8_t>(total), bytes[3] = static_cast<uint8_t>(total >> 8);
  return bytes;
}

size_t recordLength(unsigned endpoints) { return kRecordHead + kPipe * (endpoints ? endpoints : 1); }

class UsbdHelpers : public ::testing::Test {
 protected:
  Testbed tb;
  GetVersion getVersion = nullptr;
  ParseDescriptors parseDescriptors = nullptr;
  ParseConfiguration parseConfiguration = nullptr;
  ParseConfigurationEx parseConfigurationEx = nullptr;
  CreateRequest createRequest = nullptr;
  CreateRequestEx createRequestEx = nullptr;
  std::map<std::string, size_t> loadedPool;  // what the loaded driver holds itself

  // The driver loaded, and the six from the helper-table request, which must be the exports of
  // the same names.
  void SetUp() override {
    ASSERT_EQ(hcsim::kSuccess, tb.load()) << joined(tb.errors());
    ASSERT_TRUE(tb.unresolvedImports().empty());
    void *control = tb.device(L"\\Device\\Uhcd");
    ASSERT_NE(nullptr, control);
    void *table = nullptr;
    uintptr_t information = 0;
    ASSERT_EQ(hcsim::kSuccess,
              tb.internalControl(control, kHelperTable, nullptr, 0, 0, &table, sizeof(table), &information));
    ASSERT_NE(nullptr, table);
    void *const *entries = static_cast<void *const *>(table);
    for (int i = 0; i < 6; ++i) {
      ASSERT_NE(nullptr, entries[i]) << kNames[i];
      ASSERT_EQ(tb.driverExport(kNames[i]), entries[i]) << kNames[i];
    }
    getVersion = reinterpret_cast<GetVersion>(entries[0]);
    parseDescriptors = reinterpret_cast<ParseDescriptors>(entries[1]);
    parseConfiguration = reinterpret_cast<ParseConfiguration>(entries[2]);
    parseConfigurationEx = reinterpret_cast<ParseConfigurationEx>(entries[3]);
    createRequest = reinterpret_cast<CreateRequest>(entries[4]);
    createRequestEx = reinterpret_cast<CreateRequestEx>(entries[5]);
    loadedPool = tb.poolByTag();
  }
  void TearDown() override {
    EXPECT_EQ(loadedPool, tb.poolByTag()) << "a request was left in the pool";
    tb.unload();
    EXPECT_EQ(hcsim::describe(hcsim::Holdings{}), hcsim::describe(tb.holdings()));
    EXPECT_TRUE(tb.poolByTag().empty());
    EXPECT_TRUE(tb.errors().empty()) << joined(tb.errors());
  }

  // A request the helpers built: from the pool with tag "Ddk ", exactly as long as it says.
  void expectPoolRequest(PURB urb) {
    auto block = tb.poolBlock(urb);
    ASSERT_TRUE(block.has_value()) << "not a pool block";
    EXPECT_EQ("Ddk ", block->tag);
    EXPECT_EQ(urb->UrbHeader.Length, block->size);
  }
};

// x86 drivers built with the kit's import library bind three helpers by their decorated names.
TEST_F(UsbdHelpers, ExportsTheKitsNames) {
  struct Alias {
    const char *decorated;
    const char *name;
  } aliases[] = {{"_USBD_ParseDescriptors@16", "USBD_ParseDescriptors"},
                 {"_USBD_ParseConfigurationDescriptorEx@28", "USBD_ParseConfigurationDescriptorEx"},
                 {"_USBD_CreateConfigurationRequestEx@8", "USBD_CreateConfigurationRequestEx"}};
  for (const auto &a : aliases) {
    if (sizeof(void *) == 4) {
      EXPECT_EQ(tb.driverExport(a.name), tb.driverExport(a.decorated)) << a.decorated;
    } else {
      EXPECT_EQ(nullptr, tb.driverExport(a.decorated)) << "64-bit names carry no decoration: " << a.decorated;
    }
  }
}

TEST_F(UsbdHelpers, VersionIsInterface0x101ForUsb1) {
  USBD_VERSION_INFORMATION v;
  std::memset(&v, 0xEE, sizeof(v));
  getVersion(&v);
  EXPECT_EQ(0x101u, v.USBDI_Version);
  EXPECT_EQ(0x100u, v.Supported_USB_Version);
  getVersion(nullptr);  // no record: nothing written, nothing fails
}

// USBD_ParseDescriptors: a walk by the descriptors' lengths within the given total length.
TEST_F(UsbdHelpers, ParseDescriptorsFindsTheFirstOfItsTypeWithinTheTotalLength) {
  std::vector<uint8_t> c = camera();
  const ptrdiff_t interface1alt1 = 9 + 9 + 7 + 7 + 9, classSpecific = interface1alt1 + 9,
                  isoEndpoint = classSpecific + 5, endpoint2 = 9 + 9 + 7;
  std::vector<uint8_t> zeroLength = Config().interface(0, 0, 0).raw({0, 5}).endpoint(0x81, 2, 64).done();
  std::vector<uint8_t> lengthOne = Config().interface(0, 0, 0).raw({1}).endpoint(0x81, 2, 64).done();
  std::vector<uint8_t> runsPast = Config().interface(0, 0, 0).raw({40, 0x24, 1}).done();
  struct Case {
    const char *name;
    const std::vector<uint8_t> &bytes;
    ptrdiff_t start;  // offset into the bytes
    ULONG total;
    LONG type;
    ptrdiff_t found;  // offset, or -1 for none
  } cases[] = {
      {"the configuration itself", c, 0, ULONG(c.size()), 2, 0},
      {"first endpoint", c, 0, ULONG(c.size()), 5, 9 + 9},
      {"next endpoint from the one after the first", c, 9 + 9 + 7, ULONG(c.size()), 5, endpoint2},
      {"class-specific", c, 0, ULONG(c.size()), 0x24, classSpecific},
      {"isochronous endpoint after the class descriptor", c, classSpecific, ULONG(c.size()), 5, isoEndpoint},
      {"a type that does not occur", c, 0, ULONG(c.size()), 0x21, -1},
      {"a type beyond a byte", c, 0, ULONG(c.size()), 0x105, -1},
      {"total length ends before the descriptor", c, 0, ULONG(classSpecific + 4), 0x24, -1},
      {"total length ends just after it", c, 0, ULONG(classSpecific + 5), 0x24, classSpecific},
      {"start at the end", c, ptrdiff_t(c.size()), ULONG(c.size()), 2, -1},
      {"a zero length ends the walk", zeroLength, 0, ULONG(zeroLength.size()), 5, -1},
      {"a length of 1 ends the walk", lengthOne, 0, ULONG(lengthOne.size()), 5, -1},
      {"a descriptor running past the end is not taken", runsPast, 0, ULONG(runsPast.size()), 0x24, -1},
  };
  for (const auto &k : cases) {
    auto *base = const_cast<uint8_t *>(k.bytes.data());
    auto *found = reinterpret_cast<uint8_t *>(parseDescriptors(base, k.total, base + k.start, k.type));
    EXPECT_EQ(k.found < 0 ? nullptr : base + k.found, found) << k.name;
  }
  auto *base = c.data();
  EXPECT_EQ(nullptr, parseDescriptors(base + 9, ULONG(c.size()) - 9, base, 2)) << "start before the buffer";
  EXPECT_EQ(nullptr, parseDescriptors(base, ULONG(c.size()), nullptr, 2)) << "no start";
}

// USBD_ParseConfigurationDescriptorEx and its short form: every criterion that is not -1.
TEST_F(UsbdHelpers, ParseConfigurationFindsTheInterfaceThatMatchesEveryCriterion) {
  std::vector<uint8_t> c = camera();
  auto *config = reinterpret_cast<PUSB_CONFIGURATION_DESCRIPTOR>(c.data());
  const ptrdiff_t i0 = 9, i1a0 = 9 + 9 + 14, i1a1 = i1a0 + 9, i1a2 = i1a1 + 9 + 5 + 7;
  struct Case {
    const char *name;
    ptrdiff_t start;
    LONG number, alternate, cls, sub, protocol;
    ptrdiff_t found;
  } cases[] = {
      {"any interface", 0, -1, -1, -1, -1, -1, i0},
      {"interface 1", 0, 1, -1, -1, -1, -1, i1a0},
      {"interface 1 setting 2", 0, 1, 2, -1, -1, -1, i1a2},
      {"by protocol", 0, -1, -1, -1, -1, 1, i1a2},
      {"by class and subclass", 0, -1, -1, 0xFF, 2, -1, i1a0},
      {"from the descriptor after interface 1 setting 0", i1a0 + 9, 1, -1, -1, -1, -1, i1a1},
      {"from after the last interface", i1a2 + 9, -1, -1, -1, -1, -1, -1},
      {"from the start position itself", i1a1, -1, -1, -1, -1, -1, i1a1},
      {"no such interface", 0, 2, -1, -1, -1, -1, -1},
      {"no such setting", 0, 0, 1, -1, -1, -1, -1},
      {"no such class", 0, -1, -1, 8, -1, -1, -1},
      {"one criterion fails", 0, 1, 2, 0xFF, 2, 0, -1},
  };
  for (const auto &k : cases) {
    auto *found = reinterpret_cast<uint8_t *>(
        parseConfigurationEx(config, c.data() + k.start, k.number, k.alternate, k.cls, k.sub, k.protocol));
    EXPECT_EQ(k.found < 0 ? nullptr : c.data() + k.found, found) << k.name;
  }
  EXPECT_EQ(c.data() + i1a1, reinterpret_cast<uint8_t *>(parseConfiguration(config, 1, 1)));
  EXPECT_EQ(nullptr, parseConfiguration(config, 0, 1));
}

// The walks' bounds: the configuration's own total length, and descriptors that cannot be walked.
TEST_F(UsbdHelpers, ParseConfigurationKeepsToTheTotalLength) {
  const std::vector<uint8_t> base = camera();
  const size_t i1a1 = 9 + 9 + 14 + 9;
  struct Case {
    const char *name;
    std::vector<uint8_t> bytes;
    bool findsSetting1;
  } cases[] = {
      {"whole", base, true},
      {"total length ends inside setting 1's descriptor", withTotal(base, i1a1 + 8), false},
      {"total length ends just after it", withTotal(base, i1a1 + 9), true},
      {"a zero length before it", Config().interface(0, 0, 0).raw({0, 0x24}).interface(1, 1, 0).done(), false},
      {"a length of 1 before it", Config().interface(0, 0, 0).raw({1}).interface(1, 1, 0).done(), false},
      {"an interface descriptor too short to hold its fields",
       Config().interface(0, 0, 0).raw({7, 4, 1, 1, 0, 0xFF, 0}).done(2), false},
      {"a short one passed over", Config().interface(0, 0, 0).raw({7, 4, 1, 1, 0, 0xFF, 0}).interface(1, 1, 0).done(),
       true},
  };
  for (auto &k : cases) {
    auto *config = reinterpret_cast<PUSB_CONFIGURATION_DESCRIPTOR>(k.bytes.data());
    auto *found = reinterpret_cast<uint8_t *>(parseConfiguration(config, 1, 1));
    EXPECT_EQ(k.findsSetting1, found != nullptr) << k.name;
    if (found) {
      EXPECT_LE(found + 9, k.bytes.data() + config->wTotalLength) << k.name;
      EXPECT_EQ(1, found[3]) << k.name;
    }
  }
}

// A total length beyond the descriptors: the walk goes no further than the total length says,
// and the zero bytes that follow the descriptors end it.
TEST_F(UsbdHelpers, OverlongTotalLengthEndsAtTheFirstZeroLength) {
  std::vector<uint8_t> c = camera();
  const size_t used = c.size();
  c.resize(0xFFFF, 0);
  c[2] = 0xFF, c[3] = 0xFF;
  auto *config = reinterpret_cast<PUSB_CONFIGURATION_DESCRIPTOR>(c.data());
  EXPECT_EQ(c.data() + 9, reinterpret_cast<uint8_t *>(parseConfiguration(config, 0, 0)));
  EXPECT_EQ(nullptr, parseConfiguration(config, 3, 0));
  EXPECT_EQ(nullptr, parseDescriptors(c.data(), ULONG(c.size()), c.data() + used, 4));
  USHORT length = 0;
  PURB urb = createRequest(config, &length);
  ASSERT_NE(nullptr, urb);
  EXPECT_EQ(kHead + recordLength(2) + recordLength(0), length);
  tb.freePool(urb);
}

// USBD_CreateConfigurationRequest for the camera, byte for byte: the head, interface 0 with its
// two pipes and interface 1's setting 0 with room for one pipe.
TEST_F(UsbdHelpers, CreateConfigurationRequestForACamera) {
  std::vector<uint8_t> c = camera();
  auto *config = reinterpret_cast<PUSB_CONFIGURATION_DESCRIPTOR>(c.data());
  USHORT length = 0;
  PURB urb = createRequest(config, &length);
  ASSERT_NE(nullptr, urb);
  const size_t size = kHead + recordLength(2) + recordLength(0);
  if (sizeof(void *) == 4) {
    EXPECT_EQ(24u + 56u + 36u, size) << "the 32-bit layout";
  }
  EXPECT_EQ(size, length);
  expectPoolRequest(urb);

  std::vector<uint8_t> want(size, 0);
  auto *w = reinterpret_cast<URB *>(want.data());
  w->UrbHeader.Length = static_cast<USHORT>(size);
  w->UrbHeader.Function = URB_FUNCTION_SELECT_CONFIGURATION;
  w->UrbSelectConfiguration.ConfigurationDescriptor = config;
  auto *r0 = reinterpret_cast<USBD_INTERFACE_INFORMATION *>(want.data() + kHead);
  r0->Length = static_cast<USHORT>(recordLength(2));
  r0->InterfaceNumber = 0;
  r0->AlternateSetting = 0;
  r0->NumberOfPipes = 2;
  auto *pipes = reinterpret_cast<USBD_PIPE_INFORMATION *>(want.data() + kHead + kRecordHead);
  pipes[0].MaximumTransferSize = 4096;
  pipes[1].MaximumTransferSize = 4096;
  auto *r1 = reinterpret_cast<USBD_INTERFACE_INFORMATION *>(want.data() + kHead + recordLength(2));
  r1->Length = static_cast<USHORT>(recordLength(0));
  r1->InterfaceNumber = 1;
  r1->AlternateSetting = 0;
  r1->NumberOfPipes = 0;
  if (sizeof(void *) == 4) {
    EXPECT_EQ(36u, r1->Length);
  }

  std::vector<uint8_t> have(reinterpret_cast<uint8_t *>(urb), reinterpret_cast<uint8_t *>(urb) + size);
  for (size_t i = 0; i < size; ++i) EXPECT_EQ(want[i], have[i]) << "byte " << i;
  tb.freePool(urb);
}

// USBD_CreateConfigurationRequestEx: the records in the list's order, the list told where they are.
TEST_F(UsbdHelpers, CreateConfigurationRequestExFillsTheList) {
  std::vector<uint8_t> c = camera();
  auto *config = reinterpret_cast<PUSB_CONFIGURATION_DESCRIPTOR>(c.data());
  ListEntry list[3] = {{parseConfiguration(config, 1, 2), nullptr},
                       {parseConfiguration(config, 0, 0), nullptr},
                       {nullptr, reinterpret_cast<PUSBD_INTERFACE_INFORMATION>(&c)}};
  ASSERT_NE(nullptr, list[0].descriptor);
  ASSERT_NE(nullptr, list[1].descriptor);
  PURB urb = createRequestEx(config, list);
  ASSERT_NE(nullptr, urb);
  expectPoolRequest(urb);
  auto *bytes = reinterpret_cast<uint8_t *>(urb);
  EXPECT_EQ(kHead + recordLength(1) + recordLength(2), urb->UrbHeader.Length);
  EXPECT_EQ(0, urb->UrbHeader.Function);
  EXPECT_EQ(config, urb->UrbSelectConfiguration.ConfigurationDescriptor);
  EXPECT_EQ(reinterpret_cast<PUSBD_INTERFACE_INFORMATION>(bytes + kHead), list[0].information);
  EXPECT_EQ(reinterpret_cast<PUSBD_INTERFACE_INFORMATION>(bytes + kHead + recordLength(1)), list[1].information);
  EXPECT_EQ(reinterpret_cast<PUSBD_INTERFACE_INFORMATION>(&c), list[2].information) << "the end entry is left alone";
  struct Want {
    size_t length;
    UCHAR number, alternate;
    ULONG pipes;
  } want[2] = {{recordLength(1), 1, 2, 1}, {recordLength(2), 0, 0, 2}};
  for (int i = 0; i < 2; ++i) {
    PUSBD_INTERFACE_INFORMATION info = list[i].information;
    EXPECT_EQ(want[i].length, info->Length) << i;
    EXPECT_EQ(want[i].number, info->InterfaceNumber) << i;
    EXPECT_EQ(want[i].alternate, info->AlternateSetting) << i;
    EXPECT_EQ(want[i].pipes, info->NumberOfPipes) << i;
    EXPECT_EQ(0u, info->Class | info->SubClass | info->Protocol) << "the host controller fills these at select";
    EXPECT_EQ(nullptr, info->InterfaceHandle) << i;
    auto *pipes = reinterpret_cast<USBD_PIPE_INFORMATION *>(reinterpret_cast<uint8_t *>(info) + kRecordHead);
    for (ULONG p = 0; p < info->NumberOfPipes; ++p) {
      EXPECT_EQ(4096u, pipes[p].MaximumTransferSize) << i;
      EXPECT_EQ(0u, pipes[p].PipeFlags) << i;
      EXPECT_EQ(nullptr, pipes[p].PipeHandle) << i;
    }
  }
  tb.freePool(urb);

  ListEntry empty[1] = {{nullptr, nullptr}};
  EXPECT_EQ(nullptr, createRequestEx(config, empty)) << "an empty list";
  EXPECT_EQ(nullptr, createRequestEx(config, nullptr));
}

// USBD_CreateConfigurationRequest's refusals and limits.
TEST_F(UsbdHelpers, CreateConfigurationRequestRefusesWhatItCannotBuild) {
  auto interfaces = [](unsigned n) {
    Config c;
    for (unsigned i = 0; i < n; ++i) c.interface(static_cast<uint8_t>(i), 0, 1).endpoint(0x81, 2, 64);
    return c.done();
  };
  auto manyEndpoints = [](unsigned n) {
    Config c;
    for (unsigned i = 0; i < n; ++i) c.interface(static_cast<uint8_t>(i), 0, 255);
    return c.done();
  };
  struct Case {
    const char *name;
    std::vector<uint8_t> bytes;
    std::vector<size_t> records;  // the record lengths, none when refused
  } cases[] = {
      {"an interface without endpoints gets room for one pipe", Config().interface(0, 0, 0).done(), {recordLength(0)}},
      {"interface 1 with only alternate setting 1",
       Config().interface(0, 0, 1).endpoint(0x81, 2, 64).interface(1, 1, 1).endpoint(0x82, 1, 8).done(),
       {}},
      {"no interfaces", Config().done(), {}},
      {"more interfaces claimed than there are", Config().interface(0, 0, 1).endpoint(0x81, 2, 64).done(2), {}},
      {"interface 1 behind a zero length", Config().interface(0, 0, 0).raw({0, 0x24}).interface(1, 0, 0).done(), {}},
      {"15 interfaces", interfaces(15), std::vector<size_t>(15, recordLength(1))},
      {"16 interfaces", interfaces(16), {}},
      {"15 interfaces of 255 endpoints exceed the 16-bit request length", manyEndpoints(15), {}},
  };
  for (auto &k : cases) {
    auto *config = reinterpret_cast<PUSB_CONFIGURATION_DESCRIPTOR>(k.bytes.data());
    USHORT length = 0xBEEF;
    PURB urb = createRequest(config, &length);
    if (k.records.empty()) {
      EXPECT_EQ(nullptr, urb) << k.name;
      EXPECT_EQ(0u, length) << k.name;
      if (urb) tb.freePool(urb);
      continue;
    }
    ASSERT_NE(nullptr, urb) << k.name;
    expectPoolRequest(urb);
    size_t at = kHead;
    for (size_t i = 0; i < k.records.size(); ++i) {
      auto *info = reinterpret_cast<USBD_INTERFACE_INFORMATION *>(reinterpret_cast<uint8_t *>(urb) + at);
      EXPECT_EQ(k.records[i], info->Length) << k.name << " record " << i;
      EXPECT_EQ(i, info->InterfaceNumber) << k.name;
      at += info->Length;
    }
    EXPECT_EQ(at, length) << k.name;
    tb.freePool(urb);
  }
}

// However long the list, the request's size stops at the URB's 16-bit length, without wrapping.
TEST_F(UsbdHelpers, CreateConfigurationRequestExRefusesRequestsBeyondTheUrbLength) {
  std::vector<uint8_t> c = Config().interface(0, 0, 255).done();
  auto *config = reinterpret_cast<PUSB_CONFIGURATION_DESCRIPTOR>(c.data());
  auto *interface = reinterpret_cast<PUSB_INTERFACE_DESCRIPTOR>(c.data() + 9);
  const size_t fitting = (0xFFFF - kHead) / recordLength(255);
  for (size_t count : {fitting, fitting + 1, size_t(1000), size_t(70000)}) {
    std::vector<ListEntry> list(count, ListEntry{interface, nullptr});
    list.push_back({nullptr, nullptr});
    PURB urb = createRequestEx(config, list.data());
    if (count == fitting) {
      ASSERT_NE(nullptr, urb) << count;
      EXPECT_EQ(kHead + count * recordLength(255), urb->UrbHeader.Length);
      expectPoolRequest(urb);
      tb.freePool(urb);
    } else {
      EXPECT_EQ(nullptr, urb) << count;
      EXPECT_EQ(nullptr, list[0].information) << count;
    }
  }
}

TEST_F(UsbdHelpers, PoolRefusalGivesNoRequest) {
  std::vector<uint8_t> c = camera();
  auto *config = reinterpret_cast<PUSB_CONFIGURATION_DESCRIPTOR>(c.data());
  tb.failPoolAfter = 0;
  USHORT length = 0xBEEF;
  EXPECT_EQ(nullptr, createRequest(config, &length));
  EXPECT_EQ(0u, length);
  ListEntry list[2] = {{parseConfiguration(config, 0, 0), nullptr}, {nullptr, nullptr}};
  EXPECT_EQ(nullptr, createRequestEx(config, list));
  EXPECT_EQ(nullptr, list[0].information);
  tb.failPoolAfter = -1;
}

}  // namespace
