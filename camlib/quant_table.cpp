#include "quant_table.h"

namespace camlib {

namespace {

// ITU-T T.81 Annex K, Table K.1 (luminance) and Table K.2 (chrominance), in natural (row) order.
constexpr std::uint8_t kLuminance[64] = {
    16, 11, 10, 16, 24,  40,  51,  61,   //
    12, 12, 14, 19, 26,  58,  60,  55,   //
    14, 13, 16, 24, 40,  57,  69,  56,   //
    14, 17, 22, 29, 51,  87,  80,  62,   //
    18, 22, 37, 56, 68,  109, 103, 77,   //
    24, 35, 55, 64, 81,  104, 113, 92,   //
    49, 64, 78, 87, 103, 121, 120, 101,  //
    72, 92, 95, 98, 112, 100, 103, 99,
};
constexpr std::uint8_t kChrominance[64] = {
    17, 18, 24, 47, 99, 99, 99, 99,  //
    18, 21, 26, 66, 99, 99, 99, 99,  //
    24, 26, 56, 99, 99, 99, 99, 99,  //
    47, 66, 99, 99, 99, 99, 99, 99,  //
    99, 99, 99, 99, 99, 99, 99, 99,  //
    99, 99, 99, 99, 99, 99, 99, 99,  //
    99, 99, 99, 99, 99, 99, 99, 99,  //
    99, 99, 99, 99, 99, 99, 99, 99,
};
// Zig-zag position i -> natural index.
constexpr std::uint8_t kZigZag[64] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,   //
    12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,  //
    35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,  //
    58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63,
};

QuantTable makeBase() {
  QuantTable base{};
  for (int i = 0; i < 64; ++i) {
    base[i] = static_cast<std::uint16_t>(kLuminance[kZigZag[i]] * 2);
    base[64 + i] = static_cast<std::uint16_t>(kChrominance[kZigZag[i]] * 2);
  }
  return base;
}

std::int32_t qualityScale(std::int32_t quality) {
  if (quality < 100) return 10;
  if (quality <= 200) return 50;
  return 85;
}

}  // namespace

const QuantTable& baseQuantTable() {
  static const QuantTable base = makeBase();
  return base;
}

QuantTable buildQuantTable(std::int32_t quality) {
  const std::int32_t k = qualityScale(quality);
  QuantTable table{};
  for (int i = 0; i < 128; ++i) {
    const std::int32_t step = (baseQuantTable()[i] * (100 - k)) / 100;
    table[i] = static_cast<std::uint16_t>(step == 0 ? 1 : step);
  }
  return table;
}

std::array<std::uint8_t, 256> quantTableBytes(const QuantTable& table) {
  std::array<std::uint8_t, 256> bytes{};
  for (int i = 0; i < 128; ++i) {
    bytes[2 * i] = static_cast<std::uint8_t>(table[i] & 0xFF);
    bytes[2 * i + 1] = static_cast<std::uint8_t>(table[i] >> 8);
  }
  return bytes;
}

}  // namespace camlib
