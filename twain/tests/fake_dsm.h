// What the recording stand-in of TWAIN_32.DLL keeps of each DSM_Entry call.
#pragma once
#include <windows.h>

#include "twain.h"

struct FakeDsmCall {
  TW_UINT32 originId;
  TW_UINT32 destinationId;
  TW_UINT32 dg;
  TW_UINT16 dat;
  TW_UINT16 msg;
  bool dataWasNull;
};

typedef LONG(WINAPI* FakeDsmCallCountProc)();
typedef LONG(WINAPI* FakeDsmGetCallProc)(LONG index, FakeDsmCall* call);
typedef void(WINAPI* FakeDsmClearProc)();
