// AVX2 forms of the row kernels. Each handles the leading multiple of its block of pixels and
// returns how many pixels it did; the plain form finishes the row. The BGR row's arithmetic is the
// plain form's, lane by lane: chroma terms by 16x16 -> 32-bit multiply-adds shifted right by 10 (an
// arithmetic shift, like the plain form's), then added to Y and saturated to 0..255. The RGB 5-5-5
// row, which keeps only five bits of each channel, reaches the same bytes with less work (see there).
#include "colour_convert.h"
#include "colour_convert_simd.h"

#if QR_HAVE_X86_SIMD

#include <immintrin.h>

namespace qrjpeg {
namespace simd {

namespace {

#define QR_AVX2 __attribute__((target("avx2")))

struct Offsets {
  __m256i blue, green, red;  // per pixel, 16-bit, pixel order within each 128-bit lane
};

QR_AVX2 inline __m256i chromaTerm(__m256i de, int forD, int forE) {
  const __m256i dup = _mm256_setr_epi8(0, 1, 0, 1, 4, 5, 4, 5, 8, 9, 8, 9, 12, 13, 12, 13, 0, 1, 0, 1, 4, 5, 4, 5, 8, 9,
                                       8, 9, 12, 13, 12, 13);
  const __m256i sum = _mm256_madd_epi16(de, _mm256_set1_epi32(coeffPair(forD, forE)));
  return _mm256_shuffle_epi8(_mm256_srai_epi32(sum, 10), dup);  // each pair's term to both pixels
}

// 16 pixels (32 source bytes; lane 0 pixels 0..7, lane 1 pixels 8..15).
QR_AVX2 inline Offsets chromaOffsets(__m256i s) {
  const __m256i de = _mm256_sub_epi16(_mm256_srli_epi16(s, 8), _mm256_set1_epi16(128));
  return {chromaTerm(de, kBlueFromU, 0), chromaTerm(de, kGreenFromU, kGreenFromV), chromaTerm(de, 0, kRedFromV)};
}

QR_AVX2 inline __m256i clampByte16(__m256i v) {
  return _mm256_max_epi16(_mm256_min_epi16(v, _mm256_set1_epi16(255)), _mm256_setzero_si256());
}

// Four times a channel, limited to 0..1023 (see ConvertRowRgb555Avx2); y holds 4 Y + offset.
QR_AVX2 inline __m256i limitedTimes4(__m256i y, __m256i term, __m256i offset) {
  return _mm256_subs_epu16(_mm256_adds_epi16(y, term), offset);
}

QR_AVX2 inline __m256i luma16(__m256i s) { return _mm256_and_si256(s, _mm256_set1_epi16(0x00FF)); }

// Byte i of a 48-byte run of 16 blue-green-red pixels comes from channel i % 3 of pixel i / 3.
struct InterleaveMasks {
  alignas(32) int8_t m[3][3][32];  // [output chunk][channel][byte]
  InterleaveMasks() {
    for (int chunk = 0; chunk < 3; ++chunk)
      for (int ch = 0; ch < 3; ++ch)
        for (int j = 0; j < 32; ++j) {
          int i = 16 * chunk + (j & 15);
          m[chunk][ch][j] = static_cast<int8_t>(i % 3 == ch ? i / 3 : -128);
        }
  }
};
const InterleaveMasks kInterleave;

QR_AVX2 inline __m256i loadLanes(const uint8_t* low, const uint8_t* high) {
  return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(low))),
                                 _mm_loadu_si128(reinterpret_cast<const __m128i*>(high)), 1);
}

QR_AVX2 inline __m256i orderLanes(__m256i packed) { return _mm256_permute4x64_epi64(packed, 0xD8); }

}  // namespace

QR_AVX2 int ConvertRowBgr24Avx2(const uint8_t* src, int width, uint8_t* dst) {
  int x = 0;
  for (; x + 32 <= width; x += 32, src += 64, dst += 96) {
    // s0 holds pixels 0..7 and 16..23, s1 pixels 8..15 and 24..31, so that packing the two
    // leaves pixels 0..15 in lane 0 and 16..31 in lane 1.
    const __m256i s0 = loadLanes(src, src + 32);
    const __m256i s1 = loadLanes(src + 16, src + 48);
    const Offsets o0 = chromaOffsets(s0), o1 = chromaOffsets(s1);
    const __m256i y0 = luma16(s0), y1 = luma16(s1);
    const __m256i c[3] = {_mm256_packus_epi16(_mm256_add_epi16(y0, o0.blue), _mm256_add_epi16(y1, o1.blue)),
                          _mm256_packus_epi16(_mm256_add_epi16(y0, o0.green), _mm256_add_epi16(y1, o1.green)),
                          _mm256_packus_epi16(_mm256_add_epi16(y0, o0.red), _mm256_add_epi16(y1, o1.red))};
    __m256i out[3];
#pragma GCC unroll 3
    for (int chunk = 0; chunk < 3; ++chunk) {
      __m256i v = _mm256_setzero_si256();
#pragma GCC unroll 3
      for (int ch = 0; ch < 3; ++ch) {
        const __m256i mask = _mm256_load_si256(reinterpret_cast<const __m256i*>(kInterleave.m[chunk][ch]));
        v = _mm256_or_si256(v, _mm256_shuffle_epi8(c[ch], mask));
      }
      out[chunk] = v;  // lane 0: bytes of pixels 0..15, lane 1: of pixels 16..31
    }
    __m256i* d = reinterpret_cast<__m256i*>(dst);
    _mm256_storeu_si256(d, _mm256_permute2x128_si256(out[0], out[1], 0x20));
    _mm256_storeu_si256(d + 1, _mm256_permute2x128_si256(out[2], out[0], 0x30));
    _mm256_storeu_si256(d + 2, _mm256_permute2x128_si256(out[1], out[2], 0x31));
  }
  return x;
}

