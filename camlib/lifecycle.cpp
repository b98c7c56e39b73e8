// Library life cycle and the information exports.
#include <cstring>

#include "camera_io.h"
#include "camera_table.h"
#include "cpu_features.h"
#include "frame_capture.h"
#include "library_state.h"
#include "qrcamlib.h"
#include "register_map.h"

using namespace camlib;

namespace {

// The camera's state is unknown after acquisition: these cached fields must not stop the start-up
// values from reaching it.
void invalidateCachedCameraState(CameraSettings& settings) {
  settings.agcMode = -1;
  settings.invert = -1;
  settings.mirror = -1;
  settings.outputFormat = -1;
  settings.resolution = -1;
  settings.pendingCapture = 0;  // the start-up sequence programs everything
}

void writeStartupRegister(Register reg, std::uint32_t value) { writeRegister(currentDevice(), reg, value); }

// The fixed start-up programming of a freshly acquired camera, in the order the camera expects.
void sendStartupSequence(CameraSettings& settings) {
  QRSetPowerEn(1);
  writeStartupRegister(kRegStartup38, 0);
  QRSet60HzEn(1);
  QRSetAGCMode(1);
  QRSetShutter(256);
  writeStartupRegister(kRegShutter, 256);
  QRSetGain(50);
  writeStartupRegister(kRegStartup7, 125);
  QRSetMirrorEn(0);
  QRSetInvertEn(0);
  QRSetSharpness(125);
  QRSetGamma(75);
  QRSetBLCEn(0);
  QRSetChromaSat(125);
  QRSetAWBEn(1);
  QRSetBlueBal(125);
  QRSetRedBal(125);
  QRSetNF(0);
  writeStartupRegister(kRegStartup47, 0);
  writeStartupRegister(kRegStartup45, 0);
  QRSetQuality(250);
  QRSetLEDEn(1);
  writeStartupRegister(kRegStartup11, 614);
  writeStartupRegister(kRegCaptureRun, 0);
  writeStartupRegister(kRegFrameKind, 0);
  QRSetResolution(2);
  settings.outputFormat = -1;
  QRSetOutputFormat(0);
  writeStartupRegister(kRegStartup20, 0);
}

template <typename T>
void writeWords(void* output, const T* words, int count) {
  std::memcpy(output, words, sizeof(T) * count);
}

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD /*reason*/, LPVOID /*reserved*/) { return instance != nullptr; }

LONG WINAPI QRGetLibVersion(WORD* version4) {
  if (!version4) return 0;
  const WORD version[4] = {1, 0, 0, 0};
  writeWords(version4, version, 4);
  return 1;
}

LONG WINAPI QRAcquireLib(void) {
  refreshCameraTable();
  const std::int32_t cameraId = firstFreeCameraId();
  // No free camera: QRFindQuorel reports it. A camera that another process holds is not "no
  // camera" but a camera in use, which the front ends tell apart by this 0.
  if (cameraId == 0) return library().busyDevices > 0 ? 0 : 1;
  if (!acquireCamera(cameraId)) return 0;
  LibraryBlock& lib = library();
  lib.libraryAcquired = true;
  lib.lastError = 0;
  CameraSettings& settings = *currentSettings();
  lib.cpuFeature = processorHasMmx() ? 1 : 0;
  settings.cpuFeature = lib.cpuFeature;
  // Made before the start-up sequence: whether the decoder exists decides, when the output format
  // is set, whether the camera sends compressed or raw frames.
  createFrameResources(settings);
  invalidateCachedCameraState(settings);
  sendStartupSequence(settings);
  return 1;
}

LONG WINAPI QRReleaseLib(void) {
  if (currentDevice()) writeRegister(currentDevice(), kRegCaptureRun, 0);  // stop capture
  // Every index: a camera released with QRReleaseCam keeps its resources until now.
  for (CameraSettings& settings : library().settings) releaseFrameResources(settings);
  releaseCamera();
  library().libraryAcquired = false;
  return 1;
}

LONG WINAPI QRFindQuorel(void) {
  if (library().libraryAcquired) return 1;
  library().lastError = QR_ERROR_NO_CAMERA;
  return 0;
}

LONG WINAPI QRGetQuorelInfo(LONG selector, void* output) {
  if (selector < 1 || selector > 6) return QR_BAD_SELECTOR;
  if (selector == 3) return 1;
  if (!output) return 0;
  if (selector == 4) {
    writeWords(output, &library().lastError, 1);
    return 1;
  }
  const int index = library().currentIndex;
  if (index == kNoCamera) return 0;
  const CameraRecord& record = discovery().records[index];
  switch (selector) {
    case 1: {
      const std::int32_t words[3] = {record.infoWord1, record.busType, library().settings[index].alwaysZero};
      writeWords(output, words, 3);
      return 1;
    }
    case 2: {
      const std::int32_t words[3] = {record.portNumber, record.portAddress, record.portMode};
      writeWords(output, words, 3);
      return 1;
    }
    case 5:
      std::memcpy(output, record.serial, sizeof record.serial);
      return 1;
    default:  // 6
      writeWords(output, &record.deviceId, 1);
      return 1;
  }
}

LONG WINAPI QRGetDriverInfo(QRDriverInfo* info, LONG /*size*/) {
  if (!info) return 0;
  const DriverInfo& driver = discovery().driverInfo;
  info->size = sizeof(QRDriverInfo);
  info->driverType = driver.driverType;
  std::memcpy(info->version, driver.version, sizeof info->version);
  return 1;
}

LONG WINAPI QRGetCamList(CameraListInfo* list) {
  if (!list) return 0;
  refreshCameraTable();
  fillCameraList(*list);
  return 0;
}

LONG WINAPI QRAcquireCam(LONG cameraId) { return acquireCamera(cameraId) ? 1 : 0; }

LONG WINAPI QRReleaseCam(LONG /*unused*/) {
  releaseCamera();
  return 1;
}

}  // extern "C"
