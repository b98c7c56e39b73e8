// The source and format dialogs are not built yet: DVM_DIALOG answers DV_ERR_NOTSUPPORTED on every
// channel, also to VIDEO_DLG_QUERY, so that a capture application does not offer a dialog that
// cannot open. The close of the last channel already cancels open dialogs.
#include "dialogs.h"

namespace avi {

namespace {
constexpr WPARAM kCancelTimerId = 0xA5A5;
}

DWORD dialogMessage(DriverInstance&, DWORD, HWND, DWORD) { return DV_ERR_NOTSUPPORTED; }

void closeDialogs(DriverInstance& driver) {
  DialogState& dialogs = driver.dialogs;
  if (dialogs.sourceDialogOpen) {
    SendMessageA(dialogs.sourceDialogWindow, WM_TIMER, kCancelTimerId, 0);
    dialogs.sourceDialogOpen = false;
  }
  if (dialogs.formatDialogOpen) {
    SendMessageA(dialogs.formatDialogWindow, WM_TIMER, kCancelTimerId, 0);
    dialogs.formatDialogOpen = false;
  }
}

}  // namespace avi
