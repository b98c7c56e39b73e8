#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <random>

#include "../ops/bilevel.h"
#include "../ops/ops.h"
#include "test_image.h"

namespace vic {
namespace {

using victest::Bgr;
using victest::TestImage;

int distance2(Bgr a, const RgbQuad& e) {
  int dr = a.r - e.rgbRed, dg = a.g - e.rgbGreen, db = a.b - e.rgbBlue;
  return dr * dr + dg * dg + db * db;
}

// A camera-like picture: smooth colour gradients with a little noise, far more than 256 colours.
void fillGradient(TestImage& image, unsigned seed = 1) {
  std::mt19937 random(seed);
  image.fill([&](int x, int y) {
    int n = static_cast<int>(random() % 5) - 2;
    auto v = [&](int base) { return static_cast<uint8_t>(std::clamp(base + n, 0, 255)); };
    return Bgr{v(x * 255 / image.width()), v(y * 255 / image.height()), v(128 + (x - y) / 3)};
  });
}

TEST(Colour, RgbToPaletteIsLosslessUpToTheColourCount) {
  for (int colours : {2, 17, 256}) {
    std::mt19937 random(colours);
    std::vector<Bgr> set(colours);
    for (Bgr& c : set) c = Bgr{uint8_t(random()), uint8_t(random()), uint8_t(random())};
    TestImage in(37, 29, 24), out(37, 29, 8);
    in.fill([&](int x, int y) { return set[(x * 31 + y * 17) % colours]; });
    ASSERT_EQ(kOk, convertRgbToPal(colours, &in.d, &out.d));
    EXPECT_EQ(colours, out.d.colors);
    for (int y = 0; y < in.height(); ++y)
      for (int x = 0; x < in.width(); ++x) {
        ASSERT_LT(out.index(x, y), colours);
        ASSERT_EQ(in.bgr(x, y), out.colour(x, y)) << colours << " colours at " << x << "," << y;
      }
  }
}

// More colours than the palette: the average colour of every 8 x 8 block must survive (error
// diffusion) and no pixel may be far off (a good palette).
TEST(Colour, RgbToPaletteOfACameraPictureKeepsItsColours) {
  TestImage in(160, 120, 24), out(160, 120, 8);
  fillGradient(in);
  ASSERT_EQ(kOk, convertRgbToPal(256, &in.d, &out.d));
  double worstBlock = 0, worstEdgeBlock = 0;
  int worstPixel = 0;
  for (int by = 0; by < 120; by += 8)
    for (int bx = 0; bx < 160; bx += 8) {
      double sum[3] = {0, 0, 0};
      for (int y = by; y < by + 8; ++y)
        for (int x = bx; x < bx + 8; ++x) {
          Bgr a = in.bgr(x, y), b = out.colour(x, y);
          sum[0] += a.b - b.b;
          sum[1] += a.g - b.g;
          sum[2] += a.r - b.r;
          worstPixel = std::max({worstPixel, std::abs(a.b - b.b), std::abs(a.g - b.g), std::abs(a.r - b.r)});
        }
      // Error diffusion pushes some error out over the left and right edges.
      bool edge = bx == 0 || bx == 152;
      for (double s : sum)
        (edge ? worstEdgeBlock : worstBlock) = std::max(edge ? worstEdgeBlock : worstBlock, std::abs(s / 64));
    }
  EXPECT_LT(worstBlock, 2.0);
  EXPECT_LT(worstEdgeBlock, 3.0);
  EXPECT_LE(worstPixel, 24);
}

TEST(Colour, PaletteToRgbAndBackIsTheIdentity) {
  TestImage pal(20, 10, 8), rgb(20, 10, 24), again(20, 10, 8);
  for (int i = 0; i < 256; ++i) pal.d.palette[i] = RgbQuad{uint8_t(i * 7), uint8_t(i), uint8_t(255 - i), 0};
  pal.fill([](int x, int y) { return (x * 11 + y * 3) & 255; });
  ASSERT_EQ(kOk, convertPalToRgb(&pal.d, &rgb.d));
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 20; ++x) ASSERT_EQ(pal.colour(x, y), rgb.bgr(x, y));
  ASSERT_EQ(kOk, convertRgbToPal(256, &rgb.d, &again.d));
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 20; ++x) ASSERT_EQ(pal.colour(x, y), again.colour(x, y));
}