// Each channel is worked at four times its value: 4 Y plus the chroma term at that scale, whose two
// low bits hold the part of the product below a quarter and so cannot reach bit 2 and up. Offset by
// 0x7C00, signed saturation stops the sum at 1023 (4 x 255 + 3) and the unsigned saturating removal
// of the offset at 0: the limiting to 0..255 costs two operations, and the five bits kept are bits
// 5..9 of the result.
QR_AVX2 int ConvertRowRgb555Avx2(const uint8_t* src, int width, uint8_t* dst) {
  const __m256i offset = _mm256_set1_epi16(0x7C00);
  const __m256i chromaBytes = _mm256_set1_epi16(static_cast<short>(0xFF00));
  const __m256i chromaBias = _mm256_set1_epi16(static_cast<short>(0x8000));
  const __m256i blueRed = _mm256_set1_epi32(coeffPair(kBlueFromU, kRedFromV));
  const __m256i green = _mm256_set1_epi32(coeffPair(kGreenFromU, kGreenFromV));
  const __m256i lumaTimes4 = _mm256_set1_epi16(4);
  // Word 0 (or 1) of each pixel pair's 32 bits to both of its pixels.
  const __m256i low = _mm256_setr_epi8(0, 1, 0, 1, 4, 5, 4, 5, 8, 9, 8, 9, 12, 13, 12, 13, 0, 1, 0, 1, 4, 5, 4, 5, 8, 9,
                                       8, 9, 12, 13, 12, 13);
  const __m256i high = _mm256_setr_epi8(2, 3, 2, 3, 6, 7, 6, 7, 10, 11, 10, 11, 14, 15, 14, 15, 2, 3, 2, 3, 6, 7, 6, 7,
                                        10, 11, 10, 11, 14, 15, 14, 15);
  int x = 0;
  for (; x + 16 <= width; x += 16, src += 32, dst += 32) {
    const __m256i s = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src));
    // 256 d and 256 e in the pair's two words.
    const __m256i de = _mm256_xor_si256(_mm256_and_si256(s, chromaBytes), chromaBias);
    // (1774 d) >> 8 and (1398 e) >> 8: the blue and red terms at four times their value.
    const __m256i br = _mm256_mulhi_epi16(de, blueRed);
    // 256 (-342 d - 716 e): its upper word is the green term at four times its value.
    const __m256i g = _mm256_madd_epi16(de, green);
    const __m256i y = _mm256_add_epi16(_mm256_maddubs_epi16(s, lumaTimes4), offset);
    const __m256i b4 = limitedTimes4(y, _mm256_shuffle_epi8(br, low), offset);
    const __m256i r4 = limitedTimes4(y, _mm256_shuffle_epi8(br, high), offset);
    const __m256i g4 = limitedTimes4(y, _mm256_shuffle_epi8(g, high), offset);
    const __m256i word =
        _mm256_or_si256(_mm256_or_si256(_mm256_and_si256(_mm256_slli_epi16(r4, 5), _mm256_set1_epi16(0x7C00)),
                                        _mm256_and_si256(g4, _mm256_set1_epi16(0x03E0))),
                        _mm256_srli_epi16(b4, 5));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst), word);
  }
  return x;
}

QR_AVX2 int ExtractLumaRowAvx2(const uint8_t* src, int width, uint8_t* dst) {
  int x = 0;
  for (; x + 32 <= width; x += 32, src += 64, dst += 32) {
    const __m256i s0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src));
    const __m256i s1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + 32));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst), orderLanes(_mm256_packus_epi16(luma16(s0), luma16(s1))));
  }
  return x;
}

