// usbhcd.sys in the test bed: the real driver image, loaded into this process, finds and starts
// host controllers on simulated machines. Every test ends by unloading the driver and checking
// that it holds nothing any more and that the simulation caught no misuse.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "testbed.h"

namespace {

using hcsim::Access;
using hcsim::Holdings;
using hcsim::Machine;
using hcsim::OhciController;
using hcsim::PciDevice;
using hcsim::PiixBridge;
using hcsim::Testbed;
using hcsim::UhciController;

constexpr uint32_t kRegisterCallback = 0x222033;
constexpr uint32_t kCreateDevice = 0x222003;
constexpr uint32_t kSetAddress = 0x222007;
constexpr uint32_t kCloseDevice = 0x22200B;
constexpr uint32_t kHelperTable = 0x222EE0;
constexpr uint32_t kRegistryPath = 0x222EE4;
constexpr uint8_t kMajorCreate = 0x00, kMajorClose = 0x02, kMajorPnp = 0x1B;

UhciController &addUhci(Testbed &tb, unsigned bus, unsigned device, unsigned function, uint32_t ioBase, uint8_t pin = 4,
                        uint8_t line = 11) {
  auto &c = tb.machine.add(bus, device, function, std::make_unique<UhciController>(ioBase));
  c.setInterrupt(pin, line);
  return c;
}

OhciController &addOhci(Testbed &tb, unsigned bus, unsigned device, unsigned function, uint32_t memoryBase,
                        uint8_t pin = 1, uint8_t line = 10) {
  auto &c = tb.machine.add(bus, device, function, std::make_unique<OhciController>(memoryBase));
  c.setInterrupt(pin, line);
  return c;
}

PiixBridge &addBridge(Testbed &tb) { return tb.machine.add(0, 7, 0, std::make_unique<PiixBridge>()); }

std::vector<std::wstring> controllerNames(const Testbed &tb) {
  std::vector<std::wstring> names;
  for (const auto &d : tb.devices())
    if (d.type == 0x22) names.push_back(d.name);
  return names;
}

bool printed(const Testbed &tb, const std::string &text) {
  for (const auto &line : tb.debugPrints())
    if (line.find(text) != std::string::npos) return true;
  return false;
}

std::string joined(const std::vector<std::string> &lines) {
  std::string s;
  for (const auto &l : lines) s += l + "\n";
  return s;
}

// Unload, then nothing may be left: pool, buffers, mappings, claims, interrupts, handles, devices.
void expectUnloadsClean(Testbed &tb) {
  tb.unload();
  EXPECT_EQ(hcsim::describe(Holdings{}), hcsim::describe(tb.holdings()));
  EXPECT_TRUE(tb.poolByTag().empty());
  EXPECT_TRUE(tb.errors().empty()) << joined(tb.errors());
}

void loadAndDiscover(Testbed &tb) {
  ASSERT_EQ(hcsim::kSuccess, tb.load()) << joined(tb.errors());
  ASSERT_EQ(hcsim::kSuccess, tb.registerCallback());
}

std::vector<Access> writes(const std::vector<Access> &log) {
  std::vector<Access> out;
  for (const auto &a : log)
    if (a.write) out.push_back(a);
  return out;
}

std::string describe(const std::vector<Access> &accesses) {
  std::string s;
  char line[64];
  for (const auto &a : accesses) {
    snprintf(line, sizeof(line), "  %s 0x%02X/%u = 0x%08X\n", a.write ? "write" : "read", a.offset, a.size, a.value);
    s += line;
  }
  return s;
}

TEST(UsbhcdEntry, LoadsCreatesTheControlDeviceAndUnloads) {
  Testbed tb;
  ASSERT_EQ(hcsim::kSuccess, tb.load());
  EXPECT_TRUE(tb.unresolvedImports().empty());
  auto devices = tb.devices();
  ASSERT_EQ(1u, devices.size());
  EXPECT_EQ(L"\\Device\\Uhcd", devices[0].name);
  EXPECT_EQ(0xFFFFu, devices[0].type);
  EXPECT_TRUE(devices[0].exclusive);
  EXPECT_EQ(0u, devices[0].extensionSize);
  EXPECT_EQ(0x10u, devices[0].flags & 0x10) << "direct I/O";
  EXPECT_EQ(0u, devices[0].flags & 0x80) << "still initialising";
  EXPECT_EQ(hcsim::kSuccess, tb.majorRequest(devices[0].object, kMajorCreate));
  EXPECT_EQ(hcsim::kSuccess, tb.majorRequest(devices[0].object, kMajorClose));
  EXPECT_EQ(hcsim::kNotImplemented, tb.internalControl(devices[0].object, 0x222FFF));
  for (const char *name :
       {"USBD_GetUSBDIVersion", "USBD_ParseDescriptors", "USBD_ParseConfigurationDescriptor",
        "USBD_ParseConfigurationDescriptorEx", "USBD_CreateConfigurationRequest", "USBD_CreateConfigurationRequestEx"})
    EXPECT_NE(nullptr, tb.driverExport(name)) << name;
  expectUnloadsClean(tb);
  EXPECT_TRUE(tb.devices().empty());
}

// ---------------------------------------------------------------------------------------------
// Machine layouts: which controllers become devices, and why the others do not.

struct Layout {
  const char *name;
  std::function<void(Testbed &)> build;
  std::vector<std::wstring> controllers;  // the controller devices left after discovery
  std::vector<std::string> traces;        // status lines the driver printed for those that failed
};

const Layout kLayouts[] = {
    {"one UHCI and one OHCI",
     [](Testbed &tb) {
       addUhci(tb, 0, 7, 2, 0xE000);
       addOhci(tb, 1, 3, 0, 0xFEBF0000);
     },
     {L"\\Device\\UsbHc0", L"\\Device\\UsbHc1"},
     {}},
    {"two OHCI with IgnoreOhci 1",
     [](Testbed &tb) {
       addOhci(tb, 0, 4, 0, 0xFEBF0000);
       addOhci(tb, 0, 5, 0, 0xFEBE0000);
       tb.setDword(L"", L"IgnoreOhci", 1);
     },
     {},
     {"not set up: 0xc0000001"}},
    {"IgnoreUhci 1 leaves the OHCI",
     [](Testbed &tb) {
       addUhci(tb, 0, 7, 2, 0xE000);
       addOhci(tb, 0, 8, 0, 0xFEBF0000);
       tb.setDword(L"", L"IgnoreUhci", 1);
     },
     {L"\\Device\\UsbHc0"},
     {"not set up: 0xc0000001"}},
    {"IgnoreOhci as text is no REG_DWORD",
     [](Testbed &tb) {
       addOhci(tb, 0, 4, 0, 0xFEBF0000);
       tb.setValue(L"", L"IgnoreOhci", 1 /* REG_SZ */, {'1', 0, 0, 0});
     },
     {L"\\Device\\UsbHc0"},
     {}},
    {"programming interface 0x20 is passed over",
     [](Testbed &tb) {
       auto &c = addOhci(tb, 0, 4, 0, 0xFEBF0000);
       c.config[9] = 0x20;
     },
     {},
     {"not set up: 0xc0000001"}},
    {"a bus-master bit that does not set",
     [](Testbed &tb) { addUhci(tb, 0, 7, 2, 0xE000).busMasterSticks = false; },
     {},
     {"not set up: 0xc0000001"}},
    {"no interrupt resource",
     [](Testbed &tb) { addUhci(tb, 0, 7, 2, 0xE000, 0, 0xFF); },
     {},
     {"not set up: 0xc0000089"}},
    {"register mapping fails",
     [](Testbed &tb) {
       addOhci(tb, 0, 4, 0, 0xFEBF0000);
       tb.failMapping = true;
     },
     {},
     {"not set up: 0xc0000001"}},
    {"bus address translation fails",
     [](Testbed &tb) {
       addUhci(tb, 0, 7, 2, 0xE000);
       tb.failTranslation = true;
     },
     {},
     {"not set up: 0xc0000001"}},
    {"ForceIrq 16",
     [](Testbed &tb) {
       addBridge(tb);
       addUhci(tb, 0, 7, 2, 0xE000);
       tb.setDword(L"Parameters\\UsbHc0", L"ForceIrq", 16);
     },
     {},
     {"not set up: 0xc0000001"}},
    {"ForceIrq 15 is the highest",
     [](Testbed &tb) {
       addBridge(tb);
       addUhci(tb, 0, 7, 2, 0xE000);
       tb.setDword(L"Parameters\\UsbHc0", L"ForceIrq", 15);
     },
     {L"\\Device\\UsbHc0"},
     {}},
    {"ForceIrq with no PCI-to-ISA bridge",
     [](Testbed &tb) {
       addUhci(tb, 0, 7, 2, 0xE000);
       tb.setDword(L"Parameters\\UsbHc0", L"ForceIrq", 11);
     },
     {},
     {"not set up: 0xc0000001"}},
    {"an OHCI whose reset bit never clears",
     [](Testbed &tb) { addOhci(tb, 0, 4, 0, 0xFEBF0000).resetNeverCompletes = true; },
     {},
     {"did not start: 0xc00000c2"}},
    {"an OHCI whose frame interval does not read back",
     [](Testbed &tb) { addOhci(tb, 0, 4, 0, 0xFEBF0000).frameIntervalStuck = true; },
     {},
     {"did not start: 0xc00000c2"}},
    {"an OHCI that wants its communication area aligned beyond a page",
     [](Testbed &tb) { addOhci(tb, 0, 4, 0, 0xFEBF0000).hccaMask = 0xFFFFE000u; },
     {},
     {"did not start: 0xc0000182"}},
    {"no DMA adapter",
     [](Testbed &tb) {
       addUhci(tb, 0, 7, 2, 0xE000);
       tb.noAdapter = true;
     },
     {},
     {"did not start: 0xc000000e"}},
    {"no common buffer for the general pool",
     [](Testbed &tb) {
       addOhci(tb, 0, 4, 0, 0xFEBF0000);
       tb.failCommonBufferAfter = 0;
     },
     {},
     {"did not start: 0xc0000017"}},
    {"no common buffer for the UHCI frame list",
     [](Testbed &tb) {
       addUhci(tb, 0, 7, 2, 0xE000);
       tb.failCommonBufferAfter = 1;  // the general pool's one page, then nothing
     },
     {},
     {"did not start: 0xc000009a"}},
    {"controllers behind empty buses, up to the last slot",
     [](Testbed &tb) {
       addUhci(tb, 3, 31, 7, 0xE000);
       addOhci(tb, 200, 0, 0, 0xFEBF0000);
     },
     {L"\\Device\\UsbHc0", L"\\Device\\UsbHc1"},
     {}},
    {"slot number reserved bits are no device",
     [](Testbed &tb) {
       addUhci(tb, 0, 0, 0, 0xE000);
       tb.machine.add(0, 1, 0, std::make_unique<PciDevice>(0x8086, 0x1237, 0x06, 0x00, 0x00));
     },
     {L"\\Device\\UsbHc0"},
     {}},
};

class UsbhcdLayouts : public ::testing::TestWithParam<Layout> {};

TEST_P(UsbhcdLayouts, DiscoveryStartsTheRightControllers) {
  const Layout &layout = GetParam();
  Testbed tb;
  layout.build(tb);
  loadAndDiscover(tb);
  EXPECT_EQ(layout.controllers, controllerNames(tb));
  EXPECT_EQ(layout.controllers.size(), tb.callbackDevices().size());
  for (const auto &trace : layout.traces) EXPECT_TRUE(printed(tb, trace)) << trace << "\n" << joined(tb.debugPrints());
  // Every started controller: interrupt connected, registered for shutdown, initialised.
  EXPECT_EQ(layout.controllers.size(), tb.interrupts().size());
  EXPECT_EQ(layout.controllers.size(), tb.holdings().shutdownRegistrations);
  EXPECT_EQ(layout.controllers.size(), tb.holdings().resourceClaims);
  for (const auto &d : tb.devices())
    if (d.type == 0x22) {
      EXPECT_EQ(0u, d.flags & 0x80) << "controller still initialising";
    }
  expectUnloadsClean(tb);
}

INSTANTIATE_TEST_SUITE_P(Machines, UsbhcdLayouts, ::testing::ValuesIn(kLayouts),
                         [](const ::testing::TestParamInfo<Layout> &info) {
                           std::string name;
                           for (const char *c = info.param.name; *c; ++c) name += isalnum(*c) ? *c : '_';
                           return name;
                         });

// ---------------------------------------------------------------------------------------------
// Registry

TEST(UsbhcdRegistry, StartWritesTheControllerValues) {
  Testbed tb;
  auto &u = addUhci(tb, 2, 7, 2, 0xE000);
  u.config[8] = 0x05;  // revision
  u.config[0x2C] = 0x34;
  u.config[0x2D] = 0x12;  // sub-vendor 0x1234
  u.config[0x2E] = 0x78;
  u.config[0x2F] = 0x56;  // sub-system 0x5678
  loadAndDiscover(tb);
  const std::wstring key = L"Parameters\\UsbHc0";
  EXPECT_EQ(L"VEN8086_DEV7112", tb.text(key, L"PciID").value_or(L"-"));
  EXPECT_EQ(L"UHCI", tb.text(key, L"Type").value_or(L"-"));
  EXPECT_EQ(5u, tb.dword(key, L"Revision").value_or(99));
  EXPECT_EQ(0x1234u, tb.dword(key, L"SubVendorID").value_or(99));
  EXPECT_EQ(0x5678u, tb.dword(key, L"SubSystemID").value_or(99));
  EXPECT_EQ(2u, tb.dword(key, L"BusNumber").value_or(99));
  EXPECT_EQ(7u, tb.dword(key, L"DeviceNumber").value_or(99));
  EXPECT_EQ(2u, tb.dword(key, L"FunctionNumber").value_or(99));
  expectUnloadsClean(tb);
}

TEST(UsbhcdRegistry, StaleControllerKeysGoWithTheirSubKeysUpToTheFirstGap) {
  Testbed tb;
  addOhci(tb, 0, 4, 0, 0xFEBF0000);
  tb.setDword(L"Parameters\\UsbHc0", L"Old", 1);
  tb.setDword(L"Parameters\\UsbHc1", L"BusNumber", 0);
  tb.setDword(L"Parameters\\UsbHc1\\Ports\\Port1", L"Mode", 3);
  tb.createKey(L"Parameters\\UsbHc1\\Ports\\Port2");
  tb.createKey(L"Parameters\\UsbHc2\\Anything");
  tb.createKey(L"Parameters\\UsbHc4");
  loadAndDiscover(tb);
  EXPECT_TRUE(tb.keyExists(L"Parameters\\UsbHc0"));
  EXPECT_EQ(1u, tb.dword(L"Parameters\\UsbHc0", L"Old").value_or(0)) << "the live controller's key stays";
  EXPECT_FALSE(tb.keyExists(L"Parameters\\UsbHc1"));
  EXPECT_FALSE(tb.keyExists(L"Parameters\\UsbHc2"));
  EXPECT_TRUE(tb.keyExists(L"Parameters\\UsbHc4")) << "the clean-up ends at the first number without a key";
  expectUnloadsClean(tb);
}

TEST(UsbhcdRegistry, IgnoredControllersLeaveNoKeys) {
  Testbed tb;
  addOhci(tb, 0, 4, 0, 0xFEBF0000);
  addOhci(tb, 0, 5, 0, 0xFEBE0000);
  tb.setDword(L"", L"IgnoreOhci", 1);
  tb.createKey(L"Parameters\\UsbHc0\\Sub");
  tb.createKey(L"Parameters\\UsbHc1");
  loadAndDiscover(tb);
  EXPECT_TRUE(controllerNames(tb).empty());
  EXPECT_FALSE(tb.keyExists(L"Parameters\\UsbHc0"));
  EXPECT_FALSE(tb.keyExists(L"Parameters\\UsbHc1"));
  expectUnloadsClean(tb);
}

// ---------------------------------------------------------------------------------------------
// Interrupts

TEST(UsbhcdInterrupts, ForceIrqRoutesThePinThroughTheBridge) {
  Testbed tb;
  auto &bridge = addBridge(tb);
  auto &u = addUhci(tb, 0, 7, 2, 0xE000, 2, 5);  // pin B, firmware routed it to 5
  auto &other = tb.machine.add(1, 2, 0, std::make_unique<PciDevice>(0x10EC, 0x8139, 0x02, 0x00, 0x00));
  other.setInterrupt(2, 9);
  auto &pinA = tb.machine.add(1, 3, 0, std::make_unique<PciDevice>(0x10EC, 0x8139, 0x02, 0x00, 0x00));
  pinA.setInterrupt(1, 9);
  tb.machine.elcr[1] = 0x02;
  tb.setDword(L"Parameters\\UsbHc0", L"ForceIrq", 11);
  loadAndDiscover(tb);
  ASSERT_EQ(std::vector<std::wstring>{L"\\Device\\UsbHc0"}, controllerNames(tb));
  EXPECT_EQ(11, bridge.pirqRoute(2)) << "register 0x61";
  EXPECT_EQ(0x80, bridge.pirqRoute(1));
  EXPECT_EQ(0x0A, tb.machine.elcr[1]) << "port 0x4D1 bit 3 set, the rest kept";
  EXPECT_EQ(0x00, tb.machine.elcr[0]);
  EXPECT_EQ(11, u.interruptLine());
  EXPECT_EQ(11, other.interruptLine()) << "every device on pin B";
  EXPECT_EQ(9, pinA.interruptLine()) << "a device on pin A keeps its line";
  ASSERT_EQ(1u, tb.interrupts().size());
  EXPECT_EQ(0x30u + 11, tb.interrupts()[0].vector);
  expectUnloadsClean(tb);
}

TEST(UsbhcdInterrupts, ForceIrqBelowEightSetsPort4D0) {
  Testbed tb;
  addBridge(tb);
  addOhci(tb, 0, 4, 0, 0xFEBF0000, 1, 10);
  tb.setDword(L"Parameters\\UsbHc0", L"ForceIrq", 5);
  loadAndDiscover(tb);
  EXPECT_EQ(0x20, tb.machine.elcr[0]);
  EXPECT_EQ(0x00, tb.machine.elcr[1]);
  ASSERT_EQ(1u, tb.interrupts().size());
  EXPECT_EQ(0x35u, tb.interrupts()[0].vector);
  expectUnloadsClean(tb);
}

TEST(UsbhcdInterrupts, AllControllersSynchroniseAtTheHighestIrql) {
  Testbed tb;
  addUhci(tb, 0, 7, 2, 0xE000, 4, 11);     // IRQL 16
  addOhci(tb, 0, 8, 0, 0xFEBF0000, 1, 5);  // IRQL 22
  loadAndDiscover(tb);
  auto interrupts = tb.interrupts();
  ASSERT_EQ(2u, interrupts.size());
  for (const auto &i : interrupts) {
    EXPECT_EQ(22, i.synchronizeIrql);
    EXPECT_EQ(27 - (i.vector - 0x30), i.irql);
    EXPECT_TRUE(i.shared);
    EXPECT_FALSE(i.latched);
  }
  expectUnloadsClean(tb);
}

TEST(UsbhcdInterrupts, AnUnsharedInterruptThatIsRefusedIsConnectedShared) {
  Testbed tb;
  addUhci(tb, 0, 7, 2, 0xE000).interruptShared = false;
  tb.refuseExclusiveInterrupts = true;
  loadAndDiscover(tb);
  ASSERT_EQ(1u, tb.interrupts().size());
  EXPECT_TRUE(tb.interrupts()[0].shared);
  expectUnloadsClean(tb);
}

TEST(UsbhcdInterrupts, EachControllerClaimsOnlyItsOwnInterrupts) {
  Testbed tb;
  auto &u = addUhci(tb, 0, 7, 2, 0xE000, 4, 11);
  auto &o = addOhci(tb, 0, 8, 0, 0xFEBF0000, 1, 11);  // the same line, shared
  loadAndDiscover(tb);
  ASSERT_EQ(2u, tb.interrupts().size());
  EXPECT_FALSE(tb.raiseInterrupt(0x30 + 11)) << "nothing pending";
  u.usbsts |= 0x01;  // transfer completion
  EXPECT_TRUE(tb.raiseInterrupt(0x30 + 11));
  EXPECT_EQ(0, u.usbsts & 0x1F) << "acknowledged";
  o.reg[0x0C / 4] |= 0x02;  // write-back done head, enabled at start
  EXPECT_TRUE(tb.raiseInterrupt(0x30 + 11));
  EXPECT_EQ(0u, o.reg[0x0C / 4] & 0x02) << "acknowledged (start of frame, not enabled, stays)";
  o.reg[0x0C / 4] |= 0x04;  // start of frame: not enabled, not claimed
  EXPECT_FALSE(tb.raiseInterrupt(0x30 + 11));
  expectUnloadsClean(tb);
}

// ---------------------------------------------------------------------------------------------
// Controller initialisation and start: the register writes in order.

TEST(UsbhcdControllers, OhciResetIsPolledAHundredTimesEvery100Microseconds) {
  Testbed tb;
  auto &o = addOhci(tb, 0, 4, 0, 0xFEBF0000);
  o.resetNeverCompletes = true;
  loadAndDiscover(tb);
  EXPECT_TRUE(controllerNames(tb).empty());
  // From the reset write to the next write: only polls of HcCommandStatus.
  const auto &log = o.registerLog;
  size_t reset = 0;
  while (reset < log.size() && !(log[reset].write && log[reset].offset == 0x08)) ++reset;
  ASSERT_LT(reset, log.size());
  unsigned polls = 0;
  for (size_t i = reset + 1; i < log.size() && !log[i].write; ++i) {
    EXPECT_EQ(0x08u, log[i].offset);
    ++polls;
  }
  EXPECT_EQ(100u, polls);
  EXPECT_TRUE(tb.delays().empty()) << "the initialisation stopped at the reset";
  EXPECT_GE(tb.now(), 100u * 100u);
  expectUnloadsClean(tb);
}

TEST(UsbhcdControllers, OhciInitialiseAndStartWriteTheirSequence) {
  Testbed tb;
  auto &o = addOhci(tb, 0, 4, 0, 0xFEBF0000);
  loadAndDiscover(tb);
  ASSERT_EQ(1u, controllerNames(tb).size());
  auto w = writes(o.registerLog);
  ASSERT_EQ(18u, w.size()) << describe(w);
  uint32_t hcca = w[8].value;
  const std::vector<Access> expected = {
      {true, 0x50, 4, 0x00000001},  // HcRhStatus: clear global power
      {true, 0x08, 4, 0x00000001},  // HcCommandStatus: host controller reset
      {true, 0x0C, 4, 0xC000007F},  // HcInterruptStatus
      {true, 0x14, 4, 0xC000007F},  // HcInterruptDisable
      {true, 0x04, 4, 0x000000C0},  // HcControl: list enables cleared (UsbSuspend after reset)
      {true, 0x04, 4, 0x00000040},  // HcControl: UsbResume
      {true, 0x34, 4, 0x27782EDF},  // HcFmInterval
      {true, 0x18, 4, 0xFFFFFFFF},  // HcHCCA: alignment probe
      {true, 0x18, 4, hcca},        // HcHCCA: the communication area
      {true, 0x04, 4, 0x00000040},  // HcControl: state and routing bits kept
      {true, 0x20, 4, 0},           // HcControlHeadED
      {true, 0x24, 4, 0},           // HcControlCurrentED
      {true, 0x28, 4, 0},           // HcBulkHeadED
      {true, 0x2C, 4, 0},           // HcBulkCurrentED
      {true, 0x40, 4, 10799},       // HcPeriodicStart
      {true, 0x04, 4, 0x000000BC},  // HcControl: lists enabled, UsbOperational
      {true, 0x50, 4, 0x00010000},  // HcRhStatus: set global power
      {true, 0x10, 4, 0x80000033},  // HcInterruptEnable
  };
  EXPECT_EQ(describe(expected), describe(w));
  EXPECT_EQ(0u, hcca % 256) << "aligned as HcHCCA asks";
  EXPECT_NE(0u, hcca);
  EXPECT_EQ((std::vector<uint64_t>{30000, 10000}), tb.delays());
  EXPECT_TRUE(o.globalPower);
  expectUnloadsClean(tb);
}

TEST(UsbhcdControllers, UhciInitialiseAndStartWriteTheirSequence) {
  Testbed tb;
  auto &u = addUhci(tb, 0, 7, 2, 0xE000);
  u.usbcmd = 0x0040;  // left by the firmware
  loadAndDiscover(tb);
  ASSERT_EQ(1u, controllerNames(tb).size());
  // Configuration space: bus master set, then the legacy-support register.
  auto config = u.configWrites;
  ASSERT_EQ(2u, config.size()) << describe(config);
  EXPECT_EQ(0x04u, config[0].offset);
  EXPECT_EQ(0x05u, config[0].value);
  EXPECT_EQ((Access{true, 0xC0, 2, 0xAF00}), config[1]);
  auto w = writes(u.registerLog);
  ASSERT_EQ(6u, w.size()) << describe(w);
  uint32_t frameList = w[3].value;
  const std::vector<Access> expected = {
      {true, 0x00, 2, 0x0044},     // USBCMD: global reset
      {true, 0x00, 2, 0x0040},     // USBCMD: global reset cleared
      {true, 0x00, 2, 0x0080},     // USBCMD: 64-byte maximum packet
      {true, 0x08, 4, frameList},  // FLBASEADD
      {true, 0x04, 2, 0x000F},     // USBINTR
      {true, 0x00, 2, 0x0081},     // USBCMD: run
  };
  EXPECT_EQ(describe(expected), describe(w));
  EXPECT_EQ(0u, frameList % 4096);
  EXPECT_NE(0u, frameList);
  EXPECT_EQ((std::vector<uint64_t>{60000}), tb.delays());
  EXPECT_EQ(0x0081, u.usbcmd);
  EXPECT_EQ(0, u.usbsts & 0x20) << "running";
  expectUnloadsClean(tb);
  EXPECT_EQ(0x20, u.config[0xC1]) << "legacy support restored at removal";
}

// The descriptor pools: pages of equal blocks, each ending in its trailer (owning pool, free-list
// link, physical address). A page belongs to the pool whose block size makes every trailer name
// its own block's physical address.
struct PoolPages {
  unsigned blockSize;
  std::vector<const Testbed::CommonBufferInfo *> pages;
  std::vector<uintptr_t> owners;
  unsigned linkedBlocks = 0;  // blocks on a free list (the last free block links to nothing)
};

void collectPools(const std::vector<Testbed::CommonBufferInfo> &buffers, std::vector<PoolPages> &pools) {
  // Pool pointer, link and a 32-bit physical address: 12 bytes, padded to 24 in the 64-bit build.
  const unsigned trailer = sizeof(void *) == 4 ? 12 : 24;
  for (auto &pool : pools) {
    for (const auto &b : buffers) {
      if (b.length != 4096) continue;
      bool all = true;
      std::set<uintptr_t> owners;
      unsigned linked = 0;
      for (unsigned i = 0; i < 4096 / pool.blockSize && all; ++i) {
        const uint8_t *t = b.memory + i * pool.blockSize + pool.blockSize - trailer;
        uint32_t physical;
        uintptr_t owner, next;
        std::memcpy(&owner, t, sizeof owner);
        std::memcpy(&next, t + sizeof(void *), sizeof next);
        std::memcpy(&physical, t + 2 * sizeof(void *), 4);
        all = physical == b.physical + i * pool.blockSize;
        owners.insert(owner);
        if (next) ++linked;
      }
      if (all && owners.size() == 1) {
        pool.pages.push_back(&b);
        pool.owners.push_back(*owners.begin());
        pool.linkedBlocks += linked;
      }
    }
  }
}

TEST(UsbhcdControllers, DescriptorPoolsStartWithEnoughPagesForTheirInitialBlocks) {
  for (bool uhci : {false, true}) {
    SCOPED_TRACE(uhci ? "UHCI" : "OHCI");
    Testbed tb;
    if (uhci)
      addUhci(tb, 0, 7, 2, 0xE000);
    else
      addOhci(tb, 0, 4, 0, 0xFEBF0000);
    loadAndDiscover(tb);
    ASSERT_EQ(1u, controllerNames(tb).size());
    auto buffers = tb.commonBuffers();
    std::vector<PoolPages> pools = {{32, {}, {}}, {uhci ? 84u : 64u, {}, {}}};
    collectPools(buffers, pools);
    // General pool: 128 blocks of 32 bytes, one page. OHCI: 256 of 64, four pages; UHCI: 256 of
    // 84 (48 a page), six pages.
    ASSERT_EQ(1u, pools[0].pages.size());
    ASSERT_EQ(uhci ? 6u : 4u, pools[1].pages.size());
    for (const auto &pool : pools)
      for (uintptr_t owner : pool.owners) EXPECT_EQ(pool.owners[0], owner) << "one owner per pool";
    EXPECT_NE(pools[0].owners[0], pools[1].owners[0]);
    // The static schedule took its blocks off the free list: 63 tree nodes (and, for UHCI, the
    // control queue head and its descriptor).
    unsigned cut = uhci ? 6 * 48 : 4 * 64;
    EXPECT_EQ(cut - (uhci ? 65u : 63u) - 1, pools[1].linkedBlocks);
    EXPECT_EQ(128u - 1, pools[0].linkedBlocks);
    // Everything the controller reads is common buffer: the pools, and the frame list or HCCA.
    EXPECT_EQ(pools[0].pages.size() + pools[1].pages.size() + 1, buffers.size());
    expectUnloadsClean(tb);
  }
}

// ---------------------------------------------------------------------------------------------
// Device handles and the information requests

TEST(UsbhcdRequests, DeviceHandlesAreCreatedAddressedAndClosed) {
  Testbed tb;
  addUhci(tb, 0, 7, 2, 0xE000);
  loadAndDiscover(tb);
  void *hc = tb.device(L"\\Device\\UsbHc0");
  ASSERT_NE(nullptr, hc);
  void *handle = reinterpret_cast<void *>(0x1);
  EXPECT_EQ(hcsim::kSuccess, tb.internalControl(hc, kCreateDevice, &handle, 1, 1));
  ASSERT_NE(reinterpret_cast<void *>(0x1), handle);
  ASSERT_NE(nullptr, handle);
  EXPECT_EQ(1u, tb.poolByTag()["Udev"]);
  EXPECT_EQ(1u, tb.poolByTag()["Pipe"]);
  void *second = nullptr;
  EXPECT_EQ(hcsim::kSuccess, tb.internalControl(hc, kCreateDevice, &second));
  EXPECT_EQ(2u, tb.poolByTag()["Udev"]);

  EXPECT_EQ(hcsim::kSuccess, tb.internalControl(hc, kSetAddress, handle, 5, 0x12340040));
  int local = 0;
  EXPECT_EQ(hcsim::kInvalidParameter, tb.internalControl(hc, kSetAddress, &local, 5)) << "not a device handle";
  EXPECT_EQ(hcsim::kInvalidParameter, tb.internalControl(hc, kSetAddress, nullptr, 5));
  EXPECT_EQ(0, local);

  EXPECT_EQ(hcsim::kSuccess, tb.internalControl(hc, kCloseDevice, handle));
  EXPECT_EQ(1u, tb.poolByTag()["Udev"]);
  EXPECT_EQ(1u, tb.poolByTag()["Pipe"]);
  EXPECT_EQ(hcsim::kInvalidParameter, tb.internalControl(hc, kCloseDevice, handle)) << "closed already";
  EXPECT_EQ(hcsim::kInvalidParameter, tb.internalControl(hc, kCreateDevice, nullptr)) << "nowhere to put it";
  EXPECT_EQ(1u, tb.poolByTag()["Udev"]);
  // The second handle is still open: removal frees it.
  expectUnloadsClean(tb);
}

TEST(UsbhcdRequests, ControllerRequestsToTheControlDeviceAreRefused) {
  Testbed tb;
  ASSERT_EQ(hcsim::kSuccess, tb.load());
  void *handle = nullptr;
  EXPECT_EQ(hcsim::kInvalidDeviceRequest, tb.internalControl(tb.device(L"\\Device\\Uhcd"), kCreateDevice, &handle));
  EXPECT_EQ(nullptr, handle);
  EXPECT_EQ(hcsim::kSuccess, tb.internalControl(tb.device(L"\\Device\\Uhcd"), kRegisterCallback, nullptr))
      << "a null routine only records it";
  EXPECT_TRUE(tb.adapterRequests().empty()) << "and runs no discovery";
  expectUnloadsClean(tb);
}

TEST(UsbhcdRequests, HelperTableNeedsRoomForItsAddress) {
  Testbed tb;
  addOhci(tb, 0, 4, 0, 0xFEBF0000);
  loadAndDiscover(tb);
  void *hc = tb.device(L"\\Device\\UsbHc0");
  unsigned char buffer[16];
  uintptr_t information = 0;
  for (uint32_t length : {0u, 1u, static_cast<uint32_t>(sizeof(void *) - 1)}) {
    std::memset(buffer, 0xEE, sizeof(buffer));
    EXPECT_EQ(hcsim::kBufferTooSmall, tb.internalControl(hc, kHelperTable, nullptr, 0, 0, buffer, length, &information))
        << length;
    EXPECT_EQ(0u, information);
    for (unsigned char b : buffer) EXPECT_EQ(0xEE, b);
  }
  EXPECT_EQ(hcsim::kBufferTooSmall, tb.internalControl(hc, kHelperTable, nullptr, 0, 0, nullptr, 64, &information));
  std::memset(buffer, 0xEE, sizeof(buffer));
  ASSERT_EQ(hcsim::kSuccess, tb.internalControl(hc, kHelperTable, nullptr, 0, 0, buffer, sizeof(void *), &information));
  EXPECT_EQ(sizeof(void *), information);
  void *const *table = *reinterpret_cast<void *const **>(buffer);
  const char *order[] = {"USBD_GetUSBDIVersion",
                         "USBD_ParseDescriptors",
                         "USBD_ParseConfigurationDescriptor",
                         "USBD_ParseConfigurationDescriptorEx",
                         "USBD_CreateConfigurationRequest",
                         "USBD_CreateConfigurationRequestEx"};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(tb.driverExport(order[i]), table[i]) << order[i];
  EXPECT_EQ(0xEE, buffer[sizeof(void *)]);
  expectUnloadsClean(tb);
}

TEST(UsbhcdRequests, RegistryPathAnswerKeepsToTheBuffer) {
  Testbed tb;
  addOhci(tb, 0, 4, 0, 0xFEBF0000);
  addOhci(tb, 0, 5, 0, 0xFEBE0000);
  loadAndDiscover(tb);
  void *hc = tb.device(L"\\Device\\UsbHc1");
  ASSERT_NE(nullptr, hc);
  const std::wstring path = std::wstring(Testbed::kServiceKey) + L"\\Parameters\\UsbHc1";
  const uint32_t bytes = static_cast<uint32_t>(path.size() * 2);
  std::vector<unsigned char> buffer(bytes + 16);
  uintptr_t information = 0;

  for (uint32_t length : {0u, 4u, 5u}) {
    std::fill(buffer.begin(), buffer.end(), 0xEE);
    EXPECT_EQ(hcsim::kBufferTooSmall,
              tb.internalControl(hc, kRegistryPath, nullptr, 0, 0, buffer.data(), length, &information))
        << length;
    EXPECT_EQ(0u, information);
    for (unsigned char b : buffer) ASSERT_EQ(0xEE, b);
  }
  EXPECT_EQ(hcsim::kBufferTooSmall, tb.internalControl(hc, kRegistryPath, nullptr, 0, 0, nullptr, 100, &information));

  // Too short for the text: the length it needs and an empty string, nothing more.
  for (uint32_t length : {6u, bytes + 3}) {
    std::fill(buffer.begin(), buffer.end(), 0xEE);
    ASSERT_EQ(hcsim::kSuccess,
              tb.internalControl(hc, kRegistryPath, nullptr, 0, 0, buffer.data(), length, &information));
    uint32_t reported;
    std::memcpy(&reported, buffer.data(), 4);
    EXPECT_EQ(bytes + 4, reported);
    EXPECT_EQ(6u, information);
    EXPECT_EQ(0, buffer[4]);
    EXPECT_EQ(0, buffer[5]);
    for (size_t i = 6; i < buffer.size(); ++i) ASSERT_EQ(0xEE, buffer[i]) << i;
  }

  // Exactly enough, and with room to spare.
  for (uint32_t length : {bytes + 4, bytes + 16}) {
    std::fill(buffer.begin(), buffer.end(), 0xEE);
    ASSERT_EQ(hcsim::kSuccess,
              tb.internalControl(hc, kRegistryPath, nullptr, 0, 0, buffer.data(), length, &information));
    uint32_t reported;
    std::memcpy(&reported, buffer.data(), 4);
    EXPECT_EQ(bytes + 4, reported);
    EXPECT_EQ(bytes + 4, information);
    EXPECT_EQ(path, std::wstring(reinterpret_cast<const wchar_t *>(buffer.data() + 4), path.size()));
    if (length == bytes + 4) {
      EXPECT_EQ(0xEE, buffer[bytes + 4]) << "nothing written past the buffer";
    }
  }
  expectUnloadsClean(tb);
}

// ---------------------------------------------------------------------------------------------
// Shutdown, removal and failures part-way

TEST(UsbhcdLifecycle, ShutdownStopsAndRemovalReleasesEverything) {
  Testbed tb;
  auto &u = addUhci(tb, 0, 7, 2, 0xE000);
  auto &o = addOhci(tb, 0, 8, 0, 0xFEBF0000);
  loadAndDiscover(tb);
  ASSERT_EQ(2u, controllerNames(tb).size());
  Holdings running = tb.holdings();
  tb.systemShutdown();
  EXPECT_EQ(0, u.usbcmd & 1) << "UHCI not running";
  EXPECT_EQ(0u, u.usbintr);
  EXPECT_EQ(0xC0u, o.reg[1]) << "OHCI reset (UsbSuspend)";
  EXPECT_EQ(0u, o.reg[4]) << "OHCI interrupts disabled";
  EXPECT_EQ(hcsim::describe(running), hcsim::describe(tb.holdings())) << "stop keeps the resources";

  void *first = tb.device(L"\\Device\\UsbHc0");
  EXPECT_EQ(hcsim::kSuccess, tb.majorRequest(first, kMajorPnp, 2));
  EXPECT_EQ(std::vector<std::wstring>{L"\\Device\\UsbHc1"}, controllerNames(tb));
  EXPECT_EQ(1u, tb.interrupts().size());
  EXPECT_EQ(1u, tb.holdings().resourceClaims);
  EXPECT_EQ(hcsim::kSuccess, tb.majorRequest(tb.device(L"\\Device\\UsbHc1"), kMajorPnp, 1)) << "other minor codes";
  EXPECT_EQ(1u, controllerNames(tb).size());
  EXPECT_EQ(hcsim::kSuccess, tb.majorRequest(tb.device(L"\\Device\\UsbHc1"), kMajorPnp, 2));
  Holdings left = tb.holdings();
  EXPECT_EQ(0u, left.interrupts);
  EXPECT_EQ(0u, left.commonBuffers);
  EXPECT_EQ(0u, left.mappings);
  EXPECT_EQ(0u, left.resourceClaims);
  EXPECT_EQ(1u, left.devices) << "the control device";
  expectUnloadsClean(tb);
}

// Every allocation of the kernel and the HAL failing in turn: whatever stage set-up and start
// reached, the controller goes and takes everything with it, and discovery goes on.
TEST(UsbhcdLifecycle, FailuresPartWayReleaseEverythingTaken) {
  int poolAllocations = 0, commonBuffers = 0;
  {
    Testbed tb;
    addUhci(tb, 0, 7, 2, 0xE000);
    addOhci(tb, 0, 8, 0, 0xFEBF0000);
    tb.setDword(L"Parameters\\UsbHc0", L"ForceIrq", 11);
    addBridge(tb);
    tb.failPoolAfter = 1000000;
    tb.failCommonBufferAfter = 1000000;
    loadAndDiscover(tb);
    ASSERT_EQ(2u, controllerNames(tb).size());
    poolAllocations = 1000000 - tb.failPoolAfter;
    commonBuffers = 1000000 - tb.failCommonBufferAfter;
    expectUnloadsClean(tb);
  }
  ASSERT_GT(poolAllocations, 10);
  ASSERT_GT(commonBuffers, 2);
  for (int kind = 0; kind < 2; ++kind) {
    int count = kind == 0 ? poolAllocations : commonBuffers;
    for (int n = 1; n < count; ++n) {
      SCOPED_TRACE((kind == 0 ? "pool allocation " : "common buffer ") + std::to_string(n));
      Testbed tb;
      addUhci(tb, 0, 7, 2, 0xE000);
      addOhci(tb, 0, 8, 0, 0xFEBF0000);
      tb.setDword(L"Parameters\\UsbHc0", L"ForceIrq", 11);
      addBridge(tb);
      (kind == 0 ? tb.failPoolAfter : tb.failCommonBufferAfter) = n;
      if (tb.load() != hcsim::kSuccess) {
        EXPECT_EQ(0u, tb.holdings().poolBlocks);
        EXPECT_TRUE(tb.devices().empty());
        continue;
      }
      EXPECT_EQ(hcsim::kSuccess, tb.registerCallback());
      EXPECT_EQ(tb.callbackDevices().size(), controllerNames(tb).size());
      EXPECT_EQ(controllerNames(tb).size(), tb.interrupts().size());
      expectUnloadsClean(tb);
    }
  }
}

TEST(UsbhcdLifecycle, ASecondRegistrationReportsTheRunningControllers) {
  Testbed tb;
  addUhci(tb, 0, 7, 2, 0xE000);
  loadAndDiscover(tb);
  ASSERT_EQ(hcsim::kSuccess, tb.registerCallback());
  EXPECT_EQ(1u, controllerNames(tb).size());
  ASSERT_EQ(2u, tb.callbackDevices().size());
  EXPECT_EQ(tb.callbackDevices()[0], tb.callbackDevices()[1]);
  EXPECT_EQ(1u, tb.adapterRequests().size());
  const auto &adapter = tb.adapterRequests()[0];
  EXPECT_TRUE(adapter.master);
  EXPECT_TRUE(adapter.scatterGather);
  EXPECT_TRUE(adapter.dma32);
  EXPECT_EQ(0xFFFFFFFFu, adapter.maximumLength);
  expectUnloadsClean(tb);
}

}  // namespace
