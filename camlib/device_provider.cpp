#include "device_provider.h"

#include <cstring>

#include "proc_address.h"

namespace camlib {

namespace {

constexpr char kProductKey[] = "Software\\Orvane Imaging";
constexpr char kProviderValue[] = "Camera Device Provider";

enum class ProviderSetting { kNone, kNamed, kUnusable };

// The provider DLL's path from the registry. A value of the wrong type or too long for a path
// names a provider that cannot be used.
// The library needs only kernel32 at load time, so the registry functions are looked up here.
ProviderSetting readProviderPath(char* path, DWORD size) {
  path[0] = 0;
  HMODULE advapi = LoadLibraryA("advapi32.dll");
  auto openKey = compat::procAddress<decltype(&RegOpenKeyExA)>(advapi, "RegOpenKeyExA");
  auto queryValue = compat::procAddress<decltype(&RegQueryValueExA)>(advapi, "RegQueryValueExA");
  auto closeKey = compat::procAddress<decltype(&RegCloseKey)>(advapi, "RegCloseKey");
  HKEY key;
  if (!openKey || !queryValue || !closeKey ||
      openKey(HKEY_LOCAL_MACHINE, kProductKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
    if (advapi) FreeLibrary(advapi);
    return ProviderSetting::kNone;
  }
  DWORD type = 0, length = size - 1;
  const LONG status = queryValue(key, kProviderValue, nullptr, &type, reinterpret_cast<BYTE*>(path), &length);
  closeKey(key);
  FreeLibrary(advapi);
  if (status == ERROR_FILE_NOT_FOUND) return ProviderSetting::kNone;
  if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) {
    path[0] = 0;
    return ProviderSetting::kUnusable;
  }
  path[length < size ? length : size - 1] = 0;
  return path[0] ? ProviderSetting::kNamed : ProviderSetting::kNone;
}

bool resolveSetupApi(HMODULE module, SetupApi& api) {
  api.getClassDevs = compat::procAddress<GetClassDevsFn>(module, "SetupDiGetClassDevsA");
  api.enumInterfaces = compat::procAddress<EnumInterfacesFn>(module, "SetupDiEnumDeviceInterfaces");
  api.interfaceDetail = compat::procAddress<InterfaceDetailFn>(module, "SetupDiGetDeviceInterfaceDetailA");
  api.destroyList = compat::procAddress<DestroyListFn>(module, "SetupDiDestroyDeviceInfoList");
  return api.getClassDevs && api.enumInterfaces && api.interfaceDetail && api.destroyList;
}

struct Binding {
  DeviceFiles files;
  HMODULE provider = nullptr;  // null: the system's functions
  bool usable = false;
};

Binding bind() {
  Binding binding;
  char path[MAX_PATH + 1];
  const ProviderSetting setting = readProviderPath(path, sizeof path);
  if (setting == ProviderSetting::kUnusable) return binding;
  if (setting == ProviderSetting::kNamed) {
    binding.provider = LoadLibraryA(path);
    SetupApi probe;
    binding.files.createFile = compat::procAddress<CreateFileFn>(binding.provider, "CreateFileA");
    binding.files.deviceIoControl = compat::procAddress<DeviceIoControlFn>(binding.provider, "DeviceIoControl");
    binding.files.closeHandle = compat::procAddress<CloseHandleFn>(binding.provider, "CloseHandle");
    binding.usable = binding.files.createFile && binding.files.deviceIoControl && binding.files.closeHandle &&
                     resolveSetupApi(binding.provider, probe);
    if (!binding.usable) binding.files = DeviceFiles{};
    return binding;
  }
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  binding.files.createFile = compat::procAddress<CreateFileFn>(kernel, "CreateFileA");
  binding.files.deviceIoControl = compat::procAddress<DeviceIoControlFn>(kernel, "DeviceIoControl");
  binding.files.closeHandle = compat::procAddress<CloseHandleFn>(kernel, "CloseHandle");
  binding.usable = binding.files.createFile && binding.files.deviceIoControl && binding.files.closeHandle;
  return binding;
}

const Binding& binding() {
  static const Binding bound = bind();
  return bound;
}

}  // namespace

const DeviceFiles& deviceFiles() { return binding().files; }

bool openSetupApi(SetupApi& api) {
  api = SetupApi{};
  const Binding& bound = binding();
  if (!bound.usable) return false;
  if (bound.provider) return resolveSetupApi(bound.provider, api);
  api.loaded = LoadLibraryA("SETUPAPI.DLL");
  if (resolveSetupApi(api.loaded, api)) return true;
  closeSetupApi(api);
  return false;
}

void closeSetupApi(SetupApi& api) {
  if (api.loaded) FreeLibrary(api.loaded);
  api = SetupApi{};
}

}  // namespace camlib
