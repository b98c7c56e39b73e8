#include <cstring>

#include "../core/memory.h"
#include "fuzz_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Also the clipboard path: the bytes after the file header as a packed bitmap alone in a block
  // of exactly their size, read through the bound the DLL takes from the clipboard's block, so
  // that a header claiming more rows or palette than the block holds is caught reading past it.
  if (size > 14) {
    auto* block = static_cast<uint8_t*>(vic::allocImageBlock(size - 14));
    if (block) {
      std::memcpy(block, data + 14, size - 14);
      ImageDescriptor image{};
      if (vic::dibBlockToImage(block, &image) == vic::kOk) vic::freeImage(&image);
      vic::freeImageBlock(block);
    }
  }
  return vicfuzz::fuzzDecoder(
      data, size, vic::bmpInfo, vic::decodeBmp,
      [](const vic::Picture& p, std::vector<uint8_t>& out) { return vic::encodeBmp(p, p.bits == 8 ? 1 : 0, out); },
      true);
}
