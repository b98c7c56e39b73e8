// The frame path of QRVideoFrameRead below the device and the camera mutex: fetch one frame into
// the frame buffer (through the decoder when there is one), double it for resolution 5 and convert
// it into the caller's buffer. No Win32: the frames come from a FrameSource, which is the driver's
// frame request in the library and anything a test or fuzz target likes elsewhere.
#pragma once
#include <cstdint>

namespace qrjpeg {
class JpegDecoder;
}

namespace camlib {

constexpr std::uint32_t kFrameBufferBytes = 1280 * 960 * 2;  // the largest picture, packed 4:2:2
constexpr std::uint32_t kCompressedBufferBytes = 921600;

// What one frame read works with, taken when it begins: the caller sized its buffer for these, so
// a resolution or format change made meanwhile shows only in the next read.
struct FrameRead {
  std::int32_t frameLength;  // capture width x capture height x 2: the most the camera is asked for
  std::int32_t resolution;
  std::int32_t format;
  std::int32_t outputWidth, outputHeight;
};

// A camera's frame buffers and decoder.
struct FrameStore {
  std::uint8_t* frame;           // kFrameBufferBytes
  std::uint8_t* compressed;      // kCompressedBufferBytes; used only with a decoder
  qrjpeg::JpegDecoder* decoder;  // null (or no compressed buffer): raw frames, straight into frame
};

class FrameSource {
 public:
  // Stores one frame of at most `length` bytes at `buffer`; returns how many bytes it stored (0:
  // the fetch failed).
  virtual std::uint32_t fetch(void* buffer, std::uint32_t length) = 0;

 protected:
  ~FrameSource() = default;
};

// Fetches the next frame into the frame buffer. True when the frame buffer now holds a newly
// written picture; false when it still holds the previous one (already doubled, if it was).
bool fetchFrame(FrameSource& source, const FrameStore& store, const FrameRead& read);

// One frame read: a fetch from `source` (null: none, the previous picture is converted again),
// doubling of a new picture at resolution 5, and conversion into `destination` (null: none), which
// receives exactly the bytes the read's format and output size need.
void readFrame(FrameSource* source, const FrameStore& store, const FrameRead& read, std::uint8_t* destination);

}  // namespace camlib
