// A second capture application: opens the driver's video-input channel through winmm and exits
// with the open's dwError (0 when it opened, 1000 when the handle was given without an error).
#include <windows.h>

#include "driver_abi.h"

int main() {
  avi::VideoOpenParms parms{};
  parms.dwSize = sizeof parms;
  parms.fccType = avi::kFccVcap;
  parms.dwFlags = avi::kVideoIn;
  HDRVR driver = OpenDriver(L"msvideo", L"Drivers32", reinterpret_cast<LPARAM>(&parms));
  if (!driver) return static_cast<int>(parms.dwError);
  CloseDriver(driver, 0, 0);
  return parms.dwError ? static_cast<int>(parms.dwError) : 1000;
}
