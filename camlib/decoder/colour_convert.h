// Row kernels of the converters. Each has a plain C++ form; where the processor offers AVX2 a vector
// form that gives the same bytes is chosen at run time (vector_kernels.h).
//
// Colour of formats 0 and 2, per pixel with its pair's chroma (d = U - 128, e = V - 128):
//     blue  = (1024 Y + 1774 d) >> 10
//     green = (1024 Y - 342 d - 716 e) >> 10
//     red   = (1024 Y + 1398 e) >> 10
// each limited to 0..255 (shifts are arithmetic, i.e. they round toward minus infinity).
#pragma once

#include <cstddef>
#include <cstdint>

namespace qrjpeg {

// The chroma coefficients of the formulas above, for the plain and the vector forms alike.
constexpr int kBlueFromU = 1774;
constexpr int kGreenFromU = -342;
constexpr int kGreenFromV = -716;
constexpr int kRedFromV = 1398;

// width pixels (even) of packed Y0 U Y1 V into 24-bit blue, green, red.
void ConvertRowBgr24(const uint8_t* src, int width, uint8_t* dst);
// width pixels into 16-bit words (red >> 3) << 10 | (green >> 3) << 5 | (blue >> 3), little-endian.
void ConvertRowRgb555(const uint8_t* src, int width, uint8_t* dst);
// The luminance bytes of width pixels.
void ExtractLumaRow(const uint8_t* src, int width, uint8_t* dst);
// pairs pixel pairs of two rows: u[j] = (Ua + Ub) >> 1, v[j] = (Va + Vb) >> 1.
void AverageChromaRows(const uint8_t* a, const uint8_t* b, int pairs, uint8_t* u, uint8_t* v);
// Four rows of width pixels (stride bytes apart) into four rows of luminance (lumaStride apart) and
// the chroma of their width / 4 blocks of 4 x 4 pixels (two pairs in each row):
// u[i] = (sum of block i's eight U) >> 3, likewise v[i].
void ConvertStripYvu410(const uint8_t* rows, size_t stride, int width, uint8_t* luma, size_t lumaStride, uint8_t* u,
                        uint8_t* v);
// width pixels of Y0 U Y1 V into 2 x width pixels: Y0 U Y0 V Y1 U Y1 V.
void DoublePixelsRow(const uint8_t* src, int width, uint8_t* dst);

}  // namespace qrjpeg
