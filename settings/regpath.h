// Key paths of the settings store: the root, then up to two sub-key names.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace quorelreg {

constexpr const char kRootPath[] = "Software\\Orvane Imaging";
constexpr std::size_t kPathBufferSize = 264;  // the composed path's buffer; 263 characters at most

// Composes root [\ subKey1] [\ subKey2] into `out` (kPathBufferSize bytes). A path that would not
// fit is refused: false, and `out` is left empty so nothing can be opened with it.
bool composePath(const char* subKey1, const char* subKey2, char* out);

// The key name of the profile whose 0-based index is `index` (a 32-bit "Current Profile" as
// stored): "UserProfile" and index + 1, computed in 64 bits so that no stored number overflows.
std::string profileKeyName(std::int32_t index);

// Parses decimal text as the settings store does: leading white space and a sign allowed,
// stops at the first non-digit; saturates at the limits of a 32-bit number.
long parseDecimal(const char* text);

}  // namespace quorelreg
