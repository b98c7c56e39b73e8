// The body of the DLL's one export, DriverProc.
#pragma once
#include <windows.h>

#include "driver_instance.h"

namespace avi {

LRESULT driverProc(DWORD_PTR driverId, HDRVR driver, UINT message, LPARAM lParam1, LPARAM lParam2);

}  // namespace avi
