// The viewer's state: what the camera session, the commands and the painting share. Every field
// is a 32-bit number, most of them used as flags.
#pragma once
#include <windows.h>

#include <string>

namespace viewer {

struct ViewerState {
  LONG cameraFound = 0;
  LONG libraryAcquired = 0;
  LONG cameraPowered = 0;
  LONG powerOnFlag = 0;  // the user wants the camera on
  LONG initRequested = 1;
  LONG settingsApplied = 0;
  LONG previewOn = 0;
  LONG previewRunning = 0;
  LONG snapshotRequested = 0;
  LONG redrawRequested = 0;
  LONG captureBusy = 0;
  LONG frameReady = 0;
  LONG captureFromButton = 0;
  LONG buttonState = 0;
  LONG buttonArmed = 0;
  LONG tickCount = 0;  // housekeeping ticks since power-on, up to 32
  LONG autoPreviewPending = 0;
  LONG autoPreviewArmed = 0;
  LONG fileFromCommandLine = 0;
  LONG commandLineFileOpened = 0;
  LONG printJobActive = 0;
  LONG defaultPrinterPresent = 0;
  LONG imageSaved = 1;
  LONG configChanged = 0;
  LONG lastError = 0;
  LONG pendingPrintError = 0;  // the last print job's code, for the idle step to report
  LONG mmxFlag = 0;            // the library's MMX flag after asking for it: the processor has MMX
  // Requests from the profile manager: 1 load the current profile, 2 factory values.
  LONG profileLoadRequest = 0;
  LONG profileSaveRequest = 0;
  std::string statusText;
  std::string currentFileName;
};

// The size of each "Resolution" index.
struct FrameSize {
  LONG width, height;
};
constexpr FrameSize kResolutionSizes[] = {{640, 480}, {320, 240},  {160, 120}, {352, 288},
                                          {176, 144}, {1280, 960}, {128, 96}};
constexpr LONG kResolutionCount = 7;
// At index 6 the camera delivers rows of 120 pixels, packed, into the 128-pixel picture.
constexpr LONG kSubQuarterIndex = 6;
constexpr LONG kSubQuarterDeliveredWidth = 120;
// The command of each "Resolution" index.
constexpr int kResolutionCommands[] = {801, 802, 803, 51682, 51683, 809, 9073};

}  // namespace viewer
