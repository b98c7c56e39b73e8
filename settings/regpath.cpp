#include "regpath.h"

#include <cctype>
#include <climits>
#include <cstring>

namespace quorelreg {

bool composePath(const char* subKey1, const char* subKey2, char* out) {
  std::string path = kRootPath;
  for (const char* part : {subKey1, subKey2}) {
    if (part) {
      path += '\\';
      path += part;
    }
  }
  if (path.size() >= kPathBufferSize) {
    out[0] = '\0';
    return false;
  }
  std::memcpy(out, path.c_str(), path.size() + 1);
  return true;
}

std::string profileKeyName(std::int32_t index) {
  return "UserProfile" + std::to_string(static_cast<std::int64_t>(index) + 1);
}

long parseDecimal(const char* text) {
  while (std::isspace(static_cast<unsigned char>(*text))) ++text;
  bool negative = false;
  if (*text == '+' || *text == '-') negative = (*text++ == '-');
  long long value = 0;
  for (; std::isdigit(static_cast<unsigned char>(*text)); ++text) {
    value = value * 10 + (*text - '0');
    if (value > static_cast<long long>(INT_MAX) + 1) break;  // saturated; the rest cannot matter
  }
  if (negative) value = -value;
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<long>(value);
}

}  // namespace quorelreg
