// The state of the picture operations: the clip rectangle and its drag, the requests the dialogs
// leave for the idle step, the marks the display update reads and the delayed timer.
#pragma once
#include <windows.h>

#include <string>

namespace viewer {

struct ImageOps {
  // The clip rectangle in picture coordinates, and its drag.
  RECT clip = {};
  POINT anchor = {}, last = {-1, -1};
  bool clipShown = false, dragging = false, anchorValid = false;
  // Marks for one display update: the picture was clipped or turned by hand, so the preview
  // rotation is not applied on top.
  bool clipMark = false, manualRotationMark = false;
  // The display update after work on a picture already shown: the preview rotation turns camera
  // frames only, not every picture that is worked on again.
  bool operationMark = false;
  std::string undoStatus;  // the status text kept with the undo copy
  // Requests from the dialogs, carried out by the idle step.
  bool resizeRequested = false;
  LONG resizeWidth = 0, resizeHeight = 0;
  LONG brightnessRequest = 0;  // a signed percentage; 0 is none
  bool colourRequested = false;
  LONG red = 100, green = 100, blue = 100;
  // The delayed timer.
  bool timerRunning = false;
  LONG timerSeconds = 5, timerTicks = 0, timerCount = 0, ledState = 0;
  bool previewDuringTimer = true;
  HWND gauge = nullptr;
};

// The delay's length in housekeeping ticks.
inline LONG delayTicks(LONG seconds) { return seconds * 12 / 5; }

// Whether `id` is one of the picture commands, which image_ops.cpp enables and carries out.
bool isImageCommand(int id);

}  // namespace viewer
