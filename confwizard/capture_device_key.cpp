#include "capture_device_key.h"

#include <cstring>

namespace confwizard {

const char kCaptureDevicesKey[] = "Software\\Microsoft\\Conferencing\\CaptureDevices\\";
const char kDeviceKey[] = "Software\\Microsoft\\Conferencing\\CaptureDevices\\Quorel Digital Camera AVI Driver";

namespace {

const char kStalePrefix[] = "Quorel";

struct DeviceValue {
  const char* name;
  DWORD data;
};

// Written after "dwNumColors", which holds the colour value.
const DeviceValue kFixedDeviceValues[] = {
    {"dwDialogs", 2},
    {"dwImageSize", 33555520},  // bytes 40 04 00 02
    {"dwStreamingMode", 1},
};

// Enumeration ends at ERROR_NO_MORE_ITEMS; this bounds it even if the registry never says so.
constexpr DWORD kMaxEnumerationIndex = 1u << 16;

bool writeDword(HKEY key, const char* name, DWORD data) {
  return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof data) == ERROR_SUCCESS;
}

}  // namespace

LONG readInitialColours() {
  HKEY key;
  if (RegOpenKeyA(HKEY_LOCAL_MACHINE, kDeviceKey, &key) != ERROR_SUCCESS) return 8;
  DWORD type = 0, size = 0;
  BYTE data[4] = {0, 0, 0, 0};
  LONG status = RegQueryValueExA(key, "dwNumColors", nullptr, &type, nullptr, &size);
  if (status == ERROR_SUCCESS) {
    size = sizeof data;
    status = RegQueryValueExA(key, "dwNumColors", nullptr, &type, data, &size);
  }
  RegCloseKey(key);
  if (status != ERROR_SUCCESS || size == 0) return 0;
  return static_cast<signed char>(data[0]);
}

// A name that cannot be read (longer than the buffer), a key that cannot be deleted (it has
// sub-keys, or access is denied) or any other error moves on to the next index, so the clean-up
// always ends; only a successful delete enumerates the same index again.
int removeStaleDeviceKeys() {
  HKEY parent;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kCaptureDevicesKey, 0, KEY_ALL_ACCESS, &parent) != ERROR_SUCCESS) return 0;
  int deleted = 0;
  DWORD index = 0;
  while (index < kMaxEnumerationIndex) {
    char name[128];
    LONG status = RegEnumKeyA(parent, index, name, sizeof name);
    if (status == ERROR_NO_MORE_ITEMS) break;
    bool stale = status == ERROR_SUCCESS && std::strncmp(name, kStalePrefix, std::strlen(kStalePrefix)) == 0;
    if (stale && RegDeleteKeyA(parent, name) == ERROR_SUCCESS) {
      ++deleted;
      continue;
    }
    ++index;
  }
  RegCloseKey(parent);
  return deleted;
}

bool writeDeviceKey(LONG colours) {
  HKEY key;
  if (RegCreateKeyA(HKEY_LOCAL_MACHINE, kDeviceKey, &key) != ERROR_SUCCESS) return false;
  bool ok = writeDword(key, "dwNumColors", static_cast<DWORD>(colours));
  for (const DeviceValue& value : kFixedDeviceValues) ok = writeDword(key, value.name, value.data) && ok;
  RegCloseKey(key);
  return ok;
}

}  // namespace confwizard
