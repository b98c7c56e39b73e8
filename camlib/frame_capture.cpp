// QRVideoFrameRead: one synchronous fetch, decode and conversion of the next camera frame into the
// caller's buffer, in the output format and size of QRSetOutputFormat and QRSetResolution.
#include "frame_capture.h"

#include <new>

#include "camera_io.h"
#include "camera_mutex.h"
#include "jpeg_decoder.h"
#include "qrcamlib.h"

using namespace camlib;

static_assert(kFrameBufferBytes == qrjpeg::kFrameBufferBytes, "one frame buffer size");

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

constexpr int kDoubledResolution = 5;

// What the frame read works with, taken before it waits for the camera mutex: the caller sized its
// buffer for these, so a resolution or format change made meanwhile by another thread shows only
// in the next frame.
struct FrameRead {
  std::uint8_t* frame;
  std::int32_t frameLength;
  std::int32_t resolution;
  std::int32_t format;
  std::int32_t outputWidth;
  std::int32_t outputHeight;
};

// Fetches the next frame into the frame buffer: through the decoder when there is one, straight
// from the driver otherwise. A failed fetch (or a gone device) returns no bytes; the decoder then
// runs on its previous layout with no input and leaves a flat picture. True when the frame buffer
// now holds a newly written picture (false: it still holds the previous one, already doubled if
// it was).
bool fetchFrame(CameraSettings& settings, const FrameRead& read) {
  const std::uint32_t length = static_cast<std::uint32_t>(read.frameLength);
  if (settings.decoderAvailable) {
    const std::uint32_t wanted = length < kCompressedBufferBytes ? length : kCompressedBufferBytes;
    const std::uint32_t received = requestFrame(currentDevice(), settings.compressedBuffer, wanted);
    settings.decoder->DecodeHeader(settings.compressedBuffer, received, nullptr, nullptr);
    return settings.decoder->DecodeScan(read.frame, kFrameBufferBytes);
  }
  requestFrame(currentDevice(), read.frame, length < kFrameBufferBytes ? length : kFrameBufferBytes);
  return true;
}

// Format 4 is the frame itself: exactly the captured frame length (at resolution 5 the top quarter
// of the doubled picture), which is the capture size's packed frame.
void convertInto(const FrameRead& read, std::uint8_t* destination) {
  int width = read.outputWidth, height = read.outputHeight;
  if (read.format == qrjpeg::kFormatPacked422 && read.resolution == kDoubledResolution) {
    width = read.outputWidth / 2;
    height = read.outputHeight / 2;
  }
  qrjpeg::ConvertFrame(read.format, read.frame, kFrameBufferBytes, width, height, destination,
                       qrjpeg::OutputBytes(read.format, width, height));
}

}  // namespace

extern "C" {

LONG WINAPI QRVideoFrameRead(void* destination) {
  CameraSettings* settings = currentSettings();
  if (!settings || !settings->frameBuffer || !currentDevice()) return 0;
  const FrameRead read = {settings->frameBuffer,  settings->frameLength, settings->resolution,
                          settings->outputFormat, settings->outputWidth, settings->outputHeight};
  // Doubling and conversion happen while the mutex is still held, so that another thread's fetch
  // cannot rewrite the frame buffer halfway through them.
  CameraMutexWait wait;
  // Without the mutex nothing is fetched: the previous frame is converted again.
  const bool newPicture = wait.obtained() && fetchFrame(*settings, read);
  // Only a new 640 x 480 picture is doubled: doubling the previous, already doubled one again would
  // blow its top quarter up to the whole frame.
  if (newPicture && read.resolution == kDoubledResolution) qrjpeg::DoubleFrame(read.frame, kFrameBufferBytes);
  if (destination) convertInto(read, static_cast<std::uint8_t*>(destination));
  return 0;
}

}  // extern "C"
