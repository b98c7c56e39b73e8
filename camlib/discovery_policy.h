// Which discovery methods the running Windows supports, and how device paths are named and shown.
#pragma once
#include <cstdint>
#include <string>

namespace camlib {

struct DiscoveryMethods {
  bool fixedPaths = false;
  // The device-interface class is tried only when the fixed paths found nothing.
  bool interfaceClass = false;
};

// platformId as GetVersionExA reports it: 1 = Windows 95/98/Me, 2 = NT.
DiscoveryMethods discoveryMethodsFor(std::uint32_t platformId, std::uint32_t majorVersion, std::uint32_t minorVersion);

// "\\.\QRVIDDEV0" ... "\\.\QRVIDDEVF" for digit 0-15.
std::string fixedDevicePath(int digit);

// The camera list shows at most 16 bytes of a path, after its four-character "\\.\" prefix.
// Fills all 128 bytes of the field.
constexpr int kListPathFieldSize = 128;
void listPathField(const char* path, char field[kListPathFieldSize]);

}  // namespace camlib
