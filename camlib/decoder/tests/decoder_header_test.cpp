// What the decoder does with streams that are not the camera's form: which are refused, and what
// the frame buffer looks like afterwards.
#include <gtest/gtest.h>

#include <functional>

#include "camera_streams.h"
#include "jpeg_decoder.h"

namespace {

using qrtest::Bytes;

enum class Frame { Decoded, Unchanged, Featureless };

struct Case {
  const char* name;
  std::function<Bytes(const Bytes&)> edit;
  bool headerOk;
  Frame frame;
};

Bytes withByte(Bytes s, long offset, uint8_t value) {
  s[offset] = value;
  return s;
}
long sof(const Bytes& s) { return qrtest::FindMarker(s, 0xFFC0); }
long sos(const Bytes& s) { return qrtest::FindMarker(s, 0xFFDA); }
Bytes withSize(const Bytes& s, int w, int h) {
  Bytes o = s;
  long p = sof(s);
  o[p + 5] = static_cast<uint8_t>(h >> 8);
  o[p + 6] = static_cast<uint8_t>(h);
  o[p + 7] = static_cast<uint8_t>(w >> 8);
  o[p + 8] = static_cast<uint8_t>(w);
  return o;
}

const Case kCases[] = {
    {"camera form", [](const Bytes& s) { return s; }, true, Frame::Decoded},
    {"application and comment segments are skipped",
     [](const Bytes& s) {
       Bytes o = qrtest::InsertSegment(s, sof(s), 0xFFE0, {'J', 'F', 'I', 'F', 0});
       o = qrtest::InsertSegment(o, sof(o), 0xFFE1, {1, 2, 3});
       return qrtest::InsertSegment(o, sof(o), 0xFFFE, {'h', 'i'});
     },
     true, Frame::Decoded},
    {"no start of image", [](const Bytes& s) { return withByte(s, 1, 0xD9); }, false, Frame::Featureless},
    {"Huffman table segment", [](const Bytes& s) { return qrtest::WithHuffmanTables(s); }, false, Frame::Featureless},
    {"restart interval segment",
     [](const Bytes& s) {
       return qrtest::InsertSegment(s, sof(s), 0xFFDD, {0, 4});
     },
     false, Frame::Featureless},
    {"end of image before the scan",
     [](const Bytes&) {
       return Bytes{0xFF, 0xD8, 0xFF, 0xD9};
     },
     false, Frame::Featureless},
    {"device gone: no bytes", [](const Bytes&) { return Bytes{}; }, false, Frame::Featureless},
    {"cut inside the headers", [](const Bytes& s) { return Bytes(s.begin(), s.begin() + sof(s) + 9); }, false,
     Frame::Featureless},
    {"segment length past the data",
     [](const Bytes& s) {
       Bytes o(s.begin(), s.begin() + sos(s) + 6);
       return o;
     },
     false, Frame::Featureless},
    {"segment length below 2",
     [](const Bytes& s) {
       Bytes o = withByte(s, sof(s) + 2, 0);
       return withByte(o, sof(s) + 3, 1);
     },
     false, Frame::Featureless},
    {"12-bit precision frame header is skipped, so no frame",
     [](const Bytes& s) { return withByte(s, sof(s) + 4, 12); }, false, Frame::Featureless},
    {"scan header of another length", [](const Bytes& s) { return withByte(s, sos(s) + 3, 10); }, false,
     Frame::Featureless},
    {"luminance sampled 2x2", [](const Bytes& s) { return withByte(s, sof(s) + 11, 0x22); }, false, Frame::Unchanged},
    {"luminance sampled 1x2", [](const Bytes& s) { return withByte(s, sof(s) + 11, 0x12); }, false, Frame::Unchanged},
    {"Cb sampled 2x1", [](const Bytes& s) { return withByte(s, sof(s) + 14, 0x21); }, false, Frame::Unchanged},
    {"quantisation table 4", [](const Bytes& s) { return withByte(s, sof(s) + 12, 4); }, false, Frame::Unchanged},
    {"picture larger than the frame buffer", [](const Bytes& s) { return withSize(s, 1280, 961); }, false,
     Frame::Unchanged},
    // 65534 x 32770 x 2 bytes is 2^32 + 131064: a 32-bit byte count would take it for a small picture.
    {"picture whose byte count passes 4 GiB", [](const Bytes& s) { return withSize(s, 65534, 32770); }, false,
     Frame::Unchanged},
    {"odd width", [](const Bytes& s) { return withSize(s, 159, 120); }, false, Frame::Unchanged},
    {"zero height", [](const Bytes& s) { return withSize(s, 160, 0); }, false, Frame::Unchanged},
};

TEST(DecoderHeader, StreamsOutsideTheCameraForm) {
  const Bytes good = qrtest::CameraFrame(160, 120, 250, 1);
  const size_t capacity = qrjpeg::kFrameBufferBytes;
  const size_t pictureBytes = 160 * 120 * 2;
  qrjpeg::JpegDecoder reference;
  Bytes expected(capacity, 0x5A);
  ASSERT_TRUE(reference.DecodeHeader(good.data(), good.size(), nullptr, nullptr));
  reference.DecodeScan(expected.data(), capacity);

  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const Bytes stream = c.edit(good);
    qrjpeg::JpegDecoder decoder;
    Bytes frame(capacity, 0x5A);
    ASSERT_TRUE(decoder.DecodeHeader(good.data(), good.size(), nullptr, nullptr));  // earlier frame
    std::fill(frame.begin(), frame.end(), 0x5A);

    int w = -1, h = -1;
    EXPECT_EQ(decoder.DecodeHeader(stream.data(), stream.size(), &w, &h), c.headerOk);
    decoder.DecodeScan(frame.data(), capacity);
    switch (c.frame) {
      case Frame::Decoded:
        EXPECT_EQ(w, 160);
        EXPECT_EQ(h, 120);
        EXPECT_TRUE(frame == expected);
        break;
      case Frame::Unchanged:
        EXPECT_TRUE(std::all_of(frame.begin(), frame.end(), [](uint8_t b) { return b == 0x5A; }));
        break;
      case Frame::Featureless: {
        // The last good layout, decoded from no bits: every MCU alike, nothing past the picture.
        EXPECT_EQ(w, -1);
        EXPECT_NE(frame[0], 0x5A);
        bool alike = true;
        for (size_t row = 0; row < 120; ++row)
          for (size_t mcu = 0; mcu < 10; ++mcu)
            for (size_t i = 0; i < 32; ++i) alike &= frame[row * 320 + 32 * mcu + i] == frame[(row % 8) * 320 + i];
        EXPECT_TRUE(alike);
        EXPECT_TRUE(std::all_of(frame.begin() + pictureBytes, frame.end(), [](uint8_t b) { return b == 0x5A; }));
        break;
      }
    }
  }
}

