// The camera session: camera start, power on and off, sending the settings, the housekeeping tick,
// the idle step with its cases in order, the grab, the frame read and the display update with
// its frame-rate readout.
#include <cstring>

#include "main_window.h"
#include "qrcamlib.h"
#include "core/result_text.h"
#include "viewer_ids.h"

namespace viewer {

namespace {

constexpr const char kCommunicationLost[] = "Camera communication lost, check I/O connections and restart application";
constexpr const char kPrintPause[] = "Preview paused for print job...";

// The readout for ten frames that took `t` tenths of a second: 1000 / t is ten times the frames a
// second, shown with one decimal.
Rate rateOf(float t) {
  const LONG n = static_cast<LONG>(1000.0f / t);
  return {n / 10, n % 10};
}

}  // namespace

int TBmpViewWindow::cameraMessage(const std::string& text, UINT style, bool owned) {
  return messages_.show(owned ? (frame_ ? frame_->handle() : hwnd_) : nullptr, text, style);
}

void TBmpViewWindow::setStatus(const std::string& text) {
  state_.statusText = text;
  shownStatus_ = text;
  refreshStatusBar();
}

void TBmpViewWindow::setStatusUnlessFile(const std::string& text) {
  if (state_.currentFileName.empty()) setStatus(text);
}

void TBmpViewWindow::playCaptureSound() {
  if (io_[VIEWER_VALUE("Sound Enable")]) environment_.playCaptureSound();
}

void TBmpViewWindow::cameraStart() {
  state_.mmxFlag = 1;
  state_.libraryAcquired = QRAcquireLib();
  if (state_.libraryAcquired != 1) {
    state_.libraryAcquired = 0;
    cameraMessage("Camera is being used by another application, image capture not possible.", MB_ICONEXCLAMATION);
    state_.powerOnFlag = 0;
    state_.cameraFound = 0;
    return;
  }
  QRSetMMXEn(1);
  state_.mmxFlag = QRGetMMXEn();
  QRSetPPAEn(3);
  if (QRFindQuorel() == 0) {
    LONG error = 0;
    QRGetQuorelInfo(4, &error);
    state_.cameraFound = 0;
    QRReleaseLib();
    state_.libraryAcquired = 0;
    connection_ = {};
    if (error == QR_ERROR_NO_CAMERA) {
      const int answer = cameraMessage("Could not detect camera on any Port, check power and I/O connections and Retry",
                                       MB_RETRYCANCEL | MB_ICONEXCLAMATION);
      if (answer == IDRETRY)
        state_.initRequested = 1;
      else
        state_.powerOnFlag = 0;
    } else if (error == 67) {
      cameraMessage("Can not communicate with digital camera, parallel port is in use by another device!",
                    MB_ICONEXCLAMATION);
      state_.powerOnFlag = 0;
    } else {
      cameraMessage(
          ui::format("An Error %d%d encountered in camera driver, exit and retry!\nIf problem continues, note "
                     "the error code and contact technical support.",
                     static_cast<int>((error >> 4) & 15), static_cast<int>(error & 15)),
          MB_ICONEXCLAMATION);
      state_.powerOnFlag = 0;
    }
    return;
  }
  state_.cameraFound = 1;
  connection_ = {};
  connection_.found = true;
  LONG identity[3] = {};
  QRGetQuorelInfo(1, identity);
  if (identity[1] == 1) {
    LONG port[3] = {};  // number, address, mode
    QRGetQuorelInfo(2, port);
    connection_.parallel = true;
    connection_.portNumber = port[0];
    connection_.portAddress = port[1];
    connection_.portMode = port[2];
    if (port[2] == 0 || port[2] == 1) {
      cameraMessage(
          "Printer port is not in high performance EPP or ECP mode! Check System BIOS Setup and change for "
          "increased Camera performance.",
          MB_ICONEXCLAMATION);
    }
  } else {
    QRGetQuorelInfo(3, identity);
    LONG deviceId = 0;
    QRGetQuorelInfo(6, &deviceId);
    char serial[QR_TEXT_SIZE] = "";
    QRGetQuorelInfo(5, serial);
    serial[QR_TEXT_SIZE - 1] = 0;
    connection_.serial = serial;
  }
  io_[VIEWER_VALUE("Noise Filter")] = 5;
}

void TBmpViewWindow::powerOn() {
  setButtonBitmap(CM_POWER, IDB_POWER_ON);
  if (state_.cameraFound) QRSetPowerEn(1);
  applySettings();
  state_.tickCount = 0;
  state_.buttonArmed = 0;
  state_.captureFromButton = 0;
  state_.cameraPowered = 1;
  setStatusUnlessFile("Digital Camera Powered On");
}

void TBmpViewWindow::powerOff() {
  setButtonBitmap(CM_POWER, IDB_POWER_OFF);
  state_.cameraPowered = 0;
  state_.previewOn = 0;
  state_.previewRunning = 0;
  state_.snapshotRequested = 0;
  state_.frameReady = 0;
  state_.captureBusy = 0;
  setStatusUnlessFile("Digital Camera Powered Off");
  if (state_.cameraFound) {
    QRSetLEDEn(0);
    QRSetPowerEn(0);
    if (state_.libraryAcquired) {
      state_.libraryAcquired = 0;
      QRReleaseLib();
    }
  }
  panels_.closeAll();
}

void TBmpViewWindow::setLedFromSettings() {
  QRSetLEDEn(io_[VIEWER_VALUE("LED Enable")] ? io_[VIEWER_VALUE("LED Mode")] : 0);
}

void TBmpViewWindow::applySettings() {
  TQRViewIO& p = io_;
  state_.settingsApplied = 0;
  QRSetFastGrabEn(0);
  QRSetSharpness(p[VIEWER_VALUE("Image Sharpness")]);
  QRSet60HzEn(p[VIEWER_VALUE("60Hz Power System")]);
  QRSetScanFreq(p[VIEWER_VALUE("Frequency")]);
  QRSetShutter(p[VIEWER_VALUE("Shutter Value")]);
  QRSetGain(p[VIEWER_VALUE("Video Gain")]);
  QRSetChromaSat(p[VIEWER_VALUE("Saturation")]);
  QRSetRedBal(p[VIEWER_VALUE("Red Balance")]);
  QRSetBlueBal(p[VIEWER_VALUE("Blue Balance")]);
  QRSetInvertEn(p[VIEWER_VALUE("Invert Durning Preview")]);
  QRSetMirrorEn(p[VIEWER_VALUE("Mirror Durning Preview")]);
  QRSetGamma(p[VIEWER_VALUE("Gamma Value")]);
  QRSetNF(p[VIEWER_VALUE("Noise Filter")] * 8);
  if (p[VIEWER_VALUE("ASC Enable")] == 1) p[VIEWER_VALUE("ASC Enable")] = 3;
  QRSetAGCMode(p[VIEWER_VALUE("ASC Enable")]);
  QRSetAutoBias(static_cast<LONG>((static_cast<DWORD>(p[VIEWER_VALUE("AGC Bias")]) * 255u / 100u) & 255u));
  QRClearGPIn(1);
  QRSetQuality(p[VIEWER_VALUE("Image Quality")]);
  QRSetAWBEn(p[VIEWER_VALUE("AWB Tracking")]);
  setLedFromSettings();
  QRSetBLCEn(p[VIEWER_VALUE("Back Light")]);
  QRSetNegativeEn(p[VIEWER_VALUE("Negative Image")]);
  state_.settingsApplied = 1;
}

void TBmpViewWindow::housekeepingTick() {
  delayedTimerTick();
  if (state_.tickCount < 32) ++state_.tickCount;
  if (state_.cameraFound && state_.cameraPowered) {
    if (state_.tickCount < 6) QRClearGPIn(1);  // presses in the first two seconds are discarded
  }
  state_.buttonArmed = state_.cameraFound && state_.cameraPowered && state_.tickCount > 6;
  if (!state_.commandLineFileOpened && state_.cameraFound && state_.cameraPowered && state_.tickCount > 3 &&
      state_.autoPreviewArmed) {
    state_.previewOn = 1;
    state_.autoPreviewArmed = 0;
  }
  refreshCommandStates();
}

// Step 11: the camera's push button. False when the camera left the powered state.
bool TBmpViewWindow::pushButtonStep() {
  if (state_.buttonState == 0) {
    LONG reading = QRGetGPIn();
    LONG lost = 0;
    QRGetQuorelInfo(4, &lost);
    if (reading == 0 && lost == QR_ERROR_CAMERA_LOST) reading = lost;
    if (reading == 67) {
      if (state_.previewOn) setStatus(kPrintPause);
      environment_.pause(500);
      reading = 0;
    } else if (reading == 21) {
      powerOff();
      state_.powerOnFlag = 0;
      return false;
    } else if (reading > 15) {
      cameraLost();
      return false;
    }
    state_.buttonState = reading & 1;
  } else {
    state_.buttonState = 0;
    environment_.pause(200);
    QRClearGPIn(1);
  }
  return true;
}

void TBmpViewWindow::cameraLost() {
  powerOff();
  state_.powerOnFlag = 0;
  cameraMessage(kCommunicationLost, MB_ICONEXCLAMATION, false);
}

bool TBmpViewWindow::IdleAction() {
  ViewerState& s = state_;
  bool worked = false;
  // 1, 2: the profile manager's requests; both fall through.
  if (s.profileLoadRequest) {
    const LONG fastGrab = QRGetFastGrabEn();
    if (s.profileLoadRequest == 2) {
      const LONG profile = io_.settings.currentProfile;
      io_.loadFactoryDefaults();
      io_.settings.currentProfile = profile;
    } else {
      io_.profileCheck();
    }
    if (s.cameraPowered) {
      applySettings();
      QRSetFastGrabEn(fastGrab);
    }
    panels_.requestRefresh(kRefreshAll);
    if (frame_) SetFocus(hwnd_);
    s.profileLoadRequest = 0;
    worked = true;
  }
  if (s.profileSaveRequest) {
    panels_.storePositions();
    if (frame_) {
      RECT frame;
      GetWindowRect(frame_->handle(), &frame);
      io_[VIEWER_VALUE("Main Window Left")] = frame.left;
      io_[VIEWER_VALUE("Main Window Top")] = frame.top;
      io_[VIEWER_VALUE("Main Window Width")] = frame.right - frame.left;
      io_[VIEWER_VALUE("Main Window Height")] = frame.bottom - frame.top;
    }
    if (s.cameraFound && s.libraryAcquired) {
      io_[VIEWER_VALUE("Shutter Value")] = QRGetShutter();
      io_[VIEWER_VALUE("Video Gain")] = QRGetGain();
      io_[VIEWER_VALUE("Red Balance")] = QRGetRedBal();
      io_[VIEWER_VALUE("Blue Balance")] = QRGetBlueBal();
    }
    io_.save();
    s.profileSaveRequest = 0;
    worked = true;
  }
  if (s.initRequested && s.powerOnFlag) {  // 3
    s.initRequested = 0;
    cameraStart();
    if (s.cameraFound)
      powerOn();
    else
      powerOff();
    refreshCommandStates();
    return true;
  }
  if (s.fileFromCommandLine) {  // 4
    s.fileFromCommandLine = 0;
    openCommandLineFile();
    s.commandLineFileOpened = 1;
    refreshCommandStates();
    return true;
  }
  if (s.cameraFound && !s.fileFromCommandLine && s.autoPreviewPending) {  // 5 (no work)
    s.autoPreviewArmed = 1;
    s.autoPreviewPending = 0;
  }
  if (s.pendingPrintError) {  // 6
    s.lastError = s.pendingPrintError;
    s.pendingPrintError = 0;
    reportError();
    return true;
  }
  if (panels_.idleStep()) {  // 7
    refreshCommandStates();
    return true;
  }
  if (imageRequestStep()) {  // 8
    refreshCommandStates();
    return true;
  }
  if (io_[VIEWER_VALUE("Format")] != formatShown_) {  // 9
    formatShown_ = io_[VIEWER_VALUE("Format")];
    setButtonBitmap(CM_COLOUR_MODE, formatShown_ ? IDB_COLOUR_MODE_BW : IDB_COLOUR_MODE_RGB);
    return true;
  }
  if (!s.cameraPowered || !s.cameraFound || !s.settingsApplied) return worked;  // 10
  if (!pushButtonStep()) {                                                      // 11
    refreshCommandStates();
    return true;
  }
  if (s.buttonState == 1 && s.buttonArmed) {  // 12
    s.captureFromButton = 1;
    const LONG buttonMode = io_[VIEWER_VALUE("Preview Button Control Mode")];
    if (!s.snapshotRequested && !buttonMode && !s.previewOn && !s.previewRunning)
      s.snapshotRequested = 1;
    else if (s.previewOn && s.previewRunning)
      s.previewOn = 0;
    else if (buttonMode && !s.previewOn && !s.previewRunning)
      s.previewOn = 1;
  }
  const char* const captureText = s.captureFromButton ? "Snap Shot" : "Captured Frame";
  if (s.snapshotRequested && !s.captureBusy) {  // 13
    s.captureBusy = 1;
    s.snapshotRequested = 0;
    keepUndoCopy();
    playCaptureSound();
    s.statusText = captureText;
    QRSetQuality(255);
    QRSetFastGrabEn(0);
    grab();
    if (s.frameReady) frameRead();
    s.previewOn = 0;
    s.previewRunning = 0;
    displayUpdate();
    s.captureFromButton = 0;
    s.captureBusy = 0;
  } else if (s.previewOn && !s.previewRunning) {  // 14
    s.previewRunning = 1;
    s.snapshotRequested = 0;
    QRSetQuality(io_[VIEWER_VALUE("Image Quality")]);
    QRSetFastGrabEn(1);
    keepUndoCopy();
    s.statusText = "Preview Mode";
    rateStart_ = environment_.now();
    frameCounter_ = 0;
    bestFrameTime_ = 1000.0f;
    grab();
    if (s.frameReady) frameRead();
    displayUpdate();
    s.captureFromButton = 0;
  } else if (s.previewOn && s.previewRunning && !s.captureBusy && !s.printJobActive) {  // 15
    s.captureBusy = 1;
    s.statusText = "Preview Mode";
    grab();
    if (s.frameReady) frameRead();
    if (s.cameraPowered) displayUpdate();
    s.captureBusy = 0;
  } else if (s.previewRunning && !s.previewOn) {  // 16
    s.previewRunning = 0;
    QRSetQuality(255);
    QRSetFastGrabEn(0);
    s.statusText = captureText;
    playCaptureSound();
    grab();
    if (s.frameReady) frameRead();
    displayUpdate();
    s.captureFromButton = 0;
  } else if (s.previewOn && s.previewRunning && s.printJobActive) {  // 17
    setStatus(kPrintPause);
  } else if (s.redrawRequested && !s.captureBusy) {  // 18
    s.captureBusy = 1;
    s.redrawRequested = 0;
    QRSetQuality(255);
    keepUndoCopy();
    s.statusText = "Image Redraw";
    if (s.frameReady) frameRead();
    displayUpdate();
    s.captureBusy = 0;
  } else {  // 19
    return worked;
  }
  refreshCommandStates();
  return true;
}

void TBmpViewWindow::grab() {
  ViewerState& s = state_;
  s.frameReady = 0;
  if (io_[VIEWER_VALUE("ASC Enable")] == 0) QRSetGain(io_[VIEWER_VALUE("Video Gain")] & 255);
  const DWORD start = environment_.now();
  bool grabbed = false;
  for (LONG attempt = 0; attempt < 65535 && !grabbed; ++attempt) {
    grabbed = QRGrabFrame() != 0;
    // Checked every 256 calls, so the bound costs nothing while the camera answers.
    if (!grabbed && (attempt & 255) == 255 && environment_.now() - start >= kGrabTimeLimitMs) break;
  }
  if (!grabbed) {
    s.initRequested = 1;
    s.previewOn = 0;
    s.previewRunning = 0;
    s.cameraFound = 0;
    s.libraryAcquired = 0;
    QRReleaseLib();
    return;
  }
  s.currentFileName.clear();
  s.frameReady = 1;
}

// The camera's packed rows of `delivered` pixels moved to the picture's own rows (bottom row first
// in memory, as both are), the columns beyond them black; shown as they came, each row would start
// where the previous one should have ended, and the picture would lean.
void spreadNarrowRows(ImageDescriptor& image, LONG delivered) {
  const LONG width = image.bmh->biWidth, height = image.bmh->biHeight;
  const LONG bytes = image.bmh->biBitCount / 8;
  if (delivered >= width || bytes <= 0) return;
  const std::size_t packed = static_cast<std::size_t>(delivered) * bytes;
  for (LONG row = height - 1; row >= 0; --row) {  // from the last, so no row is overwritten unread
    BYTE* to = image.ibuff + static_cast<std::size_t>(row) * image.buffwidth;
    std::memmove(to, image.ibuff + row * packed, packed);
    std::memset(to + packed, 0, image.buffwidth - packed);
  }
}

bool TBmpViewWindow::keepUndoCopy() {
  state_.lastError = 0;
  if (!current_.bmh) return true;
  const LONG width = current_.bmh->biWidth, height = current_.bmh->biHeight, bits = current_.bmh->biBitCount;
  if (!undo_.bmh || undo_.bmh->biWidth != width || undo_.bmh->biHeight != height || undo_.bmh->biBitCount != bits) {
    if (undo_.bmh) freeimage(&undo_);
    undo_ = {};
    const LONG code = allocimage(&undo_, width, height, bits);
    if (code != 0) {
      undo_ = {};
      state_.lastError = code;
      return false;
    }
  }
  copyimage(&current_, &undo_);
  ops_.undoStatus = state_.statusText;
  return true;
}

void TBmpViewWindow::frameRead() {
  ViewerState& s = state_;
  s.imageSaved = 0;
  const LONG format = io_[VIEWER_VALUE("Format")];
  LONG resolution = io_[VIEWER_VALUE("Resolution")];
  if (resolution < 0 || resolution >= kResolutionCount) resolution = 0;
  QRSetOutputFormat(format);
  QRSetResolution(resolution);
  const FrameSize size = kResolutionSizes[resolution];
  const LONG bits = format == 1 ? 8 : 24;
  if (!current_.bmh || current_.bmh->biWidth != size.width || current_.bmh->biHeight != size.height ||
      current_.bmh->biBitCount != bits || rebuildRequested_) {
    if (current_.bmh) freeimage(&current_);
    current_ = {};
    rebuildRequested_ = false;
    const LONG code = allocimage(&current_, size.width, size.height, bits);
    if (code != 0) {
      s.previewOn = 0;
      s.previewRunning = 0;
      current_ = {};
      s.lastError = code;
      reportError();
      return;
    }
  }
  if (io_[VIEWER_VALUE("Preview Rotate Flag")] == 4) {
    QRSetInvertEn(io_[VIEWER_VALUE("Invert Durning Preview")]);
    QRSetMirrorEn(!io_[VIEWER_VALUE("Mirror Durning Preview")]);
  } else {
    QRSetInvertEn(!io_[VIEWER_VALUE("Invert Durning Preview")]);
    QRSetMirrorEn(io_[VIEWER_VALUE("Mirror Durning Preview")]);
  }
  LONG code = QRVideoFrameRead(current_.ibuff);
  if (resolution == kSubQuarterIndex) spreadNarrowRows(current_, kSubQuarterDeliveredWidth);
  if (code == 0) {
    // The library's read always gives 0; a camera that did not answer leaves its mark in the last
    // error instead.
    LONG lost = 0;
    QRGetQuorelInfo(4, &lost);
    if (lost == QR_ERROR_CAMERA_LOST) code = lost;
  }
  if (io_[VIEWER_VALUE("Negative Image")]) {
    keepUndoCopy();
    if (negative(&current_, &current_) != 0 && undo_.bmh) copyimage(&undo_, &current_);
  }
  if (code == 0) return;
  if (code == 67) {
    if (s.previewOn) setStatus(kPrintPause);
    environment_.pause(500);
  } else if (code == 21) {
    powerOff();
    s.powerOnFlag = 0;
  } else {
    cameraLost();
  }
}

void TBmpViewWindow::displayUpdate() {
  ViewerState& s = state_;
  ops_.clipShown = false;
  if (current_.bmh) {
    buildDisplayImage();
  }
  if (current_.bmh) {
    shownStatus_ = ui::format("%s (%d x %d x %d)", s.statusText.c_str(), static_cast<int>(current_.bmh->biWidth),
                              static_cast<int>(current_.bmh->biHeight), static_cast<int>(current_.bmh->biBitCount));
  }
  const DWORD now = environment_.now();
  if (!s.previewOn) {
    frameCounter_ = 0;
    rateStart_ = now;
  } else if (frameCounter_ < 9) {
    ++frameCounter_;
  } else {
    frameCounter_ = 0;
    const float t = static_cast<float>(now - rateStart_) * 0.01f;
    rateStart_ = now;
    if (t != 0.0f) {
      current_rate_ = rateOf(t);
      if (t < bestFrameTime_) {
        bestFrameTime_ = t;
        peak_rate_ = rateOf(t);
      }
    }
  }
  if (current_.bmh) {
    shownStatus_ += ui::format("     Current FPS = %d.%d, Peak FPS = %d.%d", static_cast<int>(current_rate_.whole),
                               static_cast<int>(current_rate_.tenth), static_cast<int>(peak_rate_.whole),
                               static_cast<int>(peak_rate_.tenth));
  } else {
    shownStatus_.clear();
  }
  refreshStatusBar();
  panels_.displayUpdated();
  updateScrollRange();
  if (hwnd_) InvalidateRect(hwnd_, nullptr, FALSE);
}

void TBmpViewWindow::freeDisplayImage() {
  if (display_.bmh) freeimage(&display_);
  display_ = {};
}

// The current image turned for the preview rotations of a quarter turn, and the 8-bit copy that
// displays of 8 bits or fewer show.
void TBmpViewWindow::buildDisplayImage() {
  freeDisplayImage();
  const LONG rotation = io_[VIEWER_VALUE("Preview Rotate Flag")];
  if ((rotation & 3) && !ops_.clipMark && !ops_.manualRotationMark && !ops_.operationMark) {
    keepUndoCopy();
    if (undo_.bmh) {
      const LONG width = undo_.bmh->biWidth, height = undo_.bmh->biHeight, bits = undo_.bmh->biBitCount;
      freeimage(&current_);
      current_ = {};
      LONG code = allocimage(&current_, height, width, bits);
      if (code == 0) code = rotate90(rotation == 1 ? 0 : 1, &undo_, &current_);
      if (code == 0) code = copyimagepalette(&undo_, &current_);
      if (code != 0) {  // the picture as it was
        if (current_.bmh) freeimage(&current_);
        current_ = {};
        if (allocimage(&current_, width, height, bits) == 0) {
          copyimage(&undo_, &current_);
        } else {
          current_ = {};
          return;
        }
      }
    }
  }
  const LONG bits = current_.bmh->biBitCount;
  if (bits == 24 && displayBits_ == 8) {
    if (allocimage(&display_, current_.bmh->biWidth, current_.bmh->biHeight, 8) != 0) {
      display_ = {};
      return;
    }
    // During preview a fixed palette and nearest-colour matching, rather than a palette worked
    // out for every frame.
    const LONG code = state_.previewOn ? (rainbowpalette(&display_) == 0 ? matchcolorimage(&current_, &display_) : -1)
                                       : convertrgbtopal(256, &current_, &display_);
    if (code != 0) freeDisplayImage();
  } else if ((current_.colors == 0 || current_.colors == 256) && displayBits_ < 8) {
    if (allocimage(&display_, current_.bmh->biWidth, current_.bmh->biHeight, 8) != 0) {
      display_ = {};
      return;
    }
    if (colordither(&current_, &display_, 0) != 0) freeDisplayImage();
  }
}

void TBmpViewWindow::reportError() {
  const LONG code = state_.lastError;
  if (code != 0) {
    messages_.show(frame_ ? frame_->handle() : hwnd_, vic::resultText(code), MB_ICONSTOP, "Camera Error");
  }
  state_.captureBusy = 0;
}

}  // namespace viewer
