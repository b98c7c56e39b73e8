// Camera frames decoded in this build come out close to the picture the camera encoded, at every
// size the camera takes (this also runs in the 32-bit Windows build, where libjpeg is not at hand).
#include <gtest/gtest.h>

#include <cstdlib>

#include "camera_streams.h"
#include "jpeg_decoder.h"
#include "scene.h"

namespace {

TEST(DecoderRoundTrip, DecodedFramesAreCloseToTheEncodedPicture) {
  const int sizes[][2] = {{640, 480}, {320, 240}, {160, 120}, {352, 288}, {176, 144}, {120, 96}};
  qrjpeg::JpegDecoder decoder;
  std::vector<uint8_t> frame(qrjpeg::kFrameBufferBytes);
  for (const auto& s : sizes) {
    SCOPED_TRACE(testing::Message() << s[0] << "x" << s[1]);
    qrvcam::SceneRegisters regs = qrtest::PlainRegisters(s[0], s[1], 250, true);
    const qrtest::Bytes stream = qrtest::CameraFrame(regs, 21);
    std::vector<uint8_t> picture(static_cast<size_t>(s[0]) * s[1] * 2);
    ASSERT_TRUE(qrvcam::renderPicture(regs, 21, picture.data(), nullptr));

    int w = 0, h = 0;
    ASSERT_TRUE(decoder.DecodeHeader(stream.data(), stream.size(), &w, &h));
    ASSERT_EQ(w, s[0]);
    ASSERT_EQ(h, s[1]);
    ASSERT_TRUE(decoder.DecodeScan(frame.data(), frame.size()));
    uint64_t totalError = 0;
    int worst = 0;
    for (size_t i = 0; i < picture.size(); ++i) {
      int e = std::abs(frame[i] - picture[i]);
      totalError += static_cast<uint64_t>(e);
      worst = std::max(worst, e);
    }
    double mean = static_cast<double>(totalError) / static_cast<double>(picture.size());
    EXPECT_LT(mean, 1.6);  // about 0.7 to 1.3 at quality 250
    EXPECT_LT(worst, 48);  // about 20 to 37, at sharp edges
  }
}

}  // namespace
