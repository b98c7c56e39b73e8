// Files made by the reference tools (ImageMagick, libtiff's tiffcp, libjpeg-turbo's cjpeg) are
// read with the same pixels as the tools' own decoders give (djpeg for JPEG, within 2 levels).
#include <gtest/gtest.h>

#include "../core/bytes.h"
#include "test_pictures.h"

namespace {

const char* const kConvert = "/usr/bin/convert";

struct ReadCase {
  const char* name;  // file made in the scratch directory
  std::string make;  // command, with {src} the source picture, {mono} a bilevel one
  vic::PictureDecoder decode;
  int bits;               // depth the reader must give
  int tolerance;          // 0: exact
  std::string reference;  // command writing {ref} (a PPM or PGM) from {file}
};

std::string expand(std::string text, const std::string& dir, const std::string& file) {
  auto replace = [&](const std::string& key, const std::string& value) {
    for (std::size_t at; (at = text.find(key)) != std::string::npos;) text.replace(at, key.size(), value);
  };
  replace("{src}", dir + "/src.ppm");
  replace("{mono}", dir + "/mono.pbm");
  replace("{grey}", dir + "/grey.pgm");
  replace("{file}", dir + "/" + file);
  replace("{ref}", dir + "/" + file + ".ref.pnm");
  replace("{tmp}", dir + "/" + file + ".tmp");
  replace("{convert}", kConvert);
  return text;
}

void checkCases(const std::string& dir, const std::vector<ReadCase>& cases) {
  for (const ReadCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::string output;
    ASSERT_EQ(0, victest::run(expand(c.make, dir, c.name), &output)) << output;
    std::string reference = c.reference.empty() ? "{convert} {file} -depth 8 ppm:{ref}" : c.reference;
    ASSERT_EQ(0, victest::run(expand(reference, dir, c.name), &output)) << output;
    victest::RgbImage expected;
    ASSERT_TRUE(victest::readPnm(dir + "/" + c.name + ".ref.pnm", expected));
    std::vector<uint8_t> bytes = victest::readBytes(dir + "/" + c.name);
    vic::Picture picture;
    ASSERT_EQ(vic::kOk, c.decode(bytes.data(), bytes.size(), picture));
    EXPECT_EQ(c.bits, picture.bits);
    ASSERT_EQ(expected.width, picture.width);
    ASSERT_EQ(expected.height, picture.height);
    victest::Difference d = victest::compareRgb(expected.rgb, victest::rgbOf(picture));
    EXPECT_LE(d.largest, c.tolerance) << "mean " << d.mean;
  }
}

class PeerFiles : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = victest::scratchDirectory(testing::UnitTest::GetInstance()->current_test_info()->name());
    ASSERT_TRUE(victest::writePpm(dir_ + "/src.ppm", victest::colourPicture(61, 37)));
    std::string output;
    ASSERT_EQ(0, victest::run(expand("{convert} {src} -monochrome {mono}", dir_, ""), &output)) << output;
    ASSERT_EQ(0, victest::run(expand("{convert} {src} -colorspace gray -depth 8 {grey}", dir_, ""), &output)) << output;
  }
  std::string dir_;
};

TEST_F(PeerFiles, BmpFromImageMagick) {
  checkCases(
      dir_,
      {
          {"c24.bmp", "{convert} {src} BMP3:{file}", vic::decodeBmp, 24, 0, ""},
          {"os2.bmp", "{convert} {src} BMP2:{file}", vic::decodeBmp, 24, 0, ""},
          {"c32.bmp", "{convert} {src} -alpha on -define bmp:format=bmp4 BMP:{file}", vic::decodeBmp, 24, 0, ""},
          {"p8.bmp", "{convert} {src} -colors 200 -type Palette BMP3:{file}", vic::decodeBmp, 8, 0, ""},
          {"rle8.bmp", "{convert} {src} -colors 100 -type Palette -compress RLE BMP3:{file}", vic::decodeBmp, 8, 0, ""},
          {"p4.bmp", "{convert} {src} -colors 16 -type Palette BMP3:{file}", vic::decodeBmp, 8, 0, ""},
          {"m1.bmp", "{convert} {mono} -type Bilevel BMP3:{file}", vic::decodeBmp, 1, 0, ""},
      });
}

