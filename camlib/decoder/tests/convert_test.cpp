// The six output formats and the doubling, against straightforward per-pixel definitions.
#include <gtest/gtest.h>

#include <random>

#include "vector_kernels.h"
#include "jpeg_decoder.h"

namespace {

using Bytes = std::vector<uint8_t>;

int clamp255(int v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }

struct Bgr {
  int b, g, r;
};
Bgr colour(int y, int u, int v) {
  int d = u - 128, e = v - 128;
  return {clamp255((1024 * y + 1774 * d) >> 10), clamp255((1024 * y - 342 * d - 716 * e) >> 10),
          clamp255((1024 * y + 1398 * e) >> 10)};
}

// Packed frame accessors.
struct Frame {
  const Bytes& f;
  int w;
  int Y(int x, int y) const { return f[(static_cast<size_t>(y) * w + x) * 2]; }
  int U(int x, int y) const { return f[(static_cast<size_t>(y) * w + (x & ~1)) * 2 + 1]; }
  int V(int x, int y) const { return f[(static_cast<size_t>(y) * w + (x & ~1)) * 2 + 3]; }
};

Bytes reference(int format, const Bytes& src, int w, int h) {
  Frame f{src, w};
  Bytes out;
  switch (format) {
    case 0:
      for (int y = h - 1; y >= 0; --y)
        for (int x = 0; x < w; ++x) {
          Bgr c = colour(f.Y(x, y), f.U(x, y), f.V(x, y));
          out.insert(out.end(), {uint8_t(c.b), uint8_t(c.g), uint8_t(c.r)});
        }
      break;
    case 1:
      for (int y = h - 1; y >= 0; --y)
        for (int x = 0; x < w; ++x) out.push_back(uint8_t(f.Y(x, y)));
      break;
    case 2:
      for (int y = h - 1; y >= 0; --y)
        for (int x = 0; x < w; ++x) {
          Bgr c = colour(f.Y(x, y), f.U(x, y), f.V(x, y));
          int word = ((c.r >> 3) << 10) | ((c.g >> 3) << 5) | (c.b >> 3);
          out.insert(out.end(), {uint8_t(word), uint8_t(word >> 8)});
        }
      break;
    case 3:
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) out.push_back(uint8_t(f.Y(x, y)));
      for (int plane = 0; plane < 2; ++plane)
        for (int k = 0; k < h / 2; ++k)
          for (int j = 0; j < w / 2; ++j) {
            int a = plane ? f.V(2 * j, 2 * k) : f.U(2 * j, 2 * k);
            int b = plane ? f.V(2 * j, 2 * k + 1) : f.U(2 * j, 2 * k + 1);
            out.push_back(uint8_t((a + b) >> 1));
          }
      break;
    case 4:
      out = src;
      out.resize(static_cast<size_t>(w) * h * 2);
      break;
    case 5:
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) out.push_back(uint8_t(f.Y(x, y)));
      for (int plane = 0; plane < 2; ++plane)  // V first, then U
        for (int k = 0; k < h / 4; ++k)
          for (int i = 0; i < w / 4; ++i) {
            int sum = 0;
            for (int r = 0; r < 4; ++r)
              for (int p = 0; p < 2; ++p)
                sum += plane == 0 ? f.V(4 * i + 2 * p, 4 * k + r) : f.U(4 * i + 2 * p, 4 * k + r);
            out.push_back(uint8_t(sum >> 3));
          }
      break;
  }
  return out;
}

// Each level the processor runs is tried; above that the best it has runs again.
const qrjpeg::VectorLevel kLevels[] = {qrjpeg::VectorLevel::Avx512, qrjpeg::VectorLevel::Avx2,
                                       qrjpeg::VectorLevel::Plain};

Bytes randomFrame(int w, int h, unsigned seed) {
  std::mt19937 rng(seed);
  Bytes f(static_cast<size_t>(w) * h * 2);
  for (auto& b : f) b = static_cast<uint8_t>(rng());
  // Extremes are where clamping and rounding go wrong: put some in.
  for (size_t i = 0; i < f.size(); i += 37) f[i] = (i / 37) % 2 ? 0 : 255;
  return f;
}

