// The host-computed camera tables and the pure rules of the parameter setters (built natively too).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "discovery_policy.h"
#include "parameter_rules.h"
#include "quant_table.h"
#include "tone_table.h"

namespace {

using namespace camlib;

TEST(ToneCurves, PassThroughTheGivenRowsAndRiseMonotonically) {
  struct Row {
    int x;
    int y[4];
  };
  const Row rows[] = {{0, {0, 0, 0, 0}},          {1, {3, 4, 8, 10}},          {16, {35, 66, 93, 111}},
                      {64, {102, 132, 155, 168}}, {128, {163, 183, 199, 206}}, {192, {213, 222, 230, 232}},
                      {255, {255, 255, 255, 255}}};
  for (int c = 0; c < 4; ++c) {
    const ToneCurve& curve = gammaCurve(c);
    for (const Row& row : rows) EXPECT_EQ(row.y[c], curve[row.x]) << "T" << c << " x=" << row.x;
    for (int x = 1; x < 256; ++x) {
      EXPECT_GE(curve[x], curve[x - 1]) << "T" << c << " x=" << x;
      EXPECT_LE(curve[x], 255);
    }
  }
}

TEST(ToneCurves, FollowTheirExponentsBetweenTheRows) {
  const double exponents[4] = {0.65, 0.48, 0.36, 0.31};
  for (int c = 0; c < 4; ++c) {
    for (int x = 32; x < 256; x += 16) {
      const double ideal = 255.0 * std::pow(x / 255.0, exponents[c]);
      EXPECT_NEAR(ideal, gammaCurve(c)[x], 8.0) << "T" << c << " x=" << x;
    }
  }
}

TEST(ToneTable, GammaZeroWithoutBlcIsTheIdentity) {
  const ToneTable table = buildToneTable(0, 0);
  for (int x = 0; x < 256; ++x) EXPECT_EQ(x, table[x]);
}

TEST(ToneTable, BaseCurveLiftsShadowsByTheBlcLevel) {
  struct Case {
    int x, blc, expected;
  };
  const Case cases[] = {
      {0, 0, 0},
      {63, 0, 63},
      {64, 0, 64},
      {255, 0, 255},
      // b = 100: h = 50; below 64 the slope is 114/64, above the curve flattens
      {10, 100, 17},
      {63, 100, 112},
      {64, 100, 114},
      {200, 100, 214},
      {255, 100, 255},
      // b = 255: h = 127, clipped at 255
      {63, 255, 188},
      {255, 255, 255},
      {255, 1000, 255},
  };
  for (const Case& c : cases) EXPECT_EQ(c.expected, baseToneCurve(c.x, c.blc)) << c.x << "," << c.blc;
}

TEST(ToneTable, GammaBlendsBetweenNeighbouringCurves) {
  const ToneCurve &t0 = gammaCurve(0), &t1 = gammaCurve(1), &t2 = gammaCurve(2), &t3 = gammaCurve(3);
  struct Case {
    int gamma;
    int x;
    int expected;
  };
  const Case cases[] = {
      {64, 16, t0[16]},
      {128, 16, t1[16]},
      {192, 16, t2[16]},
      {32, 16, 16 + ((t0[16] - 16) * 32) / 64},
      {96, 100, t0[100] + ((t1[100] - t0[100]) * 32) / 64},
      {160, 200, t1[200] + ((t2[200] - t1[200]) * 32) / 64},
      {255, 16, t2[16] + ((t3[16] - t2[16]) * 63) / 64},
  };
  for (const Case& c : cases) EXPECT_EQ(c.expected, buildToneTable(c.gamma, 0)[c.x]) << c.gamma << "," << c.x;
  // With a BLC level the curve is applied to the lifted value.
  EXPECT_EQ(t1[baseToneCurve(40, 80)], buildToneTable(128, 80)[40]);
}

TEST(QuantTable, BaseIsAnnexKDoubledInZigZagOrder) {
  const QuantTable& base = baseQuantTable();
  const int luminanceStart[] = {32, 22, 24, 28, 24, 20};
  const int chrominanceStart[] = {34, 36, 36, 48};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(luminanceStart[i], base[i]);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(chrominanceStart[i], base[64 + i]);
  EXPECT_EQ(198, base[63]);                                     // K.1 bottom-right 99
  EXPECT_EQ(198, base[127]);                                    // K.2 bottom-right 99
  EXPECT_EQ(242, *std::max_element(base.begin(), base.end()));  // K.1's 121
}

TEST(QuantTable, QualityChoosesTheScale) {
  struct Case {
    int quality;
    int keepPercent;
  };
  const Case cases[] = {{0, 90}, {99, 90}, {100, 50}, {200, 50}, {201, 15}, {250, 15}, {255, 15}};
  for (const Case& c : cases) {
    const QuantTable table = buildQuantTable(c.quality);
    for (int i = 0; i < 128; ++i) {
      int expected = (baseQuantTable()[i] * c.keepPercent) / 100;
      if (expected == 0) expected = 1;
      ASSERT_EQ(expected, table[i]) << "quality " << c.quality << " entry " << i;
    }
  }
  EXPECT_EQ(4, buildQuantTable(250)[0]);  // 32 * 15 / 100
}

TEST(QuantTable, BytesAreLittleEndianWords) {
  QuantTable table{};
  table[0] = 0x1234;
  table[127] = 0x00FF;
  const auto bytes = quantTableBytes(table);
  EXPECT_EQ(0x34, bytes[0]);
  EXPECT_EQ(0x12, bytes[1]);
  EXPECT_EQ(0xFF, bytes[254]);
  EXPECT_EQ(0x00, bytes[255]);
}

TEST(ParameterRules, ClampTreatsNegativeArgumentsAsLarge) {
  struct Case {
    int in, out;
  };
  const Case cases[] = {{0, 0}, {255, 255}, {256, 255}, {300, 255}, {-1, 255}, {-300, 255}, {100, 100}};
  for (const Case& c : cases) EXPECT_EQ(c.out, clampToByte(c.in)) << c.in;
}

TEST(ParameterRules, ExposureModeFollowsTheHighestBit) {
  struct Case {
    int mode;
    unsigned reg;
  };
  const Case cases[] = {{12, 3}, {8, 3}, {4, 2}, {6, 2}, {2, 1}, {1, 1}, {3, 1}, {16, 0}, {0, 0}, {-1, 3}};
  for (const Case& c : cases) EXPECT_EQ(c.reg, exposureModeRegister(c.mode)) << c.mode;
}

TEST(ParameterRules, FlipIsSetWhenExactlyOneOfInvertAndBottomUpHolds) {
  struct Case {
    int invert, format;
    unsigned reg;
  };
  const Case cases[] = {{0, 0, 1}, {0, 2, 1}, {0, 3, 0}, {0, 5, 0}, {0, -1, 0},
                        {1, 0, 0}, {1, 1, 0}, {1, 4, 1}, {7, 3, 1}, {1, -1, 1}};
  for (const Case& c : cases) EXPECT_EQ(c.reg, flipRegister(c.invert, c.format)) << c.invert << "," << c.format;
}

TEST(DiscoveryPolicy, MethodsFollowTheWindowsVersion) {
  struct Case {
    unsigned platform, major, minor;
    bool fixed, interfaceClass;
  };
  const Case cases[] = {
      {1, 4, 0, true, false},  // Windows 95
      {1, 4, 10, true, true},  // Windows 98
      {1, 4, 90, true, true},  // Windows Me
      {2, 4, 0, true, false},  // NT 4.0
      {2, 5, 0, true, true},   // 2000
      {2, 10, 0, true, true},  // later NT
      {2, 3, 51, false, false}, {0, 3, 10, false, false}, {3, 0, 0, false, false},
  };
  for (const Case& c : cases) {
    const DiscoveryMethods m = discoveryMethodsFor(c.platform, c.major, c.minor);
    EXPECT_EQ(c.fixed, m.fixedPaths) << c.platform << " " << c.major << "." << c.minor;
    EXPECT_EQ(c.interfaceClass, m.interfaceClass) << c.platform << " " << c.major << "." << c.minor;
  }
}

TEST(DiscoveryPolicy, FixedPathsEndInOneUpperCaseHexDigit) {
  EXPECT_EQ("\\\\.\\QRVIDDEV0", fixedDevicePath(0));
  EXPECT_EQ("\\\\.\\QRVIDDEV9", fixedDevicePath(9));
  EXPECT_EQ("\\\\.\\QRVIDDEVA", fixedDevicePath(10));
  EXPECT_EQ("\\\\.\\QRVIDDEVF", fixedDevicePath(15));
}

TEST(DiscoveryPolicy, ListShowsSixteenBytesAfterThePrefix) {
  char field[kListPathFieldSize];
  std::memset(field, 'x', sizeof field);
  listPathField("\\\\.\\QRVIDDEV3", field);
  EXPECT_STREQ("QRVIDDEV3", field);
  for (int i = 9; i < kListPathFieldSize; ++i) ASSERT_EQ(0, field[i]);
  listPathField("\\\\?\\qrvcam#dev_03&7#{5689ce5b-2d63-4615-b0de-ae4db7d80cb5}", field);
  EXPECT_EQ(std::string("qrvcam#dev_03&7#"), std::string(field, 16));
  EXPECT_EQ(0, field[16]);
  listPathField("ab", field);
  EXPECT_EQ(0, field[0]);
}

}  // namespace
