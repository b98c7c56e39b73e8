#include "colour_convert.h"

#include "colour_convert_simd.h"
#include "vector_kernels.h"

namespace qrjpeg {

namespace {

struct Bgr {
  uint8_t b, g, r;
};

// Per-chroma parts of the formula: 1024 Y is a multiple of 1024, so (1024 Y + x) >> 10 is
// Y + (x >> 10) and the chroma terms can be shifted before Y is added. Limiting to 0..255 is a
// lookup too: Y plus a term lies within -222..475.
struct ChromaTables {
  static constexpr int kLimitOffset = 256;
  int16_t blue[256];    // (1774 d) >> 10
  int16_t red[256];     // (1398 e) >> 10
  int32_t greenU[256];  // -342 d
  int32_t greenV[256];  // -716 e
  uint8_t limit[768];   // limit[v + kLimitOffset] = v limited to 0..255
  ChromaTables() {
    for (int c = 0; c < 256; ++c) {
      int d = c - 128;
      blue[c] = static_cast<int16_t>((kBlueFromU * d) >> 10);
      red[c] = static_cast<int16_t>((kRedFromV * d) >> 10);
      greenU[c] = kGreenFromU * d;
      greenV[c] = kGreenFromV * d;
    }
    for (int i = 0; i < 768; ++i) {
      int v = i - kLimitOffset;
      limit[i] = static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
    }
  }
};
const ChromaTables kChroma;

inline void pairToBgr(const uint8_t* p, Bgr& first, Bgr& second) {
  const int u = p[1], v = p[3];
  const uint8_t* limit = kChroma.limit + ChromaTables::kLimitOffset;
  const int bo = kChroma.blue[u], ro = kChroma.red[v];
  const int go = (kChroma.greenU[u] + kChroma.greenV[v]) >> 10;
  first = {limit[p[0] + bo], limit[p[0] + go], limit[p[0] + ro]};
  second = {limit[p[2] + bo], limit[p[2] + go], limit[p[2] + ro]};
}

// Pixels (or pairs) of a row that the vector form did; the plain loop does the rest.
#if QR_HAVE_X86_SIMD
#define QR_VECTOR_PART(call) (UseVectorKernels() ? (call) : 0)
#else
#define QR_VECTOR_PART(call) 0
#endif

inline uint16_t rgb555(const Bgr& c) {
  return static_cast<uint16_t>(((c.r >> 3) << 10) | ((c.g >> 3) << 5) | (c.b >> 3));
}

}  // namespace

void ConvertRowBgr24(const uint8_t* src, int width, uint8_t* dst) {
  const int done = QR_VECTOR_PART(simd::ConvertRowBgr24Avx2(src, width, dst));
  src += 2 * done;
  dst += 3 * done;
  for (int x = done; x < width; x += 2, src += 4, dst += 6) {
    Bgr a, b;
    pairToBgr(src, a, b);
    dst[0] = a.b;
    dst[1] = a.g;
    dst[2] = a.r;
    dst[3] = b.b;
    dst[4] = b.g;
    dst[5] = b.r;
  }
}

void ConvertRowRgb555(const uint8_t* src, int width, uint8_t* dst) {
  int done = 0;
#if QR_HAVE_X86_SIMD
  // The AVX-512 form does 32 pixels at a time; a remaining 16 go to the AVX2 form.
  const VectorLevel level = VectorKernels();
  if (level == VectorLevel::Avx512) done = simd::ConvertRowRgb555Avx512(src, width, dst);
  if (level != VectorLevel::Plain) done += simd::ConvertRowRgb555Avx2(src + 2 * done, width - done, dst + 2 * done);
#endif
  src += 2 * done;
  dst += 2 * done;
  for (int x = done; x < width; x += 2, src += 4, dst += 4) {
    Bgr a, b;
    pairToBgr(src, a, b);
    uint16_t wa = rgb555(a), wb = rgb555(b);
    dst[0] = static_cast<uint8_t>(wa);
    dst[1] = static_cast<uint8_t>(wa >> 8);
    dst[2] = static_cast<uint8_t>(wb);
    dst[3] = static_cast<uint8_t>(wb >> 8);
  }
}

void ExtractLumaRow(const uint8_t* src, int width, uint8_t* dst) {
  const int done = QR_VECTOR_PART(simd::ExtractLumaRowAvx2(src, width, dst));
  for (int x = done; x < width; ++x) dst[x] = src[2 * x];
}

void AverageChromaRows(const uint8_t* a, const uint8_t* b, int pairs, uint8_t* u, uint8_t* v) {
  const int done = QR_VECTOR_PART(simd::AverageChromaRowsAvx2(a, b, pairs, u, v));
  for (int j = done; j < pairs; ++j) {
    u[j] = static_cast<uint8_t>((a[4 * j + 1] + b[4 * j + 1]) >> 1);
    v[j] = static_cast<uint8_t>((a[4 * j + 3] + b[4 * j + 3]) >> 1);
  }
}

void ConvertStripYvu410(const uint8_t* rows, size_t stride, int width, uint8_t* luma, size_t lumaStride, uint8_t* u,
                        uint8_t* v) {
  const int blocks = width / 4;
  const int done = QR_VECTOR_PART(simd::ConvertStripYvu410Avx2(rows, stride, blocks, luma, lumaStride, u, v));
  for (int i = done; i < blocks; ++i) {
    int su = 0, sv = 0;
    for (int r = 0; r < 4; ++r) {
      const uint8_t* p = rows + r * stride + 8 * i;
      su += p[1] + p[5];
      sv += p[3] + p[7];
    }
    u[i] = static_cast<uint8_t>(su >> 3);
    v[i] = static_cast<uint8_t>(sv >> 3);
  }
  // The luminance the vector form left: of the blocks it did not do, and of the last one to three
  // pixels of a width that is not a multiple of 4.
  const int lumaDone = 4 * done;
  for (int r = 0; r < 4; ++r) {
    ExtractLumaRow(rows + r * stride + 2 * lumaDone, width - lumaDone, luma + r * lumaStride + lumaDone);
  }
}

void DoublePixelsRow(const uint8_t* src, int width, uint8_t* dst) {
  const int done = QR_VECTOR_PART(simd::DoublePixelsRowAvx2(src, width, dst));
  src += 2 * done;
  dst += 4 * done;
  for (int x = done; x < width; x += 2, src += 4, dst += 8) {
    uint8_t y0 = src[0], u = src[1], y1 = src[2], v = src[3];
    dst[0] = y0;
    dst[1] = u;
    dst[2] = y0;
    dst[3] = v;
    dst[4] = y1;
    dst[5] = u;
    dst[6] = y1;
    dst[7] = v;
  }
}

}  // namespace qrjpeg
