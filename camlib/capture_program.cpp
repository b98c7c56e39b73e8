#include "capture_program.h"

#include "camera_io.h"
#include "register_map.h"

namespace camlib {

void sendPendingCaptureProgram(CameraSettings& settings) {
  const std::int32_t pending = settings.pendingCapture;
  if (!pending) return;
  HANDLE device = currentDevice();
  writeRegister(device, kRegCaptureRun, 0);
  if ((pending & kPendingCaptureSize) && settings.resolution >= 0 && settings.resolution < kResolutionCount) {
    const ResolutionMode& mode = kResolutions[settings.resolution];
    writeRegister(device, kRegCaptureWidth, mode.captureWidth);
    writeRegister(device, kRegCaptureHeight, mode.captureHeight);
    writeRegister(device, kRegCaptureWidth2, mode.captureWidth);
    writeRegister(device, kRegCaptureHeight2, mode.captureHeight);
    writeRegister(device, kRegCaptureOffsetX, 0);
    writeRegister(device, kRegCaptureOffsetY, 0);
  }
  if (pending & kPendingFrameKind) {
    writeRegister(device, kRegFrameKind, settings.decoderAvailable ? kFrameKindCompressed : 0);
  }
  writeRegister(device, kRegCaptureRun, 1);
  settings.pendingCapture = 0;
}

}  // namespace camlib
