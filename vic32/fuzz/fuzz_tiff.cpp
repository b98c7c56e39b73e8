#include "fuzz_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The compression of the rewrite follows the input's size, so every encoder gets its turn.
  int option = static_cast<int>(size % 5);
  return vicfuzz::fuzzDecoder(
      data, size, vic::tiffInfo, vic::decodeTiff,
      [option](const vic::Picture& p, std::vector<uint8_t>& out) {
        return vic::encodeTiff(p, p.bits == 1 ? option : option % 3, out);
      },
      true);
}
