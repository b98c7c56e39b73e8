// Every format and option, in memory: what is written is read back with the same pixels (JPEG
// within its bound), the info call agrees with the decoder, and damaged files give the format's
// code.
#include <gtest/gtest.h>

#include <functional>

#include "test_pictures.h"
#include "../formats/tiff_options.h"

namespace {

using vic::Picture;
using Encoder = std::function<int(const Picture&, std::vector<uint8_t>&)>;

struct Codec {
  const char* name;
  vic::InfoDecoder info;
  vic::PictureDecoder decode;
  int badCode;
};

const Codec kBmp{"BMP", vic::bmpInfo, vic::decodeBmp, vic::kBadBmp};
const Codec kGif{"GIF", vic::gifInfo, vic::decodeGif, vic::kBadGif};
const Codec kPcx{"PCX", vic::pcxInfo, vic::decodePcx, vic::kBadPcx};
const Codec kTga{"TGA", vic::tgaInfo, vic::decodeTga, vic::kBadTga};
const Codec kTiff{"TIFF", vic::tiffInfo, vic::decodeTiff, vic::kBadTif};
const Codec kJpeg{"JPEG", vic::jpegInfo, vic::decodeJpeg, vic::kBadJpeg};

struct LosslessCase {
  const Codec* codec;
  int option;
  std::function<int(const Picture&, int, std::vector<uint8_t>&)> encode;
  std::vector<int> bits;  // 1, 8 (palette), 9 (grey 8-bit), 24
};

Picture pictureOf(int bits, int width, int height) {
  switch (bits) {
    case 1:
      return victest::bilevelPicture(width, height);
    case 8:
      return victest::palettePicture(width, height);
    case 9:
      return victest::greyPicture(width, height);
    default:
      return victest::colourPicture(width, height);
  }
}

std::vector<LosslessCase> losslessCases() {
  auto noOption = [](int (*f)(const Picture&, std::vector<uint8_t>&)) {
    return [f](const Picture& p, int, std::vector<uint8_t>& out) { return f(p, out); };
  };
  return {
      {&kBmp, 0, vic::encodeBmp, {1, 8, 9, 24}},
      {&kBmp, 1, vic::encodeBmp, {8, 9}},
      {&kGif, 0, noOption(vic::encodeGif), {1, 8, 9}},
      {&kPcx, 0, noOption(vic::encodePcx), {1, 8, 9, 24}},
      {&kTga, 0, vic::encodeTga, {8, 9, 24}},
      {&kTga, 1, vic::encodeTga, {8, 9, 24}},
      {&kTiff, 0, vic::encodeTiff, {1, 8, 9, 24}},
      {&kTiff, 1, vic::encodeTiff, {1, 8, 9, 24}},
      {&kTiff, 2, vic::encodeTiff, {1, 8, 9, 24}},
      {&kTiff, 3, vic::encodeTiff, {1}},
      {&kTiff, 4, vic::encodeTiff, {1}},
  };
}

TEST(CodecRoundTrip, EveryLosslessFormatAndOptionGivesBackTheSamePixels) {
  const int sizes[][2] = {{37, 23}, {1, 1}, {8, 3}, {257, 131}};
  for (const LosslessCase& c : losslessCases()) {
    for (int bits : c.bits) {
      for (const auto& size : sizes) {
        SCOPED_TRACE(std::string(c.codec->name) + " option " + std::to_string(c.option) + " bits " +
                     std::to_string(bits) + " " + std::to_string(size[0]) + "x" + std::to_string(size[1]));
        Picture original = pictureOf(bits, size[0], size[1]);
        std::vector<uint8_t> file;
        ASSERT_EQ(vic::kOk, c.encode(original, c.option, file));
        vic::FileInfo info{};
        ASSERT_EQ(vic::kOk, c.codec->info(file.data(), file.size(), info));
        Picture decoded;
        ASSERT_EQ(vic::kOk, c.codec->decode(file.data(), file.size(), decoded));
        EXPECT_EQ(original.width, decoded.width);
        EXPECT_EQ(original.height, decoded.height);
        EXPECT_EQ(decoded.width, info.width);
        EXPECT_EQ(decoded.height, info.height);
        EXPECT_EQ(decoded.bits, info.bits);
        int expectedBits = bits == 9 || c.codec == &kGif ? 8 : bits;  // GIF pictures are always read as 8 bits
        EXPECT_EQ(expectedBits, decoded.bits);
        EXPECT_TRUE(victest::rgbOf(original) == victest::rgbOf(decoded));
      }
    }
  }
}

TEST(CodecRoundTrip, RunLengthOptionsCompressFlatPictures) {
  Picture flat;
  flat.allocate(200, 100, 8);
  std::vector<uint8_t> plain, packed;
  ASSERT_EQ(vic::kOk, vic::encodeBmp(flat, 0, plain));
  ASSERT_EQ(vic::kOk, vic::encodeBmp(flat, 1, packed));
  EXPECT_LT(packed.size() * 10, plain.size());
  for (int option = 1; option <= 2; ++option) {
    ASSERT_EQ(vic::kOk, vic::encodeTiff(flat, 0, plain));
    ASSERT_EQ(vic::kOk, vic::encodeTiff(flat, option, packed));
    EXPECT_LT(packed.size() * 5, plain.size()) << "TIFF option " << option;
  }
}

// A TIFF saved with each savetif option reopens with the Compression tag that tiffOptionOf (the
// viewer's file save type) maps back to that option, so that saving it again keeps its coding.
TEST(CodecRoundTrip, TiffReopensWithTheCompressionItsOptionWrote) {
  struct Case {
    int option;
    int compression;  // the tag that means this option when the file is loaded again
  };
  const Case cases[] = {{0, 1}, {1, 5}, {2, 32773}, {3, 2}, {4, 4}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.option);
    std::vector<uint8_t> bytes;
    ASSERT_EQ(vic::kOk, vic::encodeTiff(victest::bilevelPicture(33, 9), c.option, bytes));
    vic::FileInfo info{};
    ASSERT_EQ(vic::kOk, vic::tiffInfo(bytes.data(), bytes.size(), info));
    EXPECT_EQ(c.compression, info.compression);
    EXPECT_EQ(c.option, vic::tiffOptionOf(info.compression));
  }
  // Codings savetif does not write are saved uncompressed: T.4 (3) among them.
  for (int other : {0, 3, 6, 7, 32771, 32946}) EXPECT_EQ(0, vic::tiffOptionOf(other)) << other;
}

