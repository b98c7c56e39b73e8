#include "mcu_writer.h"

#include "colour_convert_simd.h"
#include "vector_kernels.h"

#if QR_HAVE_X86_SIMD
#include <immintrin.h>
#endif

namespace qrjpeg {

namespace {

void writePlain(const McuBlocks& blocks, uint8_t* dst, size_t stride, int pairs, int rows) {
  for (int y = 0; y < rows; ++y) {
    const uint8_t* y0 = blocks[0] + 8 * y;
    const uint8_t* y1 = blocks[1] + 8 * y;
    const uint8_t* cb = blocks[2] + 8 * y;
    const uint8_t* cr = blocks[3] + 8 * y;
    uint8_t* o = dst + y * stride;
    for (int j = 0; j < pairs; ++j) {
      const uint8_t* luma = j < 4 ? y0 + 2 * j : y1 + 2 * (j - 4);
      o[4 * j + 0] = luma[0];
      o[4 * j + 1] = cb[j];
      o[4 * j + 2] = luma[1];
      o[4 * j + 3] = cr[j];
    }
  }
}

#if QR_HAVE_X86_SIMD
// A whole row of the MCU is 16 luminance samples (blocks 0 and 1 side by side) interleaved byte by
// byte with Cb0 Cr0 Cb1 Cr1 ...
__attribute__((target("avx2"))) void writeWhole(const McuBlocks& blocks, uint8_t* dst, size_t stride, int rows) {
  for (int y = 0; y < rows; ++y) {
    const __m128i luma = _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(blocks[0] + 8 * y)),
                                            _mm_loadl_epi64(reinterpret_cast<const __m128i*>(blocks[1] + 8 * y)));
    const __m128i chroma = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(blocks[2] + 8 * y)),
                                             _mm_loadl_epi64(reinterpret_cast<const __m128i*>(blocks[3] + 8 * y)));
    __m128i* o = reinterpret_cast<__m128i*>(dst + y * stride);
    _mm_storeu_si128(o, _mm_unpacklo_epi8(luma, chroma));
    _mm_storeu_si128(o + 1, _mm_unpackhi_epi8(luma, chroma));
  }
}
#endif

}  // namespace

void WriteMcu(const McuBlocks& blocks, uint8_t* dst, size_t stride, int pairs, int rows) {
#if QR_HAVE_X86_SIMD
  if (pairs == 8 && UseVectorKernels()) {
    writeWhole(blocks, dst, stride, rows);
    return;
  }
#endif
  writePlain(blocks, dst, stride, pairs, rows);
}

}  // namespace qrjpeg
