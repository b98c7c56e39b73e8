#include "discovery_policy.h"

#include <cstring>

#include "camera_wire.h"

namespace camlib {

DiscoveryMethods discoveryMethodsFor(std::uint32_t platformId, std::uint32_t majorVersion, std::uint32_t minorVersion) {
  constexpr std::uint32_t kWindows9x = 1, kWindowsNt = 2;
  DiscoveryMethods methods;
  if (platformId == kWindows9x) {
    // Windows 95 has no device-interface classes; 98 and Me do.
    methods.fixedPaths = true;
    methods.interfaceClass = minorVersion > 0;
  } else if (platformId == kWindowsNt && majorVersion == 4) {
    methods.fixedPaths = true;
  } else if (platformId == kWindowsNt && majorVersion >= 5) {
    methods.fixedPaths = true;
    methods.interfaceClass = true;
  }
  return methods;
}

std::string fixedDevicePath(int digit) {
  std::string path = camwire::kFixedPathTemplate;
  path.back() = "0123456789ABCDEF"[digit & 0xF];
  return path;
}

void listPathField(const char* path, char field[kListPathFieldSize]) {
  std::memset(field, 0, kListPathFieldSize);
  const std::size_t length = std::strlen(path);
  if (length <= 4) return;
  std::size_t shown = length - 4;
  if (shown > 16) shown = 16;
  std::memcpy(field, path + 4, shown);
}

}  // namespace camlib
