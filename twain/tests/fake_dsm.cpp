// A stand-in for the source manager's TWAIN_32.DLL: it records every DSM_Entry call the source
// makes, so that tests can see the notifications the application would get.
#include <windows.h>

#include "fake_dsm.h"

namespace {
FakeDsmCall calls[64];
LONG count = 0;
}  // namespace

extern "C" TW_UINT16 WINAPI DSM_Entry(TW_IDENTITY* pOrigin, TW_IDENTITY* pDest, TW_UINT32 DG, TW_UINT16 DAT,
                                      TW_UINT16 MSG, TW_MEMREF pData) {
  if (count < 64) {
    FakeDsmCall& call = calls[count++];
    call.originId = pOrigin ? pOrigin->Id : 0;
    call.destinationId = pDest ? pDest->Id : 0;
    call.dg = DG;
    call.dat = DAT;
    call.msg = MSG;
    call.dataWasNull = pData == nullptr;
  }
  return TWRC_SUCCESS;
}

extern "C" LONG WINAPI FakeDsmCallCount() { return count; }

extern "C" LONG WINAPI FakeDsmGetCall(LONG index, FakeDsmCall* call) {
  if (index < 0 || index >= count || !call) return 0;
  *call = calls[index];
  return 1;
}

extern "C" void WINAPI FakeDsmClear() { count = 0; }
