// Fuzz target: any bytes as a camera frame through DecodeHeader and DecodeScan, then through every
// output format into buffers of exactly the size the format needs (so that AddressSanitizer sees
// any write past them). Then the same bytes through the library's frame path, as the frame the
// camera sent for each resolution in turn (so mostly a stream of another size than the one asked
// for), compressed and raw, into destinations of exactly the size that resolution and format need.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "frame_path.h"
#include "jpeg_decoder.h"
#include "register_map.h"

namespace {

// Hands over the input as the camera's frame, cut to the length asked for.
class InputFrames : public camlib::FrameSource {
 public:
  InputFrames(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  std::uint32_t fetch(void* buffer, std::uint32_t length) override {
    const size_t stored = size_ < length ? size_ : length;
    if (stored) std::memcpy(buffer, data_, stored);
    return static_cast<std::uint32_t>(stored);
  }

 private:
  const uint8_t* data_;
  size_t size_;
};

void throughTheFramePath(const uint8_t* data, size_t size) {
  static std::vector<uint8_t> frame(camlib::kFrameBufferBytes), compressed(camlib::kCompressedBufferBytes);
  qrjpeg::JpegDecoder decoder(camlib::kFrameBufferBytes);
  InputFrames source(data, size);
  unsigned mix = 0;
  for (size_t i = 0; i < size && i < 64; ++i) mix = mix * 31 + data[i];
  for (int resolution = 0; resolution < camlib::kResolutionCount; ++resolution) {
    const camlib::ResolutionMode& m = camlib::kResolutions[resolution];
    const int format = static_cast<int>((mix + static_cast<unsigned>(resolution)) % camlib::kOutputFormatCount);
    const camlib::FrameRead read = {m.captureWidth * m.captureHeight * 2, resolution, format, m.outputWidth,
                                    m.outputHeight};
    const bool packed = format == qrjpeg::kFormatPacked422;
    std::vector<uint8_t> out(packed ? qrjpeg::OutputBytes(format, m.captureWidth, m.captureHeight)
                                    : qrjpeg::OutputBytes(format, m.outputWidth, m.outputHeight));
    const bool raw = (mix >> 8) % 4 == static_cast<unsigned>(resolution % 4);
    const camlib::FrameStore store = {frame.data(), raw ? nullptr : compressed.data(), raw ? nullptr : &decoder};
    camlib::readFrame(&source, store, read, out.data());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::vector<uint8_t> frame(qrjpeg::kFrameBufferBytes);

  qrjpeg::JpegDecoder decoder;
  int w = 0, h = 0;
  bool ok = decoder.DecodeHeader(data, size, &w, &h);
  decoder.DecodeScan(frame.data(), frame.size());

  if (ok && static_cast<size_t>(w) * static_cast<size_t>(h) <= 640 * 480) {
    for (int format = 0; format <= 5; ++format) {
      std::vector<uint8_t> out(qrjpeg::OutputBytes(format, w, h));
      qrjpeg::ConvertFrame(format, frame.data(), frame.size(), w, h, out.data(), out.size());
    }
  }
  if (ok && w == 640 && h == 480) qrjpeg::DoubleFrame(frame.data(), frame.size());

  // The same decoder on the first half of the input: a later, broken frame after this one.
  decoder.DecodeHeader(data, size / 2, &w, &h);
  decoder.DecodeScan(frame.data(), frame.size());

  throughTheFramePath(data, size);
  return 0;
}
