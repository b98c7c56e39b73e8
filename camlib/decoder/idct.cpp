#include "idct.h"

#include "colour_convert_simd.h"
#include "vector_kernels.h"

namespace qrjpeg {

namespace {

// The arithmetic wraps in 32 bits, as the camera's host code always did; doing it on unsigned
// values keeps a corrupt stream (huge coefficients times 16-bit quantisers) free of undefined
// behaviour. Right shifts are arithmetic on the signed reinterpretation.
using Acc = uint32_t;

constexpr int kConstBits = 13;
constexpr int kPass1Bits = 2;

constexpr int32_t kFix0_298631336 = 2446;
constexpr int32_t kFix0_390180644 = 3196;
constexpr int32_t kFix0_541196100 = 4433;
constexpr int32_t kFix0_765366865 = 6270;
constexpr int32_t kFix0_899976223 = 7373;
constexpr int32_t kFix1_175875602 = 9633;
constexpr int32_t kFix1_501321110 = 12299;
constexpr int32_t kFix1_847759065 = 15137;
constexpr int32_t kFix1_961570560 = 16069;
constexpr int32_t kFix2_053119869 = 16819;
constexpr int32_t kFix2_562915447 = 20995;
constexpr int32_t kFix3_072711026 = 25172;

// Operands of the constant multiplications are cut to 16 bits first, as 16x16-bit multiplies do.
inline Acc mul(Acc v, int32_t c) { return static_cast<Acc>(static_cast<int16_t>(v) * c); }
inline Acc dequantize(int16_t coef, uint16_t q) {
  return static_cast<Acc>(static_cast<int32_t>(coef) * static_cast<int32_t>(q));
}
inline int32_t descale(Acc v, int n) { return static_cast<int32_t>(v + (Acc{1} << (n - 1))) >> n; }

// Samples: index (value & 1023) + 128 of this table; values -128..127 map to 0..255 around the
// centre, larger ones saturate and wild ones wrap as the reference decoder's table does.
struct RangeLimit {
  uint8_t table[1152];
  RangeLimit() {
    for (int i = 0; i < 256; ++i) table[i] = static_cast<uint8_t>(i);
    for (int i = 256; i < 640; ++i) table[i] = 255;
    for (int i = 640; i < 1024; ++i) table[i] = 0;
    for (int i = 1024; i < 1152; ++i) table[i] = static_cast<uint8_t>(i - 1024);
  }
  uint8_t operator()(int32_t v) const { return table[(v & 1023) + 128]; }
};
const RangeLimit kRangeLimit;

// The even and odd halves of the one-dimensional transform; in[k] is the k-th input of the line.
struct Butterfly {
  Acc t10, t11, t12, t13, t0, t1, t2, t3;
};

inline Butterfly transform(Acc in0, Acc in1, Acc in2, Acc in3, Acc in4, Acc in5, Acc in6, Acc in7) {
  Butterfly b;
  Acc z1 = mul(in2 + in6, kFix0_541196100);
  Acc tmp2 = z1 + mul(in6, -kFix1_847759065);
  Acc tmp3 = z1 + mul(in2, kFix0_765366865);
  Acc tmp0 = (in0 + in4) << kConstBits;
  Acc tmp1 = (in0 - in4) << kConstBits;
  b.t10 = tmp0 + tmp3;
  b.t13 = tmp0 - tmp3;
  b.t11 = tmp1 + tmp2;
  b.t12 = tmp1 - tmp2;

  Acc o0 = in7, o1 = in5, o2 = in3, o3 = in1;
  Acc za = o0 + o3, zb = o1 + o2, zc = o0 + o2, zd = o1 + o3;
  Acc z5 = mul(zc + zd, kFix1_175875602);
  o0 = mul(o0, kFix0_298631336);
  o1 = mul(o1, kFix2_053119869);
  o2 = mul(o2, kFix3_072711026);
  o3 = mul(o3, kFix1_501321110);
  za = mul(za, -kFix0_899976223);
  zb = mul(zb, -kFix2_562915447);
  zc = mul(zc, -kFix1_961570560) + z5;
  zd = mul(zd, -kFix0_390180644) + z5;
  b.t0 = o0 + za + zc;
  b.t1 = o1 + zb + zd;
  b.t2 = o2 + zb + zc;
  b.t3 = o3 + za + zd;
  return b;
}

}  // namespace

void InverseDct(const int16_t* coef, const uint16_t* quant, uint8_t* out) {
  Acc ws[64];

  for (int col = 0; col < 8; ++col) {
    const int16_t* in = coef + col;
    const uint16_t* q = quant + col;
    Acc* w = ws + col;
    if ((in[8] | in[16] | in[24] | in[32] | in[40] | in[48] | in[56]) == 0) {
      Acc dc = dequantize(in[0], q[0]) << kPass1Bits;
      for (int r = 0; r < 8; ++r) w[8 * r] = dc;
      continue;
    }
    Butterfly b = transform(dequantize(in[0], q[0]), dequantize(in[8], q[8]), dequantize(in[16], q[16]),
                            dequantize(in[24], q[24]), dequantize(in[32], q[32]), dequantize(in[40], q[40]),
                            dequantize(in[48], q[48]), dequantize(in[56], q[56]));
    constexpr int n = kConstBits - kPass1Bits;
    w[0] = static_cast<Acc>(descale(b.t10 + b.t3, n));
    w[56] = static_cast<Acc>(descale(b.t10 - b.t3, n));
    w[8] = static_cast<Acc>(descale(b.t11 + b.t2, n));
    w[48] = static_cast<Acc>(descale(b.t11 - b.t2, n));
    w[16] = static_cast<Acc>(descale(b.t12 + b.t1, n));
    w[40] = static_cast<Acc>(descale(b.t12 - b.t1, n));
    w[24] = static_cast<Acc>(descale(b.t13 + b.t0, n));
    w[32] = static_cast<Acc>(descale(b.t13 - b.t0, n));
  }

  for (int row = 0; row < 8; ++row) {
    const Acc* w = ws + 8 * row;
    uint8_t* o = out + 8 * row;
    if ((w[1] | w[2] | w[3] | w[4] | w[5] | w[6] | w[7]) == 0) {
      uint8_t v = kRangeLimit(descale(w[0], kPass1Bits + 3));
      for (int c = 0; c < 8; ++c) o[c] = v;
      continue;
    }
    Butterfly b = transform(w[0], w[1], w[2], w[3], w[4], w[5], w[6], w[7]);
    constexpr int n = kConstBits + kPass1Bits + 3;
    o[0] = kRangeLimit(descale(b.t10 + b.t3, n));
    o[7] = kRangeLimit(descale(b.t10 - b.t3, n));
    o[1] = kRangeLimit(descale(b.t11 + b.t2, n));
    o[6] = kRangeLimit(descale(b.t11 - b.t2, n));
    o[2] = kRangeLimit(descale(b.t12 + b.t1, n));
    o[5] = kRangeLimit(descale(b.t12 - b.t1, n));
    o[3] = kRangeLimit(descale(b.t13 + b.t0, n));
    o[4] = kRangeLimit(descale(b.t13 - b.t0, n));
  }
}

uint8_t InverseDctDcOnly(int16_t dc, uint16_t quant0) {
  Acc w = dequantize(dc, quant0) << kPass1Bits;
  return kRangeLimit(descale(w, kPass1Bits + 3));
}

InverseDctRoutine VectorInverseDct() {
#if QR_HAVE_X86_SIMD
  static const bool have = simd::HaveAvx2();
  return have ? simd::InverseDctAvx2 : nullptr;
#else
  return nullptr;
#endif
}

InverseDctRoutine FastestInverseDct() {
  InverseDctRoutine vector = VectorInverseDct();
  return vector && UseVectorKernels() ? vector : InverseDct;
}

}  // namespace qrjpeg
