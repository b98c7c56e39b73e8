// Image blocks as movable global memory, locked once for the life of the image. Callers recover
// the handle with GlobalHandle, which is how the clipboard and TWAIN's native transfer take them.
#include <windows.h>

#include "memory.h"

namespace vic {

void* allocImageBlock(std::size_t bytes) {
  HGLOBAL handle = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes ? bytes : 1);
  if (!handle) return nullptr;
  void* block = GlobalLock(handle);
  if (!block) GlobalFree(handle);
  return block;
}

std::size_t imageBlockBytesFrom(const void* start) {
  HGLOBAL handle = start ? GlobalHandle(start) : nullptr;
  if (!handle) return 0;
  // The handle's memory starts where a lock puts it (the block itself for fixed memory).
  auto* base = static_cast<const BYTE*>(GlobalLock(handle));
  if (!base) return 0;
  SIZE_T size = GlobalSize(handle);
  GlobalUnlock(handle);
  auto at = reinterpret_cast<UINT_PTR>(start), first = reinterpret_cast<UINT_PTR>(base);
  return at >= first && at - first < size ? static_cast<std::size_t>(size - (at - first)) : 0;
}

void freeImageBlock(void* block) {
  if (!block) return;
  HGLOBAL handle = GlobalHandle(block);
  if (!handle) return;
  GlobalUnlock(handle);
  GlobalFree(handle);
}

}  // namespace vic
