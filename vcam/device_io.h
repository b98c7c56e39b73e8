// The device side of qrvcam.dll: the handles this process holds on virtual cameras.
#pragma once
#include <windows.h>

namespace vcam {

struct OpenDevice {
  int index;
  DWORD generation;
};

// Whether `handle` is one of ours, and which device and plug generation it opened.
bool lookupHandle(HANDLE handle, OpenDevice& device);

}  // namespace vcam

extern "C" {
HANDLE WINAPI VCamCreateFileA(LPCSTR path, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                              DWORD disposition, DWORD flags, HANDLE templateFile);
BOOL WINAPI VCamDeviceIoControl(HANDLE handle, DWORD code, LPVOID input, DWORD inputSize, LPVOID output,
                                DWORD outputSize, LPDWORD bytesReturned, LPOVERLAPPED overlapped);
BOOL WINAPI VCamCloseHandle(HANDLE handle);
}
