#include <gtest/gtest.h>

#include "../ops/ops.h"
#include "test_image.h"

namespace vic {
namespace {

using victest::Bgr;
using victest::TestImage;

const int8_t kEmbossLeft[10] = {-1, -1, 0, -1, 3, 0, 0, 0, 0, 1};
const int8_t kEmbossRight[10] = {1, 1, 0, 1, -3, 0, 0, 0, 0, 1};

// The viewer's emboss: three work images, the picture's two one-sided responses added to and
// taken from flat 128.
int emboss(TestImage& current) {
  TestImage a(current.width(), current.height(), current.bits());
  TestImage b(current.width(), current.height(), current.bits());
  TestImage c(current.width(), current.height(), current.bits());
  int r = exchangeLevel(0, 255, 128, &current.d, &c.d);
  if (r == kOk) r = matrixConv(kEmbossLeft, &current.d, &a.d);
  if (r == kOk) r = matrixConv(kEmbossRight, &current.d, &b.d);
  if (r == kOk) r = subImage(&c.d, &b.d, &c.d);
  if (r == kOk) r = addImage(&c.d, &a.d, &current.d);
  return r;
}

TEST(Filters, EmbossOfAFlatPictureIsFlat128) {
  for (int bits : {8, 24}) {
    for (int level : {0, 77, 255}) {
      TestImage image(9, 7, bits);
      if (bits == 8)
        image.fill([&](int, int) { return level; });
      else
        image.fill([&](int, int) { return Bgr{uint8_t(level), uint8_t(level), uint8_t(level)}; });
      ASSERT_EQ(kOk, emboss(image));
      for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 9; ++x) ASSERT_EQ(128, image.colour(x, y).g) << bits << " bits, level " << level;
    }
  }
}

// A vertical step from 100 to 140: the emboss is 128 plus the kernel's signed response, which is
// 40 on each side of the step's right half and zero elsewhere.
TEST(Filters, EmbossShowsAnEdgeAsItsSignedResponse) {
  TestImage image(8, 5, 8);
  image.fill([](int x, int) { return x < 4 ? 100 : 140; });
  ASSERT_EQ(kOk, emboss(image));
  // At x = 4 the kernel sees its left column at 100, so 3*140 - (2*100 + 140) = 80.
  for (int x = 0; x < 8; ++x) EXPECT_EQ(x == 4 ? 208 : 128, image.index(x, 2)) << x;
}

TEST(Filters, BlurSpreadsADotAndKeepsFlatAreas) {
  TestImage image(5, 5, 8);
  image.fill([](int x, int y) { return x == 2 && y == 2 ? 160 : 0; });
  ASSERT_EQ(kOk, blur(&image.d, &image.d));
  const int want[3][3] = {{10, 20, 10}, {20, 40, 20}, {10, 20, 10}};
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 5; ++x) {
      bool inside = x >= 1 && x <= 3 && y >= 1 && y <= 3;
      EXPECT_EQ(inside ? want[y - 1][x - 1] : 0, image.index(x, y)) << x << "," << y;
    }
  TestImage flat(6, 4, 24);
  flat.fill([](int, int) { return Bgr{1, 2, 3}; });
  ASSERT_EQ(kOk, blur(&flat.d, &flat.d));
  ASSERT_EQ(kOk, sharpenGentle(&flat.d, &flat.d));
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 6; ++x) EXPECT_EQ((Bgr{1, 2, 3}), flat.bgr(x, y));
}

TEST(Filters, SharpenSteepensAStep) {
  TestImage image(8, 3, 8);
  image.fill([](int x, int) { return x < 4 ? 100 : 140; });
  ASSERT_EQ(kOk, sharpenGentle(&image.d, &image.d));
  // Half the difference from the four-neighbour mean: 100 - 40/8 and 140 + 40/8.
  const int want[8] = {100, 100, 100, 95, 145, 140, 140, 140};
  for (int x = 0; x < 8; ++x) EXPECT_EQ(want[x], image.index(x, 1)) << x;
}

