#include "quant_table.h"

#include "jpeg_tables.h"

namespace camlib {

namespace {

QuantTable makeBase() {
  QuantTable base{};
  for (int i = 0; i < 64; ++i) {
    // The typical tables of the JPEG standard, doubled, in zig-zag order.
    base[i] = static_cast<std::uint16_t>(qrjpeg::kLuminanceQuant[qrjpeg::kZigzagToNatural[i]] * 2);
    base[64 + i] = static_cast<std::uint16_t>(qrjpeg::kChrominanceQuant[qrjpeg::kZigzagToNatural[i]] * 2);
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
