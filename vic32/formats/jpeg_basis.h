// The 8 x 8 DCT basis of the image library's JPEG reader and writer, which transform in floating
// point. The standard's tables and the entropy coding are the shared coder's (jpegcoder/).
#pragma once

namespace vic::jpeg {

// kBasis[x][u] = C(u) / 2 * cos((2x + 1) u pi / 16), C(0) = 1 / sqrt(2), C(u) = 1 otherwise:
// f(x, y) = sum over u, v of kBasis[x][u] kBasis[y][v] F(u, v), and F the same sum the other way.
extern const float (&kBasis)[8][8];

}  // namespace vic::jpeg
