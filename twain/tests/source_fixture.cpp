#include "source_fixture.h"

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

}  // namespace

void Source::SetUp() {
  VirtualCameraTest::SetUp();
  QRReleaseLib();
  forgetCameras();
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

  application_.Id = kApplicationId;
  lstrcpyA(application_.ProductName, "twain test");
  // What a manager passes at MSG_OPENDS: the source's identity with the id it assigned.
  ASSERT_EQ(TWRC_SUCCESS, call(DG_CONTROL, DAT_IDENTITY, MSG_GET, &managerCopy_));
  managerCopy_.Id = kSourceId;
}

void Source::TearDown() {
  if (module_) FreeLibrary(module_);
  if (manager_) FreeLibrary(manager_);
  QRReleaseLib();
  VirtualCameraTest::TearDown();
  forgetCameras();
}

TW_UINT16 Source::call(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
  return callAs(application_, dg, dat, msg, data);
}

TW_UINT16 Source::callAs(TW_IDENTITY& origin, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
  return entry_(&origin, dg, dat, msg, data);
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

std::vector<FakeDsmCall> Source::notifications() {
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
