// The inverse DCT: its flat-block shortcut and its vector form agree with the plain transform.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "idct.h"

namespace {

struct Block {
  int16_t coef[64];
  uint16_t quant[64];
};

// Blocks of the kinds a decoder meets: sparse low-frequency ones, whole columns or rows of zeros,
// DC only, and corrupt ones with extreme coefficients and 16-bit steps (where the arithmetic wraps).
Block randomBlock(std::mt19937& rng, int kind) {
  Block b{};
  std::uniform_int_distribution<int> small(-60, 60), any(-32768, 32767), step(1, 40), wide(0, 65535);
  for (int i = 0; i < 64; ++i) b.quant[i] = static_cast<uint16_t>(kind == 4 ? wide(rng) : step(rng));
  switch (kind) {
    case 0:  // low frequencies
      for (int i = 0; i < 64; ++i)
        if (i % 8 < 3 && i / 8 < 3) b.coef[i] = static_cast<int16_t>(small(rng));
      break;
    case 1:  // only the first row: every column but the first is DC-only
      for (int i = 0; i < 8; ++i) b.coef[i] = static_cast<int16_t>(small(rng));
      break;
    case 2:  // only the first column: every row of the workspace but the first has AC terms zero
      for (int i = 0; i < 64; i += 8) b.coef[i] = static_cast<int16_t>(small(rng));
      break;
    case 3:  // dense
      for (auto& c : b.coef) c = static_cast<int16_t>(small(rng) * 4);
      break;
    default:  // corrupt
      for (auto& c : b.coef) c = static_cast<int16_t>(rng() % 3 ? 0 : any(rng));
      break;
  }
  return b;
}

TEST(InverseDct, DcOnlyShortcutIsTheTransformOfAFlatBlock) {
  for (int dc : {-1024, -300, -1, 0, 1, 57, 1016, 32767, -32768}) {
    for (int q : {1, 2, 16, 255, 1000, 65535}) {
      Block b{};
      b.coef[0] = static_cast<int16_t>(dc);
      for (auto& v : b.quant) v = static_cast<uint16_t>(q);
      uint8_t out[64];
      qrjpeg::InverseDct(b.coef, b.quant, out);
      uint8_t flat = qrjpeg::InverseDctDcOnly(b.coef[0], b.quant[0]);
      for (uint8_t s : out) ASSERT_EQ(s, flat) << dc << " x " << q;
    }
  }
  // Centre and both ends of the range limit: DC 0 is grey 128; large values saturate.
  uint8_t grey = qrjpeg::InverseDctDcOnly(0, 16), white = qrjpeg::InverseDctDcOnly(127, 8);
  uint8_t black = qrjpeg::InverseDctDcOnly(-128, 8);
  EXPECT_EQ(grey, 128);
  EXPECT_EQ(white, 255);
  EXPECT_EQ(black, 0);
}

TEST(InverseDct, VectorFormGivesTheSameSamples) {
  qrjpeg::InverseDctRoutine vector = qrjpeg::VectorInverseDct();
  if (!vector) GTEST_SKIP() << "no AVX2 on this processor";
  std::mt19937 rng(1234);
  for (int i = 0; i < 20000; ++i) {
    Block b = randomBlock(rng, i % 5);
    uint8_t plain[64], fast[64];
    qrjpeg::InverseDct(b.coef, b.quant, plain);
    vector(b.coef, b.quant, fast);
    ASSERT_EQ(0, std::memcmp(plain, fast, 64)) << "block " << i << " kind " << i % 5;
  }
}

}  // namespace
