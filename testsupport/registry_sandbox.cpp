#include "registry_sandbox.h"

#include <shlwapi.h>

#include <vector>

namespace qrtest {

void deleteProductKey() {
  DWORD status = SHDeleteKeyA(HKEY_LOCAL_MACHINE, kProductKey);
  ASSERT_TRUE(status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) << "SHDeleteKey: " << status;
}

bool readRawValue(const std::string& keyPath, const char* name, DWORD& type, std::string& data) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  DWORD size = 0;
  LONG status = RegQueryValueExA(key, name, nullptr, &type, nullptr, &size);
  if (status == ERROR_SUCCESS) {
    std::vector<char> buffer(size + 1);
    status = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size);
    data.assign(buffer.data(), size);
  }
  RegCloseKey(key);
  return status == ERROR_SUCCESS;
}

bool keyExists(const std::string& keyPath) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

void writeRawValue(const std::string& keyPath, const char* name, DWORD type, const void* data, DWORD size) {
  HKEY key;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                           &key, nullptr));
  EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size));
  RegCloseKey(key);
}

}  // namespace qrtest
