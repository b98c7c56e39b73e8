// The virtual camera's picture: stream layout, raw frames, and what each register does to it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "camera_streams.h"
#include "scene.h"

namespace {

using qrtest::Bytes;
using namespace qrvcam;

Bytes picture(const SceneRegisters& regs, uint32_t frame = 0, SceneFeedback* fb = nullptr,
              uint32_t scene = kSceneTestPattern) {
  Bytes out(static_cast<size_t>(regs.reg[kRegCaptureWidth]) * regs.reg[kRegCaptureHeight] * 2);
  EXPECT_TRUE(renderPicture(regs, frame, out.data(), fb, scene));
  return out;
}

int meanLuma(const Bytes& p) {
  uint64_t sum = 0;
  for (size_t i = 0; i < p.size(); i += 2) sum += p[i];
  return static_cast<int>(sum / (p.size() / 2));
}

TEST(SceneStream, CompressedFrameHasTheCameraLayout) {
  SceneRegisters regs = qrtest::PlainRegisters(352, 288, 250, true);
  regs.quant[70] = 0;  // a step of 0 in the register goes out as 1
  Bytes s = qrtest::CameraFrame(regs, 0);
  regs.quant[70] = 1;
  ASSERT_GT(s.size(), 600u);
  EXPECT_EQ(s[0], 0xFF);
  EXPECT_EQ(s[1], 0xD8);
  EXPECT_EQ(s[s.size() - 2], 0xFF);
  EXPECT_EQ(s[s.size() - 1], 0xD9);
  EXPECT_EQ(qrtest::FindMarker(s, 0xFFC4), -1) << "no Huffman table segment";

  long dqt = qrtest::FindMarker(s, 0xFFDB);
  ASSERT_EQ(dqt, 2);
  for (int t = 0; t < 2; ++t) {
    EXPECT_EQ(s[dqt + 4 + 65 * t], t);
    for (int k = 0; k < 64; ++k) EXPECT_EQ(s[dqt + 5 + 65 * t + k], regs.quant[64 * t + k]);
  }
  long sof = qrtest::FindMarker(s, 0xFFC0);
  const Bytes sofExpected = {0xFF, 0xC0, 0, 17, 8,    288 >> 8, 288 & 255, 352 >> 8, 352 & 255, 3,
                             1,    0x21, 0, 2,  0x11, 1,        3,         0x11,     1};
  EXPECT_EQ(Bytes(s.begin() + sof, s.begin() + sof + 19), sofExpected);
  long sos = qrtest::FindMarker(s, 0xFFDA);
  const Bytes sosExpected = {0xFF, 0xDA, 0, 12, 3, 1, 0x00, 2, 0x11, 3, 0x11, 0, 63, 0};
  EXPECT_EQ(Bytes(s.begin() + sos, s.begin() + sos + 14), sosExpected);
}

TEST(SceneStream, RawFramesArePackedRowsAndCapacityIsRespected) {
  SceneRegisters regs = qrtest::PlainRegisters(160, 120, 250, false);
  Bytes raw(160 * 120 * 2 + 8, 0xEE);
  EXPECT_EQ(renderFrame(regs, 3, raw.data(), 160 * 120 * 2, nullptr), 160u * 120 * 2);
  EXPECT_EQ(Bytes(raw.begin(), raw.end() - 8), picture(regs, 3));

  // A short buffer gets its length in bytes and learns the frame's full length.
  for (bool compressed : {false, true}) {
    regs.reg[kRegFrameKind] = compressed ? kFrameKindCompressed : 0;
    size_t full = renderFrame(regs, 3, nullptr, 0, nullptr);
    Bytes shortBuf(108, 0xEE);
    EXPECT_EQ(renderFrame(regs, 3, shortBuf.data(), 100, nullptr), full);
    for (size_t i = 100; i < shortBuf.size(); ++i) EXPECT_EQ(shortBuf[i], 0xEE);
  }
}

TEST(SceneStream, SizesTheCameraCannotTakeGiveNothing) {
  const int sizes[][2] = {{0, 120}, {161, 120}, {1282, 960}, {160, 0}, {160, 961}};
  Bytes out(16, 0xEE);
  for (const auto& s : sizes) {
    SceneRegisters regs = qrtest::PlainRegisters(s[0], s[1], 250, true);
    EXPECT_EQ(renderFrame(regs, 0, out.data(), out.size(), nullptr), 0u);
  }
  EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](uint8_t b) { return b == 0xEE; }));
}

