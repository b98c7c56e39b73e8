// The variants of each format as the info calls describe them (their compression and image-type
// fields are what a program that saves a loaded file the way it came takes its save type from),
// and two variants whose bytes are easy to get wrong: 16-bit Targa colours and the palette in the
// header of a 1-bit PCX file.
#include <gtest/gtest.h>

#include <functional>

#include "../core/bytes.h"
#include "test_pictures.h"
#include "../formats/tiff_options.h"

namespace {

using vic::Picture;
using vic::RgbQuad;
using Bytes = std::vector<uint8_t>;

bool sameColour(const RgbQuad& a, const RgbQuad& b) {
  return a.rgbRed == b.rgbRed && a.rgbGreen == b.rgbGreen && a.rgbBlue == b.rgbBlue;
}

std::string fieldsOf(const vic::FileInfo& i) {
  return std::to_string(i.width) + "x" + std::to_string(i.height) + " bits " + std::to_string(i.bits) + "/" +
         std::to_string(i.fileBits) + " compression " + std::to_string(i.compression) + " type " +
         std::to_string(i.imageType) + " colours " + std::to_string(i.colors);
}

// A bilevel picture with white as entry 0, which TIFF stores as WhiteIsZero.
Picture whiteFirstBilevel(int width, int height) {
  Picture p = victest::bilevelPicture(width, height);
  std::swap(p.palette[0], p.palette[1]);
  return p;
}

// An 8-bit grey TIFF of 2 x 2 pixels without a Photometric tag, which readers take as BlackIsZero.
Bytes tiffWithoutPhotometric() {
  vic::ByteWriter file;
  file.u8('I');
  file.u8('I');
  file.le16(42);
  file.le32(8);
  const uint16_t tags[][2] = {{256, 2}, {257, 2}, {258, 8}, {273, 8 + 2 + 5 * 12 + 4}, {279, 4}};
  file.le16(5);
  for (const auto& tag : tags) {
    file.le16(tag[0]);
    file.le16(3);  // SHORT
    file.le32(1);
    file.le32(tag[1]);
  }
  file.le32(0);
  for (uint8_t level : {0, 85, 170, 255}) file.u8(level);
  return std::move(file.bytes());
}

// Every variant our encoders write, and those of other writers that need care, with the fields
// their format defines for them: BMP biCompression, PCX encoding, GIF interlace, JPEG
// progressive, TGA run-length and image type byte, TIFF Compression tag and Photometric.
TEST(InfoCalls, CompressionAndImageTypeOfEveryVariant) {
  struct Case {
    const char* name;
    std::function<int(Bytes&)> make;
    vic::InfoDecoder info;
    vic::FileInfo expected;  // width, height, bits, file bits, compression, image type, colours
  };
  const int w = 13, h = 7;
  const Picture bilevel = victest::bilevelPicture(w, h), palette = victest::palettePicture(w, h),
                grey = victest::greyPicture(w, h), colour = victest::colourPicture(w, h);
  auto with = [](int (*encode)(const Picture&, int, Bytes&), const Picture& p, int option) {
    return [encode, &p, option](Bytes& out) { return encode(p, option, out); };
  };
  auto plain = [](int (*encode)(const Picture&, Bytes&), const Picture& p) {
    return [encode, &p](Bytes& out) { return encode(p, out); };
  };
  const Picture whiteFirst = whiteFirstBilevel(w, h);
  // clang-format off
  const Case cases[] = {
      {"BMP 1 bit",             with(vic::encodeBmp, bilevel, 0),  vic::bmpInfo,  {w, h, 1, 1, 0, 0, 2}},
      {"BMP 8 bits",            with(vic::encodeBmp, palette, 0),  vic::bmpInfo,  {w, h, 8, 8, 0, 0, 256}},
      {"BMP 24 bits",           with(vic::encodeBmp, colour, 0),   vic::bmpInfo,  {w, h, 24, 24, 0, 0, 0}},
      {"BMP RLE8",              with(vic::encodeBmp, palette, 1),  vic::bmpInfo,  {w, h, 8, 8, 1, 0, 256}},
      {"GIF 1 bit",             plain(vic::encodeGif, bilevel),    vic::gifInfo,  {w, h, 8, 1, 0, 0, 2}},
      {"GIF 8 bits",            plain(vic::encodeGif, palette),    vic::gifInfo,  {w, h, 8, 8, 0, 0, 256}},
      {"PCX 1 bit",             plain(vic::encodePcx, bilevel),    vic::pcxInfo,  {w, h, 1, 1, 1, 0, 2}},
      {"PCX 8 bits",            plain(vic::encodePcx, palette),    vic::pcxInfo,  {w, h, 8, 8, 1, 0, 256}},
      {"PCX 24 bits",           plain(vic::encodePcx, colour),     vic::pcxInfo,  {w, h, 24, 24, 1, 0, 0}},
      {"TGA colour-mapped",     with(vic::encodeTga, palette, 0),  vic::tgaInfo,  {w, h, 8, 8, 0, 1, 256}},
      {"TGA true colour",       with(vic::encodeTga, colour, 0),   vic::tgaInfo,  {w, h, 24, 24, 0, 2, 0}},
      {"TGA grey",              with(vic::encodeTga, grey, 0),     vic::tgaInfo,  {w, h, 8, 8, 0, 3, 0}},
      {"TGA RLE colour-mapped", with(vic::encodeTga, palette, 1),  vic::tgaInfo,  {w, h, 8, 8, 1, 9, 256}},
      {"TGA RLE true colour",   with(vic::encodeTga, colour, 1),   vic::tgaInfo,  {w, h, 24, 24, 1, 10, 0}},
      {"TGA RLE grey",          with(vic::encodeTga, grey, 1),     vic::tgaInfo,  {w, h, 8, 8, 1, 11, 0}},
      {"TIFF none RGB",         with(vic::encodeTiff, colour, 0),  vic::tiffInfo, {w, h, 24, 24, 1, 2, 0}},
      {"TIFF LZW palette",      with(vic::encodeTiff, palette, 1), vic::tiffInfo, {w, h, 8, 8, 5, 3, 256}},
      {"TIFF PackBits grey",    with(vic::encodeTiff, grey, 2),    vic::tiffInfo, {w, h, 8, 8, 32773, 1, 256}},
      {"TIFF none WhiteIsZero", with(vic::encodeTiff, whiteFirst, 0), vic::tiffInfo, {w, h, 1, 1, 1, 0, 2}},
      {"TIFF Group 3",          with(vic::encodeTiff, bilevel, 3), vic::tiffInfo, {w, h, 1, 1, 2, 1, 2}},
      {"TIFF Group 4",          with(vic::encodeTiff, bilevel, 4), vic::tiffInfo, {w, h, 1, 1, 4, 1, 2}},
      {"TIFF no Photometric",   [](Bytes& out) { out = tiffWithoutPhotometric(); return 0; },
                                                                   vic::tiffInfo, {2, 2, 8, 8, 1, 1, 256}},
      {"JPEG grey",             with(vic::encodeJpeg, grey, 90),   vic::jpegInfo, {w, h, 8, 8, 0, 0, 0}},
      {"JPEG colour",           with(vic::encodeJpeg, colour, 90), vic::jpegInfo, {w, h, 24, 24, 0, 0, 0}},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes file;
    ASSERT_EQ(vic::kOk, c.make(file));
    vic::FileInfo info{};
    ASSERT_EQ(vic::kOk, c.info(file.data(), file.size(), info));
    EXPECT_EQ(fieldsOf(c.expected), fieldsOf(info));
  }
}

// A Targa colour of 15 or 16 bits is x RRRRR GGGGG BBBBB, little-endian, the top bit an attribute
// (alpha) bit; five bits widen to eight as v << 3 | v >> 2. Pixels and colour-map entries alike.
TEST(TgaFiles, SixteenBitColoursAreRedGreenBlueFromTheTopBits) {
  struct Pixel {
    uint16_t stored;
    RgbQuad shown;
  };
  const Pixel pixels[] = {
      {0x7C00, {0, 0, 255, 0}},                           // red
      {0x03E0, {0, 255, 0, 0}},                           // green
      {0x001F, {255, 0, 0, 0}},                           // blue
      {0x8000 | 16 << 10 | 8 << 5 | 1, {8, 66, 132, 0}},  // attribute bit set: red 16, green 8, blue 1
  };
  const int n = 4;
  struct Case {
    const char* name;
    int imageType;
    int depth;  // pixel depth, or colour-map depth for type 1
  };
  const Case cases[] = {{"true colour 16", 2, 16},
                        {"true colour 15", 2, 15},
                        {"run-length true colour 16", 10, 16},
                        {"colour map of 16-bit entries", 1, 16},
                        {"run-length colour map of 15-bit entries", 9, 15}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const bool mapped = (c.imageType & 7) == 1, runLength = c.imageType >= 9;
    vic::ByteWriter file;
    file.u8(0);
    file.u8(mapped ? 1 : 0);
    file.u8(c.imageType);
    file.le16(0);
    file.le16(mapped ? n : 0);
    file.u8(mapped ? c.depth : 0);
    file.le32(0);  // origin
    file.le16(n);
    file.le16(2);
    file.u8(mapped ? 8 : c.depth);
    file.u8(0x20);  // top-left origin: the first row stored is the top row
    if (mapped)
      for (const Pixel& p : pixels) file.le16(p.stored);
    auto put = [&](int i) { mapped ? file.u8(i) : file.le16(pixels[i].stored); };
    for (int row = 0; row < 2; ++row) {
      if (!runLength) {
        for (int i = 0; i < n; ++i) put(i);
      } else if (row == 0) {
        file.u8(n - 1);  // one raw packet of the four
        for (int i = 0; i < n; ++i) put(i);
      } else {
        for (int i = 0; i < n; ++i) {  // runs of one
          file.u8(0x80);
          put(i);
        }
      }
    }
    Bytes bytes = std::move(file.bytes());
    vic::FileInfo info{};
    ASSERT_EQ(vic::kOk, vic::tgaInfo(bytes.data(), bytes.size(), info));
    EXPECT_EQ(mapped ? 8 : 24, info.bits);
    Picture picture;
    ASSERT_EQ(vic::kOk, vic::decodeTga(bytes.data(), bytes.size(), picture));
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < n; ++x) {
        const uint8_t* p = picture.row(y);
        RgbQuad got = mapped ? picture.palette[p[x]] : RgbQuad{p[3 * x], p[3 * x + 1], p[3 * x + 2], 0};
        EXPECT_TRUE(sameColour(pixels[x].shown, got)) << "pixel " << x << "," << y << ": red " << int(got.rgbRed)
                                                      << " green " << int(got.rgbGreen) << " blue " << int(got.rgbBlue);
      }
  }
}