// ImageMagick writes no RLE4 bitmaps, so one is put together here by hand (runs, an absolute
// block, a delta and end-of-line escapes) and ImageMagick's reading of it is the reference.
TEST_F(PeerFiles, Rle4BmpAsImageMagickReadsIt) {
  const int width = 9, height = 4;
  std::vector<uint8_t> rle = {
      0x04, 0x12, 0x05, 0x3C, 0x00, 0x00,                          // row 0: 1 2 1 2, 3 C 3 C 3
      0x00, 0x05, 0x45, 0x67, 0x80, 0x00, 0x04, 0xFF, 0x00, 0x00,  // row 1: absolute 4 5 6 7 8, F F F F
      0x02, 0xAB, 0x00, 0x02, 0x03, 0x01, 0x02, 0xCD, 0x00, 0x00,  // row 2: A B, delta (3, 1), row 3: C D
      0x00, 0x01,
  };
  vic::ByteWriter file;
  uint32_t offset = 14 + 40 + 64;
  file.u8('B');
  file.u8('M');
  file.le32(static_cast<uint32_t>(offset + rle.size()));
  file.le32(0);
  file.le32(offset);
  file.le32(40);
  file.le32(width);
  file.le32(height);
  file.le16(1);
  file.le16(4);
  file.le32(2);  // RLE4
  file.le32(static_cast<uint32_t>(rle.size()));
  file.le32(0);
  file.le32(0);
  file.le32(16);
  file.le32(0);
  for (int i = 0; i < 16; ++i) {
    file.u8(static_cast<uint8_t>(i * 16));
    file.u8(static_cast<uint8_t>(255 - i * 16));
    file.u8(static_cast<uint8_t>(i * 5));
    file.u8(0);
  }
  file.append(rle.data(), rle.size());
  ASSERT_TRUE(victest::writeBytes(dir_ + "/rle4.bmp", file.bytes()));
  checkCases(dir_, {{"rle4.bmp", "true", vic::decodeBmp, 8, 0, ""}});
}

TEST_F(PeerFiles, GifFromImageMagickReadBackByGiflibToo) {
  checkCases(dir_, {
                       {"plain.gif", "{convert} {src} {file}", vic::decodeGif, 8, 0, ""},
                       {"interlaced.gif", "{convert} {src} -interlace GIF {file}", vic::decodeGif, 8, 0, ""},
                       {"few.gif", "{convert} {src} -colors 5 {file}", vic::decodeGif, 8, 0, ""},
                       {"mono.gif", "{convert} {mono} {file}", vic::decodeGif, 8, 0, ""},
                       // giflib's own decoder as the reference
                       {"giflib.gif", "{convert} {src} -interlace GIF {file}", vic::decodeGif, 8, 0,
                        "gif2rgb -1 -o {tmp} {file} && {convert} -size 61x37 -depth 8 rgb:{tmp} ppm:{ref}"},
                   });
}