TEST(SceneProcessing, MirrorAndFlipReverseColumnsAndRows) {
  const int w = 176, h = 144;
  SceneRegisters regs = qrtest::PlainRegisters(w, h, 250, false);
  Bytes plain = picture(regs, 7);
  regs.reg[kRegMirror] = 1;
  Bytes mirrored = picture(regs, 7);
  regs.reg[kRegMirror] = 0;
  regs.reg[kRegFlip] = 1;
  Bytes flipped = picture(regs, 7);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      ASSERT_EQ(mirrored[(y * w + x) * 2], plain[(y * w + (w - 1 - x)) * 2]);
      ASSERT_EQ(flipped[(y * w + x) * 2], plain[((h - 1 - y) * w + x) * 2]);
    }
  EXPECT_NE(mirrored, plain);
}

TEST(SceneProcessing, ToneSaturationAndGain) {
  SceneRegisters regs = qrtest::PlainRegisters(160, 120, 250, false);
  const Bytes plain = picture(regs);

  SceneRegisters flat = regs;
  std::memset(flat.tone, 90, sizeof flat.tone);
  Bytes toned = picture(flat);
  for (size_t i = 0; i < toned.size(); i += 2) ASSERT_EQ(toned[i], 90);

  SceneRegisters grey = regs;
  grey.reg[kRegChromaSaturation] = 0;
  Bytes g = picture(grey);
  for (size_t i = 1; i < g.size(); i += 2) ASSERT_EQ(g[i], 128);
  bool coloured = false;
  for (size_t i = 1; i < plain.size(); i += 2) coloured |= plain[i] != 128;
  EXPECT_TRUE(coloured);

  SceneRegisters bright = regs;
  bright.reg[kRegGain] = 200;
  EXPECT_GT(meanLuma(picture(bright)), meanLuma(plain) + 20);
}

TEST(SceneProcessing, TheBallMoves) {
  SceneRegisters regs = qrtest::PlainRegisters(160, 120, 250, false);
  EXPECT_NE(picture(regs, 0), picture(regs, 10));
  EXPECT_EQ(picture(regs, 10), picture(regs, 10));
}

TEST(SceneAutomatics, ExposureMovesGainThenShutterOnlyWhenOn) {
  SceneRegisters regs = qrtest::PlainRegisters(160, 120, 250, false);
  regs.reg[kRegGain] = 0;
  regs.reg[kRegShutter] = 64;
  SceneFeedback fb;
  picture(regs, 0, &fb);
  EXPECT_EQ(fb.count, 0) << "manual exposure";

  regs.reg[kRegExposureMode] = 1;
  picture(regs, 0, &fb);
  ASSERT_EQ(fb.count, 1);
  EXPECT_EQ(fb.moved[0].reg, kRegGain);
  EXPECT_EQ(fb.moved[0].value, 2);

  regs.reg[kRegGain] = 255;
  regs.reg[kRegShutter] = 16;
  picture(regs, 0, &fb);
  ASSERT_EQ(fb.count, 1);
  EXPECT_EQ(fb.moved[0].reg, kRegShutter);
  EXPECT_EQ(fb.moved[0].value, 32);

  // Run the loop: it settles at a mean luminance of 100..120.
  regs.reg[kRegGain] = 0;
  regs.reg[kRegShutter] = 64;
  for (int frame = 0; frame < 400; ++frame) {
    picture(regs, 0, &fb);
    for (int i = 0; i < fb.count; ++i) regs.reg[fb.moved[i].reg] = fb.moved[i].value;
  }
  int mean = meanLuma(picture(regs, 0, &fb));
  EXPECT_GE(mean, 95);
  EXPECT_LE(mean, 125);
}

