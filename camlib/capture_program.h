// The capture programming of the camera (stop, capture size, frame kind, restart), which is sent
// only while the camera mutex "QR3IO" is held.
//
// A resolution or output-format change stores what the caller asked for at once, whether or not it
// gets the mutex: the caller sizes its buffers by it, and a frame read converts into exactly that
// size. What the change could not send for want of the mutex stays pending and goes to the camera
// the next time the mutex is had (a frame read, or the next change).
#pragma once
#include <cstdint>

#include "library_state.h"

namespace camlib {

enum : std::int32_t {
  kPendingCaptureSize = 1,  // registers 27-32 for the stored resolution
  kPendingFrameKind = 2,    // register 10: compressed frames when the decoder is there
};

// Sends what is pending, framed by a capture stop and restart, and clears it; nothing when
// nothing is pending. The caller holds the camera mutex.
void sendPendingCaptureProgram(CameraSettings& settings);

}  // namespace camlib
