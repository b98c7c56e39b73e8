// Baseline JFIF encoder: grey pictures as one component, colour as YCbCr 4:2:0, the quantisation
// tables of Annex K scaled by quality as the Independent JPEG Group's encoder scales them, and
// the Annex K Huffman tables.
#include <algorithm>
#include <cmath>

#include "../core/bytes.h"
#include "formats.h"
#include "huffman_encoder.h"
#include "jpeg_basis.h"

namespace vic {

namespace {

using qrjpeg::HuffmanCodes;
using qrjpeg::HuffmanSpec;
using qrjpeg::kZigzagToNatural;

// Quality 1..100 to a scale in percent (50 keeps the tables as they are).
void scaledTable(const uint8_t* base, int quality, uint8_t* out) {
  int scale = quality < 50 ? 5000 / quality : 200 - 2 * quality;
  for (int i = 0; i < 64; ++i) out[i] = static_cast<uint8_t>(std::clamp((base[i] * scale + 50) / 100, 1, 255));
}

// Entropy-coded bytes go straight into the file.
struct PutToFile {
  ByteWriter* file;
  void operator()(uint8_t byte) const { file->u8(byte); }
};
using EntropyWriter = qrjpeg::BitWriter<PutToFile>;

struct ComponentCoder {
  const uint8_t* quant;
  HuffmanCodes dc, ac;
  int predictor = 0;
};

void encodeBlock(const float* samples, ComponentCoder& coder, EntropyWriter& out) {
  float rows[64];
  int16_t quantised[64];
  for (int y = 0; y < 8; ++y) {
    for (int u = 0; u < 8; ++u) {
      float sum = 0;
      for (int x = 0; x < 8; ++x) sum += jpeg::kBasis[x][u] * (samples[y * 8 + x] - 128.0f);
      rows[y * 8 + u] = sum;
    }
  }
  for (int v = 0; v < 8; ++v) {
    for (int u = 0; u < 8; ++u) {
      float sum = 0;
      for (int y = 0; y < 8; ++y) sum += jpeg::kBasis[y][v] * rows[y * 8 + u];
      int limit = (v | u) ? 1023 : 2047;
      quantised[v * 8 + u] =
          static_cast<int16_t>(std::clamp(static_cast<int>(std::lround(sum / coder.quant[v * 8 + u])), -limit, limit));
    }
  }
  qrjpeg::EncodeBlock(out, quantised, coder.predictor, coder.dc, coder.ac);
}

void writeHuffmanTable(ByteWriter& file, int tableClass, int id, const HuffmanSpec& spec) {
  file.u8(tableClass << 4 | id);
  for (uint8_t c : spec.counts) file.u8(c);
  file.append(spec.symbols, spec.symbolCount);
}

}  // namespace

int encodeJpeg(const Picture& picture, int quality, std::vector<uint8_t>& out) {
  if (quality < 25 || quality > 100) return kBadRange;
  if (picture.width > 65535 || picture.height > 65535) return kBadRange;
  bool colour = picture.bits == 24 || !isGreyPalette(picture.palette.data(), static_cast<int>(picture.palette.size()));
  int width = picture.width, height = picture.height;

  // Full-resolution planes: Y (or grey), Cb, Cr.
  std::size_t area = static_cast<std::size_t>(width) * height;
  std::vector<float> luma(area), cb(colour ? area : 0), cr(colour ? area : 0);
  for (int y = 0; y < height; ++y) {
    const uint8_t* row = picture.row(y);
    for (int x = 0; x < width; ++x) {
      float r, g, b;
      if (picture.bits == 24) {
        b = row[3 * x], g = row[3 * x + 1], r = row[3 * x + 2];
      } else {
        int index = picture.bits == 1 ? bitAt(row, x) : row[x];
        const RgbQuad& e = picture.palette[index];
        r = e.rgbRed, g = e.rgbGreen, b = e.rgbBlue;
      }
      std::size_t i = static_cast<std::size_t>(y) * width + x;
      luma[i] = 0.299f * r + 0.587f * g + 0.114f * b;
      if (colour) {
        cb[i] = -0.168736f * r - 0.331264f * g + 0.5f * b + 128.0f;
        cr[i] = 0.5f * r - 0.418688f * g - 0.081312f * b + 128.0f;
      }
    }
  }

  uint8_t lumaQuant[64], chromaQuant[64];
  scaledTable(qrjpeg::kLuminanceQuant, quality, lumaQuant);
  scaledTable(qrjpeg::kChrominanceQuant, quality, chromaQuant);

  ByteWriter file;
  file.be16(0xFFD8);
  file.be16(0xFFE0);  // JFIF 1.01, no thumbnail, square pixels
  file.be16(16);
  file.text("JFIF");
  file.u8(0);
  file.u8(1);
  file.u8(1);
  file.u8(0);
  file.be16(1);
  file.be16(1);
  file.u8(0);
  file.u8(0);
  file.be16(0xFFDB);
  file.be16(colour ? 132 : 67);
  for (int t = 0; t < (colour ? 2 : 1); ++t) {
    file.u8(t);
    const uint8_t* table = t ? chromaQuant : lumaQuant;
    for (int k = 0; k < 64; ++k) file.u8(table[kZigzagToNatural[k]]);
  }
  int components = colour ? 3 : 1;
  file.be16(0xFFC0);
  file.be16(8 + 3 * components);
  file.u8(8);
  file.be16(height);
  file.be16(width);
  file.u8(components);
  for (int c = 0; c < components; ++c) {
    file.u8(c + 1);
    file.u8(c == 0 && colour ? 0x22 : 0x11);
    file.u8(c == 0 ? 0 : 1);
  }
  file.be16(0xFFC4);
  auto tableBytes = [](const HuffmanSpec& s) { return 17 + s.symbolCount; };
  file.be16(2 + tableBytes(qrjpeg::kLuminanceDc) + tableBytes(qrjpeg::kLuminanceAc) +
            (colour ? tableBytes(qrjpeg::kChrominanceDc) + tableBytes(qrjpeg::kChrominanceAc) : 0));
  writeHuffmanTable(file, 0, 0, qrjpeg::kLuminanceDc);
  writeHuffmanTable(file, 1, 0, qrjpeg::kLuminanceAc);
  if (colour) {
    writeHuffmanTable(file, 0, 1, qrjpeg::kChrominanceDc);
    writeHuffmanTable(file, 1, 1, qrjpeg::kChrominanceAc);
  }
  file.be16(0xFFDA);
  file.be16(6 + 2 * components);
  file.u8(components);
  for (int c = 0; c < components; ++c) {
    file.u8(c + 1);
    file.u8(c == 0 ? 0x00 : 0x11);
  }
  file.u8(0);
  file.u8(63);
  file.u8(0);

  ComponentCoder lumaCoder{lumaQuant, HuffmanCodes(qrjpeg::kLuminanceDc), HuffmanCodes(qrjpeg::kLuminanceAc)};
  ComponentCoder cbCoder{chromaQuant, HuffmanCodes(qrjpeg::kChrominanceDc), HuffmanCodes(qrjpeg::kChrominanceAc)};
  ComponentCoder crCoder = cbCoder;
  EntropyWriter entropy(PutToFile{&file});
  // Samples beyond the right and bottom edges repeat the edge.
  auto sampleAt = [&](const std::vector<float>& plane, int x, int y) {
    return plane[static_cast<std::size_t>(std::min(y, height - 1)) * width + std::min(x, width - 1)];
  };
  float block[64];
  int mcuSize = colour ? 16 : 8;
  for (int my = 0; my < height; my += mcuSize) {
    for (int mx = 0; mx < width; mx += mcuSize) {
      for (int by = 0; by < mcuSize; by += 8) {
        for (int bx = 0; bx < mcuSize; bx += 8) {
          for (int y = 0; y < 8; ++y) {
            for (int x = 0; x < 8; ++x) block[y * 8 + x] = sampleAt(luma, mx + bx + x, my + by + y);
          }
          encodeBlock(block, lumaCoder, entropy);
        }
      }
      if (!colour) continue;
      // Chroma at half resolution both ways: the mean of each 2 x 2 group.
      for (int plane = 0; plane < 2; ++plane) {
        const std::vector<float>& source = plane ? cr : cb;
        for (int y = 0; y < 8; ++y) {
          for (int x = 0; x < 8; ++x) {
            int sx = mx + 2 * x, sy = my + 2 * y;
            block[y * 8 + x] = (sampleAt(source, sx, sy) + sampleAt(source, sx + 1, sy) + sampleAt(source, sx, sy + 1) +
                                sampleAt(source, sx + 1, sy + 1)) /
                               4;
          }
        }
        encodeBlock(block, plane ? crCoder : cbCoder, entropy);
      }
    }
  }
  entropy.flush();
  file.be16(0xFFD9);
  out = std::move(file.bytes());
  return kOk;
}

}  // namespace vic
