// The per-camera frame resources: the frame buffer, the compressed-frame buffer and the decoder,
// held from QRAcquireLib to QRReleaseLib.
#pragma once
#include "library_state.h"

namespace camlib {

// Creates the decoder and both buffers for a freshly acquired camera and records in
// decoderAvailable whether the decoder could be made. With any of them missing the camera is
// driven for raw frames, and without a frame buffer no frame is read at all.
void createFrameResources(CameraSettings& settings);
// Frees what createFrameResources made (safe to call again, or with nothing made).
void releaseFrameResources(CameraSettings& settings);

}  // namespace camlib
