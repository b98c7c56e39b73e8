// Image blocks from the C heap, for the native build (tests, fuzzers, benchmarks).
#include "memory.h"

#include <cstdlib>

namespace vic {

void* allocImageBlock(std::size_t bytes) { return std::calloc(bytes ? bytes : 1, 1); }

void freeImageBlock(void* block) { std::free(block); }

}  // namespace vic
