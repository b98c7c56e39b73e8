// Vector forms of the row kernels in colour_convert.h and of the inverse DCT in idct.h, used when the processor has
// them. Each does the leading part of the row it can and returns the number of pixels (or pairs) it did.
#pragma once

#include <cstddef>
#include <cstdint>

#if (defined(__GNUC__) || defined(__clang__)) && (defined(__x86_64__) || defined(__i386__))
#define QR_HAVE_X86_SIMD 1
#else
#define QR_HAVE_X86_SIMD 0
#endif

namespace qrjpeg {
namespace simd {

#if QR_HAVE_X86_SIMD
// A 32-bit word of two 16-bit coefficients (d's low, e's high), for the multiply-adds of chroma
// pairs (d, e).
constexpr int coeffPair(int forD, int forE) {
  return static_cast<int>((static_cast<unsigned>(forE) << 16) | (static_cast<unsigned>(forD) & 0xFFFFu));
}

bool HaveAvx2();
bool HaveAvx512();  // AVX-512F and AVX-512BW
int ConvertRowRgb555Avx512(const uint8_t* src, int width, uint8_t* dst);
int ConvertRowBgr24Avx2(const uint8_t* src, int width, uint8_t* dst);
int ConvertRowRgb555Avx2(const uint8_t* src, int width, uint8_t* dst);
int ExtractLumaRowAvx2(const uint8_t* src, int width, uint8_t* dst);
int AverageChromaRowsAvx2(const uint8_t* a, const uint8_t* b, int pairs, uint8_t* u, uint8_t* v);
int ConvertStripYvu410Avx2(const uint8_t* rows, size_t stride, int blocks, uint8_t* luma, size_t lumaStride, uint8_t* u,
                           uint8_t* v);
int DoublePixelsRowAvx2(const uint8_t* src, int width, uint8_t* dst);
void InverseDctAvx2(const int16_t* coefficients, const uint16_t* quant, uint8_t* out);
#endif

}  // namespace simd
}  // namespace qrjpeg
