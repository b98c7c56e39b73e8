// The four SETUPAPI entry points for the camera's device-interface class: an enumeration lists the
// cameras published as interfaces at the time SetupDiGetClassDevsA was called. Other classes and
// lists are passed on to the system's SETUPAPI.
#include <windows.h>
#include <setupapi.h>

#include <cstddef>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "camera_wire.h"
#include "critical_section.h"
#include "proc_address.h"
#include "device_paths.h"
#include "shared_state.h"

namespace vcam {

namespace {

// A list handle of ours is the address of one of these, known by its presence in enumerations().
struct Enumeration {
  std::vector<std::string> paths;
};

compat::CriticalSection enumerationsSection;
std::set<Enumeration*>& enumerations() {
  static std::set<Enumeration*> live;
  return live;
}

Enumeration* ours(HDEVINFO set) {
  compat::Locked guard(enumerationsSection);
  auto it = enumerations().find(static_cast<Enumeration*>(set));
  return it == enumerations().end() ? nullptr : *it;
}

bool isCameraClass(const GUID* guid) {
  static_assert(sizeof(GUID) == sizeof(camwire::ClassGuid), "GUID layout");
  return guid && std::memcmp(guid, &camwire::kInterfaceClass, sizeof(GUID)) == 0;
}

HMODULE systemSetupApi() {
  static HMODULE module = LoadLibraryA("setupapi.dll");
  return module;
}

template <typename Function>
Function systemEntry(const char* name) {
  return compat::procAddress<Function>(systemSetupApi(), name);
}

}  // namespace

}  // namespace vcam

using namespace vcam;

extern "C" HDEVINFO WINAPI VCamSetupDiGetClassDevsA(const GUID* classGuid, PCSTR enumerator, HWND parent, DWORD flags) {
  if (!isCameraClass(classGuid) || !(flags & DIGCF_DEVICEINTERFACE)) {
    auto forward = systemEntry<HDEVINFO(WINAPI*)(const GUID*, PCSTR, HWND, DWORD)>("SetupDiGetClassDevsA");
    if (!forward) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return INVALID_HANDLE_VALUE;
    }
    return forward(classGuid, enumerator, parent, flags);
  }
  auto* list = new Enumeration;
  {
    StateLock lock;
    if (SharedState* state = lock.state()) {
      ++state->stats.classEnumerations;
      for (int i = 0; i < VCAM_MAX_DEVICES; ++i) {
        const DeviceRecord& record = state->devices[i];
        if (record.present && (record.device.publish & VCAM_PUBLISH_INTERFACE))
          list->paths.push_back(interfacePath(i, record.generation));
      }
    }
  }
  compat::Locked guard(enumerationsSection);
  enumerations().insert(list);
  return static_cast<HDEVINFO>(list);
}

extern "C" BOOL WINAPI VCamSetupDiEnumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA deviceInfo, const GUID* classGuid,
                                                       DWORD memberIndex, PSP_DEVICE_INTERFACE_DATA interfaceData) {
  Enumeration* list = ours(set);
  if (!list) {
    auto forward =
        systemEntry<BOOL(WINAPI*)(HDEVINFO, PSP_DEVINFO_DATA, const GUID*, DWORD, PSP_DEVICE_INTERFACE_DATA)>(
            "SetupDiEnumDeviceInterfaces");
    if (!forward) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    return forward(set, deviceInfo, classGuid, memberIndex, interfaceData);
  }
  if (!interfaceData || interfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
    SetLastError(ERROR_INVALID_USER_BUFFER);
    return FALSE;
  }
  if (!isCameraClass(classGuid) || memberIndex >= list->paths.size()) {
    SetLastError(ERROR_NO_MORE_ITEMS);
    return FALSE;
  }
  std::memcpy(&interfaceData->InterfaceClassGuid, &camwire::kInterfaceClass, sizeof(GUID));
  interfaceData->Flags = SPINT_ACTIVE;
  interfaceData->Reserved = memberIndex + 1;
  return TRUE;
}

extern "C" BOOL WINAPI VCamSetupDiGetDeviceInterfaceDetailA(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA interfaceData,
                                                            PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD detailSize,
                                                            PDWORD requiredSize, PSP_DEVINFO_DATA deviceInfo) {
  Enumeration* list = ours(set);
  if (!list) {
    auto forward = systemEntry<BOOL(WINAPI*)(HDEVINFO, PSP_DEVICE_INTERFACE_DATA, PSP_DEVICE_INTERFACE_DETAIL_DATA_A,
                                             DWORD, PDWORD, PSP_DEVINFO_DATA)>("SetupDiGetDeviceInterfaceDetailA");
    if (!forward) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    return forward(set, interfaceData, detail, detailSize, requiredSize, deviceInfo);
  }
  if (!interfaceData || interfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) || interfaceData->Reserved == 0 ||
      interfaceData->Reserved > list->paths.size()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const std::string& path = list->paths[interfaceData->Reserved - 1];
  const DWORD needed = static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + path.size() + 1);
  if (requiredSize) *requiredSize = needed;
  if (!detail || detailSize < needed) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  if (detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
    SetLastError(ERROR_INVALID_USER_BUFFER);
    return FALSE;
  }
  std::memcpy(detail->DevicePath, path.c_str(), path.size() + 1);
  return TRUE;
}

extern "C" BOOL WINAPI VCamSetupDiDestroyDeviceInfoList(HDEVINFO set) {
  Enumeration* list = nullptr;
  {
    compat::Locked guard(enumerationsSection);
    auto it = enumerations().find(static_cast<Enumeration*>(set));
    if (it != enumerations().end()) {
      list = *it;
      enumerations().erase(it);
    }
  }
  if (list) {
    delete list;
    return TRUE;
  }
  auto forward = systemEntry<BOOL(WINAPI*)(HDEVINFO)>("SetupDiDestroyDeviceInfoList");
  if (!forward) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return forward(set);
}
