// NetMeeting's capture-device key for the camera's capture driver, under HKLM
// "Software\Microsoft\Conferencing\CaptureDevices\". NetMeeting reads four REG_DWORD values there;
// the wizard removes the camera's stale keys and writes the camera's key again.
#pragma once
#include <windows.h>

namespace confwizard {

extern const char kCaptureDevicesKey[];  // the parent key, with its trailing backslash
extern const char kDeviceKey[];          // the camera's own key

// The colour value found at start: the low byte of "dwNumColors", sign-extended; 8 when the
// device key cannot be opened, 0 when the value cannot be read.
LONG readInitialColours();

// Deletes every sub-key of the parent key whose name begins with "Quorel" (case-sensitive).
// Returns how many were deleted.
int removeStaleDeviceKeys();

// Creates or opens the device key and writes "dwNumColors" = `colours`, "dwDialogs" 2,
// "dwImageSize" 33555520 and "dwStreamingMode" 1. True when every write succeeded.
bool writeDeviceKey(LONG colours);

}  // namespace confwizard
