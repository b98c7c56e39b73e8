// How setter arguments become stored values and register values. Pure functions, shared by the
// exports and the native tests.
#pragma once
#include <cstdint>

namespace camlib {

// An argument above 255 taken as unsigned (so also any negative one) becomes 255.
inline std::int32_t clampToByte(std::int32_t value) { return static_cast<std::uint32_t>(value) > 255u ? 255 : value; }

// Exposure-control mode: the highest of bits 3, 2 and 0-1 decides.
inline std::uint32_t exposureModeRegister(std::int32_t mode) {
  if (mode & 8) return 3;
  if (mode & 4) return 2;
  if (mode & 3) return 1;
  return 0;
}

// The flip register compensates for bottom-up output formats (0, 1, 2): it is set when exactly one
// of "invert requested" and "bottom-up format" holds.
inline std::uint32_t flipRegister(std::int32_t invert, std::int32_t outputFormat) {
  const bool bottomUp = outputFormat >= 0 && outputFormat <= 2;
  return (invert != 0) != bottomUp ? 1u : 0u;
}

}  // namespace camlib
