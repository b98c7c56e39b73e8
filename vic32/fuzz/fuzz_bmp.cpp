#include "fuzz_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Also the clipboard path: the same bytes after the file header as a packed bitmap.
  if (size > 14) {
    ImageDescriptor image{};
    if (vic::dibToImage(data + 14, size - 14, &image) == vic::kOk) vic::freeImage(&image);
  }
  return vicfuzz::fuzzDecoder(
      data, size, vic::bmpInfo, vic::decodeBmp,
      [](const vic::Picture& p, std::vector<uint8_t>& out) { return vic::encodeBmp(p, p.bits == 8 ? 1 : 0, out); },
      true);
}
