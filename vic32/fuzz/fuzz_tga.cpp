#include "fuzz_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return vicfuzz::fuzzDecoder(
      data, size, vic::tgaInfo, vic::decodeTga,
      [](const vic::Picture& p, std::vector<uint8_t>& out) { return vic::encodeTga(p, 1, out); }, true);
}
