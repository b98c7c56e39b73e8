/* usbhcd.sys: descriptor pools, equal blocks of common-buffer memory that the controller reads. */
#include "usbhcd.h"

C_ASSERT(sizeof(PVOID) != 4 || sizeof(HC_BLOCK_TRAILER) == 12);

static HC_BLOCK_TRAILER *TrailerOf(HC_POOL *pool, PVOID block) {
  return (HC_BLOCK_TRAILER *)((PUCHAR)block + pool->BlockSize - HC_TRAILER_SIZE);
}

static PVOID BlockOf(HC_POOL *pool, HC_BLOCK_TRAILER *trailer) {
  return (PUCHAR)trailer + HC_TRAILER_SIZE - pool->BlockSize;
}

/* Adds one page's blocks to the free list; called with the lock held or before the pool is used. */
static BOOLEAN Grow(HC_POOL *pool) {
  ULONG perPage = HC_PAGE_SIZE / pool->BlockSize;
  HC_POOL_PAGE *page;
  ULONG i;
  if (pool->Blocks + perPage > pool->MaximumBlocks) return FALSE;
  page = (HC_POOL_PAGE *)ExAllocatePoolWithTag(NonPagedPool, sizeof(*page), HC_POOL_TAG);
  if (!page) return FALSE;
  page->Virtual = HalAllocateCommonBuffer(pool->Adapter, HC_PAGE_SIZE, &page->Physical, FALSE);
  if (!page->Virtual) {
    ExFreePool(page);
    return FALSE;
  }
  RtlZeroMemory(page->Virtual, HC_PAGE_SIZE);
  page->Next = pool->Pages;
  pool->Pages = page;
  for (i = perPage; i-- > 0;) {
    PUCHAR block = (PUCHAR)page->Virtual + i * pool->BlockSize;
    HC_BLOCK_TRAILER *trailer = TrailerOf(pool, block);
    trailer->Pool = pool;
    trailer->Physical = page->Physical.LowPart + i * pool->BlockSize;
    trailer->Next = pool->Free;
    pool->Free = trailer;
  }
  pool->Blocks += perPage;
  pool->FreeBlocks += perPage;
  return TRUE;
}

HC_POOL *HcPoolCreate(PADAPTER_OBJECT adapter, ULONG initialBlocks, ULONG hardwareSize, ULONG maximumBlocks,
                      ULONG blockSize) {
  HC_POOL *pool;
  if (blockSize < HC_TRAILER_SIZE || blockSize > HC_PAGE_SIZE || hardwareSize > blockSize - HC_TRAILER_SIZE)
    return NULL;
  pool = (HC_POOL *)ExAllocatePoolWithTag(NonPagedPool, sizeof(*pool), HC_POOL_TAG);
  if (!pool) return NULL;
  RtlZeroMemory(pool, sizeof(*pool));
  KeInitializeSpinLock(&pool->Lock);
  pool->Adapter = adapter;
  pool->BlockSize = blockSize;
  pool->HardwareSize = hardwareSize;
  pool->MaximumBlocks = maximumBlocks;
  while (pool->Blocks < initialBlocks) {
    if (!Grow(pool)) {
      HcPoolDestroy(pool);
      return NULL;
    }
  }
  return pool;
}

PVOID HcPoolAllocate(HC_POOL *pool, ULONG *physical) {
  KIRQL irql;
  HC_BLOCK_TRAILER *trailer;
  PVOID block = NULL;
  KeAcquireSpinLock(&pool->Lock, &irql);
  if (!pool->Free) Grow(pool);
  trailer = pool->Free;
  if (trailer) {
    pool->Free = trailer->Next;
    pool->FreeBlocks--;
    trailer->Next = NULL;
    block = BlockOf(pool, trailer);
    RtlZeroMemory(block, pool->BlockSize - HC_TRAILER_SIZE);
    if (physical) *physical = trailer->Physical;
  }
  KeReleaseSpinLock(&pool->Lock, irql);
  return block;
}

ULONG HcPoolBlockPhysical(HC_POOL *pool, PVOID block) { return TrailerOf(pool, block)->Physical; }

/* A block that is not this pool's (its trailer names another owner) is left alone. */
VOID HcPoolFree(HC_POOL *pool, PVOID block) {
  KIRQL irql;
  HC_BLOCK_TRAILER *trailer = TrailerOf(pool, block);
  if (trailer->Pool != pool) return;
  KeAcquireSpinLock(&pool->Lock, &irql);
  trailer->Next = pool->Free;
  pool->Free = trailer;
  pool->FreeBlocks++;
  KeReleaseSpinLock(&pool->Lock, irql);
}

PVOID HcPoolFindPhysical(HC_POOL *pool, ULONG physical) {
  HC_POOL_PAGE *page;
  for (page = pool->Pages; page; page = page->Next) {
    ULONG offset = physical - page->Physical.LowPart;
    if (physical >= page->Physical.LowPart && offset < HC_PAGE_SIZE) {
      ULONG index = offset / pool->BlockSize;
      if (index >= HC_PAGE_SIZE / pool->BlockSize) return NULL;
      return (PUCHAR)page->Virtual + index * pool->BlockSize + (offset - index * pool->BlockSize);
    }
  }
  return NULL;
}

PVOID HcPoolFindBlock(HC_POOL *pool, ULONG physical) {
  PUCHAR at = (PUCHAR)HcPoolFindPhysical(pool, physical);
  HC_POOL_PAGE *page;
  for (page = pool->Pages; at && page; page = page->Next)
    if (at >= (PUCHAR)page->Virtual && at < (PUCHAR)page->Virtual + HC_PAGE_SIZE)
      return ((ULONG)(at - (PUCHAR)page->Virtual) % pool->BlockSize) ? NULL : at;
  return NULL;
}

VOID HcPoolDestroy(HC_POOL *pool) {
  if (!pool) return;
  while (pool->Pages) {
    HC_POOL_PAGE *page = pool->Pages;
    pool->Pages = page->Next;
    HalFreeCommonBuffer(pool->Adapter, HC_PAGE_SIZE, page->Physical, page->Virtual, FALSE);
    ExFreePool(page);
  }
  ExFreePool(pool);
}
