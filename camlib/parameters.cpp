// The parameter setters and getters: how each argument is limited and cached, and which register it
// reaches. Every setter acts on the acquired camera; with none acquired it does nothing and returns
// 0, and a getter returns the value of a camera with every setting 0.
#include "camera_io.h"
#include "capture_program.h"
#include "camera_mutex.h"
#include "camera_table.h"
#include "cpu_features.h"
#include "library_state.h"
#include "parameter_rules.h"
#include "qrcamlib.h"
#include "quant_table.h"
#include "register_map.h"
#include "tone_table.h"

using namespace camlib;

namespace {

using Field = std::int32_t CameraSettings::*;

const CameraSettings& settingsForReading() {
  static const CameraSettings noCamera{};
  const CameraSettings* settings = currentSettings();
  return settings ? *settings : noCamera;
}

void writeCurrent(Register reg, std::uint32_t value) { writeRegister(currentDevice(), reg, value); }

// Stores the argument and sends the register value derived from it.
template <typename ToRegister>
LONG storeAndWrite(Field field, Register reg, LONG value, ToRegister toRegister) {
  CameraSettings* settings = currentSettings();
  if (!settings) return 0;
  settings->*field = value;
  writeCurrent(reg, toRegister(value));
  return 1;
}

// As storeAndWrite, but a value equal to the stored one does not reach the camera again.
template <typename ToRegister>
LONG storeAndWriteCached(Field field, Register reg, LONG value, ToRegister toRegister) {
  CameraSettings* settings = currentSettings();
  if (!settings) return 0;
  if (settings->*field == value) return 1;
  return storeAndWrite(field, reg, value, toRegister);
}

LONG storeClampedAndWrite(Field field, Register reg, LONG value) {
  const std::int32_t clamped = clampToByte(value);
  return storeAndWrite(field, reg, clamped, [](LONG v) { return static_cast<std::uint32_t>(v); });
}

LONG storeOnly(Field field, LONG value) {
  CameraSettings* settings = currentSettings();
  if (!settings) return 0;
  settings->*field = value;
  return 1;
}

std::uint32_t onOff(LONG value) { return value ? 1u : 0u; }

void sendToneTable(CameraSettings& settings) {
  if (settings.gamma > 255) settings.gamma = 255;
  if (settings.blcLevel > 255) settings.blcLevel = 255;
  const ToneTable table = buildToneTable(settings.gamma, settings.blcLevel);
  writeRegisterTable(currentDevice(), kRegToneTable, table.data());
}

// Gamma and BLC level both shape the tone table.
LONG setToneParameter(Field field, LONG value) {
  CameraSettings* settings = currentSettings();
  if (!settings) return 0;
  const std::int32_t clamped = clampToByte(value);
  if (settings->*field == clamped) return 1;
  settings->*field = clamped;
  sendToneTable(*settings);
  return 1;
}

LONG readCameraRegister(Register reg, Field storedField) {
  HANDLE device = currentDevice();
  if (!device) return settingsForReading().*storedField;
  return static_cast<LONG>(readRegister(device, reg));
}

}  // namespace

