// The seam between the library and the camera's kernel-mode driver: seven functions with the Win32
// signatures. They come from kernel32 and SETUPAPI.DLL, unless HKLM "Software\Orvane Imaging"
// "Camera Device Provider" names a DLL, which then supplies all seven (the virtual camera does).
#pragma once
#include <windows.h>
#include <setupapi.h>

namespace camlib {

using CreateFileFn = HANDLE(WINAPI*)(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
using DeviceIoControlFn = BOOL(WINAPI*)(HANDLE, DWORD, LPVOID, DWORD, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
using CloseHandleFn = BOOL(WINAPI*)(HANDLE);
using GetClassDevsFn = HDEVINFO(WINAPI*)(const GUID*, PCSTR, HWND, DWORD);
using EnumInterfacesFn = BOOL(WINAPI*)(HDEVINFO, PSP_DEVINFO_DATA, const GUID*, DWORD, PSP_DEVICE_INTERFACE_DATA);
using InterfaceDetailFn = BOOL(WINAPI*)(HDEVINFO, PSP_DEVICE_INTERFACE_DATA, PSP_DEVICE_INTERFACE_DETAIL_DATA_A, DWORD,
                                        PDWORD, PSP_DEVINFO_DATA);
using DestroyListFn = BOOL(WINAPI*)(HDEVINFO);

struct DeviceFiles {
  CreateFileFn createFile = nullptr;
  DeviceIoControlFn deviceIoControl = nullptr;
  CloseHandleFn closeHandle = nullptr;
};

struct SetupApi {
  GetClassDevsFn getClassDevs = nullptr;
  EnumInterfacesFn enumInterfaces = nullptr;
  InterfaceDetailFn interfaceDetail = nullptr;
  DestroyListFn destroyList = nullptr;
  HMODULE loaded = nullptr;  // SETUPAPI.DLL when this discovery loaded it
};

// The device functions, bound at first use for the life of the process (handles opened through
// one provider must be closed through it). All null when a named provider cannot be used: then the
// library finds no cameras rather than quietly reaching past the provider to the system's devices.
const DeviceFiles& deviceFiles();

// The four interface-enumeration entry points for one discovery; false when any is missing.
bool openSetupApi(SetupApi& api);
void closeSetupApi(SetupApi& api);

}  // namespace camlib
