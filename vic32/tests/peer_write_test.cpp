// Files this library writes are accepted by the reference tools and give them the same pixels:
// ImageMagick (identify, convert) for every format, libtiff (tiffinfo, tiffcp, tiffcmp) for
// TIFF, giflib (giftext, gif2rgb) for GIF, libjpeg-turbo (djpeg) for JPEG, Ghostscript for EPS.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>

#include "test_pictures.h"

namespace {

using vic::Picture;

const char* const kConvert = "/usr/bin/convert";

class WrittenFiles : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = victest::scratchDirectory(testing::UnitTest::GetInstance()->current_test_info()->name());
  }
  std::string path(const std::string& name) const { return dir_ + "/" + name; }

  std::string write(const std::string& name, const std::function<int(std::vector<uint8_t>&)>& encode) {
    std::vector<uint8_t> bytes;
    EXPECT_EQ(vic::kOk, encode(bytes));
    EXPECT_TRUE(victest::writeBytes(path(name), bytes));
    return path(name);
  }

  // ImageMagick's view of a file: size from identify, pixels from convert.
  void expectImageMagickSees(const std::string& file, const Picture& picture, int tolerance = 0,
                             const char* extra = "") {
    std::string output;
    ASSERT_EQ(0, victest::run("identify -format '%w %h' " + file, &output)) << output;
    EXPECT_EQ(std::to_string(picture.width) + " " + std::to_string(picture.height), output);
    std::string ref = file + ".im.ppm";
    ASSERT_EQ(0, victest::run(std::string(kConvert) + " " + file + " " + extra + " -depth 8 ppm:" + ref, &output))
        << output;
    victest::RgbImage seen;
    ASSERT_TRUE(victest::readPnm(ref, seen));
    ASSERT_EQ(picture.width, seen.width);
    ASSERT_EQ(picture.height, seen.height);
    victest::Difference d = victest::compareRgb(victest::rgbOf(picture), seen.rgb);
    EXPECT_LE(d.largest, tolerance) << file << " mean " << d.mean;
  }

  std::string dir_;
};

Picture pictureOf(int bits) {
  switch (bits) {
    case 1:
      return victest::bilevelPicture(83, 29);
    case 8:
      return victest::palettePicture(83, 29);
    case 9:
      return victest::greyPicture(83, 29);
    default:
      return victest::colourPicture(83, 29);
  }
}

TEST_F(WrittenFiles, BmpGifPcxTgaAreReadByImageMagickWithTheSamePixels) {
  struct Case {
    const char* name;
    int bits;
    std::function<int(const Picture&, std::vector<uint8_t>&)> encode;
    const char* extra;
  };
  const char* oriented = "-auto-orient";  // ImageMagick applies a Targa origin only so
  const Case cases[] = {
      {"c24.bmp", 24, [](const Picture& p, std::vector<uint8_t>& o) { return vic::encodeBmp(p, 0, o); }, ""},
      {"p8.bmp", 8, [](const Picture& p, std::vector<uint8_t>& o) { return vic::encodeBmp(p, 0, o); }, ""},
      {"m1.bmp", 1, [](const Picture& p, std::vector<uint8_t>& o) { return vic::encodeBmp(p, 0, o); }, ""},
      {"rle8.bmp", 8, [](const Picture& p, std::vector<uint8_t>& o) { return vic::encodeBmp(p, 1, o); }, ""},
      {"rlegrey.bmp", 9, [](const Picture& p, std::vector<uint8_t>& o) { return vic::encodeBmp(p, 1, o); }, ""},
      {"p8.gif", 8, vic::encodeGif, ""},
      {"m1.gif", 1, vic::encodeGif, ""},
      {"c24.pcx", 24, vic::encodePcx, ""},
      {"p8.pcx", 8, vic::encodePcx, ""},
      {"c24.tga", 24, [](const Picture& p, std::vector<uint8_t>& o) { return vic::encodeTga(p, 0, o); }, oriented},
      {"rle24.tga", 24, [](const Picture& p, std::vector<uint8_t>& o) { return vic::encodeTga(p, 1, o); }, oriented},
      {"p8.tga", 8, [](const Picture& p, std::vector<uint8_t>& o) { return vic::encodeTga(p, 0, o); }, oriented},
      {"rle8.tga", 8, [](const Picture& p, std::vector<uint8_t>& o) { return vic::encodeTga(p, 1, o); }, oriented},
      {"grey.tga", 9, [](const Picture& p, std::vector<uint8_t>& o) { return vic::encodeTga(p, 0, o); }, oriented},
      {"rlegrey.tga", 9, [](const Picture& p, std::vector<uint8_t>& o) { return vic::encodeTga(p, 1, o); }, oriented},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Picture picture = pictureOf(c.bits);
    std::string file = write(c.name, [&](std::vector<uint8_t>& out) { return c.encode(picture, out); });
    expectImageMagickSees(file, picture, 0, c.extra);
  }
}

