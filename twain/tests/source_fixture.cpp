#include "source_fixture.h"

#include <cstring>
#include <string>

#include "child_process.h"
#include "proc_address.h"
#include "profile_store.h"
#include "qrcamlib.h"

namespace twaintest {

namespace {

void forgetCameras() {
  CameraListInfo list;
  QRGetCamList(&list);
}

std::string fileBytes(const std::string& name) {
  std::string bytes;
  HANDLE file =
      CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return bytes;
  char buffer[65536];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got) bytes.append(buffer, got);
  CloseHandle(file);
  return bytes;
}

}  // namespace

// Wine's twain_32.dll looks for sources only at fixed paths, the first being
// "<Windows>\twain_32\sane.ds" ("twain_64" in its 64-bit build), as scripts/twain-install knows.
void installSource() {
  char windows[MAX_PATH];
  ASSERT_NE(0u, GetWindowsDirectoryA(windows, MAX_PATH));
  const std::string folder = std::string(windows) + (sizeof(void*) == 8 ? "\\twain_64" : "\\twain_32");
  const std::string built = qrtest::programDirectory() + "qr3twn.ds", installed = folder + "\\sane.ds";
  if (fileBytes(installed) == fileBytes(built)) return;
  CreateDirectoryA(folder.c_str(), nullptr);
  ASSERT_TRUE(CopyFileA(built.c_str(), installed.c_str(), FALSE));
}

void Source::SetUp() {
  VirtualCameraTest::SetUp();
  QRReleaseLib();
  forgetCameras();
  application_.Id = kApplicationId;
  application_.ProtocolMajor = TWON_PROTOCOLMAJOR;
  application_.ProtocolMinor = TWON_PROTOCOLMINOR;
  application_.SupportedGroups = DG_CONTROL | DG_IMAGE;
  lstrcpyA(application_.ProductName, "twain test");
  if (route_ == Route::kManager) {
    setUpManager();
  } else {
    setUpDirect();
  }
}

void Source::setUpManager() {
  installSource();
  manager_ = LoadLibraryA("TWAIN_32.DLL");
  ASSERT_NE(nullptr, manager_);
  dsm_ = compat::procAddress<DSMENTRYPROC>(manager_, "DSM_Entry");
  ASSERT_NE(nullptr, dsm_);
  HWND parent = nullptr;
  ASSERT_EQ(TWRC_SUCCESS, dsm_(&application_, nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &parent));
  // Our source among those the manager lists: its identity is what MSG_OPENDS is given.
  TW_IDENTITY found{};
  for (TW_UINT16 rc = dsm_(&application_, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST, &found); rc == TWRC_SUCCESS;
       rc = dsm_(&application_, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETNEXT, &found)) {
    if (std::strcmp(found.ProductName, "Quorel Twain Driver 6.9.1.49") == 0) managerCopy_ = found;
  }
  ASSERT_STREQ("Quorel Twain Driver 6.9.1.49", managerCopy_.ProductName) << "the manager does not list the source";
}

void Source::setUpDirect() {
  manager_ = LoadLibraryA((qrtest::programDirectory() + "fakedsm\\twain_32.dll").c_str());
  ASSERT_NE(nullptr, manager_);
  callCount_ = compat::procAddress<FakeDsmCallCountProc>(manager_, "FakeDsmCallCount");
  getCall_ = compat::procAddress<FakeDsmGetCallProc>(manager_, "FakeDsmGetCall");
  clear_ = compat::procAddress<FakeDsmClearProc>(manager_, "FakeDsmClear");
  ASSERT_TRUE(callCount_ && getCall_ && clear_);
  clear_();
  // The source looks the manager up by name; the one already loaded is the one it gets.
  ASSERT_EQ(manager_, GetModuleHandleA("TWAIN_32.DLL"));

  module_ = LoadLibraryA((qrtest::programDirectory() + "qr3twn.ds").c_str());
  ASSERT_NE(nullptr, module_);
  entry_ = compat::procAddress<DSENTRYPROC>(module_, "DS_Entry");
  ASSERT_NE(nullptr, entry_);

  // What a manager passes at MSG_OPENDS: the source's identity with the id it assigned.
  ASSERT_EQ(TWRC_SUCCESS, call(DG_CONTROL, DAT_IDENTITY, MSG_GET, &managerCopy_));
  managerCopy_.Id = kSourceId;
}