TEST(Colour, ColourToGreyGivesLuminanceAndMarksTheImageGrey) {
  struct Case {
    Bgr colour;
    int grey;
  };
  const Case cases[] = {{{0, 0, 255}, 77},      {{0, 255, 0}, 149}, {{255, 0, 0}, 29},
                        {{255, 255, 255}, 255}, {{0, 0, 0}, 0},     {{90, 90, 90}, 90}};
  TestImage in(6, 1, 24), out(6, 1, 8);
  for (int i = 0; i < 6; ++i) in.setBgr(i, 0, cases[i].colour);
  ASSERT_EQ(kOk, colorToGray(&in.d, &out.d));
  for (int i = 0; i < 6; ++i) {
    EXPECT_NEAR(cases[i].grey, out.index(i, 0), 1) << i;
    EXPECT_EQ(out.colour(i, 0).r, out.index(i, 0));  // identity grey ramp
  }
  EXPECT_NE(0, out.d.imgtype);
}

TEST(Colour, ReduceColoursHonoursTheDestinationsCount) {
  TestImage in(64, 48, 8), out(64, 48, 8);
  in.fill([](int x, int y) { return (x * 4 + y) & 255; });
  out.d.colors = 16;
  ASSERT_EQ(kOk, reduceImageColors(&in.d, &out.d));
  EXPECT_EQ(16, out.d.colors);
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 64; ++x) ASSERT_LT(out.index(x, y), 16);
  // The grey picture stays grey and its mean level survives the diffusion.
  double before = 0, after = 0;
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 64; ++x) {
      Bgr c = out.colour(x, y);
      ASSERT_TRUE(c.r == c.g && c.g == c.b);
      before += in.index(x, y);
      after += c.r;
    }
  EXPECT_NEAR(before / (64 * 48), after / (64 * 48), 1.0);
  out.d.colors = 300;
  EXPECT_EQ(kBadRange, reduceImageColors(&in.d, &out.d));
}

TEST(Colour, EightToOneBitKeepsTheGreyAsDotDensity) {
  for (int level : {0, 64, 128, 200, 255}) {
    TestImage in(64, 64, 8), out(64, 64, 1);
    in.fill([&](int, int) { return level; });
    ASSERT_EQ(kOk, convert8BitTo1Bit(0, &in.d, &out.d));
    int white = 0;
    for (int y = 0; y < 64; ++y)
      for (int x = 0; x < 64; ++x) white += out.colour(x, y).r == 255;
    EXPECT_NEAR(level / 255.0, white / 4096.0, 0.02) << level;
  }
  TestImage in(8, 8, 8), out(8, 8, 1);
  EXPECT_EQ(kBadRange, convert8BitTo1Bit(1, &in.d, &out.d));
}

TEST(Colour, OneToEightBitGivesGreyLevelsOrKeepsTwoColours) {
  TestImage in(10, 3, 1), out(10, 3, 8);
  in.fill([](int x, int y) { return (x + y) & 1; });
  ASSERT_EQ(kOk, convert1BitTo8Bit(&in.d, &out.d));
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 10; ++x) {
      ASSERT_EQ(in.index(x, y) ? 255 : 0, out.index(x, y));
      ASSERT_EQ(in.colour(x, y), out.colour(x, y));
    }
  in.d.palette[0] = RgbQuad{255, 0, 0, 0};  // blue and yellow
  in.d.palette[1] = RgbQuad{0, 255, 255, 0};
  ASSERT_EQ(kOk, convert1BitTo8Bit(&in.d, &out.d));
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 10; ++x) ASSERT_EQ(in.colour(x, y), out.colour(x, y));
}

// Every pixel must get the palette entry nearest its colour (ties allowed either way).
TEST(Colour, MatchColourFindsTheNearestRainbowEntry) {
  TestImage in(256, 64, 24), out(256, 64, 8);
  std::mt19937 random(7);
  in.fill([&](int x, int y) {
    if (y == 0) return Bgr{uint8_t(x), uint8_t(x), uint8_t(x)};  // every grey
    return Bgr{uint8_t(random()), uint8_t(random()), uint8_t(random())};
  });
  ASSERT_EQ(kOk, rainbowPalette(&out.d));
  ASSERT_EQ(kOk, matchColorImage(&in.d, &out.d));
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 256; ++x) {
      int best = 1 << 30;
      for (int i = 0; i < 256; ++i) best = std::min(best, distance2(in.bgr(x, y), out.d.palette[i]));
      ASSERT_EQ(best, distance2(in.bgr(x, y), out.d.palette[out.index(x, y)])) << x << "," << y;
    }
}

TEST(Colour, MatchColourWorksWithAnyPalette) {
  TestImage in(50, 20, 24), out(50, 20, 8);
  std::mt19937 random(3);
  in.fill([&](int, int) { return Bgr{uint8_t(random()), uint8_t(random()), uint8_t(random())}; });
  for (int i = 0; i < 256; ++i) out.d.palette[i] = RgbQuad{uint8_t(random()), uint8_t(random()), uint8_t(random()), 0};
  ASSERT_EQ(kOk, matchColorImage(&in.d, &out.d));
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 50; ++x) {
      int best = 1 << 30;
      for (int i = 0; i < 256; ++i) best = std::min(best, distance2(in.bgr(x, y), out.d.palette[i]));
      ASSERT_EQ(best, distance2(in.bgr(x, y), out.d.palette[out.index(x, y)]));
    }
}