// A 1-bit PCX file stores 0 for black and 1 for white with that palette in its header, as
// PC Paintbrush does. ImageMagick 6 reads every 1-bit PCX file as 1 = black whatever the header
// says, so it must see our picture with black and white exchanged, and nothing else changed.
TEST_F(WrittenFiles, BilevelPcxIsReadByImageMagickWithItsOwnBlackAndWhite) {
  Picture picture = pictureOf(1);
  std::string file = write("m1.pcx", [&](std::vector<uint8_t>& out) { return vic::encodePcx(picture, out); });
  Picture asImageMagickSeesIt = picture;
  std::swap(asImageMagickSeesIt.palette[0], asImageMagickSeesIt.palette[1]);
  expectImageMagickSees(file, asImageMagickSeesIt);
}

TEST_F(WrittenFiles, GifIsReadByGiflib) {
  Picture picture = pictureOf(8);
  std::string file = write("ours.gif", [&](std::vector<uint8_t>& out) { return vic::encodeGif(picture, out); });
  std::string output;
  ASSERT_EQ(0, victest::run("giftext " + file, &output)) << output;
  ASSERT_EQ(0, victest::run("gif2rgb -1 -o " + file + ".rgb " + file, &output)) << output;
  EXPECT_TRUE(victest::rgbOf(picture) == victest::readBytes(file + ".rgb"));
}

TEST_F(WrittenFiles, GifWithALocalTableAsGiflibReadsIt) {
  // The same picture with its colour table moved from the screen to the image descriptor.
  Picture picture = pictureOf(8);
  std::vector<uint8_t> bytes;
  ASSERT_EQ(vic::kOk, vic::encodeGif(picture, bytes));
  std::vector<uint8_t> table(bytes.begin() + 13, bytes.begin() + 13 + 768);
  bytes.erase(bytes.begin() + 13, bytes.begin() + 13 + 768);
  bytes[10] &= 0x7F;     // no global table
  bytes[13 + 9] = 0x87;  // local table of 256 entries
  bytes.insert(bytes.begin() + 13 + 10, table.begin(), table.end());
  std::string file = path("local.gif");
  ASSERT_TRUE(victest::writeBytes(file, bytes));
  std::string output;
  ASSERT_EQ(0, victest::run("gif2rgb -1 -o " + file + ".rgb " + file, &output)) << output;
  EXPECT_TRUE(victest::rgbOf(picture) == victest::readBytes(file + ".rgb"));
  Picture decoded;
  ASSERT_EQ(vic::kOk, vic::decodeGif(bytes.data(), bytes.size(), decoded));
  EXPECT_TRUE(victest::rgbOf(picture) == victest::rgbOf(decoded));
}

TEST_F(WrittenFiles, TiffOfEveryCompressionIsDecodedByLibtiff) {
  struct Case {
    int option, bits;
  };
  const Case cases[] = {{0, 24}, {1, 24}, {2, 24}, {0, 8}, {1, 8}, {2, 9},
                        {1, 9},  {0, 1},  {1, 1},  {2, 1}, {3, 1}, {4, 1}};
  for (const Case& c : cases) {
    std::string name = "o" + std::to_string(c.option) + "b" + std::to_string(c.bits) + ".tif";
    SCOPED_TRACE(name);
    Picture picture = pictureOf(c.bits);
    std::string file = write(name, [&](std::vector<uint8_t>& out) { return vic::encodeTiff(picture, c.option, out); });
    std::string output;
    ASSERT_EQ(0, victest::run("tiffinfo -D " + file, &output)) << output;
    // Libtiff names the coding each option writes (Group 3 as CCITT Modified Huffman, "RLE").
    static const char* const kSchemes[] = {"None", "LZW", "PackBits", "CCITT RLE", "CCITT Group 4"};
    EXPECT_NE(std::string::npos, output.find(std::string("Compression Scheme: ") + kSchemes[c.option] + "\n"))
        << output;
    EXPECT_EQ(std::string::npos, output.find("Warning")) << output;
    EXPECT_EQ(std::string::npos, output.find("rror")) << output;
    // libtiff decompresses our strips into a plain file; its pixels must be the picture's.
    std::string plain = file + ".plain.tif";
    ASSERT_EQ(0, victest::run("tiffcp -c none " + file + " " + plain, &output)) << output;
    ASSERT_EQ(0, victest::run("tiffcmp " + file + " " + plain, &output)) << output;
    std::vector<uint8_t> bytes = victest::readBytes(plain);
    Picture decoded;
    ASSERT_EQ(vic::kOk, vic::decodeTiff(bytes.data(), bytes.size(), decoded));
    EXPECT_TRUE(victest::rgbOf(picture) == victest::rgbOf(decoded));
    expectImageMagickSees(file, picture);
  }
}

