// The decoder against libjpeg-turbo (accurate integer method, raw planes): every resolution the
// camera takes, several qualities, byte for byte.
#include <gtest/gtest.h>

#include <cstring>

#include "camera_streams.h"
#include "jpeg_decoder.h"
#include "jpeg_tables.h"
#include "libjpeg_reference.h"
#include "vector_kernels.h"

namespace {

using qrtest::Bytes;

struct Decoded {
  bool headerOk = false;
  int width = 0, height = 0;
  Bytes frame;
};

// Decodes into a frame buffer of exactly the picture's size followed by guard bytes.
Decoded decode(qrjpeg::JpegDecoder& decoder, const Bytes& stream, size_t capacity) {
  Decoded d;
  d.frame.assign(capacity + 64, 0xA5);
  d.headerOk = decoder.DecodeHeader(stream.data(), stream.size(), &d.width, &d.height);
  decoder.DecodeScan(d.frame.data(), capacity);
  for (size_t i = capacity; i < d.frame.size(); ++i) {
    EXPECT_EQ(d.frame[i], 0xA5) << "write past the frame buffer at " << i;
  }
  d.frame.resize(capacity);
  return d;
}

struct Size {
  int w, h;
};
const Size kCameraSizes[] = {{640, 480}, {320, 240}, {160, 120}, {352, 288}, {176, 144}, {120, 96}};
const int kQualities[] = {50, 150, 250};

TEST(DecoderReference, EqualsLibjpegAtEveryResolutionAndQuality) {
  // With the vector kernels where the processor has them, and with the plain ones.
  for (bool vector : {true, false}) {
    qrjpeg::AllowVectorKernels(vector);
    qrjpeg::JpegDecoder decoder;
    SCOPED_TRACE(qrjpeg::VectorKernelName());
    for (const Size& s : kCameraSizes) {
      for (int q : kQualities) {
        for (uint32_t frameNumber : {0u, 37u}) {
          SCOPED_TRACE(testing::Message() << s.w << "x" << s.h << " quality " << q << " frame " << frameNumber);
          Bytes stream = qrtest::CameraFrame(s.w, s.h, q, frameNumber);
          size_t bytes = static_cast<size_t>(s.w) * s.h * 2;
          Decoded ours = decode(decoder, stream, bytes);
          ASSERT_TRUE(ours.headerOk);
          EXPECT_EQ(ours.width, s.w);
          EXPECT_EQ(ours.height, s.h);

          Bytes full = qrtest::WithHuffmanTables(stream);
          qrtest::ReferencePicture ref = qrtest::ReferenceDecodePacked(full.data(), full.size());
          ASSERT_TRUE(ref.ok);
          ASSERT_EQ(ref.packed.size(), bytes);
          EXPECT_TRUE(ours.frame == ref.packed) << "differs from libjpeg";

          // libjpeg-turbo supplies the typical tables itself when a stream has none.
          qrtest::ReferencePicture bare = qrtest::ReferenceDecodePacked(stream.data(), stream.size());
          ASSERT_TRUE(bare.ok);
          EXPECT_TRUE(bare.packed == ref.packed);
        }
      }
    }
  }
  qrjpeg::AllowVectorKernels(true);
}

TEST(DecoderReference, CoarseSixteenBitTablesEqualLibjpeg) {
  // Steps above 255 go out as 16-bit entries; large steps also drive the transform towards
  // saturation, where the range-limit table decides.
  qrvcam::SceneRegisters regs = qrtest::PlainRegisters(176, 144, 50, true);
  for (int i = 0; i < 128; ++i) regs.quant[i] = static_cast<uint16_t>(regs.quant[i] * 3 + (i % 7));
  Bytes stream = qrtest::CameraFrame(regs, 5);
  ASSERT_GE(qrtest::FindMarker(stream, 0xFFDB), 0);
  ASSERT_EQ(stream[qrtest::FindMarker(stream, 0xFFDB) + 4], 0x10) << "expected 16-bit table";
  qrjpeg::JpegDecoder decoder;
  Decoded ours = decode(decoder, stream, 176 * 144 * 2);
  ASSERT_TRUE(ours.headerOk);
  Bytes full = qrtest::WithHuffmanTables(stream);
  qrtest::ReferencePicture ref = qrtest::ReferenceDecodePacked(full.data(), full.size());
  ASSERT_TRUE(ref.ok);
  EXPECT_TRUE(ours.frame == ref.packed);
}

TEST(DecoderReference, TypicalHuffmanTablesAreLibjpegs) {
  auto ref = qrtest::ReferenceTypicalHuffmanTables();
  const qrjpeg::HuffmanSpec* ours[4] = {&qrjpeg::kLuminanceDc, &qrjpeg::kLuminanceAc, &qrjpeg::kChrominanceDc,
                                        &qrjpeg::kChrominanceAc};
  for (int t = 0; t < 4; ++t) {
    Bytes flat(ours[t]->counts, ours[t]->counts + 16);
    flat.insert(flat.end(), ours[t]->symbols, ours[t]->symbols + ours[t]->symbolCount);
    EXPECT_EQ(flat, ref[t]) << "table " << t;
  }
}

TEST(DecoderReference, WidthNotAMultipleOfSixteenKeepsWholeMcusAndStopsAtTheRow) {
  // 120 pixels are seven and a half MCUs: the eighth is decoded, its right half dropped.
  Bytes stream = qrtest::CameraFrame(120, 96, 250, 3);
  qrjpeg::JpegDecoder decoder;
  Decoded ours = decode(decoder, stream, 120 * 96 * 2);  // guard bytes right after the picture
  ASSERT_TRUE(ours.headerOk);
  Bytes full = qrtest::WithHuffmanTables(stream);
  qrtest::ReferencePicture ref = qrtest::ReferenceDecodePacked(full.data(), full.size());
  EXPECT_TRUE(ours.frame == ref.packed);
  // The last column is real picture, not left over: rows differ from each other there.
  int distinct = 0;
  for (int y = 1; y < 96; ++y) distinct += ours.frame[(y * 120 + 119) * 2] != ours.frame[((y - 1) * 120 + 119) * 2];
  EXPECT_GT(distinct, 0);
}

TEST(DecoderReference, StuffedAndMarkerBytesInTheEntropyData) {
  Bytes stream = qrtest::CameraFrame(160, 120, 250, 9);
  long start = qrtest::EntropyStart(stream);
  ASSERT_GT(start, 0);
  // The encoder stuffs 0xFF 0x00 for every 0xFF data byte; this frame must have some.
  int stuffed = 0;
  for (size_t i = start; i + 1 < stream.size(); ++i) stuffed += stream[i] == 0xFF && stream[i + 1] == 0;
  ASSERT_GT(stuffed, 0);

  qrjpeg::JpegDecoder decoder;
  Decoded plain = decode(decoder, stream, 160 * 120 * 2);

  // A restart marker between two data bytes is dropped without effect.
  size_t at = static_cast<size_t>(start) + (stream.size() - start) / 2;
  while (stream[at - 1] == 0xFF) ++at;
  Bytes withMarker = stream;
  withMarker.insert(withMarker.begin() + at, {0xFF, 0xD0});
  Decoded marked = decode(decoder, withMarker, 160 * 120 * 2);
  ASSERT_TRUE(marked.headerOk);
  EXPECT_TRUE(marked.frame == plain.frame);
}

TEST(DecoderReference, TwoQuantisationTablesInOneSegmentOneEightOneSixteenBit) {
  Bytes stream = qrtest::CameraFrame(176, 144, 150, 2);
  long dqt = qrtest::FindMarker(stream, 0xFFDB);
  ASSERT_EQ(stream[dqt + 4], 0x00);
  ASSERT_EQ(stream[dqt + 4 + 65], 0x01);
  // Rewrite table 1 with 16-bit entries of the same values.
  Bytes body(stream.begin() + dqt + 4, stream.begin() + dqt + 4 + 65);
  body.push_back(0x11);
  for (int k = 0; k < 64; ++k) {
    body.push_back(0);
    body.push_back(stream[dqt + 4 + 66 + k]);
  }
  Bytes rest(stream.begin(), stream.begin() + dqt);
  Bytes tail(stream.begin() + dqt + 4 + 130, stream.end());
  rest.insert(rest.end(), tail.begin(), tail.end());
  Bytes rewritten = qrtest::InsertSegment(rest, dqt, 0xFFDB, body);

  qrjpeg::JpegDecoder a, b;
  Decoded original = decode(a, stream, 176 * 144 * 2);
  Decoded wide = decode(b, rewritten, 176 * 144 * 2);
  ASSERT_TRUE(wide.headerOk);
  EXPECT_TRUE(wide.frame == original.frame);
}

TEST(DecoderReference, TruncatedFramesDecodeInsideTheBuffers) {
  Bytes stream = qrtest::CameraFrame(320, 240, 250, 4);
  qrjpeg::JpegDecoder decoder;
  Decoded whole = decode(decoder, stream, 320 * 240 * 2);
  long start = qrtest::EntropyStart(stream);
  for (size_t cut : {static_cast<size_t>(start) + 1, stream.size() / 2, stream.size() - 3}) {
    Bytes shortStream(stream.begin(), stream.begin() + cut);
    Decoded part = decode(decoder, shortStream, 320 * 240 * 2);
    ASSERT_TRUE(part.headerOk);
    // The first MCU row decodes as before once enough data is there; the rest is garbled.
    if (cut > stream.size() / 2) {
      EXPECT_TRUE(std::equal(part.frame.begin(), part.frame.begin() + 320 * 16, whole.frame.begin()));
    }
  }
}

}  // namespace
