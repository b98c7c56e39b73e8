// The out-of-band controls: another process sets values under "OOB Controls" of the "AVI" key and
// flags in "OOB Control Enabled" (1 enabled, 2 apply the values, 4 report the camera's values, 8
// report the button continuously); the driver polls the flags once per frame, acknowledges a
// request by clearing its bit once it is carried out, and writes "Camera ..." values back.
//
// The other process is not trusted with the camera: a value that is missing, of a type the
// settings library does not read as a number, or out of its range leaves the setting as it was or
// is clamped into the range; nothing reaches the camera raw.
#include "driver_values.h"
#include "per_frame_hooks.h"
#include "qrcamlib.h"
#include "quorelreg.h"

namespace avi {

namespace {

const char kFlags[] = "OOB Control Enabled";
const char kValues[] = "OOB Controls";
constexpr LONG kEnabled = 1, kApply = 2, kReport = 4, kReportButton = 8;
constexpr LONG kShutterHighest = 3900;

// Where an out-of-band value goes.
enum class Target { Profile, DigitalOutput, LedMode, Quality, ManualWhiteBalance };

struct OutOfBandValue {
  const char* name;
  Target target;
  profiles::ValueId setting;  // Target::Profile only
  LONG lowest, highest;       // a value outside is clamped into the range
  bool atStartUp;             // also read by applySettings' start-up read
};

constexpr profiles::ValueId kNone{nullptr, 0};

// In the order they are read.
const OutOfBandValue kOutOfBandValues[] = {
    {"AWB Tracking", Target::Profile, AVI_VALUE("AWB Tracking"), 0, 1, true},
    {"Red Balance", Target::Profile, AVI_VALUE("Red Balance"), 0, 255, true},
    {"Blue Balance", Target::Profile, AVI_VALUE("Blue Balance"), 0, 255, true},
    {"Color Saturation", Target::Profile, AVI_VALUE("Color Saturation"), 0, 255, false},
    {"AGC Enable", Target::Profile, AVI_VALUE("ASC Enable"), 0, 15, true},
    {"AGC Bias", Target::Profile, AVI_VALUE("AGC Bias"), 0, 100, true},
    {"Shutter Value", Target::Profile, AVI_VALUE("Shutter Value"), 0, kShutterHighest, true},
    {"Video Gain", Target::Profile, AVI_VALUE("Video Gain"), 0, 255, true},
    {"Gamma Value", Target::Profile, AVI_VALUE("Gamma Value"), 0, 255, true},
    {"Image Sharpness", Target::Profile, AVI_VALUE("Image Sharpness"), 0, 255, false},
    {"Digital Output", Target::DigitalOutput, kNone, 0, 0x7FFFFFFF, true},
    {"Image Quality", Target::Quality, kNone, 0, 2, false},
    {"LED Mode", Target::LedMode, kNone, 0, 3, true},
    {"60Hz Power System", Target::Profile, AVI_VALUE("60Hz Power System"), 0, 1, true},
    {"Negative Enable", Target::Profile, AVI_VALUE("Negative Enable"), 0, 1, true},
    {"Mirror Preview", Target::Profile, AVI_VALUE("Mirror Preview"), 0, 1, true},
    {"Flip Preview", Target::Profile, AVI_VALUE("Flip Preview"), 0, 1, true},
    {"BLC Value", Target::Profile, AVI_VALUE("BLC Value"), 0, 1, true},
    {"Manual AWB", Target::ManualWhiteBalance, kNone, 0, 1, false},
};

LONG clampTo(LONG value, LONG lowest, LONG highest) {
  return value < lowest ? lowest : value > highest ? highest : value;
}

// The scan frequency that goes with a manual shutter.
LONG frequencyFor(LONG shutter) { return shutter > 260 ? 1560000 / shutter : 6000; }

// Qualities 0, 1 and 2 are the camera's 0, 128 and 255; the grey picture at the small sizes is
// always made at the best. Other values leave the quality as it is.
void takeQuality(DriverInstance& driver, LONG asked) {
  profiles::ProfileSettings& p = driver.profile;
  const LONG resolution = p[AVI_VALUE("Resolution")];
  if ((resolution == 6 || resolution == 2 || resolution == 4) && p[AVI_VALUE("Format")] == 1) {
    p[AVI_VALUE("Image Quality")] = 255;
  } else if (asked >= 0 && asked <= 2) {
    static const LONG kQualities[] = {0, 128, 255};
    p[AVI_VALUE("Image Quality")] = kQualities[asked];
  }
}

// Reads the values of one column of the table; returns whether "Manual AWB" asked for a white
// balance. Values that cannot be read keep the current setting (its value is the default).
bool readValues(DriverInstance& driver, bool startUp) {
  bool manualWhiteBalance = false;
  if (!OpenKey(kKeyName, kValues)) return false;
  for (const OutOfBandValue& v : kOutOfBandValues) {
    if (startUp && !v.atStartUp) continue;
    profiles::ProfileSettings& p = driver.profile;
    switch (v.target) {
      case Target::Profile: {
        LONG& setting = p[v.setting];
        setting = clampTo(RegGetVal(v.name, setting), v.lowest, v.highest);
        if (v.setting.position == AVI_VALUE("Shutter Value").position) {
          p[AVI_VALUE("Frequency")] = frequencyFor(setting);
        }
        break;
      }
      case Target::DigitalOutput:
        driver.outOfBand.digitalOutput =
            clampTo(RegGetVal(v.name, driver.outOfBand.digitalOutput), v.lowest, v.highest);
        break;
      case Target::LedMode:
        driver.outOfBand.ledMode = clampTo(RegGetVal(v.name, driver.outOfBand.ledMode), v.lowest, v.highest);
        break;
      case Target::Quality:
        takeQuality(driver, RegGetVal(v.name, -1));
        break;
      case Target::ManualWhiteBalance:
        manualWhiteBalance = RegGetVal(v.name, 0) != 0;
        break;
    }
  }
  CloseKey();
  return manualWhiteBalance;
}

void sendLedMode(DriverInstance& driver) {
  if (driver.outOfBand.ledMode == driver.profile[AVI_VALUE("LED Mode")]) return;
  QRSetLEDEn(driver.outOfBand.ledMode);
  driver.profile[AVI_VALUE("LED Mode")] = driver.outOfBand.ledMode;
}

// The apply request: the values just read go to the camera, in this order.
void applyToCamera(DriverInstance& driver, bool manualWhiteBalance) {
  const profiles::ProfileSettings& p = driver.profile;
  sendLedMode(driver);
  QRSetBLCEn(p[AVI_VALUE("BLC Value")]);
  QRSetAGCMode(p[AVI_VALUE("ASC Enable")]);
  if (p[AVI_VALUE("ASC Enable")] == 0) {
    QRSetScanFreq(frequencyFor(p[AVI_VALUE("Shutter Value")]));
    QRSetShutter(p[AVI_VALUE("Shutter Value")]);
    QRSetGain(p[AVI_VALUE("Video Gain")]);
  } else {
    QRSetAutoBias((p[AVI_VALUE("AGC Bias")] * 255 / 100) & 0xFF);
  }
  QRSetAWBEn(p[AVI_VALUE("AWB Tracking")]);
  if (p[AVI_VALUE("AWB Tracking")] == 0) {
    QRSetRedBal(p[AVI_VALUE("Red Balance")]);
    QRSetBlueBal(p[AVI_VALUE("Blue Balance")]);
  }
  QRSetQuality(p[AVI_VALUE("Image Quality")]);
  QRSetGamma(p[AVI_VALUE("Gamma Value")]);
  QRSetChromaSat(p[AVI_VALUE("Color Saturation")]);
  QRSetSharpness(p[AVI_VALUE("Image Sharpness")]);
  if (driver.outOfBand.digitalOutput < 128) QRSetGPOut(driver.outOfBand.digitalOutput);
  if (manualWhiteBalance) QRWhiteBalance();
}

// Writes a report value, making the sub-key when the other program has not.
bool writeReport(const char* name, LONG value) {
  if (ExtRegSaveVal(kKeyName, kValues, name, value)) return true;
  const bool made = CreateNewKey(kKeyName, kValues) != 0;
  CloseKey();
  return made && ExtRegSaveVal(kKeyName, kValues, name, value);
}

// Writes a camera value when it differs from the one last written.
void report(const char* name, LONG value, LONG& lastWritten) {
  if (value == lastWritten) return;
  if (writeReport(name, value)) lastWritten = value;
}

}  // namespace

void outOfBandStartUpRead(DriverInstance& driver) {
  const LONG flags = ExtRegGetVal(kKeyName, nullptr, kFlags);
  if ((flags & (kEnabled | kApply)) == (kEnabled | kApply)) readValues(driver, true);
}

// A request is acknowledged once it is carried out: an apply after the values went to the camera,
// a report after the values are written (in outOfBandReports), so the other program that sees its
// bit clear finds the camera set, or the values there to read.
void outOfBandFrameStep(DriverInstance& driver) {
  OutOfBandState& state = driver.outOfBand;
  const LONG flags = ExtRegGetVal(kKeyName, nullptr, kFlags);
  state.reportCameraValues = false;
  if (!(flags & kEnabled)) return;
  state.reportCameraValues = (flags & kReport) != 0;
  const bool wasReportingButton = state.reportButton;
  state.reportButton = (flags & kReportButton) != 0;
  // A watcher that has just switched the button report on gets the button's state at once.
  if (state.reportButton && !wasReportingButton) driver.frame.lastReportedButton = -1;
  if (flags & kApply) {
    applyToCamera(driver, readValues(driver, false));
    ExtRegSaveVal(kKeyName, nullptr, kFlags, ExtRegGetVal(kKeyName, nullptr, kFlags) & ~kApply);
  }
}

void outOfBandReports(DriverInstance& driver) {
  FrameState& frame = driver.frame;
  if (driver.outOfBand.reportButton && frame.buttonState != frame.lastReportedButton) {
    if (writeReport("Camera Button Status", frame.buttonState)) {
      frame.lastReportedButton = frame.buttonState;
    }
  }
  if (!driver.outOfBand.reportCameraValues) return;
  const LONG red = QRGetRedBal(), blue = QRGetBlueBal(), gain = QRGetGain(), shutter = QRGetShutter();
  report("Camera Red Balance", red, frame.lastReportedRed);
  report("Camera Blue Balance", blue, frame.lastReportedBlue);
  report("Camera Shutter Value", shutter, frame.lastReportedShutter);
  report("Camera Video Gain", gain, frame.lastReportedGain);
  ExtRegSaveVal(kKeyName, nullptr, kFlags, ExtRegGetVal(kKeyName, nullptr, kFlags) & ~kReport);
  driver.outOfBand.reportCameraValues = false;  // one report a request, also if the next frame is held
}

void outOfBandSwitchOff() {
  if (ExtRegGetVal(kKeyName, nullptr, kFlags) != 0) ExtRegSaveVal(kKeyName, nullptr, kFlags, 0);
}

}  // namespace avi