TEST_F(WrittenFiles, JpegIsDecodedByDjpegWithinTheStatedBound) {
  struct Case {
    Picture picture;
    int quality;
    double meanBound;
    int largestBound;
  };
  Picture grey;
  grey.allocate(70, 50, 8);
  for (int y = 0; y < 50; ++y) {
    for (int x = 0; x < 70; ++x) grey.row(y)[x] = static_cast<uint8_t>(x * 3 + y);
  }
  const Case cases[] = {
      {victest::smoothPicture(83, 61), 90, 2.0, 24},
      {victest::smoothPicture(83, 61), 100, 2.0, 20},
      {victest::smoothPicture(83, 61), 25, 6.0, 60},
      {grey, 75, 1.0, 12},
  };
  int index = 0;
  for (const Case& c : cases) {
    std::string name = "q" + std::to_string(c.quality) + "_" + std::to_string(index++) + ".jpg";
    SCOPED_TRACE(name);
    std::string file =
        write(name, [&](std::vector<uint8_t>& out) { return vic::encodeJpeg(c.picture, c.quality, out); });
    std::string output;
    ASSERT_EQ(0, victest::run("djpeg -dct float -nosmooth -outfile " + file + ".pnm " + file, &output)) << output;
    EXPECT_EQ("", output);  // no warnings about the stream
    victest::RgbImage seen;
    ASSERT_TRUE(victest::readPnm(file + ".pnm", seen));
    ASSERT_EQ(c.picture.width, seen.width);
    ASSERT_EQ(c.picture.height, seen.height);
    victest::Difference d = victest::compareRgb(victest::rgbOf(c.picture), seen.rgb);
    EXPECT_LE(d.mean, c.meanBound);
    EXPECT_LE(d.largest, c.largestBound);
    // And our decoder agrees with djpeg on our own file.
    std::vector<uint8_t> bytes = victest::readBytes(file);
    Picture decoded;
    ASSERT_EQ(vic::kOk, vic::decodeJpeg(bytes.data(), bytes.size(), decoded));
    EXPECT_LE(victest::compareRgb(seen.rgb, victest::rgbOf(decoded)).largest, 2);
    ASSERT_EQ(0, victest::run("identify -format '%w %h %[colorspace]' " + file, &output)) << output;
    EXPECT_EQ(std::to_string(c.picture.width) + " " + std::to_string(c.picture.height) +
                  (c.picture.bits == 8 ? " Gray" : " sRGB"),
              output);
  }
}

TEST_F(WrittenFiles, EpsIsRenderedByGhostscriptInsideItsBoundingBox) {
  for (int bits : {24, 8, 9, 1}) {
    SCOPED_TRACE(bits);
    Picture picture = pictureOf(bits);
    std::string file = write("b" + std::to_string(bits) + ".eps",
                             [&](std::vector<uint8_t>& out) { return vic::encodeEps(picture, out); });
    std::string text;
    {
      std::vector<uint8_t> bytes = victest::readBytes(file);
      text.assign(bytes.begin(), bytes.end());
    }
    EXPECT_EQ(0u, text.find("%!PS-Adobe-3.0 EPSF-3.0\n"));
    EXPECT_NE(std::string::npos, text.find("%%BoundingBox: 0 0 83 29\n"));
    std::string output;
    std::string rendered = file + ".ppm";
    ASSERT_EQ(0, victest::run("gs -q -dSAFER -dBATCH -dNOPAUSE -dEPSCrop -r72 -sDEVICE=ppmraw -sOutputFile=" +
                                  rendered + " " + file,
                              &output))
        << output;
    victest::RgbImage seen;
    ASSERT_TRUE(victest::readPnm(rendered, seen));
    ASSERT_EQ(83, seen.width);
    ASSERT_EQ(29, seen.height);
    victest::Difference d = victest::compareRgb(victest::rgbOf(picture), seen.rgb);
    EXPECT_EQ(0, d.largest) << "mean " << d.mean;
  }
}

}  // namespace
