// Where image blocks come from. In the DLL a block is movable global memory, locked once, so that
// callers can hand its handle (GlobalHandle of the pointer) to the clipboard or to a TWAIN
// application; elsewhere it is plain heap memory. Both hand out zero-filled memory.
#pragma once
#include <cstddef>

namespace vic {

// A zero-filled block of `bytes`, or null when memory is short.
void* allocImageBlock(std::size_t bytes);
// Releases a block from allocImageBlock (or, in the DLL, any locked movable global block).
// Null is ignored.
void freeImageBlock(void* block);
// The bytes from `start` to the end of the memory block it lies in, so that memory another
// program hands over (a packed bitmap from the clipboard) is read no further than it reaches. In
// the DLL any global memory block counts (GlobalHandle, GlobalSize); elsewhere the blocks of
// allocImageBlock. 0 when `start` lies in no such block.
std::size_t imageBlockBytesFrom(const void* start);

}  // namespace vic
