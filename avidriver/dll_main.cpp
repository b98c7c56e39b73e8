// quorelavi.dll: the DLL entry point and DriverProc, the one export the system's video-capture
// layer calls. Nothing thrown inside may leave the DLL: a failure becomes the message's error.
#include <windows.h>

#include "driver_proc.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (!instance) return FALSE;
  if (reason == DLL_PROCESS_ATTACH) avi::theDriver().moduleHandle = instance;
  return TRUE;
}

extern "C" LRESULT CALLBACK DriverProc(DWORD_PTR dwDriverID, HDRVR hDriver, UINT uMsg, LPARAM lParam1, LPARAM lParam2) {
  try {
    return avi::driverProc(dwDriverID, hDriver, uMsg, lParam1, lParam2);
  } catch (...) {
    return uMsg == DRV_OPEN ? 0 : DV_ERR_NOMEM;
  }
}
