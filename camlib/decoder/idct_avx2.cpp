// AVX2 form of the accurate integer inverse DCT: the eight columns (then the eight rows) of a block
// go through the same butterfly side by side, one per 32-bit lane, with the same wrapping 32-bit
// arithmetic, the same 16-bit operands for the constant multiplies (a 16 x 16 -> 32-bit
// multiply-add against a zero high half) and the same shortcuts for lines without AC terms, chosen
// lane by lane. The output is identical to InverseDct's for every input.
#include "colour_convert_simd.h"
#include "idct.h"

#if QR_HAVE_X86_SIMD

#include <immintrin.h>

namespace qrjpeg {
namespace simd {

namespace {

#define QR_AVX2 __attribute__((target("avx2")))

QR_AVX2 inline __m256i mul(__m256i v, int c) { return _mm256_madd_epi16(v, _mm256_set1_epi32(c & 0xFFFF)); }

struct Butterfly {
  __m256i t10, t11, t12, t13, t0, t1, t2, t3;
};

QR_AVX2 inline Butterfly transform(const __m256i* in) {
  Butterfly b;
  const __m256i z1 = mul(_mm256_add_epi32(in[2], in[6]), 4433);
  const __m256i tmp2 = _mm256_add_epi32(z1, mul(in[6], -15137));
  const __m256i tmp3 = _mm256_add_epi32(z1, mul(in[2], 6270));
  const __m256i tmp0 = _mm256_slli_epi32(_mm256_add_epi32(in[0], in[4]), 13);
  const __m256i tmp1 = _mm256_slli_epi32(_mm256_sub_epi32(in[0], in[4]), 13);
  b.t10 = _mm256_add_epi32(tmp0, tmp3);
  b.t13 = _mm256_sub_epi32(tmp0, tmp3);
  b.t11 = _mm256_add_epi32(tmp1, tmp2);
  b.t12 = _mm256_sub_epi32(tmp1, tmp2);

  const __m256i o0 = in[7], o1 = in[5], o2 = in[3], o3 = in[1];
  const __m256i za = _mm256_add_epi32(o0, o3), zb = _mm256_add_epi32(o1, o2);
  const __m256i zc = _mm256_add_epi32(o0, o2), zd = _mm256_add_epi32(o1, o3);
  const __m256i z5 = mul(_mm256_add_epi32(zc, zd), 9633);
  const __m256i ma = mul(za, -7373), mb = mul(zb, -20995);
  const __m256i mc = _mm256_add_epi32(mul(zc, -16069), z5);
  const __m256i md = _mm256_add_epi32(mul(zd, -3196), z5);
  b.t0 = _mm256_add_epi32(_mm256_add_epi32(mul(o0, 2446), ma), mc);
  b.t1 = _mm256_add_epi32(_mm256_add_epi32(mul(o1, 16819), mb), md);
  b.t2 = _mm256_add_epi32(_mm256_add_epi32(mul(o2, 25172), mb), mc);
  b.t3 = _mm256_add_epi32(_mm256_add_epi32(mul(o3, 12299), ma), md);
  return b;
}

QR_AVX2 inline __m256i descale(__m256i v, int n) {
  return _mm256_srai_epi32(_mm256_add_epi32(v, _mm256_set1_epi32(1 << (n - 1))), n);
}

// Results of the butterfly in output order 0..7.
QR_AVX2 inline void outputs(const Butterfly& b, int n, __m256i* out) {
  out[0] = descale(_mm256_add_epi32(b.t10, b.t3), n);
  out[7] = descale(_mm256_sub_epi32(b.t10, b.t3), n);
  out[1] = descale(_mm256_add_epi32(b.t11, b.t2), n);
  out[6] = descale(_mm256_sub_epi32(b.t11, b.t2), n);
  out[2] = descale(_mm256_add_epi32(b.t12, b.t1), n);
  out[5] = descale(_mm256_sub_epi32(b.t12, b.t1), n);
  out[3] = descale(_mm256_add_epi32(b.t13, b.t0), n);
  out[4] = descale(_mm256_sub_epi32(b.t13, b.t0), n);
}

QR_AVX2 inline void transpose(__m256i* r) {
  __m256i t[8], u[8];
#pragma GCC unroll 8
  for (int i = 0; i < 8; i += 2) {
    t[i] = _mm256_unpacklo_epi32(r[i], r[i + 1]);
    t[i + 1] = _mm256_unpackhi_epi32(r[i], r[i + 1]);
  }
#pragma GCC unroll 8
  for (int i = 0; i < 8; i += 4) {
    u[i] = _mm256_unpacklo_epi64(t[i], t[i + 2]);
    u[i + 1] = _mm256_unpackhi_epi64(t[i], t[i + 2]);
    u[i + 2] = _mm256_unpacklo_epi64(t[i + 1], t[i + 3]);
    u[i + 3] = _mm256_unpackhi_epi64(t[i + 1], t[i + 3]);
  }
#pragma GCC unroll 8
  for (int i = 0; i < 4; ++i) {
    r[i] = _mm256_permute2x128_si256(u[i], u[i + 4], 0x20);
    r[i + 4] = _mm256_permute2x128_si256(u[i], u[i + 4], 0x31);
  }
}

// The range-limit table as arithmetic: t = (v + 128) & 1023; t below 256 stays, 256..639
// saturates to 255, 640..1023 wraps to 0.
QR_AVX2 inline __m256i rangeLimit(__m256i v) {
  const __m256i t = _mm256_and_si256(_mm256_add_epi32(v, _mm256_set1_epi32(128)), _mm256_set1_epi32(1023));
  const __m256i wrapped = _mm256_cmpgt_epi32(t, _mm256_set1_epi32(639));
  return _mm256_andnot_si256(wrapped, _mm256_min_epi32(t, _mm256_set1_epi32(255)));
}

QR_AVX2 inline __m256i blend(__m256i mask, __m256i ifSet, __m256i otherwise) {
  return _mm256_blendv_epi8(otherwise, ifSet, mask);
}

}  // namespace

QR_AVX2 void InverseDctAvx2(const int16_t* coef, const uint16_t* quant, uint8_t* out) {
  // Pass 1: lane c holds column c; v[k] is row k of the block.
  __m256i v[8];
  __m256i acCoefs = _mm256_setzero_si256();
#pragma GCC unroll 8
  for (int k = 0; k < 8; ++k) {
    const __m256i c = _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(coef + 8 * k)));
    const __m256i q = _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(quant + 8 * k)));
    v[k] = _mm256_mullo_epi32(c, q);
    if (k) acCoefs = _mm256_or_si256(acCoefs, c);
  }
  const __m256i dcColumn = _mm256_cmpeq_epi32(acCoefs, _mm256_setzero_si256());
  const __m256i dcValue = _mm256_slli_epi32(v[0], 2);
  __m256i w[8];
  outputs(transform(v), 11, w);
