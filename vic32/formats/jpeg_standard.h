// Tables of the JPEG standard (ITU-T T.81) for the image library's JPEG files: the zig-zag order,
// the example quantisation and Huffman tables of Annex K (the same tables the camera's frame
// decoder uses, from camlib/decoder), and the 8 x 8 DCT basis.
#pragma once
#include <cstdint>

#include "jpeg_tables.h"  // camlib/decoder, namespace qrjpeg

namespace vic::jpeg {

using qrjpeg::HuffmanSpec;

// Natural (row-major) position of the k-th coefficient in zig-zag order, with guard entries so
// that a position one past the end stays inside a block.
inline const auto& kZigZag = qrjpeg::kZigzagToNatural;

// Annex K.1 and K.2: luminance and chrominance quantisation, natural order.
inline const auto& kLuminanceQuant = qrjpeg::kLuminanceQuant;
inline const auto& kChrominanceQuant = qrjpeg::kChrominanceQuant;

// Annex K.3 to K.6.
inline const HuffmanSpec& kDcLuminance = qrjpeg::kLuminanceDc;
inline const HuffmanSpec& kDcChrominance = qrjpeg::kChrominanceDc;
inline const HuffmanSpec& kAcLuminance = qrjpeg::kLuminanceAc;
inline const HuffmanSpec& kAcChrominance = qrjpeg::kChrominanceAc;

// kBasis[x][u] = C(u) / 2 * cos((2x + 1) u pi / 16), C(0) = 1 / sqrt(2), C(u) = 1 otherwise:
// f(x, y) = sum over u, v of kBasis[x][u] kBasis[y][v] F(u, v), and F the same sum the other way.
extern const float (&kBasis)[8][8];

}  // namespace vic::jpeg
