// Tables of the JPEG standard (ITU-T T.81): the zig-zag order, the example quantisation tables
// and the example Huffman tables of Annex K, and the 8 x 8 DCT basis.
#pragma once
#include <cstdint>

namespace vic::jpeg {

// Natural (row-major) position of the k-th coefficient in zig-zag order, with guard entries so
// that a position one past the end stays inside a block.
extern const uint8_t kZigZag[64 + 16];

// Annex K.1: luminance and chrominance quantisation, natural order.
extern const uint8_t kLuminanceQuant[64];
extern const uint8_t kChrominanceQuant[64];

// Annex K.3: code counts per length 1..16 and the symbols.
struct HuffmanSpec {
  uint8_t counts[16];
  const uint8_t* symbols;
  int symbolCount;
};
extern const HuffmanSpec kDcLuminance, kDcChrominance, kAcLuminance, kAcChrominance;

// kBasis[x][u] = C(u) / 2 * cos((2x + 1) u pi / 16), C(0) = 1 / sqrt(2), C(u) = 1 otherwise:
// f(x, y) = sum over u, v of kBasis[x][u] kBasis[y][v] F(u, v), and F the same sum the other way.
extern const float (&kBasis)[8][8];

}  // namespace vic::jpeg
