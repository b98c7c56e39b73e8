#include <gtest/gtest.h>

#include <functional>

#include "../ops/ops.h"
#include "test_image.h"

namespace vic {
namespace {

using victest::Bgr;
using victest::TestImage;

using PointOp = std::function<int(const ImageDescriptor*, ImageDescriptor*)>;

// Level in, level out, for every point operation, on both a grey 8-bit and a 24-bit picture
// (each channel of the 24-bit one).
TEST(Tone, PointOperationsMapLevelsAsExpected) {
  struct Case {
    const char* name;
    PointOp op;
    std::vector<std::pair<int, int>> levels;  // (in, out)
  };
  const Case cases[] = {
      {"brighter", [](auto s, auto d) { return changeBright(50, s, d); }, {{0, 50}, {100, 150}, {230, 255}}},
      {"darker", [](auto s, auto d) { return changeBright(-255, s, d); }, {{0, 0}, {255, 0}}},
      {"negative", negative, {{0, 255}, {255, 0}, {100, 155}}},
      {"exchange",
       [](auto s, auto d) { return exchangeLevel(10, 20, 99, s, d); },
       {{9, 9}, {10, 99}, {20, 99}, {21, 21}}},
      {"exchange all",
       [](auto s, auto d) { return exchangeLevel(0, 255, 128, s, d); },
       {{0, 128}, {77, 128}, {255, 128}}},
      {"kodalith", [](auto s, auto d) { return kodalith(100, s, d); }, {{99, 0}, {100, 255}, {0, 0}, {255, 255}}},
      {"midrange", brightenMidRange, {{0, 0}, {255, 255}, {128, 157}, {64, 97}}},
  };
  for (const Case& c : cases) {
    const int n = static_cast<int>(c.levels.size());
    TestImage grey(n, 2, 8), rgb(n, 2, 24);
    for (int i = 0; i < n; ++i)
      for (int y = 0; y < 2; ++y) {
        uint8_t v = static_cast<uint8_t>(c.levels[i].first);
        grey.setIndex(i, y, v);
        rgb.setBgr(i, y, Bgr{v, v, v});
      }
    ASSERT_EQ(kOk, c.op(&grey.d, &grey.d)) << c.name;
    ASSERT_EQ(kOk, c.op(&rgb.d, &rgb.d)) << c.name;
    for (int i = 0; i < n; ++i) {
      int want = c.levels[i].second;
      EXPECT_NEAR(want, grey.index(i, 1), 1) << c.name << " " << c.levels[i].first;
      EXPECT_EQ(grey.colour(i, 1).r, grey.index(i, 1)) << c.name;
      Bgr got = rgb.bgr(i, 1);
      EXPECT_NEAR(want, got.r, 1) << c.name << " " << c.levels[i].first;
      EXPECT_TRUE(got.r == got.g && got.g == got.b) << c.name;
    }
  }
}

TEST(Tone, PointOperationsOnAColourPaletteChangeThePalette) {
  TestImage image(4, 4, 8);
  for (int i = 0; i < 256; ++i) image.d.palette[i] = RgbQuad{uint8_t(i), 10, 200, 0};
  image.fill([](int x, int y) { return x * 4 + y; });
  ASSERT_EQ(kOk, negative(&image.d, &image.d));
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) {
      EXPECT_EQ(x * 4 + y, image.index(x, y));
      EXPECT_EQ((Bgr{uint8_t(255 - (x * 4 + y)), 245, 55}), image.colour(x, y));
    }
}

TEST(Tone, NegativeOfAOneBitImageSwapsBlackAndWhite) {
  TestImage image(9, 3, 1);
  image.fill([](int x, int) { return x & 1; });
  ASSERT_EQ(kOk, negative(&image.d, &image.d));
  for (int x = 0; x < 9; ++x) EXPECT_EQ((x & 1) ? 0 : 255, image.colour(x, 0).r);
}

TEST(Tone, UseTableAppliesOneTablePerChannel) {
  uint8_t red[256], green[256], blue[256];
  for (int i = 0; i < 256; ++i) {
    red[i] = static_cast<uint8_t>(std::min(255, i * 150 / 100));
    green[i] = static_cast<uint8_t>(i / 2);
    blue[i] = 7;
  }
  TestImage image(2, 1, 24);
  image.setBgr(0, 0, Bgr{100, 100, 100});
  image.setBgr(1, 0, Bgr{255, 255, 255});
  ASSERT_EQ(kOk, useTable(red, green, blue, &image.d, &image.d));
  EXPECT_EQ((Bgr{7, 50, 150}), image.bgr(0, 0));
  EXPECT_EQ((Bgr{7, 127, 255}), image.bgr(1, 0));
  EXPECT_EQ(kBadRange, useTable(nullptr, green, blue, &image.d, &image.d));
}

TEST(Tone, HistoBrightenStretchesTheUsedRangeOverTheFullRange) {
  TestImage image(128, 4, 8);
  image.fill([](int x, int) { return 64 + x; });  // levels 64 to 191
  ASSERT_EQ(kOk, histoBrighten(&image.d, &image.d));
  EXPECT_LE(image.index(0, 0), 2);
  EXPECT_GE(image.index(127, 0), 253);
  for (int x = 1; x < 128; ++x) EXPECT_GE(image.index(x, 0), image.index(x - 1, 0));
  // A picture that already spans the range stays as it is.
  TestImage full(256, 2, 24), copy(256, 2, 24);
  full.fill([](int x, int) { return Bgr{uint8_t(x), uint8_t(x), uint8_t(x)}; });
  copy.fill([](int x, int) { return Bgr{uint8_t(x), uint8_t(x), uint8_t(x)}; });
  ASSERT_EQ(kOk, histoBrighten(&full.d, &full.d));
  for (int x = 0; x < 256; ++x) EXPECT_NEAR(copy.bgr(x, 0).r, full.bgr(x, 0).r, 2);
}

TEST(Tone, AverageLevelAndTheMeansOfTheDarkAndLightParts) {
  TestImage image(10, 10, 24);
  image.fill([](int x, int) { return x < 5 ? Bgr{20, 20, 20} : Bgr{220, 220, 220}; });
  int32_t average = -1, dark = -1, light = -1;
  ASSERT_EQ(kOk, calcAvgLevel(&image.d, &average, &dark, &light));
  EXPECT_EQ(120, average);
  EXPECT_EQ(20, dark);
  EXPECT_EQ(220, light);
  // Kodalith at the average level splits the picture into its two halves.
  ASSERT_EQ(kOk, kodalith(average, &image.d, &image.d));
  for (int x = 0; x < 10; ++x) EXPECT_EQ(x < 5 ? 0 : 255, image.bgr(x, 3).g);
}

TEST(Tone, ToneOperationsRefuseBadArguments) {
  TestImage a(4, 4, 24), b(4, 5, 24), g(4, 4, 8);
  EXPECT_EQ(kBadRange, changeBright(256, &a.d, &a.d));
  EXPECT_EQ(kBadRange, exchangeLevel(20, 10, 0, &a.d, &a.d));
  EXPECT_EQ(kBadRange, exchangeLevel(0, 300, 0, &a.d, &a.d));
  EXPECT_EQ(kBadRange, negative(&a.d, &b.d));
  EXPECT_EQ(kBadBits, negative(&a.d, &g.d));
  EXPECT_EQ(kBadRange, calcAvgLevel(&a.d, nullptr, nullptr, nullptr));
}

}  // namespace
}  // namespace vic
