// The driver's dialogs: DVM_DIALOG opens the video source dialog on the external-input channel
// and the format dialog on the video-input channel; the close of the last channel cancels them.
#pragma once
#include <windows.h>

#include "driver_instance.h"

namespace avi {

DWORD dialogMessage(DriverInstance& driver, DWORD channel, HWND parent, DWORD flags);
// Sends each open dialog the cancel tick (WM_TIMER 0xA5A5) and marks it closed.
void closeDialogs(DriverInstance& driver);

}  // namespace avi
