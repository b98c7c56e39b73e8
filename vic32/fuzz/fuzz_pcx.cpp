#include "fuzz_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return vicfuzz::fuzzDecoder(data, size, vic::pcxInfo, vic::decodePcx, vic::encodePcx, true);
}
