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

void freeImageBlock(void* block) {
  if (!block) return;
  HGLOBAL handle = GlobalHandle(block);
  if (!handle) return;
  GlobalUnlock(handle);
  GlobalFree(handle);
}

}  // namespace vic
