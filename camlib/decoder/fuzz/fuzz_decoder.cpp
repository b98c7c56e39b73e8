// Fuzz target: any bytes as a camera frame through DecodeHeader and DecodeScan, then through every
// output format into buffers of exactly the size the format needs (so that AddressSanitizer sees
// any write past them).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "jpeg_decoder.h"

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
  return 0;
}