void Source::TearDown() {
  if (dsm_) {
    // Closes the source too, as an application's MSG_CLOSEDSM does.
    HWND parent = nullptr;
    dsm_(&application_, nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &parent);
  } else if (module_) {
    FreeLibrary(module_);
  }
  if (manager_) FreeLibrary(manager_);
  QRReleaseLib();
  VirtualCameraTest::TearDown();
  forgetCameras();
}

TW_UINT16 Source::call(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
  return callAs(application_, dg, dat, msg, data);
}

TW_UINT16 Source::callAs(TW_IDENTITY& origin, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
  if (route_ == Route::kDirect) return entry_(&origin, dg, dat, msg, data);
  // Opening and closing are the manager's own triplets; everything else it passes to the source.
  if (dg == DG_CONTROL && dat == DAT_IDENTITY && (msg == MSG_OPENDS || msg == MSG_CLOSEDS)) {
    const TW_UINT16 rc = dsm_(&origin, nullptr, dg, dat, msg, &managerCopy_);
    if (msg == MSG_OPENDS) module_ = GetModuleHandleA("sane.ds");
    return rc;
  }
  return dsm_(&origin, &managerCopy_, dg, dat, msg, data);
}

TW_UINT16 Source::conditionCode() {
  TW_STATUS status{0xffff, 0xffff};
  EXPECT_EQ(TWRC_SUCCESS, call(DG_CONTROL, DAT_STATUS, MSG_GET, &status));
  EXPECT_EQ(0, status.Reserved);
  return status.ConditionCode;
}

void Source::expectFailure(TW_UINT16 condition, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
  EXPECT_EQ(TWRC_FAILURE, call(dg, dat, msg, data)) << "DG " << dg << " DAT " << dat << " MSG " << msg;
  EXPECT_EQ(condition, conditionCode()) << "DG " << dg << " DAT " << dat << " MSG " << msg;
}

TW_UINT16 Source::openSource() { return call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &managerCopy_); }

void Source::openWithCamera() {
  qrtest::plug(0, qrtest::usbCamera(0x0403, "SN-TWAIN"));
  ASSERT_EQ(TWRC_SUCCESS, openSource());
  ASSERT_EQ(TWCC_SUCCESS, conditionCode());
}

void Source::acquire() {
  openWithCamera();
  TW_USERINTERFACE ui{FALSE, FALSE, nullptr};
  ASSERT_EQ(TWRC_SUCCESS, call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui));
}

TW_UINT16 Source::nextNotification() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    TW_EVENT event{&message, MSG_NULL};
    if (call(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event) == TWRC_DSEVENT && event.TWMessage != MSG_NULL) {
      return event.TWMessage;
    }
  }
  return MSG_NULL;
}

std::vector<FakeDsmCall> Source::notifications() {
  if (!callCount_) {
    ADD_FAILURE() << "only the direct route records notifications";
    return {};
  }
  std::vector<FakeDsmCall> calls(callCount_());
  for (size_t i = 0; i < calls.size(); ++i) getCall_(static_cast<LONG>(i), &calls[i]);
  return calls;
}

std::vector<TW_UINT16> Source::notifiedMessages() {
  std::vector<TW_UINT16> messages;
  for (const FakeDsmCall& call : notifications()) {
    EXPECT_EQ(kSourceId, call.originId);
    EXPECT_EQ(kApplicationId, call.destinationId);
    EXPECT_EQ(DG_CONTROL, call.dg);
    EXPECT_EQ(DAT_NULL, call.dat);
    EXPECT_TRUE(call.dataWasNull);
    messages.push_back(call.msg);
  }
  return messages;
}

void Source::storeProfile(LONG resolution, LONG format, LONG rotate) {
  profiles::ProfileSettings settings(profiles::kTwainLayout);
  settings[PROFILE_VALUE(profiles::kTwainLayout, "Resolution")] = resolution;
  settings[PROFILE_VALUE(profiles::kTwainLayout, "Format")] = format;
  settings[PROFILE_VALUE(profiles::kTwainLayout, "Rotate Image")] = rotate;
  ASSERT_TRUE(profiles::writeCurrentProfile("Twain", 0));
  ASSERT_TRUE(profiles::saveProfile(settings));
}

}  // namespace twaintest