TEST_F(PeerFiles, JpegFromLibjpegTurbo) {
  // Reference: djpeg with the accurate float transform and plain (replicating) upsampling, as
  // this decoder does them.
  const std::string djpeg = "djpeg -dct float -nosmooth -outfile {ref} {file}";
  checkCases(
      dir_,
      {
          {"420.jpg", "cjpeg -quality 85 -outfile {file} {src}", vic::decodeJpeg, 24, 2, djpeg},
          {"444.jpg", "cjpeg -sample 1x1 -quality 95 -outfile {file} {src}", vic::decodeJpeg, 24, 2, djpeg},
          {"422.jpg", "cjpeg -sample 2x1 -outfile {file} {src}", vic::decodeJpeg, 24, 2, djpeg},
          {"440.jpg", "cjpeg -sample 1x2 -outfile {file} {src}", vic::decodeJpeg, 24, 2, djpeg},
          {"411.jpg", "cjpeg -sample 4x1 -outfile {file} {src}", vic::decodeJpeg, 24, 2, djpeg},
          {"grey.jpg", "cjpeg -grayscale -outfile {file} {src}", vic::decodeJpeg, 8, 2, djpeg},
          {"restart.jpg", "cjpeg -restart 1B -outfile {file} {src}", vic::decodeJpeg, 24, 2, djpeg},
          {"restartrows.jpg", "cjpeg -restart 1 -sample 2x1 -outfile {file} {src}", vic::decodeJpeg, 24, 2, djpeg},
          {"optimized.jpg", "cjpeg -optimize -outfile {file} {src}", vic::decodeJpeg, 24, 2, djpeg},
          {"progressive.jpg", "cjpeg -progressive -outfile {file} {src}", vic::decodeJpeg, 24, 2, djpeg},
          {"progressive444.jpg", "cjpeg -progressive -sample 1x1 -quality 98 -outfile {file} {src}", vic::decodeJpeg,
           24, 2, djpeg},
          {"progressivegrey.jpg", "cjpeg -progressive -grayscale -restart 2B -outfile {file} {src}", vic::decodeJpeg, 8,
           2, djpeg},
          {"progressivetran.jpg",
           "cjpeg -outfile {tmp} {src} && jpegtran -progressive -restart 1 -outfile {file} {tmp}", vic::decodeJpeg, 24,
           2, djpeg},
      });
}

TEST_F(PeerFiles, PcxFromImageMagick) {
  checkCases(dir_, {
                       {"c24.pcx", "{convert} {src} PCX:{file}", vic::decodePcx, 24, 0, ""},
                       {"p8.pcx", "{convert} {src} -colors 200 -type Palette PCX:{file}", vic::decodePcx, 8, 0, ""},
                       // ImageMagick writes bilevel pictures as three 8-bit planes.
                       {"m1.pcx", "{convert} {mono} -type Bilevel PCX:{file}", vic::decodePcx, 24, 0, ""},
                   });
}

// ImageMagick keeps a Targa file's rows in file order and notes the origin as the picture's
// orientation; -auto-orient applies it.
TEST_F(PeerFiles, TgaFromImageMagick) {
  const std::string kOriented = "{convert} {file} -auto-orient -depth 8 ppm:{ref}";
  checkCases(
      dir_,
      {
          {"c24.tga", "{convert} {src} -compress None TGA:{file}", vic::decodeTga, 24, 0, kOriented},
          {"rle24.tga", "{convert} {src} -compress RLE TGA:{file}", vic::decodeTga, 24, 0, kOriented},
          {"p8.tga", "{convert} {src} -colors 200 -type Palette -compress None TGA:{file}", vic::decodeTga, 8, 0,
           kOriented},
          {"rle8.tga", "{convert} {src} -colors 60 -type Palette -compress RLE TGA:{file}", vic::decodeTga, 8, 0,
           kOriented},
          {"grey.tga", "{convert} {grey} -type Grayscale -compress None TGA:{file}", vic::decodeTga, 8, 0, kOriented},
          {"rlegrey.tga", "{convert} {grey} -type Grayscale -compress RLE TGA:{file}", vic::decodeTga, 8, 0, kOriented},
      });
}