TEST(CodecRoundTrip, JpegStaysWithinItsErrorBound) {
  // The bound this library states for its own encoder and decoder: at quality 90 a smooth
  // colour picture comes back with a mean error under 2 levels and no sample off by more than 24
  // (4:2:0 chroma at sharp colour edges is where the largest errors sit); grey under 1 and 12.
  struct Case {
    Picture picture;
    int quality;
    double meanBound;
    int largestBound;
  };
  Picture grey;
  grey.allocate(64, 48, 8);
  for (int y = 0; y < 48; ++y) {
    for (int x = 0; x < 64; ++x) grey.row(y)[x] = static_cast<uint8_t>(x * 3 + y);
  }
  const Case cases[] = {
      {victest::smoothPicture(67, 45), 90, 2.0, 24},
      {victest::smoothPicture(67, 45), 100, 2.0, 20},
      {victest::smoothPicture(67, 45), 25, 6.0, 60},
      {grey, 90, 1.0, 12},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> file;
    ASSERT_EQ(vic::kOk, vic::encodeJpeg(c.picture, c.quality, file));
    Picture decoded;
    ASSERT_EQ(vic::kOk, vic::decodeJpeg(file.data(), file.size(), decoded));
    ASSERT_EQ(c.picture.width, decoded.width);
    ASSERT_EQ(c.picture.height, decoded.height);
    EXPECT_EQ(c.picture.bits, decoded.bits);
    victest::Difference d = victest::compareRgb(victest::rgbOf(c.picture), victest::rgbOf(decoded));
    EXPECT_LE(d.mean, c.meanBound) << "quality " << c.quality;
    std::printf("JPEG quality %d, %d-bit: mean error %.2f, largest %d\n", c.quality, c.picture.bits, d.mean, d.largest);
    EXPECT_LE(d.largest, c.largestBound) << "quality " << c.quality;
  }
}