extern "C" {

LONG WINAPI QRSetAGCMode(LONG mode) {
  return storeAndWriteCached(&CameraSettings::agcMode, kRegExposureMode, mode, exposureModeRegister);
}
LONG WINAPI QRSetAutoBias(LONG value) { return storeClampedAndWrite(&CameraSettings::autoBias, kRegGain, value); }
LONG WINAPI QRSetAWBEn(LONG enable) {
  return storeAndWrite(&CameraSettings::awbEnabled, kRegAutoWhiteBalance, enable, onOff);
}
LONG WINAPI QRSetBLCEn(LONG level) { return setToneParameter(&CameraSettings::blcLevel, level); }
LONG WINAPI QRSetBlueBal(LONG value) {
  return storeClampedAndWrite(&CameraSettings::blueBalance, kRegBlueBalance, value);
}
LONG WINAPI QRSetChromaSat(LONG value) {
  return storeClampedAndWrite(&CameraSettings::chromaSaturation, kRegChromaSaturation, value);
}
LONG WINAPI QRSetFastGrabEn(LONG enable) { return storeOnly(&CameraSettings::fastGrab, enable); }
LONG WINAPI QRSetFrameTime(LONG value) { return storeOnly(&CameraSettings::frameTime, value); }
LONG WINAPI QRSetGain(LONG value) { return storeClampedAndWrite(&CameraSettings::gain, kRegGain, value); }
LONG WINAPI QRSetGamma(LONG value) { return setToneParameter(&CameraSettings::gamma, value); }

// The flip register depends on the output format current at this call; a front end sets the
// format first and the invert flag after it.
LONG WINAPI QRSetInvertEn(LONG enable) {
  CameraSettings* settings = currentSettings();
  if (!settings) return 0;
  const std::int32_t format = settings->outputFormat;
  return storeAndWriteCached(&CameraSettings::invert, kRegFlip, enable,
                             [format](LONG v) { return flipRegister(v, format); });
}

LONG WINAPI QRSetLEDEn(LONG enable) {
  return storeAndWrite(&CameraSettings::led, kRegLed, enable, [](LONG v) { return v ? kLedOn : 0u; });
}
LONG WINAPI QRSetMirrorEn(LONG enable) {
  return storeAndWriteCached(&CameraSettings::mirror, kRegMirror, enable, onOff);
}

LONG WINAPI QRSetNF(LONG enable) {
  if (!currentSettings()) return 0;
  writeCurrent(kRegNoiseFilterPrepare, kNoiseFilterPrepareValue);
  return storeAndWrite(&CameraSettings::noiseFilter, kRegNoiseFilter, enable,
                       [](LONG v) { return v ? kNoiseFilterOn : 0u; });
}

// The format is stored before the wait: a frame read converts to the new format at once. The
// camera's frame kind follows under the mutex, now or at the next time it is had.
LONG WINAPI QRSetOutputFormat(LONG format) {
  CameraSettings* settings = currentSettings();
  if (!settings) return 0;
  if (static_cast<std::uint32_t>(format) >= static_cast<std::uint32_t>(kOutputFormatCount)) return 0;
  if (settings->outputFormat == format && !(settings->pendingCapture & kPendingFrameKind)) return 1;
  settings->outputFormat = format;
  settings->pendingCapture |= kPendingFrameKind;
  CameraMutexWait wait;
  if (wait.obtained()) sendPendingCaptureProgram(*settings);
  return 1;
}

LONG WINAPI QRSetPowerEn(LONG enable) { return storeAndWrite(&CameraSettings::power, kRegPower, enable, onOff); }

LONG WINAPI QRSetQuality(LONG quality) {
  CameraSettings* settings = currentSettings();
  if (!settings) return 0;
  if (settings->quality == quality) return 1;  // compared before clamping
  settings->quality = clampToByte(quality);
  const auto bytes = quantTableBytes(buildQuantTable(settings->quality));
  writeRegisterTable(currentDevice(), kRegQuantTable, bytes.data());
  return 1;
}

LONG WINAPI QRSetRedBal(LONG value) { return storeClampedAndWrite(&CameraSettings::redBalance, kRegRedBalance, value); }

// Resolution, output size and frame length are stored together before the wait, whatever the
// wait gives: the caller sizes its buffer for the resolution it asked for, and a frame read never
// converts more than that into it. A timed-out wait leaves the capture size pending (see
// capture_program.h), so a repeated call is not taken as cached until the camera has it.
LONG WINAPI QRSetResolution(LONG resolution) {
  CameraSettings* settings = currentSettings();
  if (!settings) return 0;
  if (settings->resolution == resolution && !(settings->pendingCapture & kPendingCaptureSize)) return 1;
  if (resolution < 0 || resolution >= kResolutionCount) return 0;
  const ResolutionMode& mode = kResolutions[resolution];
  settings->resolution = resolution;
  settings->outputWidth = mode.outputWidth;
  settings->outputHeight = mode.outputHeight;
  settings->frameLength = mode.captureWidth * mode.captureHeight * 2;
  settings->pendingCapture |= kPendingCaptureSize;
  CameraMutexWait wait;
  if (wait.obtained()) sendPendingCaptureProgram(*settings);
  return 1;
}

LONG WINAPI QRSetScanFreq(LONG value) { return storeOnly(&CameraSettings::scanFrequency, value); }
LONG WINAPI QRSetSharpness(LONG value) {
  return storeClampedAndWrite(&CameraSettings::sharpness, kRegSharpness, value);
}
LONG WINAPI QRSetShutter(LONG value) {
  return storeAndWrite(&CameraSettings::shutter, kRegShutter, value,
                       [](LONG v) { return static_cast<std::uint32_t>(v); });
}
LONG WINAPI QRSet60HzEn(LONG enable) { return storeAndWrite(&CameraSettings::mains60Hz, kRegMains60Hz, enable, onOff); }

LONG WINAPI QRSetDefaults(void) {
  QRSetAGCMode(1);
  return 1;
}

LONG WINAPI QRGetAGCMode(void) { return settingsForReading().agcMode; }
LONG WINAPI QRGetAutoBias(void) { return settingsForReading().autoBias; }
LONG WINAPI QRGetAWBEn(void) { return settingsForReading().awbEnabled; }
LONG WINAPI QRGetBLCEn(void) { return settingsForReading().blcLevel; }
LONG WINAPI QRGetChromaSat(void) { return settingsForReading().chromaSaturation; }
LONG WINAPI QRGetFastGrabEn(void) { return settingsForReading().fastGrab; }
LONG WINAPI QRGetGain(void) { return settingsForReading().gain; }
LONG WINAPI QRGetGamma(void) { return settingsForReading().gamma; }
LONG WINAPI QRGetInvertEn(void) { return settingsForReading().invert; }
LONG WINAPI QRGetLEDEn(void) { return settingsForReading().led; }
LONG WINAPI QRGetMirrorEn(void) { return settingsForReading().mirror; }
LONG WINAPI QRGetNF(void) { return settingsForReading().noiseFilter; }
LONG WINAPI QRGetOutputFormat(void) { return settingsForReading().outputFormat; }
LONG WINAPI QRGetPowerEn(void) { return settingsForReading().power; }
LONG WINAPI QRGetQuality(void) { return settingsForReading().quality; }
LONG WINAPI QRGetResolution(void) { return settingsForReading().resolution; }
LONG WINAPI QRGetScanFreq(void) { return settingsForReading().scanFrequency; }
LONG WINAPI QRGetSharpness(void) { return settingsForReading().sharpness; }
LONG WINAPI QRGet60HzEn(void) { return settingsForReading().mains60Hz; }

LONG WINAPI QRGetShutter(void) { return readCameraRegister(kRegShutter, &CameraSettings::shutter); }
LONG WINAPI QRGetRedBal(void) { return readCameraRegister(kRegRedBalance, &CameraSettings::redBalance); }
LONG WINAPI QRGetBlueBal(void) { return readCameraRegister(kRegBlueBalance, &CameraSettings::blueBalance); }

LONG WINAPI QRGetGPIn(void) {
  HANDLE device = currentDevice();
  if (!device) return 0;
  return (readRegister(device, kRegGeneralInput) & kButtonBit) ? 1 : 0;
}

LONG WINAPI QRGetFrameTime(LONG* value) {
  if (!value) return 0;
  *value = settingsForReading().frameTime;
  return 1;
}

LONG WINAPI QRSetMMXEn(LONG enable) {
  LibraryBlock& lib = library();
  lib.mmxEnabled = enable && processorHasMmx() ? 1 : 0;
  return lib.mmxEnabled;
}
LONG WINAPI QRGetMMXEn(void) { return library().mmxEnabled; }

LONG WINAPI QRSetPPAEn(LONG) { return 0; }
LONG WINAPI QRGetPPAEn(void) { return 0; }
LONG WINAPI QRSetNegativeEn(LONG) { return 1; }
LONG WINAPI QRSetGPOut(LONG) { return 1; }
LONG WINAPI QRClearGPIn(LONG) { return 1; }
LONG WINAPI QRGetNegativeEn(void) { return 1; }
LONG WINAPI QRGetGPOut(void) { return 1; }
LONG WINAPI QRGetPeakVideo(void) { return 1; }
LONG WINAPI QRWhiteBalance(void) { return 1; }
LONG WINAPI QRGrabFrame(void) { return 1; }
LONG WINAPI QRVideoLineRead(LONG, LONG) { return 1; }
LONG WINAPI QRVideoFrameDecompress(LONG, LONG) { return 1; }
LONG WINAPI QRVideoLineDecompress(LONG, LONG, LONG) { return 1; }

}  // extern "C"
