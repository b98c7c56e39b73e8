// quorelreg.dll: registry access for the front ends' settings.
#include "quorelreg.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "regpath.h"

using quorelreg::composePath;
using quorelreg::kPathBufferSize;

namespace {

// Process-wide state, as the callers expect: one path buffer, one current key, the last status.
char g_path[kPathBufferSize];
HKEY g_currentKey = nullptr;
LONG g_lastStatus = ERROR_SUCCESS;

// Opens (or, with `create`, opens or creates) root \ subKey1 \ subKey2. A path too long for the
// buffer is refused before the registry is touched.
HKEY openComposed(LPCSTR subKey1, LPCSTR subKey2, bool create) {
  if (!composePath(subKey1, subKey2, g_path)) {
    g_lastStatus = ERROR_FILENAME_EXCED_RANGE;
    return nullptr;
  }
  HKEY key = nullptr;
  g_lastStatus =
      create ? RegCreateKeyA(HKEY_LOCAL_MACHINE, g_path, &key) : RegOpenKeyA(HKEY_LOCAL_MACHINE, g_path, &key);
  return g_lastStatus == ERROR_SUCCESS ? key : nullptr;
}

void closeKey(HKEY& key) {
  if (key) {
    g_lastStatus = RegCloseKey(key);
    key = nullptr;
  }
}

void replaceCurrentKey(HKEY key) {
  closeKey(g_currentKey);
  g_currentKey = key;
}

// A value as stored: text (REG_SZ, REG_EXPAND_SZ) or a number (REG_DWORD, written by other
// programs). Any other type counts as missing.
struct StoredValue {
  bool isText = false;
  std::string text;
  DWORD number = 0;
};

// Reads a value in two steps: its size and type first, then its data into a buffer of that size,
// so a value of any length is read safely.
bool readValue(HKEY key, LPCSTR name, StoredValue& value) {
  if (!key) return false;
  DWORD type = 0, size = 0;
  g_lastStatus = RegQueryValueExA(key, name, nullptr, &type, nullptr, &size);
  if (g_lastStatus != ERROR_SUCCESS) return false;
  if (type == REG_DWORD) {
    size = sizeof value.number;
    g_lastStatus = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value.number), &size);
    return g_lastStatus == ERROR_SUCCESS && type == REG_DWORD && size == sizeof value.number;
  }
  if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
  std::vector<char> data(size + 1, '\0');
  g_lastStatus = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size);
  if (g_lastStatus != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return false;
  value.isText = true;
  value.text.assign(data.data(), strnlen(data.data(), size));
  return true;
}

bool readNumber(HKEY key, LPCSTR name, LONG& number) {
  StoredValue value;
  if (!readValue(key, name, value)) return false;
  number = value.isText ? quorelreg::parseDecimal(value.text.c_str()) : static_cast<LONG>(value.number);
  return true;
}

// Copies a text value into the caller's 256-byte buffer, cut to 255 characters.
bool readString(HKEY key, LPCSTR name, LPSTR output) {
  StoredValue value;
  if (!output || !readValue(key, name, value) || !value.isText) return false;
  std::size_t length = value.text.size() < QUORELREG_MAX_STRING ? value.text.size() : QUORELREG_MAX_STRING;
  std::memcpy(output, value.text.data(), length);
  output[length] = '\0';
  return true;
}

bool writeString(HKEY key, LPCSTR name, LPCSTR text) {
  if (!key || !text) return false;
  g_lastStatus = RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                                static_cast<DWORD>(std::strlen(text) + 1));
  return g_lastStatus == ERROR_SUCCESS;
}

bool writeNumber(HKEY key, LPCSTR name, LONG number) {
  char text[20];
  std::snprintf(text, sizeof text, "%ld", static_cast<long>(number));
  return writeString(key, name, text);
}