// Converts with guard bytes after the output, checking that none is touched.
Bytes convert(int format, const Bytes& frame, int w, int h) {
  size_t need = qrjpeg::OutputBytes(format, w, h);
  Bytes out(need + 32, 0xEE);
  EXPECT_TRUE(qrjpeg::ConvertFrame(format, frame.data(), frame.size(), w, h, out.data(), need));
  for (size_t i = need; i < out.size(); ++i) EXPECT_EQ(out[i], 0xEE) << "write past the output";
  out.resize(need);
  return out;
}

TEST(ConvertFrame, KnownColours) {
  struct Known {
    uint8_t y, u, v;
    Bgr bgr;
  };
  const Known cases[] = {
      {255, 128, 128, {255, 255, 255}},  // white
      {0, 128, 128, {0, 0, 0}},          // black
      {0, 255, 128, {220, 0, 0}},        // pure blue
      {128, 128, 255, {128, 39, 255}},   // red end of V: green (131072 - 90932) >> 10
      {16, 0, 0, {0, 148, 0}},           // both chroma at the bottom: green only
  };
  for (const Known& k : cases) {
    Bytes frame = {k.y, k.u, k.y, k.v};
    Bytes bgr = convert(0, frame, 2, 1);
    EXPECT_EQ(bgr, (Bytes{uint8_t(k.bgr.b), uint8_t(k.bgr.g), uint8_t(k.bgr.r), uint8_t(k.bgr.b), uint8_t(k.bgr.g),
                          uint8_t(k.bgr.r)}))
        << int(k.y) << "," << int(k.u) << "," << int(k.v);
  }
  Bytes white = convert(2, Bytes{255, 128, 255, 128}, 2, 1);
  EXPECT_EQ(white, (Bytes{0xFF, 0x7F, 0xFF, 0x7F}));  // top bit clear
}

TEST(ConvertFrame, LuminanceRampKeepsGreyAndRowOrder) {
  const int w = 256, h = 4;
  Bytes frame(static_cast<size_t>(w) * h * 2);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      frame[(y * w + x) * 2] = static_cast<uint8_t>(x ^ (y * 64));
      frame[(y * w + x) * 2 + 1] = 128;
    }
  Bytes bgr = convert(0, frame, w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      int expected = x ^ (y * 64);
      const uint8_t* p = &bgr[((h - 1 - y) * w + x) * 3];  // bottom-up
      ASSERT_EQ(p[0], expected);
      ASSERT_EQ(p[1], expected);
      ASSERT_EQ(p[2], expected);
    }
}

TEST(ConvertFrame, WholeFramesMatchThePerPixelDefinition) {
  // Every kernel level (where the processor has it).
  // 66 x 7 and 132 x 8: whole vector steps plus leftover blocks, pixels and rows of format 5.
  const int sizes[][2] = {{640, 480}, {352, 288}, {176, 144}, {120, 96}, {132, 8}, {66, 7}, {50, 12}, {18, 6}, {2, 1}};
  for (qrjpeg::VectorLevel level : kLevels)
    for (const auto& s : sizes) {
      qrjpeg::LimitVectorKernels(level);
      Bytes frame = randomFrame(s[0], s[1], static_cast<unsigned>(s[0] * 7 + s[1]));
      for (int format = 0; format <= 5; ++format) {
        SCOPED_TRACE(testing::Message() << s[0] << "x" << s[1] << " format " << format << " kernels "
                                        << qrjpeg::VectorKernelName());
        Bytes out = convert(format, frame, s[0], s[1]);
        Bytes ref = reference(format, frame, s[0], s[1]);
        ASSERT_EQ(out.size(), ref.size());
        EXPECT_TRUE(out == ref);
      }
    }
  qrjpeg::AllowVectorKernels(true);
}

