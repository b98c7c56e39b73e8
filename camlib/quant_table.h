// The quantisation tables the camera's JPEG encoder uses (register 25), chosen by quality.
#pragma once
#include <array>
#include <cstdint>

namespace camlib {

// 64 luminance then 64 chrominance steps, each table in zig-zag order.
using QuantTable = std::array<std::uint16_t, 128>;

// The base: ITU-T T.81 Annex K tables K.1 and K.2 with every entry doubled, in zig-zag order.
const QuantTable& baseQuantTable();

// Quality (already clamped to 0-255) picks the scale: below 100 keeps 90 %, 100-200 keeps 50 %,
// above 200 keeps 15 % of the base steps.
QuantTable buildQuantTable(std::int32_t quality);

// The little-endian 256-byte data stage of the register 25 table write.
std::array<std::uint8_t, 256> quantTableBytes(const QuantTable& table);

}  // namespace camlib
