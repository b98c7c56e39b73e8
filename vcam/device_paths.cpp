#include "device_paths.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "camera_wire.h"

namespace vcam {

namespace {

// A fixed path is the template with its last character, one hexadecimal digit, replaced.
constexpr std::size_t kFixedPrefixLength = sizeof camwire::kFixedPathTemplate - 2;
constexpr char kInterfacePrefix[] = "\\\\?\\qrvcam#dev_";
constexpr char kInterfaceSuffix[] = "#{5689ce5b-2d63-4615-b0de-ae4db7d80cb5}";

bool equalsIgnoringCase(const char* a, const char* b, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

int fixedPathIndex(const char* path) {
  if (!path || std::strlen(path) != kFixedPrefixLength + 1 ||
      !equalsIgnoringCase(path, camwire::kFixedPathTemplate, kFixedPrefixLength))
    return -1;
  return hexDigit(path[kFixedPrefixLength]);
}

std::string interfacePath(int index, std::uint32_t generation) {
  char path[128];
  std::snprintf(path, sizeof path, "%s%02d&%lu%s", kInterfacePrefix, index, static_cast<unsigned long>(generation),
                kInterfaceSuffix);
  return path;
}

bool parseInterfacePath(const char* path, int& index, std::uint32_t& generation) {
  if (!path) return false;
  const std::size_t prefix = sizeof kInterfacePrefix - 1;
  const std::size_t length = std::strlen(path);
  if (length > 120 || length <= prefix || !equalsIgnoringCase(path, kInterfacePrefix, prefix)) return false;
  int parsedIndex = -1;
  unsigned long parsedGeneration = 0;
  int consumed = 0;
  if (std::sscanf(path + prefix, "%2d&%lu%n", &parsedIndex, &parsedGeneration, &consumed) != 2) return false;
  const char* rest = path + prefix + consumed;
  if (std::strlen(rest) != sizeof kInterfaceSuffix - 1 ||
      !equalsIgnoringCase(rest, kInterfaceSuffix, std::strlen(rest)))
    return false;
  if (parsedIndex < 0 || parsedIndex > 15) return false;
  // Only the exact spelling we hand out names a device (no "+5", no leading blanks).
  if (interfacePath(parsedIndex, static_cast<std::uint32_t>(parsedGeneration)).size() != length) return false;
  index = parsedIndex;
  generation = static_cast<std::uint32_t>(parsedGeneration);
  return true;
}

}  // namespace vcam
