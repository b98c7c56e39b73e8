// The camera mutex "QR3IO": frame reads and capture-state changes (resolution, output format) of
// every thread and process wait for it at most 3,000 ms.
#pragma once
#include <windows.h>

#include "library_state.h"

namespace camlib {

// Holds the camera mutex "QR3IO" (of the acquired camera) for a frame read or a capture-state
// change, if it can be had within 3 s; with no camera acquired it holds nothing.
class CameraMutexWait {
 public:
  CameraMutexWait() {
    const int index = library().currentIndex;
    mutex_ = index == kNoCamera ? nullptr : discovery().slots[index].mutex;
    if (!mutex_) return;
    const DWORD wait = WaitForSingleObject(mutex_, kCameraMutexTimeoutMs);
    obtained_ = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
  }
  ~CameraMutexWait() {
    if (obtained_) ReleaseMutex(mutex_);
  }
  CameraMutexWait(const CameraMutexWait&) = delete;
  CameraMutexWait& operator=(const CameraMutexWait&) = delete;
  bool obtained() const { return obtained_; }

 private:
  HANDLE mutex_ = nullptr;
  bool obtained_ = false;
};

}  // namespace camlib
