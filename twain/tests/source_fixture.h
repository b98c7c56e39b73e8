// The data source as an application reaches it: qr3twn.ds loaded from the program's folder and
// called through DS_Entry, with a recording TWAIN_32.DLL in place of the source manager and the
// virtual camera behind the camera library.
#pragma once
#include <windows.h>
#include <gtest/gtest.h>

#include <vector>

#include "fake_dsm.h"
#include "twain.h"
#include "vcam_control.h"

namespace twaintest {

constexpr TW_UINT32 kApplicationId = 7;
constexpr TW_UINT32 kSourceId = 9;

class Source : public qrtest::VirtualCameraTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  TW_UINT16 call(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data);
  TW_UINT16 callAs(TW_IDENTITY& origin, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data);
  // DAT_STATUS / MSG_GET: the condition code (which the call then resets).
  TW_UINT16 conditionCode();
  // The call fails with this condition code.
  void expectFailure(TW_UINT16 condition, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data);

  // Plugs a camera and opens the source (state 4).
  void openWithCamera();
  TW_UINT16 openSource();
  // Opens with a camera and enables without the user interface (state 6, an image ready).
  void acquire();

  std::vector<FakeDsmCall> notifications();
  // The messages of the DG_CONTROL / DAT_NULL notifications, in order.
  std::vector<TW_UINT16> notifiedMessages();

  // A profile saved before the source opens (current profile 0).
  void storeProfile(LONG resolution, LONG format, LONG rotate);

  TW_IDENTITY application_{};
  TW_IDENTITY managerCopy_{};
  HMODULE module_ = nullptr;
  DSENTRYPROC entry_ = nullptr;

 private:
  HMODULE manager_ = nullptr;
  FakeDsmCallCountProc callCount_ = nullptr;
  FakeDsmGetCallProc getCall_ = nullptr;
  FakeDsmClearProc clear_ = nullptr;
};

}  // namespace twaintest