TEST(Filters, MatrixWithTheIdentityKernelCopiesAndDivisorScales) {
  TestImage in(5, 4, 24), out(5, 4, 24);
  in.fill([](int x, int y) { return Bgr{uint8_t(x * 40), uint8_t(y * 50), 200}; });
  const int8_t identity[10] = {0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
  ASSERT_EQ(kOk, matrixConv(identity, &in.d, &out.d));
  EXPECT_TRUE(out.samePixels(in));
  const int8_t halve[10] = {0, 0, 0, 0, 1, 0, 0, 0, 0, 2};
  ASSERT_EQ(kOk, matrixConv(halve, &in.d, &out.d));
  EXPECT_EQ((Bgr{80, 75, 100}), out.bgr(4, 3));
  const int8_t zero[10] = {0, 0, 0, 0, 1, 0, 0, 0, 0, 0};
  EXPECT_EQ(kBadRange, matrixConv(zero, &in.d, &out.d));
}

TEST(Filters, OutlineTracesTheInsideEdgeOfADarkShape) {
  TestImage image(7, 7, 8);
  image.fill([](int x, int y) { return x >= 1 && x <= 5 && y >= 1 && y <= 5 ? 0 : 255; });
  ASSERT_EQ(kOk, outline(&image.d, &image.d));
  for (int y = 0; y < 7; ++y)
    for (int x = 0; x < 7; ++x) {
      bool ring = (x >= 1 && x <= 5 && y >= 1 && y <= 5) && (x == 1 || x == 5 || y == 1 || y == 5);
      EXPECT_EQ(ring ? 0 : 255, image.index(x, y)) << x << "," << y;
    }
}

TEST(Filters, AddAndSubtractClampToTheRange) {
  TestImage a(3, 1, 8), b(3, 1, 8), sum(3, 1, 8), difference(3, 1, 8);
  a.fill([](int x, int) { return 100 + 70 * x; });  // 100 170 240
  b.fill([](int x, int) { return 120 - 10 * x; });  // 120 110 100
  ASSERT_EQ(kOk, addImage(&a.d, &b.d, &sum.d));
  ASSERT_EQ(kOk, subImage(&a.d, &b.d, &difference.d));
  const int wantSum[3] = {220, 255, 255}, wantDifference[3] = {0, 60, 140};
  for (int x = 0; x < 3; ++x) {
    EXPECT_EQ(wantSum[x], sum.index(x, 0));
    EXPECT_EQ(wantDifference[x], difference.index(x, 0));
  }
  TestImage wide(4, 1, 8), rgb(3, 1, 24);
  EXPECT_EQ(kBadRange, addImage(&a.d, &wide.d, &sum.d));
  EXPECT_EQ(kBadBits, addImage(&a.d, &rgb.d, &sum.d));
}

TEST(Filters, NeighbourhoodEffectsRefuseColourPaletteImages) {
  TestImage image(4, 4, 8), bits(4, 4, 1);
  image.d.palette[3] = RgbQuad{1, 2, 3, 0};
  EXPECT_EQ(kBadBits, blur(&image.d, &image.d));
  EXPECT_EQ(kBadBits, sharpenGentle(&image.d, &image.d));
  EXPECT_EQ(kBadBits, outline(&bits.d, &bits.d));
}

// Every call, handed a descriptor without an image or with a row length that does not match
// its header, answers -42 and touches nothing.
TEST(Filters, EveryCallRefusesAnUnusableDescriptor) {
  TestImage good(8, 8, 24), good8(8, 8, 8);
  ImageDescriptor empty{};
  ImageDescriptor badStride = good.d;
  badStride.buffwidth = 4;
  const uint8_t table[256] = {};
  int32_t level = 0;
  for (ImageDescriptor* bad : {&empty, &badStride}) {
    const int results[] = {resize(bad, &good.d),
                           rotate90(0, bad, &good.d),
                           flipImage(&good.d, bad),
                           mirrorImage(bad, &good.d),
                           convertRgbToPal(256, bad, &good8.d),
                           convertPalToRgb(bad, &good.d),
                           colorToGray(bad, &good8.d),
                           reduceImageColors(bad, &good8.d),
                           convert8BitTo1Bit(0, bad, &good8.d),
                           convert1BitTo8Bit(bad, &good8.d),
                           rainbowPalette(bad),
                           matchColorImage(bad, &good8.d),
                           colorDither(bad, &good8.d, 0),
                           changeBright(1, bad, &good.d),
                           histoBrighten(bad, &good.d),
                           brightenMidRange(&good.d, bad),
                           useTable(table, table, table, bad, &good.d),
                           negative(bad, &good.d),
                           calcAvgLevel(bad, &level, &level, &level),
                           kodalith(1, bad, &good.d),
                           exchangeLevel(0, 1, 2, bad, &good.d),
                           sharpenGentle(bad, &good.d),
                           blur(&good.d, bad),
                           outline(bad, &good.d),
                           matrixConv(kEmbossLeft, bad, &good.d),
                           addImage(bad, &good.d, &good.d),
                           subImage(&good.d, &good.d, bad)};
    for (size_t i = 0; i < sizeof results / sizeof results[0]; ++i) EXPECT_EQ(kBadBuffer, results[i]) << "call " << i;
  }
}

}  // namespace
}  // namespace vic
