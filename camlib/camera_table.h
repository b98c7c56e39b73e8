// The table of cameras this process has seen: discovery, refresh, and taking and giving back the
// exclusive hold on one camera.
#pragma once
#include <cstdint>

#include "qrcamlib.h"

namespace camlib {

// Finds cameras that appeared and drops those that went away.
void refreshCameraTable();
bool tableInitialised();

// The camera with this ID becomes the current one: device open, mutex "QR3IO" created. False when
// a camera is already acquired, the ID is unknown or in use, or the camera does not answer.
bool acquireCamera(std::int32_t cameraId);
void releaseCamera();

// The first camera not in use: USB ones before parallel-port ones; 0 when none.
std::int32_t firstFreeCameraId();

void fillCameraList(CameraListInfo& list);

}  // namespace camlib