TEST(DecoderHeader, NothingIsWrittenBeforeTheFirstGoodHeader) {
  qrjpeg::JpegDecoder decoder;
  Bytes frame(1000, 0x33);
  EXPECT_FALSE(decoder.DecodeScan(frame.data(), frame.size()));
  EXPECT_FALSE(decoder.DecodeHeader(nullptr, 0, nullptr, nullptr));
  EXPECT_FALSE(decoder.DecodeScan(frame.data(), frame.size()));
  EXPECT_TRUE(std::all_of(frame.begin(), frame.end(), [](uint8_t b) { return b == 0x33; }));
}

TEST(DecoderHeader, ScanRefusesAFrameBufferSmallerThanThePicture) {
  const Bytes good = qrtest::CameraFrame(160, 120, 250, 1);
  qrjpeg::JpegDecoder decoder;
  ASSERT_TRUE(decoder.DecodeHeader(good.data(), good.size(), nullptr, nullptr));
  Bytes frame(160 * 120 * 2 - 1, 0x33);
  EXPECT_FALSE(decoder.DecodeScan(frame.data(), frame.size()));
  EXPECT_TRUE(std::all_of(frame.begin(), frame.end(), [](uint8_t b) { return b == 0x33; }));

  qrjpeg::JpegDecoder small(160 * 120 * 2 - 1);
  EXPECT_FALSE(small.DecodeHeader(good.data(), good.size(), nullptr, nullptr));
}

}  // namespace
