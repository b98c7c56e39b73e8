// Image blocks from the C heap, for the native build (tests, fuzzers, benchmarks). The live blocks
// are kept by address so that imageBlockBytesFrom can bound a pointer as GlobalSize does in the
// DLL. These programs use image blocks from one thread.
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <map>
#include <new>

#include "memory.h"

namespace vic {

namespace {

// Start address to size. Never destroyed, so blocks may outlive static objects.
std::map<std::uintptr_t, std::size_t>& liveBlocks() {
  static auto* blocks = new std::map<std::uintptr_t, std::size_t>;
  return *blocks;
}

}  // namespace

void* allocImageBlock(std::size_t bytes) {
  if (!bytes) bytes = 1;
  void* block = std::calloc(bytes, 1);
  if (!block) return nullptr;
  try {
    liveBlocks()[reinterpret_cast<std::uintptr_t>(block)] = bytes;
  } catch (const std::bad_alloc&) {
    std::free(block);
    return nullptr;
  }
  return block;
}

void freeImageBlock(void* block) {
  if (!block) return;
  liveBlocks().erase(reinterpret_cast<std::uintptr_t>(block));
  std::free(block);
}

std::size_t imageBlockBytesFrom(const void* start) {
  auto at = reinterpret_cast<std::uintptr_t>(start);
  auto& blocks = liveBlocks();
  auto after = blocks.upper_bound(at);
  if (!start || after == blocks.begin()) return 0;
  auto block = std::prev(after);
  std::uintptr_t offset = at - block->first;
  return offset < block->second ? block->second - offset : 0;
}

}  // namespace vic
