#include "jpeg_encoder.h"

#include "huffman_encoder.h"
#include "jpeg_tables.h"

namespace qrvcam {

namespace {

using qrjpeg::HuffmanCodes;
using qrjpeg::kZigzagToNatural;

// cos(k pi / 16) for k = 0..8, scaled by 2^14.
constexpr int32_t kCosQ14[9] = {16384, 16069, 15137, 13623, 11585, 9102, 6270, 3196, 0};

int32_t cosQ14(int k) {
  k %= 32;
  if (k > 16) k = 32 - k;
  return k > 8 ? -kCosQ14[16 - k] : kCosQ14[k];
}

// Basis of the forward transform, C(u)/2 cos((2x + 1) u pi / 16), scaled by 2^14.
struct DctBasis {
  int32_t m[8][8];
  DctBasis() {
    for (int u = 0; u < 8; ++u) {
      for (int x = 0; x < 8; ++x) {
        int32_t c = cosQ14((2 * x + 1) * u);
        m[u][x] = u == 0 ? (c * kCosQ14[4] / 16384) / 2 : c / 2;
      }
    }
  }
};
const DctBasis kBasis;

// One-dimensional transform of 8 values with stride: out[u] = sum of m[u][x] in[x]. The basis is
// symmetric (m[u][7 - x] = (-1)^u m[u][x]), so each output needs only four products.
inline void transform8(const int32_t* in, int stride, int32_t* out) {
  int32_t sum[4], diff[4];
  for (int x = 0; x < 4; ++x) {
    sum[x] = in[x * stride] + in[(7 - x) * stride];
    diff[x] = in[x * stride] - in[(7 - x) * stride];
  }
  for (int u = 0; u < 8; ++u) {
    const int32_t* half = u % 2 ? diff : sum;
    out[u] = kBasis.m[u][0] * half[0] + kBasis.m[u][1] * half[1] + kBasis.m[u][2] * half[2] + kBasis.m[u][3] * half[3];
  }
}

// Forward DCT of level-shifted samples, quantised, in natural order. The sums stay within 32 bits:
// the first pass keeps 4 fraction bits (|value| < 2^14), the second adds 14 more (|sum| < 2^30).
void forwardDct(const int16_t* samples, const uint16_t* quantZigzag, int16_t* coef) {
  int32_t in[64], rows[64], columns[8];  // rows: [y][u]
  for (int i = 0; i < 64; ++i) in[i] = samples[i];
  for (int y = 0; y < 8; ++y) {
    transform8(in + 8 * y, 1, rows + 8 * y);
    for (int u = 0; u < 8; ++u) rows[8 * y + u] = (rows[8 * y + u] + (1 << 9)) >> 10;
  }
  int32_t spectrum[64];  // natural order
  for (int u = 0; u < 8; ++u) {
    transform8(rows + u, 8, columns);
    for (int v = 0; v < 8; ++v) spectrum[8 * v + u] = (columns[v] + (1 << 17)) >> 18;
  }
  for (int k = 0; k < 64; ++k) {
    const int n = kZigzagToNatural[k];
    const int32_t value = spectrum[n];
    const int32_t q = quantZigzag[k] ? quantZigzag[k] : 1;
    int32_t level = value >= 0 ? (value + q / 2) / q : -((-value + q / 2) / q);
    // Keep within the size categories the typical tables code: 11 bits of DC difference,
    // 10 bits of AC value.
    const int32_t low = k == 0 ? -1024 : -1023;
    if (level > 1023) level = 1023;
    if (level < low) level = low;
    coef[n] = static_cast<int16_t>(level);
  }
}

// Entropy-coded bytes go straight into the sink.
struct PutToSink {
  ByteSink* sink;
  void operator()(uint8_t b) const { sink->put(b); }
};

// One 8x8 block of level-shifted samples of one component; columns and rows past the picture
// repeat its last column and row.
void gatherBlock(const uint8_t* picture, int width, int height, int x0, int y0, int offset, int step, int columns,
                 int16_t* block) {
  for (int y = 0; y < 8; ++y) {
    int sy = y0 + y < height ? y0 + y : height - 1;
    const uint8_t* row = picture + static_cast<size_t>(sy) * width * 2;
    for (int x = 0; x < 8; ++x) {
      int sx = x0 + x < columns ? x0 + x : columns - 1;
      block[8 * y + x] = static_cast<int16_t>(row[sx * step + offset] - 128);
    }
  }
}

void writeHeaders(ByteSink& sink, int width, int height, const uint16_t* quant) {
  sink.put16(0xFFD8);

  bool wide = false;
  for (int i = 0; i < 128; ++i) wide |= quant[i] > 255;
  sink.put16(0xFFDB);
  sink.put16(2 + 2 * (1 + 64 * (wide ? 2 : 1)));
  for (int t = 0; t < 2; ++t) {
    sink.put(static_cast<uint8_t>((wide ? 0x10 : 0x00) | t));
    for (int k = 0; k < 64; ++k) {
      int q = quant[64 * t + k] ? quant[64 * t + k] : 1;
      if (wide)
        sink.put16(q);
      else
        sink.put(static_cast<uint8_t>(q));
    }
  }

  sink.put16(0xFFC0);
  sink.put16(17);
  sink.put(8);
  sink.put16(height);
  sink.put16(width);
  sink.put(3);
  const uint8_t components[3][3] = {{1, 0x21, 0}, {2, 0x11, 1}, {3, 0x11, 1}};
  for (const auto& c : components) {
    sink.put(c[0]);
    sink.put(c[1]);
    sink.put(c[2]);
  }

  sink.put16(0xFFDA);
  sink.put16(12);
  sink.put(3);
  const uint8_t scan[3][2] = {{1, 0x00}, {2, 0x11}, {3, 0x11}};
  for (const auto& c : scan) {
    sink.put(c[0]);
    sink.put(c[1]);
  }
  sink.put(0);   // spectral selection start
  sink.put(63);  // spectral selection end
  sink.put(0);   // successive approximation
}

}  // namespace

size_t encodeFrame(const uint8_t* picture, int width, int height, const uint16_t* quant, ByteSink& sink) {
  static const HuffmanCodes lumaDc(qrjpeg::kLuminanceDc), chromaDc(qrjpeg::kChrominanceDc);
  static const HuffmanCodes lumaAc(qrjpeg::kLuminanceAc), chromaAc(qrjpeg::kChrominanceAc);

  writeHeaders(sink, width, height, quant);
  qrjpeg::BitWriter<PutToSink> w(PutToSink{&sink});
  int predictor[3] = {0, 0, 0};
  int16_t samples[64], coef[64];
  const int pairs = width / 2;
  for (int y0 = 0; y0 < height; y0 += 8) {
    for (int x0 = 0; x0 < width; x0 += 16) {
      for (int b = 0; b < 2; ++b) {
        gatherBlock(picture, width, height, x0 + 8 * b, y0, 0, 2, width, samples);
        forwardDct(samples, quant, coef);
        qrjpeg::EncodeBlock(w, coef, predictor[0], lumaDc, lumaAc);
      }
      for (int c = 0; c < 2; ++c) {
        gatherBlock(picture, width, height, x0 / 2, y0, 1 + 2 * c, 4, pairs, samples);
        forwardDct(samples, quant + 64, coef);
        qrjpeg::EncodeBlock(w, coef, predictor[1 + c], chromaDc, chromaAc);
      }
    }
  }
  w.flush();
  sink.put16(0xFFD9);
  return sink.count();
}

}  // namespace qrvcam