TEST(CodecRoundTrip, EncodersRefuseDepthsAndOptionsTheyCannotWrite) {
  Picture colour = victest::colourPicture(4, 4), bilevel = victest::bilevelPicture(4, 4);
  Picture palette = victest::palettePicture(4, 4);
  std::vector<uint8_t> out;
  EXPECT_EQ(vic::kBadBits, vic::encodeBmp(colour, 1, out));
  EXPECT_EQ(vic::kBadRange, vic::encodeBmp(colour, 2, out));
  EXPECT_EQ(vic::kBadBits, vic::encodeGif(colour, out));
  EXPECT_EQ(vic::kBadBits, vic::encodeTga(bilevel, 0, out));
  EXPECT_EQ(vic::kBadRange, vic::encodeTga(colour, -1, out));
  EXPECT_EQ(vic::kBadBits, vic::encodeTiff(palette, 3, out));
  EXPECT_EQ(vic::kBadBits, vic::encodeTiff(colour, 4, out));
  EXPECT_EQ(vic::kBadRange, vic::encodeTiff(colour, 5, out));
  EXPECT_EQ(vic::kBadRange, vic::encodeJpeg(colour, 24, out));
  EXPECT_EQ(vic::kBadRange, vic::encodeJpeg(colour, 101, out));
}

// Damaged files: each cut of a good file, and a few hostile headers, give an error code (or, for
// cuts that lose nothing the reader needs, success) and never touch memory they should not.
TEST(DamagedFiles, CutFilesGiveTheFormatsCode) {
  struct Case {
    const Codec* codec;
    std::vector<uint8_t> file;
  };
  Picture colour = victest::colourPicture(33, 17), palette = victest::palettePicture(33, 17);
  Picture bilevel = victest::bilevelPicture(33, 17);
  std::vector<Case> cases;
  auto add = [&](const Codec& codec, int result, std::vector<uint8_t>& file) {
    ASSERT_EQ(vic::kOk, result);
    cases.push_back({&codec, file});
  };
  std::vector<uint8_t> f;
  add(kBmp, vic::encodeBmp(palette, 1, f), f);
  add(kBmp, vic::encodeBmp(colour, 0, f), f);
  add(kGif, vic::encodeGif(palette, f), f);
  add(kPcx, vic::encodePcx(colour, f), f);
  add(kTga, vic::encodeTga(colour, 1, f), f);
  add(kTiff, vic::encodeTiff(colour, 1, f), f);
  add(kTiff, vic::encodeTiff(bilevel, 4, f), f);
  add(kJpeg, vic::encodeJpeg(colour, 80, f), f);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.codec->name);
    for (std::size_t length = 0; length < c.file.size(); ++length) {
      Picture picture;
      int result = c.codec->decode(c.file.data(), length, picture);
      EXPECT_LE(result, 0);
      if (length <= c.file.size() / 2) {
        ASSERT_EQ(c.codec->badCode, result) << "cut at " << length;
      }
    }
  }
}

TEST(DamagedFiles, JpegWithThousandsOfScansIsRefused) {
  Picture grey;
  grey.allocate(8, 8, 8);
  std::vector<uint8_t> file;
  ASSERT_EQ(vic::kOk, vic::encodeJpeg(grey, 75, file));
  std::size_t scanStart = 0;
  for (std::size_t i = 0; i + 1 < file.size(); ++i) {
    if (file[i] == 0xFF && file[i + 1] == 0xDA) scanStart = i;
  }
  ASSERT_GT(scanStart, 0u);
  std::vector<uint8_t> scan(file.begin() + scanStart, file.end() - 2);  // up to the end marker
  auto withScans = [&](int extra) {
    std::vector<uint8_t> out(file.begin(), file.end() - 2);
    for (int i = 0; i < extra; ++i) out.insert(out.end(), scan.begin(), scan.end());
    out.push_back(0xFF);
    out.push_back(0xD9);
    return out;
  };
  Picture picture;
  std::vector<uint8_t> some = withScans(9), many = withScans(1000);
  EXPECT_EQ(vic::kOk, vic::decodeJpeg(some.data(), some.size(), picture));
  EXPECT_EQ(vic::kBadJpeg, vic::decodeJpeg(many.data(), many.size(), picture));
}

// A sequential file whose scan is complete but whose end marker is missing is read with the same
// pixels: the entropy decoder reads ahead past the end of the file, which is not running out of data.
// Cut to half its length, it is refused.
TEST(DamagedFiles, JpegWithoutItsEndMarkerIsRead) {
  const Picture pictures[] = {victest::colourPicture(33, 17), victest::greyPicture(40, 24),
                              victest::smoothPicture(64, 48)};
  for (const Picture& source : pictures) {
    for (int quality : {25, 75, 100}) {
      SCOPED_TRACE("bits " + std::to_string(source.bits) + ", quality " + std::to_string(quality));
      std::vector<uint8_t> file;
      ASSERT_EQ(vic::kOk, vic::encodeJpeg(source, quality, file));
      ASSERT_EQ(0xFF, file[file.size() - 2]);
      ASSERT_EQ(0xD9, file[file.size() - 1]);
      Picture whole, cut, shorter;
      ASSERT_EQ(vic::kOk, vic::decodeJpeg(file.data(), file.size(), whole));
      ASSERT_EQ(vic::kOk, vic::decodeJpeg(file.data(), file.size() - 2, cut));
      EXPECT_EQ(whole.pixels, cut.pixels);
      EXPECT_EQ(vic::kBadJpeg, vic::decodeJpeg(file.data(), file.size() / 2, shorter));
    }
  }
}