#pragma GCC unroll 8
  for (int k = 0; k < 8; ++k) w[k] = blend(dcColumn, dcValue, w[k]);

  // Pass 2: lane r holds row r.
  transpose(w);
  __m256i acTerms = w[1];
#pragma GCC unroll 8
  for (int k = 2; k < 8; ++k) acTerms = _mm256_or_si256(acTerms, w[k]);
  const __m256i dcRow = _mm256_cmpeq_epi32(acTerms, _mm256_setzero_si256());
  const __m256i rowValue = descale(w[0], 5);
  __m256i o[8];
  outputs(transform(w), 18, o);
#pragma GCC unroll 8
  for (int k = 0; k < 8; ++k) o[k] = rangeLimit(blend(dcRow, rowValue, o[k]));

  // Back to rows of samples: after the transpose o[r] lane k is sample k of row r.
  transpose(o);
  const __m256i p01 = _mm256_packus_epi32(o[0], o[1]), p23 = _mm256_packus_epi32(o[2], o[3]);
  const __m256i p45 = _mm256_packus_epi32(o[4], o[5]), p67 = _mm256_packus_epi32(o[6], o[7]);
  const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
  const __m256i top = _mm256_permutevar8x32_epi32(_mm256_packus_epi16(p01, p23), order);
  const __m256i bottom = _mm256_permutevar8x32_epi32(_mm256_packus_epi16(p45, p67), order);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), top);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 32), bottom);
}

}  // namespace simd
}  // namespace qrjpeg

#endif