// A 1-bit PCX file keeps its two colours in the first two entries of the 16-entry palette in its
// header. PC Paintbrush 2.5 files (version 0) and version 3 files ("no palette information") have
// none there, whatever the bytes say, and show black and white; so do files whose header palette
// is empty (all zero) or names one colour twice. Pixels are never changed, only their colours.
TEST(PcxFiles, OneBitHeaderPaletteGivesTheTwoColours) {
  const RgbQuad black{0, 0, 0, 0}, white{255, 255, 255, 0};
  struct Case {
    const char* name;
    int version;
    uint8_t header[6];  // entries 0 and 1 as red, green, blue
    RgbQuad first, second;
  };
  const Case cases[] = {
      {"black and white", 5, {0, 0, 0, 255, 255, 255}, black, white},
      {"white and black", 5, {255, 255, 255, 0, 0, 0}, white, black},
      {"two colours", 5, {0, 0, 170, 255, 255, 85}, {170, 0, 0, 0}, {85, 255, 255, 0}},
      {"version 2 colours", 2, {0, 0, 170, 255, 255, 85}, {170, 0, 0, 0}, {85, 255, 255, 0}},
      {"empty header palette", 5, {0, 0, 0, 0, 0, 0}, black, white},
      {"one colour twice", 5, {90, 90, 90, 90, 90, 90}, black, white},
      {"version 0 has no palette", 0, {0, 0, 170, 255, 255, 85}, black, white},
      {"version 3 has no palette", 3, {0, 0, 170, 255, 255, 85}, black, white},
  };
  const Picture original = victest::bilevelPicture(21, 5);
  Bytes written;
  ASSERT_EQ(vic::kOk, vic::encodePcx(original, written));
  // What the encoder writes: its two colours, black and white, at bytes 16 to 21.
  EXPECT_EQ(Bytes({0, 0, 0, 255, 255, 255}), Bytes(written.begin() + 16, written.begin() + 22));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes file = written;
    file[1] = static_cast<uint8_t>(c.version);
    std::copy(c.header, c.header + 6, file.begin() + 16);
    vic::FileInfo info{};
    ASSERT_EQ(vic::kOk, vic::pcxInfo(file.data(), file.size(), info));
    EXPECT_EQ(1, info.bits);
    EXPECT_EQ(2, info.colors);
    Picture picture;
    ASSERT_EQ(vic::kOk, vic::decodePcx(file.data(), file.size(), picture));
    ASSERT_EQ(2u, picture.palette.size());
    EXPECT_TRUE(sameColour(c.first, picture.palette[0]));
    EXPECT_TRUE(sameColour(c.second, picture.palette[1]));
    EXPECT_EQ(original.pixels, picture.pixels);
  }
  // A picture of two other colours writes them into the header and reads them back.
  Picture coloured = original;
  coloured.palette[0] = RgbQuad{40, 0, 200, 0};
  coloured.palette[1] = RgbQuad{255, 230, 0, 0};
  ASSERT_EQ(vic::kOk, vic::encodePcx(coloured, written));
  EXPECT_EQ(Bytes({200, 0, 40, 0, 230, 255}), Bytes(written.begin() + 16, written.begin() + 22));
  Picture again;
  ASSERT_EQ(vic::kOk, vic::decodePcx(written.data(), written.size(), again));
  EXPECT_TRUE(victest::rgbOf(coloured) == victest::rgbOf(again));
}

}  // namespace
