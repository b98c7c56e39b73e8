// AVX-512 form of the RGB 5-5-5 row: the arithmetic of ConvertRowRgb555Avx2 (colour_convert_avx2.cpp)
// on 32 pixels at a time. Ternary logic takes the chroma bytes and removes their bias in one step and
// merges the three channels' bits in two, which is where it saves over the AVX2 form.
#include "colour_convert.h"
#include "colour_convert_simd.h"

#if QR_HAVE_X86_SIMD

#include <immintrin.h>

namespace qrjpeg {
namespace simd {

namespace {

#define QR_AVX512 __attribute__((target("avx512f,avx512bw")))

// vpternlog truth tables, for operands (a, b, c).
constexpr int kAAndBXorC = 0x6A;  // (a & b) ^ c
constexpr int kASelectsB = 0xCA;  // a ? b : c, bit by bit

// Four times a channel, limited to 0..1023; y holds 4 Y + offset.
QR_AVX512 inline __m512i limitedTimes4(__m512i y, __m512i term, __m512i offset) {
  return _mm512_subs_epu16(_mm512_adds_epi16(y, term), offset);
}

}  // namespace

QR_AVX512 int ConvertRowRgb555Avx512(const uint8_t* src, int width, uint8_t* dst) {
  const __m512i offset = _mm512_set1_epi16(0x7C00);
  const __m512i chromaBytes = _mm512_set1_epi16(static_cast<short>(0xFF00));
  const __m512i chromaBias = _mm512_set1_epi16(static_cast<short>(0x8000));
  const __m512i blueRed = _mm512_set1_epi32(coeffPair(kBlueFromU, kRedFromV));
  const __m512i green = _mm512_set1_epi32(coeffPair(kGreenFromU, kGreenFromV));
  const __m512i lumaTimes4 = _mm512_set1_epi16(4);
  const __m512i redBits = _mm512_set1_epi16(0x7C00);
  const __m512i blueBits = _mm512_set1_epi16(0x001F);
  // Word 0 (or 1) of each pixel pair's 32 bits to both of its pixels.
  // (Byte indexes 0 1 0 1, 4 5 4 5, ... as dwords, most significant byte first.)
  const __m512i low = _mm512_set4_epi32(0x0D0C0D0C, 0x09080908, 0x05040504, 0x01000100);
  const __m512i high = _mm512_set4_epi32(0x0F0E0F0E, 0x0B0A0B0A, 0x07060706, 0x03020302);
  int x = 0;
  for (; x + 32 <= width; x += 32, src += 64, dst += 64) {
    const __m512i s = _mm512_loadu_si512(src);
    const __m512i de = _mm512_ternarylogic_epi32(s, chromaBytes, chromaBias, kAAndBXorC);  // 256 d, 256 e
    const __m512i br = _mm512_mulhi_epi16(de, blueRed);
    const __m512i g = _mm512_madd_epi16(de, green);
    const __m512i y = _mm512_add_epi16(_mm512_maddubs_epi16(s, lumaTimes4), offset);
    const __m512i b4 = limitedTimes4(y, _mm512_shuffle_epi8(br, low), offset);
    const __m512i r4 = limitedTimes4(y, _mm512_shuffle_epi8(br, high), offset);
    const __m512i g4 = limitedTimes4(y, _mm512_shuffle_epi8(g, high), offset);
    // Bits 10..14 from red, 5..9 from green (below 1024, so nothing above), 0..4 from blue.
    const __m512i redGreen = _mm512_ternarylogic_epi32(redBits, _mm512_slli_epi16(r4, 5), g4, kASelectsB);
    const __m512i word = _mm512_ternarylogic_epi32(blueBits, _mm512_srli_epi16(b4, 5), redGreen, kASelectsB);
    _mm512_storeu_si512(dst, word);
  }
  return x;
}

bool HaveAvx512() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
}

}  // namespace simd
}  // namespace qrjpeg

#endif
