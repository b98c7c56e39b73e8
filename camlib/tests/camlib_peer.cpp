// A second process for the camera library's tests. Usage:
//   camlib_peer count                 exit code: the number of cameras in the camera list
//   camlib_peer first-id              exit code: the ID of the first camera in the list
//   camlib_peer hold READY RELEASE release|exit
//       acquires the camera, sets event READY, waits for event RELEASE, then releases the library
//       or exits without releasing; exit code 0, 2 when QRAcquireLib returned 0, 5 when it found
//       no camera
//   camlib_peer hold-mutex READY RELEASE
//       takes the camera mutex "QR3IO", sets event READY, waits for event RELEASE, then lets the
//       mutex go; exit code 0, 3 when an event or the mutex is missing
#include <windows.h>

#include <cstring>

#include "qrcamlib.h"

namespace {

int holdCamera(const char* readyName, const char* releaseName, const char* how) {
  if (QRAcquireLib() != 1) return 2;
  if (QRFindQuorel() != 1) return 5;
  HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, readyName);
  HANDLE release = OpenEventA(SYNCHRONIZE, FALSE, releaseName);
  if (!ready || !release) return 3;
  SetEvent(ready);
  if (WaitForSingleObject(release, 60000) != WAIT_OBJECT_0) return 4;
  if (std::strcmp(how, "release") == 0) QRReleaseLib();
  return 0;  // "exit": the process ends still holding the camera
}

int holdCameraMutex(const char* readyName, const char* releaseName) {
  HANDLE mutex = CreateMutexA(nullptr, FALSE, "QR3IO");
  HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, readyName);
  HANDLE release = OpenEventA(SYNCHRONIZE, FALSE, releaseName);
  if (!mutex || !ready || !release) return 3;
  if (WaitForSingleObject(mutex, 30000) != WAIT_OBJECT_0) return 3;
  SetEvent(ready);
  const bool released = WaitForSingleObject(release, 60000) == WAIT_OBJECT_0;
  ReleaseMutex(mutex);
  return released ? 0 : 4;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "count") == 0) {
    CameraListInfo list;
    QRGetCamList(&list);
    return static_cast<int>(list.cameraCount);
  }
  if (argc == 2 && std::strcmp(argv[1], "first-id") == 0) {
    CameraListInfo list;
    QRGetCamList(&list);
    return list.cameras[0].cameraId;
  }
  if (argc == 5 && std::strcmp(argv[1], "hold") == 0) return holdCamera(argv[2], argv[3], argv[4]);
  if (argc == 4 && std::strcmp(argv[1], "hold-mutex") == 0) return holdCameraMutex(argv[2], argv[3]);
  return 100;
}