TEST(SceneAutomatics, WhiteBalanceCorrectsTheWarmLight) {
  SceneRegisters regs = qrtest::PlainRegisters(160, 120, 250, false);
  SceneFeedback fb;
  picture(regs, 0, &fb);
  EXPECT_EQ(fb.count, 0);
  regs.reg[kRegAutoWhiteBalance] = 1;
  for (int frame = 0; frame < 60; ++frame) {
    picture(regs, 0, &fb);
    for (int i = 0; i < fb.count; ++i) regs.reg[fb.moved[i].reg] = fb.moved[i].value;
  }
  EXPECT_LT(regs.reg[kRegRedBalance], 125);
  EXPECT_GT(regs.reg[kRegBlueBalance], 125);
}

// Registers under which a flat field shows its own light (see FlatFieldLight).
SceneRegisters neutralRegisters(int width, int height) {
  SceneRegisters regs = qrtest::PlainRegisters(width, height, 250, false);
  regs.reg[kRegRedBalance] = kNeutralRedBalance;
  regs.reg[kRegBlueBalance] = kNeutralBlueBalance;
  return regs;
}

struct Ycc {
  int y, cb, cr;
};

// The scene's own colour conversion, rounded: what a flat field of this light must give.
Ycc yccOf(const Light& c) {
  return {(77 * c.r + 150 * c.g + 29 * c.b + 128) >> 8, 128 + ((-43 * c.r - 85 * c.g + 128 * c.b + 128) >> 8),
          128 + ((128 * c.r - 107 * c.g - 21 * c.b + 128) >> 8)};
}

TEST(SceneChoice, FlatFieldsShowTheirLightUnderNeutralProcessing) {
  struct Case {
    uint32_t scene;
    Light light;
  };
  const Case cases[] = {{kSceneFlatGrey, {128, 128, 128}}, {kSceneFlatWhite, {200, 200, 200}},
                        {kSceneFlatRed, {180, 40, 40}},    {kSceneFlatGreen, {40, 180, 40}},
                        {kSceneFlatBlue, {40, 40, 180}},   {kSceneFlatBlack, {0, 0, 0}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.scene);
    Light light{};
    ASSERT_TRUE(FlatFieldLight(c.scene, &light));
    EXPECT_EQ(c.light.r, light.r);
    EXPECT_EQ(c.light.g, light.g);
    EXPECT_EQ(c.light.b, light.b);
    const Bytes p = picture(neutralRegisters(96, 64), 0, nullptr, c.scene);
    const Ycc want = yccOf(c.light);
    for (size_t i = 0; i < p.size(); i += 4) {
      ASSERT_NEAR(want.y, p[i], 1) << i;
      ASSERT_NEAR(want.cb, p[i + 1], 1) << i;
      ASSERT_NEAR(want.y, p[i + 2], 1) << i;
      ASSERT_NEAR(want.cr, p[i + 3], 1) << i;
    }
    // The camera's processing still applies: more gain, a brighter field (black stays black).
    SceneRegisters bright = neutralRegisters(96, 64);
    bright.reg[kRegGain] = 128;  // x 1.5
    const auto brighter = [](int channel) { return channel * 3 / 2 > 255 ? 255 : channel * 3 / 2; };
    const Ycc brightWant = yccOf({brighter(c.light.r), brighter(c.light.g), brighter(c.light.b)});
    const Bytes b = picture(bright, 0, nullptr, c.scene);
    EXPECT_NEAR(brightWant.y, b[0], 2);
    EXPECT_NEAR(brightWant.cr, b[3], 2);
  }
  EXPECT_FALSE(FlatFieldLight(kSceneTestPattern, nullptr));
  EXPECT_FALSE(FlatFieldLight(kSceneLandscape, nullptr));
  EXPECT_FALSE(FlatFieldLight(kSceneCount, nullptr));
}

// Under the camera's default balances the room's light is warm: a grey field comes out reddish,
// and automatic white balance brings it back to grey.
TEST(SceneChoice, WhiteBalanceTurnsTheWarmGreyFieldGrey) {
  SceneRegisters regs = qrtest::PlainRegisters(64, 48, 250, false);  // balances 125
  Bytes p = picture(regs, 0, nullptr, kSceneFlatGrey);
  EXPECT_GT(p[3], 128 + 3) << "Cr: warm";
  EXPECT_LT(p[1], 128 - 3) << "Cb: little blue";
  regs.reg[kRegAutoWhiteBalance] = 1;
  SceneFeedback fb;
  for (int frame = 0; frame < 60; ++frame) {
    picture(regs, 0, &fb, kSceneFlatGrey);
    for (int i = 0; i < fb.count; ++i) regs.reg[fb.moved[i].reg] = fb.moved[i].value;
  }
  p = picture(regs, 0, nullptr, kSceneFlatGrey);
  EXPECT_NEAR(128, p[1], 3);
  EXPECT_NEAR(128, p[3], 3);
}

