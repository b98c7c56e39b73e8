// The tone table the camera applies to luminance (register 13): a base curve that lifts the
// shadows by the BLC level, then one of four gamma curves blended by the gamma setting.
#pragma once
#include <array>
#include <cstdint>

namespace camlib {

using ToneTable = std::array<std::uint8_t, 256>;
using ToneCurve = std::array<std::int32_t, 256>;

// BLC level b: b = 0 is the identity, larger b lifts the shadows and flattens the rest.
std::int32_t baseToneCurve(std::int32_t x, std::int32_t blcLevel);

// The four stored gamma curves T0-T3 (index 0-3).
const ToneCurve& gammaCurve(int which);

// The 256 bytes sent to register 13 for gamma 0-255 and BLC level 0-255.
ToneTable buildToneTable(std::int32_t gamma, std::int32_t blcLevel);

}  // namespace camlib