// The type word says what the palette is after every call that makes one: a colour palette marks
// a colour image (0), an all-grey one a grey image (1), whatever the destination said before.
TEST(Colour, TheGreyMarkSaysWhatThePaletteIsAfterEachCall) {
  using Prepare = std::function<void(TestImage&)>;
  using Operation = std::function<int(TestImage & in, TestImage & out)>;
  auto colourPalette = [](TestImage& image) {
    for (int i = 0; i < 256; ++i) image.d.palette[i] = RgbQuad{uint8_t(i), uint8_t(255 - i), uint8_t(i * 3), 0};
  };
  auto indices = [](TestImage& image) { image.fill([](int x, int y) { return (x * 7 + y * 13) & 255; }); };
  auto colours = [](TestImage& image) { fillGradient(image); };
  auto greys = [](TestImage& image) {
    image.fill([](int x, int y) { return Bgr{uint8_t(x * 9 + y), uint8_t(x * 9 + y), uint8_t(x * 9 + y)}; });
  };
  struct Case {
    const char* name;
    int sourceBits;
    Prepare source;
    Prepare destination;  // palette and colour count the caller sets
    Operation operation;
    int markBefore, markAfter;
    bool inPlace = false;  // the source is the destination
  };
  const Case cases[] = {
      {"convertrgbtopal of a colour picture", 24, colours, nullptr,
       [](TestImage& in, TestImage& out) { return convertRgbToPal(256, &in.d, &out.d); }, 1, 0},
      {"convertrgbtopal of a grey picture", 24, greys, nullptr,
       [](TestImage& in, TestImage& out) { return convertRgbToPal(256, &in.d, &out.d); }, 0, 1},
      {"reduceimagecolors of a colour palette", 8,
       [&](TestImage& image) {
         colourPalette(image);
         indices(image);
       },
       [](TestImage& image) { image.d.colors = 16; },
       [](TestImage& in, TestImage& out) { return reduceImageColors(&in.d, &out.d); }, 1, 0},
      {"reduceimagecolors of a grey picture", 8, indices, [](TestImage& image) { image.d.colors = 16; },
       [](TestImage& in, TestImage& out) { return reduceImageColors(&in.d, &out.d); }, 0, 1},
      {"matchcolorimage through the rainbow palette", 24, colours, nullptr,
       [](TestImage& in, TestImage& out) {
         int result = rainbowPalette(&out.d);
         return result != kOk ? result : matchColorImage(&in.d, &out.d);
       },
       1, 0},
      {"matchcolorimage through a colour palette the caller set", 24, colours, colourPalette,
       [](TestImage& in, TestImage& out) { return matchColorImage(&in.d, &out.d); }, 1, 0},
      {"matchcolorimage through a grey palette", 24, colours, nullptr,
       [](TestImage& in, TestImage& out) { return matchColorImage(&in.d, &out.d); }, 0, 1},
      {"kodalith of a colour palette", 8,
       [&](TestImage& image) {
         colourPalette(image);
         indices(image);
       },
       colourPalette, [](TestImage& in, TestImage& out) { return kodalith(128, &in.d, &out.d); }, 0, 1},
      {"kodalith of a colour palette in place", 8,
       [&](TestImage& image) {
         colourPalette(image);
         indices(image);
       },
       nullptr, [](TestImage& in, TestImage&) { return kodalith(128, &in.d, &in.d); }, 0, 1, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestImage in(24, 16, c.sourceBits), out(24, 16, 8);
    c.source(in);
    if (c.destination) c.destination(out);
    TestImage& result = c.inPlace ? in : out;
    result.d.imgtype = c.markBefore;
    ASSERT_EQ(kOk, c.operation(in, out));
    bool grey = true;
    for (int i = 0; i < 256; ++i)
      grey = grey && result.d.palette[i].rgbRed == result.d.palette[i].rgbGreen &&
             result.d.palette[i].rgbGreen == result.d.palette[i].rgbBlue;
    EXPECT_EQ(c.markAfter == 1, grey) << "the palette itself";
    EXPECT_EQ(c.markAfter, result.d.imgtype);
  }
}

// Dithering to a fixed palette: a colour the palette holds stays exact; one it lacks is mixed so
// that the average over an area is right.
TEST(Colour, ColourDitherMixesColoursThePaletteLacks) {
  struct Case {
    int mode;
    Bgr flat;
    int maxIndex;
  };
  const Case cases[] = {{0, {128, 128, 128}, 16},  {16, {0, 255, 255}, 16},    {0, {40, 90, 200}, 16},
                        {16, {100, 100, 100}, 16}, {256, {51, 102, 153}, 256}, {256, {30, 77, 140}, 256}};
  for (const Case& c : cases) {
    TestImage in(48, 48, 24), out(48, 48, 8);
    in.fill([&](int, int) { return c.flat; });
    ASSERT_EQ(kOk, colorDither(&in.d, &out.d, c.mode));
    double sum[3] = {0, 0, 0};
    for (int y = 0; y < 48; ++y)
      for (int x = 0; x < 48; ++x) {
        ASSERT_LT(out.index(x, y), c.maxIndex);
        Bgr got = out.colour(x, y);
        sum[0] += got.b;
        sum[1] += got.g;
        sum[2] += got.r;
      }
    EXPECT_NEAR(c.flat.b, sum[0] / 2304, 2.0) << "mode " << c.mode;
    EXPECT_NEAR(c.flat.g, sum[1] / 2304, 2.0) << "mode " << c.mode;
    EXPECT_NEAR(c.flat.r, sum[2] / 2304, 2.0) << "mode " << c.mode;
  }
  TestImage in(4, 4, 24), out(4, 4, 8);
  EXPECT_EQ(kBadRange, colorDither(&in.d, &out.d, 8));
}

TEST(Colour, ConversionsRefuseWrongDepthsAndSizes) {
  TestImage rgb(8, 8, 24), grey(8, 8, 8), bits(8, 8, 1), small(4, 8, 8);
  EXPECT_EQ(kBadBits, convertRgbToPal(256, &rgb.d, &rgb.d));
  EXPECT_EQ(kBadRange, convertRgbToPal(257, &rgb.d, &grey.d));
  EXPECT_EQ(kBadRange, convertRgbToPal(256, &rgb.d, &small.d));
  EXPECT_EQ(kBadBits, convertPalToRgb(&grey.d, &grey.d));
  EXPECT_EQ(kBadBits, convert1BitTo8Bit(&grey.d, &grey.d));
  EXPECT_EQ(kBadBits, convert8BitTo1Bit(0, &bits.d, &bits.d));
  EXPECT_EQ(kBadBits, rainbowPalette(&rgb.d));
  EXPECT_EQ(kBadBits, matchColorImage(&bits.d, &grey.d));
  EXPECT_EQ(kBadBits, colorToGray(&rgb.d, &rgb.d));
}

}  // namespace
}  // namespace vic

