#include <gtest/gtest.h>

#include <cstdlib>

#include "../ops/ops.h"
#include "test_image.h"

namespace vic {
namespace {

using victest::Bgr;
using victest::TestImage;

// A picture where every pixel differs from its neighbours: x and y coded in the channels.
void fillDistinct(TestImage& image) {
  if (image.bits() == 24)
    image.fill([](int x, int y) { return Bgr{uint8_t(x), uint8_t(y), uint8_t(x * 7 + y * 13)}; });
  else if (image.bits() == 8)
    image.fill([](int x, int y) { return (x * 7 + y * 13) & 255; });
  else
    image.fill([](int x, int y) { return (x * 3 + y * 5) % 7 < 3; });
}

class Depths : public ::testing::TestWithParam<int> {};
INSTANTIATE_TEST_SUITE_P(Geometry, Depths, ::testing::Values(1, 8, 24));

TEST_P(Depths, FourQuarterTurnsEitherWayAreTheIdentity) {
  const int bits = GetParam();
  for (int direction : {0, 1}) {
    TestImage original(13, 5, bits), a(5, 13, bits), b(13, 5, bits);
    fillDistinct(original);
    ASSERT_EQ(kOk, rotate90(direction, &original.d, &a.d));
    ASSERT_EQ(kOk, rotate90(direction, &a.d, &b.d));
    ASSERT_EQ(kOk, rotate90(direction, &b.d, &a.d));
    ASSERT_EQ(kOk, rotate90(direction, &a.d, &b.d));
    EXPECT_TRUE(b.samePixels(original)) << "direction " << direction;
  }
}

TEST_P(Depths, ClockwiseThenCounterClockwiseIsTheIdentity) {
  const int bits = GetParam();
  TestImage original(9, 4, bits), turned(4, 9, bits), back(9, 4, bits);
  fillDistinct(original);
  ASSERT_EQ(kOk, rotate90(0, &original.d, &turned.d));
  ASSERT_EQ(kOk, rotate90(1, &turned.d, &back.d));
  EXPECT_TRUE(back.samePixels(original));
}

TEST_P(Depths, MirrorAndFlipTwiceInPlaceAreTheIdentity) {
  const int bits = GetParam();
  TestImage original(11, 6, bits), image(11, 6, bits);
  fillDistinct(original);
  fillDistinct(image);
  ASSERT_EQ(kOk, mirrorImage(&image.d, &image.d));
  EXPECT_FALSE(image.samePixels(original));
  ASSERT_EQ(kOk, mirrorImage(&image.d, &image.d));
  EXPECT_TRUE(image.samePixels(original));
  ASSERT_EQ(kOk, flipImage(&image.d, &image.d));
  EXPECT_FALSE(image.samePixels(original));
  ASSERT_EQ(kOk, flipImage(&image.d, &image.d));
  EXPECT_TRUE(image.samePixels(original));
}

TEST_P(Depths, SquareTurnsInPlaceComeBack) {
  const int bits = GetParam();
  TestImage original(12, 12, bits), image(12, 12, bits);
  fillDistinct(original);
  fillDistinct(image);
  ASSERT_EQ(kOk, rotate90(1, &image.d, &image.d));
  EXPECT_FALSE(image.samePixels(original));
  for (int i = 0; i < 3; ++i) ASSERT_EQ(kOk, rotate90(1, &image.d, &image.d));
  EXPECT_TRUE(image.samePixels(original));
}

// Palette indices and bits take the nearest sample: doubling and halving again gives back
// exactly the original.
TEST(Geometry, ResizeOfIndicesDoubleThenHalfComesBack) {
  for (int bits : {1, 8}) {
    TestImage original(10, 7, bits), twice(20, 14, bits), back(10, 7, bits);
    fillDistinct(original);
    if (bits == 8)  // a colour palette, so the indices are not blended
      for (int i = 0; i < 256; ++i) original.d.palette[i] = RgbQuad{uint8_t(i), 0, 0, 0};
    ASSERT_EQ(kOk, resize(&original.d, &twice.d));
    ASSERT_EQ(kOk, resize(&twice.d, &back.d));
    EXPECT_TRUE(back.samePixels(original)) << bits << " bits";
  }
}

// A single dot at the top left of a 4 x 3 picture: where each call must put it.
TEST(Geometry, SingleDotLandsWhereTheTurnSends) {
  struct Case {
    const char* name;
    int outWidth, outHeight, dotX, dotY;
  };
  const Case cases[] = {
      {"clockwise", 3, 4, 2, 0},          // top left goes to top right
      {"counter-clockwise", 3, 4, 0, 3},  // top left goes to bottom left
      {"mirror", 4, 3, 3, 0},
      {"flip", 4, 3, 0, 2},
  };
  for (const Case& c : cases) {
    TestImage in(4, 3, 24), out(c.outWidth, c.outHeight, 24);
    in.setBgr(0, 0, Bgr{1, 2, 3});
    std::string name = c.name;
    int result = name == "clockwise"           ? rotate90(0, &in.d, &out.d)
                 : name == "counter-clockwise" ? rotate90(1, &in.d, &out.d)
                 : name == "mirror"            ? mirrorImage(&in.d, &out.d)
                                               : flipImage(&in.d, &out.d);
    ASSERT_EQ(kOk, result) << c.name;
    for (int y = 0; y < out.height(); ++y)
      for (int x = 0; x < out.width(); ++x)
        EXPECT_EQ(x == c.dotX && y == c.dotY ? (Bgr{1, 2, 3}) : (Bgr{0, 0, 0}), out.bgr(x, y))
            << c.name << " at " << x << "," << y;
  }
}

TEST(Geometry, GeometryCarriesThePalette) {
  TestImage in(4, 4, 8), out(4, 4, 8);
  for (int i = 0; i < 256; ++i) in.d.palette[i] = RgbQuad{uint8_t(i), 0, uint8_t(255 - i), 0};
  ASSERT_EQ(kOk, rotate90(0, &in.d, &out.d));
  EXPECT_EQ(0, std::memcmp(in.d.palette, out.d.palette, 256 * sizeof(RgbQuad)));
}

TEST(Geometry, ResizeKeepsAFlatPictureExactlyFlat) {
  const int sizes[][2] = {{640, 480}, {1280, 960}, {160, 120}, {17, 13}, {3, 1000}};
  for (auto& size : sizes) {
    TestImage in(64, 48, 24), out(size[0], size[1], 24);
    in.fill([](int, int) { return Bgr{10, 128, 251}; });
    ASSERT_EQ(kOk, resize(&in.d, &out.d));
    for (int y = 0; y < out.height(); ++y)
      for (int x = 0; x < out.width(); ++x) ASSERT_EQ((Bgr{10, 128, 251}), out.bgr(x, y)) << size[0] << "x" << size[1];
  }
}

// Enlarging twice and reducing again must come back within 2 levels on a smooth picture.
TEST(Geometry, ResizeUpThenDownStaysWithinTwoLevels) {
  TestImage in(80, 60, 24), big(160, 120, 24), back(80, 60, 24);
  in.fill([](int x, int y) { return Bgr{uint8_t(x * 3), uint8_t(y * 4), uint8_t((x + y) * 3 / 2)}; });
  ASSERT_EQ(kOk, resize(&in.d, &big.d));
  ASSERT_EQ(kOk, resize(&big.d, &back.d));
  int worst = 0;
  for (int y = 0; y < 60; ++y)
    for (int x = 0; x < 80; ++x) {
      Bgr a = in.bgr(x, y), b = back.bgr(x, y);
      worst = std::max({worst, std::abs(a.b - b.b), std::abs(a.g - b.g), std::abs(a.r - b.r)});
    }
  EXPECT_LE(worst, 2);
}

// Reducing averages what each output pixel covers: a one-pixel checkerboard halved is flat grey,
// where plain sampling would give all black or all white.
TEST(Geometry, ResizeDownAveragesInsteadOfSampling) {
  TestImage in(64, 64, 8), out(32, 32, 8);
  in.fill([](int x, int y) { return ((x + y) & 1) ? 255 : 0; });
  ASSERT_EQ(kOk, resize(&in.d, &out.d));
  for (int y = 1; y < 31; ++y)
    for (int x = 1; x < 31; ++x) ASSERT_NEAR(128, out.index(x, y), 1) << x << "," << y;
}

TEST(Geometry, ResizeEnlargesARampSmoothly) {
  TestImage in(16, 2, 8), out(64, 2, 8);
  in.fill([](int x, int) { return x * 16; });
  ASSERT_EQ(kOk, resize(&in.d, &out.d));
  for (int x = 1; x < 64; ++x) {
    int step = out.index(x, 0) - out.index(x - 1, 0);
    EXPECT_GE(step, 0);
    EXPECT_LE(step, 8);
  }
  EXPECT_EQ(0, out.index(0, 0));
  EXPECT_EQ(240, out.index(63, 0));
}

// Palette indices cannot be blended: a colour-palette picture only ever gets its own indices.
TEST(Geometry, ResizeOfAColourPaletteImageUsesOnlyItsOwnIndices) {
  TestImage in(10, 10, 8), out(23, 7, 8);
  for (int i = 0; i < 256; ++i) in.d.palette[i] = RgbQuad{uint8_t(i), uint8_t(255 - i), 0, 0};
  in.fill([](int x, int y) { return ((x / 2 + y / 2) & 1) ? 200 : 3; });
  ASSERT_EQ(kOk, resize(&in.d, &out.d));
  for (int y = 0; y < out.height(); ++y)
    for (int x = 0; x < out.width(); ++x) EXPECT_TRUE(out.index(x, y) == 200 || out.index(x, y) == 3);
}

TEST(Geometry, GeometryRefusesMismatchedImages) {
  TestImage in24(8, 6, 24), in8(8, 6, 8), wrongTurn(8, 6, 24), turned8(6, 8, 8);
  ImageDescriptor empty{};
  EXPECT_EQ(kBadRange, rotate90(0, &in24.d, &wrongTurn.d));  // not width and height exchanged
  EXPECT_EQ(kBadRange, rotate90(2, &in24.d, &wrongTurn.d));
  EXPECT_EQ(kBadBits, rotate90(0, &in24.d, &turned8.d));
  EXPECT_EQ(kBadBits, resize(&in24.d, &in8.d));
  EXPECT_EQ(kBadBits, mirrorImage(&in24.d, &in8.d));
  EXPECT_EQ(kBadBuffer, resize(&empty, &in8.d));
  EXPECT_EQ(kBadBuffer, flipImage(&in8.d, nullptr));
  TestImage other(8, 7, 8);
  EXPECT_EQ(kBadRange, flipImage(&in8.d, &other.d));
  EXPECT_EQ(kBadRange, mirrorImage(&in8.d, &other.d));
}

}  // namespace
}  // namespace vic
