// qr3twn.ds: the DLL entry point and DS_Entry, the one export the source manager calls.
#include <windows.h>

#include "twain_source.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD, LPVOID) {
  if (!instance) return FALSE;
  twain::theSource().attach(instance);
  return TRUE;
}

extern "C" TW_UINT16 WINAPI DS_Entry(TW_IDENTITY* pOrigin, TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG,
                                     TW_MEMREF pData) {
  return twain::theSource().entry(pOrigin, DG, DAT, MSG, pData);
}