// Runs `access` on a key opened for this call only; the current key is not disturbed.
template <typename Access>
bool withKey(LPCSTR subKey1, LPCSTR subKey2, Access access) {
  HKEY key = openComposed(subKey1, subKey2, false);
  if (!key) return false;
  bool ok = access(key);
  LONG accessStatus = g_lastStatus;
  closeKey(key);
  g_lastStatus = accessStatus;
  return ok;
}

}  // namespace

extern "C" {

LONG WINAPI SetRegPathKey(LPCSTR subKey1, LPCSTR subKey2) {
  composePath(subKey1, subKey2, g_path);
  return 1;
}

LONG WINAPI OpenKey(LPCSTR subKey1, LPCSTR subKey2) {
  replaceCurrentKey(openComposed(subKey1, subKey2, false));
  return g_currentKey != nullptr;
}

LONG WINAPI CloseKey(void) {
  if (!g_currentKey) return 0;
  closeKey(g_currentKey);
  return g_lastStatus == ERROR_SUCCESS;
}

LONG WINAPI RegGetVal(LPCSTR valueName, LONG defaultValue) {
  LONG number = defaultValue;
  return readNumber(g_currentKey, valueName, number) ? number : defaultValue;
}

LONG WINAPI RegGetString(LPCSTR valueName, LPSTR output) { return readString(g_currentKey, valueName, output); }

LONG WINAPI RegSaveVal(LPCSTR valueName, LONG value) { return writeNumber(g_currentKey, valueName, value); }

LONG WINAPI RegSaveString(LPCSTR valueName, LPCSTR text) { return writeString(g_currentKey, valueName, text); }

LONG WINAPI ExtRegGetVal(LPCSTR subKey1, LPCSTR subKey2, LPCSTR valueName) {
  LONG number = 0;
  return withKey(subKey1, subKey2, [&](HKEY key) { return readNumber(key, valueName, number); }) ? number : 0;
}

LONG WINAPI ExtRegGetString(LPCSTR subKey1, LPCSTR subKey2, LPCSTR valueName, LPSTR output) {
  return withKey(subKey1, subKey2, [&](HKEY key) { return readString(key, valueName, output); });
}

LONG WINAPI ExtRegSaveVal(LPCSTR subKey1, LPCSTR subKey2, LPCSTR valueName, LONG value) {
  return withKey(subKey1, subKey2, [&](HKEY key) { return writeNumber(key, valueName, value); });
}

LONG WINAPI ExtRegSaveString(LPCSTR subKey1, LPCSTR subKey2, LPCSTR valueName, LPCSTR text) {
  return withKey(subKey1, subKey2, [&](HKEY key) { return writeString(key, valueName, text); });
}

LONG WINAPI CreateNewKey(LPCSTR subKey1, LPCSTR subKey2) {
  replaceCurrentKey(openComposed(subKey1, subKey2, true));
  return g_currentKey != nullptr;
}

LONG WINAPI CreateNewUserProfile(LPCSTR subKey1) {
  LONG index = ExtRegGetVal(subKey1, nullptr, "Current Profile");
  std::string profile = quorelreg::profileKeyName(index);
  return CreateNewKey(subKey1, profile.c_str());
}

// Deletes one profile key. Both names are required: with either left out the composed path would
// name the product key or a front end's key, which lose every value they hold when they have no
// sub-keys (an empty name composes a trailing backslash, which the registry reads the same way).
LONG WINAPI ExtRegDeleteProfile(LPCSTR subKey1, LPCSTR subKey2) {
  if (!subKey1 || !*subKey1 || !subKey2 || !*subKey2) {
    g_lastStatus = ERROR_INVALID_PARAMETER;
    return 0;
  }
  if (!composePath(subKey1, subKey2, g_path)) {
    g_lastStatus = ERROR_FILENAME_EXCED_RANGE;
    return 0;
  }
  g_lastStatus = RegDeleteKeyA(HKEY_LOCAL_MACHINE, g_path);
  return g_lastStatus == ERROR_SUCCESS;
}

}  // extern "C"