// A file cut just after a 0xFF byte of its scan (its stuffed 0x00 lost) has lost the rest of the
// scan, not met a marker: it is refused.
TEST(DamagedFiles, JpegCutAfterAStuffedByteIsRefused) {
  int cuts = 0;
  for (int quality : {75, 100}) {
    std::vector<uint8_t> file;
    ASSERT_EQ(vic::kOk, vic::encodeJpeg(victest::smoothPicture(64, 48), quality, file));
    std::size_t scan = 0;
    for (std::size_t i = 0; i + 1 < file.size(); ++i) {
      if (file[i] == 0xFF && file[i + 1] == 0xDA) scan = i;
    }
    ASSERT_GT(scan, 0u);
    for (std::size_t i = scan + 14; i + 16 < file.size(); ++i) {
      if (file[i] != 0xFF || file[i + 1] != 0x00) continue;
      Picture picture;
      EXPECT_EQ(vic::kBadJpeg, vic::decodeJpeg(file.data(), i + 1, picture))
          << "quality " << quality << ", cut at " << i + 1;
      ++cuts;
    }
  }
  EXPECT_GT(cuts, 0);
}

TEST(DamagedFiles, HostileHeadersAreRefused) {
  struct Case {
    const Codec* codec;
    std::vector<uint8_t> file;
    int expected;
  };
  std::vector<uint8_t> hugeBmp = {'B', 'M',  0,    0, 0, 0,    0,    0, 0, 0, 54, 0,  0, 0, 40, 0, 0,
                                  0,   0xFF, 0xFF, 0, 0, 0xFF, 0xFF, 0, 0, 1, 0,  24, 0, 0, 0,  0, 0};
  hugeBmp.resize(54, 0);
  std::vector<uint8_t> tiffLoop = {'I', 'I', 42, 0, 8, 0, 0, 0, 0xFF, 0xFF};
  std::vector<uint8_t> gifNoTable = {'G', 'I', 'F', '8', '9', 'a', 2, 0, 2, 0, 0,    0,    0, 0x2C, 0,
                                     0,   0,   0,   2,   0,   2,   0, 0, 2, 2, 0x4C, 0x01, 0, 0x3B};
  std::vector<uint8_t> jpegTwelveBit = {0xFF, 0xD8, 0xFF, 0xC0, 0, 11, 12, 0, 8, 0, 8, 1, 1, 0x11, 0, 0xFF, 0xD9};
  std::vector<uint8_t> jpegArithmetic = {0xFF, 0xD8, 0xFF, 0xC9, 0, 11, 8, 0, 8, 0, 8, 1, 1, 0x11, 0, 0xFF, 0xD9};
  std::vector<uint8_t> tgaNoSize(18, 0);
  std::vector<uint8_t> pcxBadPlanes(128, 0);
  pcxBadPlanes[0] = 0x0A, pcxBadPlanes[2] = 1, pcxBadPlanes[3] = 2, pcxBadPlanes[65] = 1;
  const Case cases[] = {
      {&kBmp, hugeBmp, vic::kNoMemory},        {&kBmp, {'B', 'M'}, vic::kBadBmp},
      {&kTiff, tiffLoop, vic::kBadTif},        {&kTiff, {'X', 'X', 42, 0}, vic::kBadTif},
      {&kGif, gifNoTable, vic::kBadGif},       {&kJpeg, jpegTwelveBit, vic::kBadJpeg},
      {&kJpeg, jpegArithmetic, vic::kBadJpeg}, {&kJpeg, {0xFF, 0xD8, 0xFF, 0xD9}, vic::kBadJpeg},
      {&kTga, tgaNoSize, vic::kBadTga},        {&kPcx, pcxBadPlanes, vic::kBadPcx},
  };
  for (const Case& c : cases) {
    Picture picture;
    EXPECT_EQ(c.expected, c.codec->decode(c.file.data(), c.file.size(), picture)) << c.codec->name;
  }
}

}  // namespace