namespace vic {
namespace {

// Black and white for printing: both screens keep a flat grey as the share of white pixels.
TEST(Colour, HalftoneAndScatterKeepGreyAsWhiteShare) {
  for (int level : {0, 32, 100, 128, 191, 255}) {
    const int size = 64;
    std::vector<uint8_t> grey(size, static_cast<uint8_t>(level)), bits(size / 8);
    ScatterDither scatter;
    ASSERT_TRUE(scatter.start(size));
    int halftoneWhite = 0, scatterWhite = 0;
    for (int y = 0; y < size; ++y) {
      halftoneRow(grey.data(), size, y, bits.data());
      for (int x = 0; x < size; ++x) halftoneWhite += (bits[x >> 3] >> (7 - (x & 7))) & 1;
      scatter.row(grey.data(), bits.data());
      for (int x = 0; x < size; ++x) scatterWhite += (bits[x >> 3] >> (7 - (x & 7))) & 1;
    }
    EXPECT_NEAR(level / 255.0, halftoneWhite / double(size * size), 1.0 / 64) << level;
    EXPECT_NEAR(level / 255.0, scatterWhite / double(size * size), 0.02) << level;
  }
}

// The halftone's black grows as one dot from each cell's centre: at a quarter black, every
// 8 x 8 cell holds one 4-connected blot that covers the cell's centre.
TEST(Colour, HalftoneDotsAreClustered) {
  std::vector<uint8_t> grey(8, 191), bits(1);
  int black[8][8];
  for (int y = 0; y < 8; ++y) {
    halftoneRow(grey.data(), 8, y, bits.data());
    for (int x = 0; x < 8; ++x) black[y][x] = !((bits[0] >> (7 - x)) & 1);
  }
  EXPECT_TRUE(black[3][3] && black[3][4] && black[4][3] && black[4][4]);
  EXPECT_FALSE(black[0][0] || black[0][7] || black[7][0] || black[7][7]);
  int count = 0;
  for (auto& row : black)
    for (int b : row) count += b;
  EXPECT_EQ(16, count);
}

}  // namespace
}  // namespace vic