// Mean Y, Cb and Cr of a block of the picture, given as fractions (per mille) of its size.
Ycc meanOver(const Bytes& p, int w, int h, int left, int top, int right, int bottom) {
  int64_t y = 0, cb = 0, cr = 0, n = 0;
  for (int row = top * h / 1000; row < bottom * h / 1000; ++row)
    for (int col = (left * w / 1000) & ~1; col < right * w / 1000; col += 2) {
      const uint8_t* q = &p[(static_cast<size_t>(row) * w + col) * 2];
      y += q[0] + q[2];
      cb += 2 * q[1];
      cr += 2 * q[3];
      n += 2;
    }
  return {static_cast<int>(y / n), static_cast<int>(cb / n), static_cast<int>(cr / n)};
}

TEST(SceneChoice, TheLandscapeIsStillSkyAboveMeadowAndTheSameViewAtEverySize) {
  const SceneRegisters regs = neutralRegisters(320, 240);
  const Bytes first = picture(regs, 0, nullptr, kSceneLandscape);
  EXPECT_EQ(first, picture(regs, 57, nullptr, kSceneLandscape)) << "it does not move";
  EXPECT_NE(first, picture(regs, 0, nullptr, kSceneTestPattern));
  const Ycc sky = meanOver(first, 320, 240, 0, 0, 400, 150);
  EXPECT_GT(sky.cb, 128 + 15) << "a blue sky at the top left";
  const Ycc meadow = meanOver(first, 320, 240, 800, 850, 1000, 1000);
  EXPECT_LT(meadow.cb, 128 - 10) << "green-yellow grass at the bottom right";
  EXPECT_LT(meadow.cr, 128) << "green-yellow grass at the bottom right";
  const Ycc sun = meanOver(first, 320, 240, 670, 290, 710, 305);
  EXPECT_GT(sun.y, 230) << "the sun";
  // A picture full of detail, not a few flat areas.
  int levels[256] = {};
  for (size_t i = 0; i < first.size(); i += 2) levels[first[i]] = 1;
  int used = 0;
  for (int l : levels) used += l;
  EXPECT_GT(used, 150);
  // Each capture size shows the same view: the means of a 4 x 4 grid of blocks agree.
  struct Size {
    int w, h;
  };
  for (const Size& size : {Size{640, 480}, Size{176, 144}, Size{120, 96}}) {
    SCOPED_TRACE(std::to_string(size.w) + " x " + std::to_string(size.h));
    const Bytes other = picture(neutralRegisters(size.w, size.h), 0, nullptr, kSceneLandscape);
    for (int top = 0; top < 1000; top += 250) {
      for (int left = 0; left < 1000; left += 250) {
        const Ycc a = meanOver(first, 320, 240, left, top, left + 250, top + 250);
        const Ycc b = meanOver(other, size.w, size.h, left, top, left + 250, top + 250);
        EXPECT_NEAR(a.y, b.y, 8) << left << "," << top;
        EXPECT_NEAR(a.cb, b.cb, 4) << left << "," << top;
        EXPECT_NEAR(a.cr, b.cr, 4) << left << "," << top;
      }
    }
  }
}

TEST(SceneChoice, AnUnknownSceneGivesNoFrame) {
  const SceneRegisters regs = neutralRegisters(64, 48);
  Bytes out(64 * 48 * 2, 0xEE);
  EXPECT_FALSE(renderPicture(regs, 0, out.data(), nullptr, kSceneCount));
  EXPECT_EQ(0u, renderFrame(regs, 0, out.data(), out.size(), nullptr, kSceneCount));
  EXPECT_EQ(0u, renderFrame(regs, 0, nullptr, 0, nullptr, 1000));
  EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](uint8_t b) { return b == 0xEE; }));
}

}  // namespace
