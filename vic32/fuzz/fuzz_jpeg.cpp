#include "fuzz_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return vicfuzz::fuzzDecoder(
      data, size, vic::jpegInfo, vic::decodeJpeg,
      [](const vic::Picture& p, std::vector<uint8_t>& out) { return vic::encodeJpeg(p, 75, out); }, false);
}