TEST_F(PeerFiles, TiffFromLibtiff) {
  const std::string base = "{convert} {src} -compress None {tmp}.tif && ";
  const std::string mono = "{convert} {mono} -type Bilevel -compress None {tmp}.tif && ";
  const std::string grey = "{convert} {grey} -type Grayscale -compress None {tmp}.tif && ";
  const std::string palette = "{convert} {src} -colors 200 -type Palette -compress None {tmp}.tif && ";
  checkCases(dir_,
             {
                 {"none.tif", base + "tiffcp -c none -r 5 {tmp}.tif {file}", vic::decodeTiff, 24, 0, ""},
                 {"lzw.tif", base + "tiffcp -c lzw {tmp}.tif {file}", vic::decodeTiff, 24, 0, ""},
                 {"lzwpredictor.tif", base + "tiffcp -c lzw:2 -r 7 {tmp}.tif {file}", vic::decodeTiff, 24, 0, ""},
                 {"packbits.tif", base + "tiffcp -c packbits {tmp}.tif {file}", vic::decodeTiff, 24, 0, ""},
                 {"planar.tif", base + "tiffcp -p separate -c lzw -r 4 {tmp}.tif {file}", vic::decodeTiff, 24, 0, ""},
                 {"bigendian.tif", base + "tiffcp -B -c packbits {tmp}.tif {file}", vic::decodeTiff, 24, 0, ""},
                 {"grey.tif", grey + "tiffcp -c lzw {tmp}.tif {file}", vic::decodeTiff, 8, 0, ""},
                 {"grey4.tif",
                  "{convert} {grey} -type Grayscale -depth 4 -compress None {tmp}.tif && tiffcp -B {tmp}.tif {file}",
                  vic::decodeTiff, 8, 0, ""},
                 // libtiff's own reading of a 16-bit colour map (tiff2rgba) as the reference.
                 {"palette.tif", palette + "tiffcp -c packbits {tmp}.tif {file}", vic::decodeTiff, 8, 0,
                  "tiff2rgba -c none {file} {tmp}.rgba.tif && {convert} {tmp}.rgba.tif -alpha off -depth 8 ppm:{ref}"},
                 {"mono.tif", mono + "tiffcp -c none {tmp}.tif {file}", vic::decodeTiff, 1, 0, ""},
                 {"g3.tif", mono + "tiffcp -c g3 {tmp}.tif {file}", vic::decodeTiff, 1, 0, ""},
                 {"g3fill.tif", mono + "tiffcp -c g3:1d:fill -r 9 {tmp}.tif {file}", vic::decodeTiff, 1, 0, ""},
                 {"g32d.tif", mono + "tiffcp -c g3:2d {tmp}.tif {file}", vic::decodeTiff, 1, 0, ""},
                 {"g4.tif", mono + "tiffcp -c g4 {tmp}.tif {file}", vic::decodeTiff, 1, 0, ""},
                 {"g4lsb.tif", mono + "tiffcp -c g4 -f lsb2msb -B {tmp}.tif {file}", vic::decodeTiff, 1, 0, ""},
                 {"lzwmono.tif", mono + "tiffcp -c lzw {tmp}.tif {file}", vic::decodeTiff, 1, 0, ""},
             });
}