QR_AVX2 int AverageChromaRowsAvx2(const uint8_t* a, const uint8_t* b, int pairs, uint8_t* u, uint8_t* v) {
  const __m256i low = _mm256_set1_epi32(0xFFFF);
  int j = 0;
  for (; j + 16 <= pairs; j += 16, a += 64, b += 64, u += 16, v += 16) {
    __m256i uv[2];
#pragma GCC unroll 2
    for (int h = 0; h < 2; ++h) {
      const __m256i sa = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + 32 * h));
      const __m256i sb = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + 32 * h));
      uv[h] = _mm256_srli_epi16(_mm256_add_epi16(_mm256_srli_epi16(sa, 8), _mm256_srli_epi16(sb, 8)), 1);
    }
    // Words U V U V ...: U is the low half of each 32-bit group, V the high half.
    const __m256i us = orderLanes(_mm256_packus_epi32(_mm256_and_si256(uv[0], low), _mm256_and_si256(uv[1], low)));
    const __m256i vs = orderLanes(_mm256_packus_epi32(_mm256_srli_epi32(uv[0], 16), _mm256_srli_epi32(uv[1], 16)));
    const __m256i bytes = orderLanes(_mm256_packus_epi16(us, vs));  // 16 U then 16 V
    _mm_storeu_si128(reinterpret_cast<__m128i*>(u), _mm256_castsi256_si128(bytes));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(v), _mm256_extracti128_si256(bytes, 1));
  }
  return j;
}

// One pass over the four rows: the luminance of each 32-byte load is stored while its chroma
// joins the block sums, so the strip is read once.
QR_AVX2 int ConvertStripYvu410Avx2(const uint8_t* rows, size_t stride, int blocks, uint8_t* luma, size_t lumaStride,
                                   uint8_t* u, uint8_t* v) {
  // Dword 0 of each 64-bit group (one block after the sums) in order, to both halves.
  const __m256i compress = _mm256_setr_epi32(0, 2, 4, 6, 0, 2, 4, 6);
  // Bytes U V of blocks 0..3 and 8..11 (lane 0), 4..7 and 12..15 (lane 1) to U of the lane's
  // blocks in dwords 0 and 1, V in dwords 2 and 3.
  const __m256i split = _mm256_setr_epi8(0, 2, 4, 6, 8, 10, 12, 14, 1, 3, 5, 7, 9, 11, 13, 15, 0, 2, 4, 6, 8, 10, 12,
                                         14, 1, 3, 5, 7, 9, 11, 13, 15);
  const __m256i blockOrder = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
  int i = 0;
  for (; i + 16 <= blocks; i += 16, rows += 128, luma += 64, u += 16, v += 16) {
    // Word sums U V U V ... over the four rows, four blocks to a vector.
    __m256i sum[4];
#pragma GCC unroll 4
    for (int r = 0; r < 4; ++r) {
      const __m256i* p = reinterpret_cast<const __m256i*>(rows + r * stride);
      __m256i s[4];
#pragma GCC unroll 4
      for (int q = 0; q < 4; ++q) {
        s[q] = _mm256_loadu_si256(p + q);
        const __m256i chroma = _mm256_srli_epi16(s[q], 8);
        sum[q] = r == 0 ? chroma : _mm256_add_epi16(sum[q], chroma);
      }
      __m256i* out = reinterpret_cast<__m256i*>(luma + r * lumaStride);
      _mm256_storeu_si256(out, orderLanes(_mm256_packus_epi16(luma16(s[0]), luma16(s[1]))));
      _mm256_storeu_si256(out + 1, orderLanes(_mm256_packus_epi16(luma16(s[2]), luma16(s[3]))));
    }
    // Each block's two pairs: U V in words 0 1 of its 64-bit group once the upper half is added.
    __m256i block[4];
#pragma GCC unroll 4
    for (int q = 0; q < 4; ++q) block[q] = _mm256_add_epi16(sum[q], _mm256_srli_epi64(sum[q], 32));
    // Dwords U | V << 16 of blocks 0..7, and of 8..15.
    const __m256i first = _mm256_blend_epi32(_mm256_permutevar8x32_epi32(block[0], compress),
                                             _mm256_permutevar8x32_epi32(block[1], compress), 0xF0);
    const __m256i second = _mm256_blend_epi32(_mm256_permutevar8x32_epi32(block[2], compress),
                                              _mm256_permutevar8x32_epi32(block[3], compress), 0xF0);
    const __m256i bytes = _mm256_packus_epi16(_mm256_srli_epi16(first, 3), _mm256_srli_epi16(second, 3));
    const __m256i planes = _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(bytes, split), blockOrder);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(u), _mm256_castsi256_si128(planes));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(v), _mm256_extracti128_si256(planes, 1));
  }
  return i;
}

QR_AVX2 int DoublePixelsRowAvx2(const uint8_t* src, int width, uint8_t* dst) {
  // Y0 U Y1 V -> Y0 U Y0 V Y1 U Y1 V: lane 0 takes pixel pairs 0..1, lane 1 pairs 2..3.
  const __m256i mask = _mm256_setr_epi8(0, 1, 0, 3, 2, 1, 2, 3, 4, 5, 4, 7, 6, 5, 6, 7, 8, 9, 8, 11, 10, 9, 10, 11, 12,
                                        13, 12, 15, 14, 13, 14, 15);
  int x = 0;
  for (; x + 8 <= width; x += 8, src += 16, dst += 32) {
    const __m256i s = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src)));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst), _mm256_shuffle_epi8(s, mask));
  }
  return x;
}

bool HaveAvx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
}

}  // namespace simd
}  // namespace qrjpeg

#endif
