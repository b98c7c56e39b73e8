// The virtual camera's picture: stream layout, raw frames, and what each register does to it.
#include <gtest/gtest.h>

#include <cstring>

#include "camera_streams.h"
#include "scene.h"

namespace {

using qrtest::Bytes;
using namespace qrvcam;

Bytes picture(const SceneRegisters& regs, uint32_t frame = 0, SceneFeedback* fb = nullptr) {
  Bytes out(static_cast<size_t>(regs.reg[kRegCaptureWidth]) * regs.reg[kRegCaptureHeight] * 2);
  EXPECT_TRUE(renderPicture(regs, frame, out.data(), fb));
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

}  // namespace
