// The work around every frame read (the camera button, the grab, the read into the client's buffer
// and the lost-camera rule) and applySettings, the full configuration of the camera from the
// profile.
#include "driver_values.h"
#include "per_frame_hooks.h"
#include "qrcamlib.h"

namespace avi {

namespace {

bool isCommunicationLoss(LONG status) { return status == 35 || status == 19 || status == 18; }

void setLed(const DriverInstance& driver, bool holding) {
  const LONG mode = driver.profile[AVI_VALUE("LED Mode")];
  QRSetLEDEn(holding ? (mode & 1) : mode);
}

}  // namespace

void applySettings(DriverInstance& driver) {
  outOfBandStartUpRead(driver);
  const profiles::ProfileSettings& p = driver.profile;
  if (!driver.dialogs.keepExposure) {
    QRSet60HzEn(p[AVI_VALUE("60Hz Power System")]);
    QRSetScanFreq(p[AVI_VALUE("Frequency")]);
    QRSetShutter(p[AVI_VALUE("Shutter Value")]);
    QRSetGain(p[AVI_VALUE("Video Gain")]);
    QRSetRedBal(p[AVI_VALUE("Red Balance")]);
    QRSetBlueBal(p[AVI_VALUE("Blue Balance")]);
  }
  if (driver.outOfBand.ledMode != p[AVI_VALUE("LED Mode")]) {
    QRSetLEDEn(driver.outOfBand.ledMode);
    driver.profile[AVI_VALUE("LED Mode")] = driver.outOfBand.ledMode;
  }
  QRSetChromaSat(p[AVI_VALUE("Color Saturation")]);
  QRSetInvertEn(1);
  QRSetMirrorEn(0);
  QRSetAGCMode(driver.frame.buttonHold ? 0 : p[AVI_VALUE("ASC Enable")]);
  QRSetAWBEn(p[AVI_VALUE("AWB Tracking")]);
  QRSetSharpness(p[AVI_VALUE("Image Sharpness")]);
  QRSetQuality(p[AVI_VALUE("Image Quality")]);
  QRSetBLCEn(p[AVI_VALUE("BLC Value")]);
  QRSetGamma(p[AVI_VALUE("Gamma Value")]);
  if (p[AVI_VALUE("ASC Enable")] == 0) {
    QRSetGain(p[AVI_VALUE("Video Gain")]);
  } else {
    QRSetAutoBias((p[AVI_VALUE("AGC Bias")] * 255 / 100) & 0xFF);
  }
  driver.timed.active = timedProfilesActive(driver);
  QRSetNegativeEn(p[AVI_VALUE("Negative Enable")]);
  QRSetNF(driver.noiseFilter * 8);
}

void prepareFrame(DriverInstance& driver) {
  FrameState& frame = driver.frame;
  const LONG mode = driver.live[AVI_VALUE("Grab Button")];
  LONG input = QRGetGPIn();
  QRClearGPIn(1);
  if (input < 15) {
    input &= 1;
    frame.buttonState = input;
  }
  if (mode == 0) {
    frame.buttonHold = false;
  } else if (input != 0) {
    frame.buttonHold = !frame.buttonHold;
    if (driver.live[AVI_VALUE("LED Enable")]) setLed(driver, frame.buttonHold);
  }
  if (frame.buttonHold) {
    QRSetAGCMode(0);
  } else {
    outOfBandFrameStep(driver);
    // The sharpness goes to the camera when it is not what the camera library last sent (every
    // change of it goes through the library, which keeps it): a camera request a frame saved.
    const LONG sharpness = driver.profile[AVI_VALUE("Image Sharpness")];
    if (QRGetSharpness() != sharpness) QRSetSharpness(sharpness);
    QRGrabFrame();
  }
  frame.frameReady = true;
  timedProfileStep(driver);
}

LONG readFrame(DriverInstance& driver, void* buffer) {
  const LONG status = readIntoBuffer(driver.format, driver.live, buffer);
  outOfBandReports(driver);
  if (status != 0 && status != 67 && driver.cameraPresent) {
    if (driver.profile[AVI_VALUE("ErrorMessages")] && isCommunicationLoss(status)) {
      MessageBoxExA(nullptr, "Camera communication lost, check I/O connections and restart application", kCaption,
                    MB_ICONEXCLAMATION, 0);
    }
    driver.cameraPresent = false;
    driver.libraryStatus = 0;
    QRReleaseLib();
  }
  return status;
}

}  // namespace avi
