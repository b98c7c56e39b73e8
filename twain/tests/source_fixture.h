// The data source with the virtual camera behind the camera library, reached one of two ways:
//  - through Wine's own source manager (twain_32.dll), as an application reaches it: MSG_OPENDSM,
//    our source chosen from the manager's list, MSG_OPENDS, and every call through DSM_Entry;
//  - straight into DS_Entry of qr3twn.ds loaded from the program's folder, with a recording
//    TWAIN_32.DLL in place of the manager: for what a manager cannot show (calls before any open,
//    and every notification the source sends, including those Wine's manager drops).
// One program uses one way: both are modules called TWAIN_32.DLL.
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

// Copies the built source to where Wine's manager looks for sources (unless it is there already:
// the manager keeps a source loaded after closing it); its DLLs are found beside the program.
void installSource();

class Source : public qrtest::VirtualCameraTest {
 protected:
  enum class Route { kManager, kDirect };
  explicit Source(Route route) : route_(route) {}

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

  // Manager route: the next notification the manager holds for us, as an application's message
  // loop gets it through MSG_PROCESSEVENT (MSG_NULL when there is none).
  TW_UINT16 nextNotification();
  // Direct route: what the recording manager received.
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
  void setUpManager();
  void setUpDirect();

  const Route route_;
  DSMENTRYPROC dsm_ = nullptr;  // manager route
  HMODULE manager_ = nullptr;
  FakeDsmCallCountProc callCount_ = nullptr;
  FakeDsmGetCallProc getCall_ = nullptr;
  FakeDsmClearProc clear_ = nullptr;
};

}  // namespace twaintest