// The info calls' compression and image-type fields for variants that other writers make and
// ours do not (interlaced GIF, progressive JPEG, bit-field and OS/2 bitmaps, T.4 TIFF), with the
// values their formats define. -2: a field not checked (the Photometric of a bilevel TIFF is the
// writer's choice).
TEST_F(PeerFiles, InfoFieldsOfFilesFromOtherWriters) {
  struct Case {
    const char* name;
    std::string make;
    vic::InfoDecoder info;
    int bits, fileBits, compression, imageType;
  };
  const std::string mono = "{convert} {mono} -type Bilevel -compress None {tmp}.tif && tiffcp ";
  const std::string colour = "{convert} {src} -compress None {tmp}.tif && tiffcp ";
  // clang-format off
  const Case cases[] = {
      {"plain.gif",       "{convert} {src} {file}",                             vic::gifInfo,  8, 8, 0, 0},
      {"interlaced.gif",  "{convert} {src} -interlace GIF {file}",              vic::gifInfo,  8, 8, 1, 0},
      {"baseline.jpg",    "cjpeg -outfile {file} {src}",                        vic::jpegInfo, 24, 24, 0, 0},
      {"progressive.jpg", "cjpeg -progressive -outfile {file} {src}",           vic::jpegInfo, 24, 24, 1, 0},
      {"os2.bmp",         "{convert} {src} BMP2:{file}",                        vic::bmpInfo,  24, 24, 0, 0},
      {"rle8.bmp",        "{convert} {src} -colors 100 -type Palette -compress RLE BMP3:{file}",
                                                                                vic::bmpInfo,  8, 8, 1, 0},
      {"rgb565.bmp",      "{convert} {src} -define bmp:subtype=RGB565 BMP:{file}", vic::bmpInfo, 24, 16, 3, 0},
      {"rle.tga",         "{convert} {src} -compress RLE TGA:{file}",           vic::tgaInfo,  24, 24, 1, 10},
      {"grey.tga",        "{convert} {grey} -type Grayscale -compress None TGA:{file}", vic::tgaInfo, 8, 8, 0, 3},
      {"c24.pcx",         "{convert} {src} PCX:{file}",                         vic::pcxInfo,  24, 24, 1, 0},
      {"lzw.tif",         colour + "-c lzw {tmp}.tif {file}",                   vic::tiffInfo, 24, 24, 5, 2},
      {"packbits.tif",    colour + "-c packbits {tmp}.tif {file}",              vic::tiffInfo, 24, 24, 32773, 2},
      {"t4.tif",          mono + "-c g3 {tmp}.tif {file}",                      vic::tiffInfo, 1, 1, 3, -2},
      {"t4twod.tif",      mono + "-c g3:2d {tmp}.tif {file}",                   vic::tiffInfo, 1, 1, 3, -2},
      {"g4.tif",          mono + "-c g4 {tmp}.tif {file}",                      vic::tiffInfo, 1, 1, 4, -2},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string output;
    ASSERT_EQ(0, victest::run(expand(c.make, dir_, c.name), &output)) << output;
    std::vector<uint8_t> bytes = victest::readBytes(dir_ + "/" + c.name);
    vic::FileInfo info{};
    ASSERT_EQ(vic::kOk, c.info(bytes.data(), bytes.size(), info));
    EXPECT_EQ(61, info.width);
    EXPECT_EQ(37, info.height);
    EXPECT_EQ(c.bits, info.bits);
    EXPECT_EQ(c.fileBits, info.fileBits);
    EXPECT_EQ(c.compression, info.compression);
    if (c.imageType != -2) EXPECT_EQ(c.imageType, info.imageType);
  }
}

TEST_F(PeerFiles, TiffKindsThisReaderDoesNotTakeGiveTheirCodes) {
  struct Case {
    const char* name;
    std::string make;
    int expected;
  };
  const Case cases[] = {
      {"deep.tif", "{convert} {src} -depth 16 -compress None {file}", vic::kBadTifBits},
      {"jpeg.tif", "{convert} {src} -compress None {tmp}.tif && tiffcp -c jpeg {tmp}.tif {file}", vic::kBadCompression},
      {"zip.tif", "{convert} {src} -compress None {tmp}.tif && tiffcp -c zip {tmp}.tif {file}", vic::kBadCompression},
      {"tiled.tif", "{convert} {src} -compress None {tmp}.tif && tiffcp -t -w 16 -l 16 {tmp}.tif {file}", vic::kBadTif},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string output;
    ASSERT_EQ(0, victest::run(expand(c.make, dir_, c.name), &output)) << output;
    std::vector<uint8_t> bytes = victest::readBytes(dir_ + "/" + c.name);
    vic::FileInfo info{};
    EXPECT_EQ(c.expected, vic::tiffInfo(bytes.data(), bytes.size(), info));
    vic::Picture picture;
    EXPECT_EQ(c.expected, vic::decodeTiff(bytes.data(), bytes.size(), picture));
  }
}

TEST_F(PeerFiles, JpegKindsThisReaderDoesNotTakeGiveMinus43) {
  const std::pair<const char*, std::string> cases[] = {
      {"arithmetic.jpg", "cjpeg -arithmetic -outfile {file} {src}"},
      {"cmyk.jpg", "{convert} {src} -colorspace CMYK {file}"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    std::string output;
    ASSERT_EQ(0, victest::run(expand(c.second, dir_, c.first), &output)) << output;
    std::vector<uint8_t> bytes = victest::readBytes(dir_ + "/" + c.first);
    vic::Picture picture;
    EXPECT_EQ(vic::kBadJpeg, vic::decodeJpeg(bytes.data(), bytes.size(), picture));
  }
}

}  // namespace
