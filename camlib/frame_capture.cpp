// QRVideoFrameRead: one synchronous fetch, decode and conversion of the next camera frame into the
// caller's buffer, in the output format and size of QRSetOutputFormat and QRSetResolution.
#include "frame_capture.h"

#include <new>

#include "camera_io.h"
#include "camera_mutex.h"
#include "capture_program.h"
#include "frame_path.h"
#include "jpeg_decoder.h"
#include "qrcamlib.h"

using namespace camlib;

namespace camlib {

void createFrameResources(CameraSettings& settings) {
  releaseFrameResources(settings);
  // Zeroed, so a read that fetches nothing before the first good frame converts a defined picture.
  settings.frameBuffer = new (std::nothrow) std::uint8_t[kFrameBufferBytes]();
  settings.compressedBuffer = new (std::nothrow) std::uint8_t[kCompressedBufferBytes];
  settings.decoder = new (std::nothrow) qrjpeg::JpegDecoder(kFrameBufferBytes);
  settings.decoderAvailable = settings.decoder && settings.compressedBuffer ? 1 : 0;
}

void releaseFrameResources(CameraSettings& settings) {
  delete settings.decoder;
  delete[] settings.compressedBuffer;
  delete[] settings.frameBuffer;
  settings.decoder = nullptr;
  settings.compressedBuffer = nullptr;
  settings.frameBuffer = nullptr;
  settings.decoderAvailable = 0;
}

}  // namespace camlib

namespace {

// The driver's frame request on the acquired camera; remembers whether the driver said the device
// is gone.
class DriverFrames : public FrameSource {
 public:
  std::uint32_t fetch(void* buffer, std::uint32_t length) override {
    bool lost = false;
    const std::uint32_t stored = requestFrame(currentDevice(), buffer, length, &lost);
    // A front end learns of a camera that went away from the read's result and from selector 4.
    if (lost) library().lastError = QR_ERROR_CAMERA_LOST;
    gone = gone || lost;
    return stored;
  }
  bool gone = false;
};

}  // namespace

extern "C" {

LONG WINAPI QRVideoFrameRead(void* destination) {
  CameraSettings* settings = currentSettings();
  if (!settings || !settings->frameBuffer || !currentDevice()) return 0;
  const FrameRead read = {settings->frameLength, settings->resolution, settings->outputFormat, settings->outputWidth,
                          settings->outputHeight};
  const FrameStore store = {settings->frameBuffer, settings->decoderAvailable ? settings->compressedBuffer : nullptr,
                            settings->decoderAvailable ? settings->decoder : nullptr};
  // Doubling and conversion happen while the mutex is still held, so that another thread's fetch
  // cannot rewrite the frame buffer halfway through them.
  CameraMutexWait wait;
  // Without the mutex nothing is fetched: the previous frame is converted again. With it, a capture
  // change that could not be sent before goes to the camera first, so this frame already has it.
  DriverFrames driver;
  if (wait.obtained()) sendPendingCaptureProgram(*settings);
  readFrame(wait.obtained() ? &driver : nullptr, store, read, static_cast<std::uint8_t*>(destination));
  // A device that is gone still gives a (flat) picture, but the caller is told: it is the one
  // failure a front end must act on (release the camera, tell the user).
  return driver.gone ? QR_ERROR_CAMERA_LOST : 0;
}

}  // extern "C"