// The colour formats work the definition's arithmetic in other ways (fewer bits, saturating sums),
// so they are checked for every luminance with every chroma pair, in both kernel sets.
TEST(ConvertFrame, ColourFormatsMatchForEveryYuv) {
  const int w = 512, h = 256;  // one pixel pair for each U (across) and V (down)
  Bytes frame(static_cast<size_t>(w) * h * 2);
  for (qrjpeg::VectorLevel level : kLevels) {
    qrjpeg::LimitVectorKernels(level);
    for (int y0 = 0; y0 < 256; y0 += 2) {
      for (int v = 0; v < 256; ++v)
        for (int u = 0; u < 256; ++u) {
          uint8_t* p = &frame[(static_cast<size_t>(v) * 256 + u) * 4];
          p[0] = static_cast<uint8_t>(y0);
          p[1] = static_cast<uint8_t>(u);
          p[2] = static_cast<uint8_t>(y0 + 1);
          p[3] = static_cast<uint8_t>(v);
        }
      const Bytes bgr = convert(0, frame, w, h);
      const Bytes rgb555 = convert(2, frame, w, h);
      int wrong = 0;
      for (int v = 0; v < 256 && wrong == 0; ++v)
        for (int x = 0; x < w; ++x) {
          const int y = y0 + (x & 1), u = x / 2;
          const Bgr c = colour(y, u, v);
          const size_t at = static_cast<size_t>(h - 1 - v) * w + x;  // bottom-up
          const int word = rgb555[2 * at] | rgb555[2 * at + 1] << 8;
          if (bgr[3 * at] != c.b || bgr[3 * at + 1] != c.g || bgr[3 * at + 2] != c.r ||
              word != (((c.r >> 3) << 10) | ((c.g >> 3) << 5) | (c.b >> 3))) {
            ADD_FAILURE() << "Y " << y << " U " << u << " V " << v << " kernels " << qrjpeg::VectorKernelName();
            ++wrong;
            break;
          }
        }
      ASSERT_EQ(wrong, 0);
    }
  }
  qrjpeg::AllowVectorKernels(true);
}

TEST(ConvertFrame, OutputSizes) {
  EXPECT_EQ(qrjpeg::OutputBytes(0, 640, 480), 921600u);
  EXPECT_EQ(qrjpeg::OutputBytes(1, 640, 480), 307200u);
  EXPECT_EQ(qrjpeg::OutputBytes(2, 640, 480), 614400u);
  EXPECT_EQ(qrjpeg::OutputBytes(3, 640, 480), 460800u);
  EXPECT_EQ(qrjpeg::OutputBytes(4, 640, 480), 614400u);
  EXPECT_EQ(qrjpeg::OutputBytes(5, 640, 480), 345600u);
  EXPECT_EQ(qrjpeg::OutputBytes(6, 640, 480), 0u);
}

TEST(ConvertFrame, RefusesWithoutWriting) {
  Bytes frame(64 * 8 * 2, 100);
  Bytes out(64 * 8 * 3, 0xEE);
  struct Bad {
    int format, w, h;
    size_t frameBytes, outBytes;
  };
  const Bad cases[] = {
      {6, 64, 8, frame.size(), out.size()},                                            // unknown format
      {-1, 64, 8, frame.size(), out.size()},    {0, 63, 8, frame.size(), out.size()},  // odd width
      {0, 64, 8, frame.size(), out.size() - 1},                                        // output one byte short
      {3, 64, 8, frame.size() - 1, out.size()},                                        // frame one byte short
      {0, -64, 8, frame.size(), out.size()},
  };
  for (const Bad& b : cases) {
    EXPECT_FALSE(qrjpeg::ConvertFrame(b.format, frame.data(), b.frameBytes, b.w, b.h, out.data(), b.outBytes));
  }
  EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](uint8_t v) { return v == 0xEE; }));
}

TEST(DoubleFrame, RepeatsEachPixelAcrossAndDown) {
  for (qrjpeg::VectorLevel level : kLevels) {
    qrjpeg::LimitVectorKernels(level);
    Bytes frame = randomFrame(640, 480, 99);
    Bytes source = frame;
    frame.resize(qrjpeg::kFrameBufferBytes + 16, 0xEE);
    ASSERT_TRUE(qrjpeg::DoubleFrame(frame.data(), qrjpeg::kFrameBufferBytes));
    Frame src{source, 640};
    for (int y = 0; y < 960; ++y)
      for (int x = 0; x < 1280; x += 2) {
        const uint8_t* p = &frame[(static_cast<size_t>(y) * 1280 + x) * 2];
        int sx = x / 2, sy = y / 2;
        ASSERT_EQ(p[0], src.Y(sx, sy));
        ASSERT_EQ(p[1], src.U(sx, sy));
        ASSERT_EQ(p[2], src.Y(sx, sy));
        ASSERT_EQ(p[3], src.V(sx, sy));
      }
    for (size_t i = qrjpeg::kFrameBufferBytes; i < frame.size(); ++i) ASSERT_EQ(frame[i], 0xEE);
    EXPECT_FALSE(qrjpeg::DoubleFrame(frame.data(), qrjpeg::kFrameBufferBytes - 1));
  }
  qrjpeg::AllowVectorKernels(true);
}

}  // namespace
