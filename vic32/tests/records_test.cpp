// Image records and bitmaps: allocation, copies between image areas, packed bitmaps in and out,
// and loading and saving through descriptors.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>

#include <cstring>
#include <filesystem>

#include "../core/bytes.h"
#include "../core/dib.h"
#include "../core/memory.h"
#include "../core/result_text.h"
#include "test_pictures.h"

namespace {

using vic::ImageView;

struct Image {
  ImageDescriptor d{};
  ~Image() { vic::freeImage(&d); }
};

ImageView viewOf(const Image& image) {
  ImageView view;
  EXPECT_EQ(vic::kOk, vic::viewOf(&image.d, view));
  return view;
}

TEST(Records, AllocImageLaysOutOnePackedBitmap) {
  struct Case {
    int bits, colors, stride, imgtype;
  };
  const Case cases[] = {{1, 2, 8, 0}, {8, 256, 40, 1}, {24, 0, 112, 0}};
  for (const Case& c : cases) {
    Image image;
    ASSERT_EQ(vic::kOk, vic::allocImage(&image.d, 37, 5, c.bits));
    const ImageDescriptor& d = image.d;
    EXPECT_EQ(c.bits, d.bmh->biBitCount);
    EXPECT_EQ(37, d.bmh->biWidth);
    EXPECT_EQ(5, d.bmh->biHeight);
    EXPECT_EQ(40u, d.bmh->biSize);
    EXPECT_EQ(c.stride, d.buffwidth);
    EXPECT_EQ(c.colors, d.colors);
    EXPECT_EQ(c.imgtype, d.imgtype);
    EXPECT_EQ(0, d.stx);
    EXPECT_EQ(0, d.sty);
    EXPECT_EQ(36, d.endx);
    EXPECT_EQ(4, d.endy);
    // Header, palette, rows: one block, in that order.
    auto* base = reinterpret_cast<uint8_t*>(d.bmh);
    EXPECT_EQ(base + 40 + 4 * c.colors, d.ibuff);
    if (c.colors) {
      EXPECT_EQ(reinterpret_cast<vic::RgbQuad*>(base + 40), d.palette);
    }
    if (c.bits == 8) {
      for (int i = 0; i < 256; ++i) {
        EXPECT_EQ(i, d.palette[i].rgbRed);
        EXPECT_EQ(i, d.palette[i].rgbBlue);
      }
    }
    if (c.bits == 1) {
      EXPECT_EQ(0, d.palette[0].rgbGreen);
      EXPECT_EQ(255, d.palette[1].rgbGreen);
    }
  }
}

TEST(Records, AllocImageRefusesBadDepthsAndSizes) {
  ImageDescriptor d{};
  EXPECT_EQ(vic::kBadBits, vic::allocImage(&d, 10, 10, 4));
  EXPECT_EQ(vic::kBadBits, vic::allocImage(&d, 10, 10, 16));
  EXPECT_EQ(vic::kBadRange, vic::allocImage(&d, 0, 10, 8));
  EXPECT_EQ(vic::kBadRange, vic::allocImage(&d, 10, -1, 8));
  EXPECT_EQ(vic::kBadRange, vic::allocImage(&d, 40000, 40000, 24));
  EXPECT_EQ(nullptr, d.bmh);
  vic::freeImage(&d);  // an empty descriptor is left alone
  EXPECT_EQ(vic::kBadBuffer, vic::allocImage(nullptr, 10, 10, 8));
}

TEST(Records, FreeImageEmptiesTheDescriptor) {
  ImageDescriptor d{};
  ASSERT_EQ(vic::kOk, vic::allocImage(&d, 3, 3, 24));
  vic::freeImage(&d);
  EXPECT_EQ(nullptr, d.bmh);
  EXPECT_EQ(nullptr, d.ibuff);
  vic::freeImage(&d);
}

void setPixel(const Image& image, int x, int y, uint8_t value) {
  ImageView v = viewOf(image);
  if (v.bits == 1) {
    if (value) v.row(y)[x / 8] |= static_cast<uint8_t>(0x80 >> (x & 7));
  } else {
    std::memset(v.row(y) + x * v.bits / 8, value, v.bits / 8);
  }
}

int pixel(const Image& image, int x, int y) {
  ImageView v = viewOf(image);
  return v.bits == 1 ? (v.row(y)[x / 8] >> (7 - (x & 7)) & 1) : v.row(y)[x * v.bits / 8];
}

TEST(Records, CopyImageCopiesTheSourceAreaIntoTheDestinationArea) {
  for (int bits : {1, 8, 24}) {
    SCOPED_TRACE(bits);
    Image source, destination;
    ASSERT_EQ(vic::kOk, vic::allocImage(&source.d, 20, 10, bits));
    ASSERT_EQ(vic::kOk, vic::allocImage(&destination.d, 6, 4, bits));
    for (int y = 0; y < 10; ++y) {
      for (int x = 0; x < 20; ++x) setPixel(source, x, y, static_cast<uint8_t>((x * 3 + y * 5) % 2 ? 1 + x + y : 0));
    }
    // The clip step: area (5, 3)..(10, 6) of the source into the whole destination.
    vic::Rect clip{5, 3, 11, 7};
    ASSERT_EQ(vic::kOk, vic::rectToImageArea(&clip, &source.d));
    ASSERT_EQ(vic::kOk, vic::copyImage(&source.d, &destination.d));
    for (int y = 0; y < 4; ++y) {
      for (int x = 0; x < 6; ++x) EXPECT_EQ(pixel(source, x + 5, y + 3), pixel(destination, x, y)) << x << "," << y;
    }
    vic::Rect back{};
    ASSERT_EQ(vic::kOk, vic::imageAreaToRect(&source.d, &back));
    EXPECT_EQ(5, back.left);
    EXPECT_EQ(11, back.right);
    EXPECT_EQ(7, back.bottom);
  }
}

TEST(Records, CopyImageWithinOneImageMovesAreasThatOverlap) {
  struct Move {
    int dx, dy;
  };
  const Move moves[] = {{1, 1}, {-1, -1}, {3, -2}, {-2, 3}, {5, 0}, {-5, 0}};
  for (int bits : {1, 8, 24}) {
    for (const Move& m : moves) {
      SCOPED_TRACE(std::to_string(bits) + " bits, move " + std::to_string(m.dx) + "," + std::to_string(m.dy));
      Image image, original;
      ASSERT_EQ(vic::kOk, vic::allocImage(&image.d, 24, 16, bits));
      ASSERT_EQ(vic::kOk, vic::allocImage(&original.d, 24, 16, bits));
      for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 24; ++x) {
          uint8_t value = static_cast<uint8_t>(bits == 1 ? (x * 5 + y * 3) % 7 < 3 : 1 + x * 10 + y);
          setPixel(image, x, y, value);
          setPixel(original, x, y, value);
        }
      }
      // Two records of one image: the source area (6, 6)..(15, 11) moved by (dx, dy).
      ImageDescriptor from{}, to{};
      vic::copyImgDes(&image.d, &from);
      vic::copyImgDes(&image.d, &to);
      vic::Rect source{6, 6, 16, 12}, target{6 + m.dx, 6 + m.dy, 16 + m.dx, 12 + m.dy};
      vic::rectToImageArea(&source, &from);
      vic::rectToImageArea(&target, &to);
      ASSERT_EQ(vic::kOk, vic::copyImage(&from, &to));
      for (int y = 0; y < 6; ++y) {
        for (int x = 0; x < 10; ++x) {
          ASSERT_EQ(pixel(original, 6 + x, 6 + y), pixel(image, 6 + m.dx + x, 6 + m.dy + y)) << x << "," << y;
        }
      }
    }
  }
}

TEST(Records, CopyImageChecksDepthsAndAreas) {
  Image colour, grey;
  ASSERT_EQ(vic::kOk, vic::allocImage(&colour.d, 8, 8, 24));
  ASSERT_EQ(vic::kOk, vic::allocImage(&grey.d, 8, 8, 8));
  EXPECT_EQ(vic::kBadBits, vic::copyImage(&colour.d, &grey.d));
  vic::Rect outside{4, 4, 9, 9};
  vic::rectToImageArea(&outside, &grey.d);
  Image other;
  ASSERT_EQ(vic::kOk, vic::allocImage(&other.d, 8, 8, 8));
  EXPECT_EQ(vic::kBadRange, vic::copyImage(&grey.d, &other.d));
  ImageDescriptor empty{};
  EXPECT_EQ(vic::kBadBuffer, vic::copyImage(&empty, &other.d));
}

TEST(Records, CopyImageAndPaletteCarryPaletteAndType) {
  Image source, destination;
  ASSERT_EQ(vic::kOk, vic::allocImage(&source.d, 4, 4, 8));
  ASSERT_EQ(vic::kOk, vic::allocImage(&destination.d, 4, 4, 8));
  source.d.palette[7] = vic::RgbQuad{1, 2, 3, 0};
  source.d.imgtype = 0;
  ASSERT_EQ(vic::kOk, vic::copyImagePalette(&source.d, &destination.d));
  EXPECT_EQ(3, destination.d.palette[7].rgbRed);
  EXPECT_EQ(0, destination.d.imgtype);
  source.d.palette[8] = vic::RgbQuad{9, 9, 1, 0};
  ASSERT_EQ(vic::kOk, vic::copyImage(&source.d, &destination.d));
  EXPECT_EQ(1, destination.d.palette[8].rgbRed);
}

TEST(Records, CopyImgDesSharesTheImage) {
  Image image;
  ASSERT_EQ(vic::kOk, vic::allocImage(&image.d, 4, 4, 24));
  ImageDescriptor alias{};
  ASSERT_EQ(vic::kOk, vic::copyImgDes(&image.d, &alias));
  EXPECT_EQ(image.d.bmh, alias.bmh);
  EXPECT_EQ(image.d.ibuff, alias.ibuff);
  EXPECT_EQ(0, std::memcmp(&image.d, &alias, sizeof alias));
}

TEST(Records, ImageToDibAndBackKeepEveryPixel) {
  for (int bits : {1, 8, 24}) {
    Image image, copy;
    ASSERT_EQ(vic::kOk, vic::allocImage(&image.d, 13, 7, bits));
    for (int y = 0; y < 7; ++y) {
      for (int x = 0; x < 13; ++x) setPixel(image, x, y, static_cast<uint8_t>((x ^ y) & 1 ? x * 9 + y : 0));
    }
    uint8_t* dib = nullptr;
    ASSERT_EQ(vic::kOk, vic::imageToDib(&image.d, &dib));
    auto* header = reinterpret_cast<vic::BitmapInfoHeader*>(dib);
    EXPECT_EQ(13, header->biWidth);
    EXPECT_EQ(bits, header->biBitCount);
    ASSERT_EQ(vic::kOk, vic::dibBlockToImage(dib, &copy.d));
    vic::freeImageBlock(dib);
    for (int y = 0; y < 7; ++y) {
      for (int x = 0; x < 13; ++x) EXPECT_EQ(pixel(image, x, y), pixel(copy, x, y));
    }
  }
}

// A packed bitmap built by hand: header, palette, rows.
std::vector<uint8_t> dib(int width, int height, int bits, uint32_t compression, const std::vector<uint8_t>& palette,
                         const std::vector<uint8_t>& rows) {
  vic::ByteWriter w;
  w.le32(40);
  w.le32(static_cast<uint32_t>(width));
  w.le32(static_cast<uint32_t>(height));
  w.le16(1);
  w.le16(bits);
  w.le32(compression);
  w.le32(static_cast<uint32_t>(rows.size()));
  w.le32(0);
  w.le32(0);
  w.le32(static_cast<uint32_t>(palette.size() / 4));
  w.le32(0);
  w.append(palette.data(), palette.size());
  w.append(rows.data(), rows.size());
  return w.bytes();
}

TEST(Records, DibToImageReadsClipboardBitmaps) {
  // 4 bits becomes 8; top-down rows are put bottom-up; 32 bits becomes 24.
  std::vector<uint8_t> palette16(64, 0);
  palette16[4 * 3 + 2] = 200;  // entry 3: red 200
  Image four;
  std::vector<uint8_t> fourDib = dib(3, 1, 4, 0, palette16, {0x31, 0x20, 0, 0});
  ASSERT_EQ(vic::kOk, vic::dibToImage(fourDib.data(), fourDib.size(), &four.d));
  EXPECT_EQ(8, four.d.bmh->biBitCount);
  EXPECT_EQ(3, pixel(four, 0, 0));
  EXPECT_EQ(1, pixel(four, 1, 0));
  EXPECT_EQ(2, pixel(four, 2, 0));
  EXPECT_EQ(200, four.d.palette[3].rgbRed);

  Image topDown;
  std::vector<uint8_t> topDownDib = dib(1, -2, 8, 0, std::vector<uint8_t>(8, 0), {10, 0, 0, 0, 20, 0, 0, 0});
  ASSERT_EQ(vic::kOk, vic::dibToImage(topDownDib.data(), topDownDib.size(), &topDown.d));
  EXPECT_EQ(10, pixel(topDown, 0, 0));
  EXPECT_EQ(20, pixel(topDown, 0, 1));

  Image deep;
  std::vector<uint8_t> deepDib = dib(1, 1, 32, 0, {}, {1, 2, 3, 0});
  ASSERT_EQ(vic::kOk, vic::dibToImage(deepDib.data(), deepDib.size(), &deep.d));
  ImageView v = viewOf(deep);
  EXPECT_EQ(24, v.bits);
  EXPECT_EQ(1, v.row(0)[0]);
  EXPECT_EQ(3, v.row(0)[2]);

  // Above 8 bits, biClrUsed entries of a colour table for palette screens precede the rows.
  Image optimised;
  std::vector<uint8_t> optimisedDib = dib(1, 1, 24, 0, std::vector<uint8_t>(8, 0xEE), {1, 2, 3, 0});
  ASSERT_EQ(vic::kOk, vic::dibToImage(optimisedDib.data(), optimisedDib.size(), &optimised.d));
  EXPECT_EQ(1, viewOf(optimised).row(0)[0]);
  EXPECT_EQ(3, viewOf(optimised).row(0)[2]);

  Image rle;
  std::vector<uint8_t> rleDib = dib(2, 1, 8, 1, std::vector<uint8_t>(24, 0), {2, 5, 0, 1});
  EXPECT_EQ(vic::kCompressedDib, vic::dibToImage(rleDib.data(), rleDib.size(), &rle.d));
  EXPECT_EQ(nullptr, rle.d.bmh);
}

TEST(Records, DibToImageReplacesTheOldImageOnlyOnSuccess) {
  Image image;
  ASSERT_EQ(vic::kOk, vic::allocImage(&image.d, 5, 5, 24));
  std::vector<uint8_t> broken = dib(2, 2, 7, 0, {}, {});
  EXPECT_NE(vic::kOk, vic::dibToImage(broken.data(), broken.size(), &image.d));
  EXPECT_EQ(5, image.d.bmh->biWidth);
  std::vector<uint8_t> good = dib(1, 1, 24, 0, {}, {1, 2, 3, 0});
  ASSERT_EQ(vic::kOk, vic::dibToImage(good.data(), good.size(), &image.d));
  EXPECT_EQ(1, image.d.bmh->biWidth);
}

// A packed bitmap alone in an image block of exactly its size, as the clipboard hands one over.
struct DibBlock {
  uint8_t* bytes;
  explicit DibBlock(const std::vector<uint8_t>& dib) : bytes(static_cast<uint8_t*>(vic::allocImageBlock(dib.size()))) {
    std::memcpy(bytes, dib.data(), dib.size());
  }
  ~DibBlock() { vic::freeImageBlock(bytes); }
};

// Headers that claim more than the memory holds are refused without reading past it (under the
// sanitizers a read past the block stops the test), whether the bound is the block's or given,
// and the descriptor keeps its image.
TEST(Records, DibToImageReadsNothingBeyondTheBitmapsMemory) {
  auto rows = [](int count, int stride) { return std::vector<uint8_t>(static_cast<std::size_t>(count) * stride, 7); };
  auto entries = [](int count) { return std::vector<uint8_t>(static_cast<std::size_t>(count) * 4, 9); };
  auto withColorsUsed = [](std::vector<uint8_t> bitmap, uint32_t used) {
    for (int i = 0; i < 4; ++i) bitmap[32 + i] = static_cast<uint8_t>(used >> (8 * i));
    return bitmap;
  };
  auto cut = [](std::vector<uint8_t> bitmap, std::size_t bytes) {
    bitmap.resize(bytes);
    return bitmap;
  };
  struct Case {
    const char* name;
    std::vector<uint8_t> bitmap;
    int result;
  };
  const Case cases[] = {
      {"64 rows over 4", dib(16, 64, 24, 0, {}, rows(4, 48)), vic::kBadData},
      {"64 top-down rows over 4", dib(16, -64, 24, 0, {}, rows(4, 48)), vic::kBadData},
      {"256 palette entries over 8", withColorsUsed(dib(4, 2, 8, 0, entries(8), {}), 256), vic::kBadData},
      {"16 palette entries of a 4-bit bitmap over 3", cut(dib(4, 1, 4, 0, entries(16), rows(1, 4)), 40 + 12),
       vic::kBadData},
      {"a colour table above 8 bits over 1 entry", cut(withColorsUsed(dib(1, 1, 24, 0, {}, {}), 200), 44),
       vic::kBadData},
      {"a cut header", cut(dib(1, 1, 24, 0, {}, rows(1, 4)), 30), vic::kBadData},
      {"all there", dib(16, 4, 24, 0, {}, rows(4, 48)), vic::kOk},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Image image;
    ASSERT_EQ(vic::kOk, vic::allocImage(&image.d, 3, 3, 8));
    DibBlock block(c.bitmap);
    EXPECT_EQ(c.result, vic::dibBlockToImage(block.bytes, &image.d));
    EXPECT_EQ(c.result, vic::dibToImage(c.bitmap.data(), c.bitmap.size(), &image.d));
    EXPECT_EQ(c.result == vic::kOk ? 16 : 3, image.d.bmh->biWidth);
  }
}

TEST(Records, DibBlockToImageTakesTheRestOfTheBlockAndRefusesOtherMemory) {
  std::vector<uint8_t> bitmap = dib(2, 2, 24, 0, {}, {1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12, 0, 0});
  std::vector<uint8_t> padded(5, 0);
  padded.insert(padded.end(), bitmap.begin(), bitmap.end());
  DibBlock block(padded);
  Image image;
  ASSERT_EQ(vic::kOk, vic::dibBlockToImage(block.bytes + 5, &image.d));
  EXPECT_EQ(12, viewOf(image).row(0)[5]);
  EXPECT_EQ(vic::kBadBuffer, vic::dibBlockToImage(bitmap.data(), &image.d));  // not an image block
  EXPECT_EQ(vic::kBadBuffer, vic::dibToImage(bitmap.data(), 0, &image.d));
  EXPECT_EQ(2, image.d.bmh->biWidth);
}

TEST(Records, ResultTextsAreTheCallersTexts) {
  EXPECT_STREQ("Unreadable JPG format", vic::resultText(-43));
  EXPECT_STREQ("Disk full, file not written", vic::resultText(-3));
  EXPECT_STREQ("No default system printer detected", vic::resultText(-100));
  EXPECT_STREQ("Camera Application Error", vic::resultText(-2));
}

// --- files through descriptors ---

int saveTiffLzw(const char* name, const ImageDescriptor* d) {
  return vic::saveFile(name, d,
                       [](const vic::Picture& p, std::vector<uint8_t>& out) { return vic::encodeTiff(p, 1, out); });
}

TEST(Files, LoadFillsTheImageAreaAndRefusesAnotherDepth) {
  std::string dir = victest::scratchDirectory("files_load");
  std::string name = dir + "/picture.bmp";
  vic::Picture picture = victest::palettePicture(9, 6);
  std::vector<uint8_t> bytes;
  ASSERT_EQ(vic::kOk, vic::encodeBmp(picture, 0, bytes));
  ASSERT_TRUE(victest::writeBytes(name, bytes));

  vic::FileInfo info{};
  ASSERT_EQ(vic::kOk, vic::fileInfo(name.c_str(), vic::bmpInfo, &info));
  Image image;
  ASSERT_EQ(vic::kOk, vic::allocImage(&image.d, info.width, info.height, info.bits));
  ASSERT_EQ(vic::kOk, vic::loadFile(name.c_str(), vic::decodeBmp, &image.d));
  EXPECT_EQ(0, image.d.imgtype);  // a colour palette: not a grey image
  EXPECT_EQ(picture.row(2)[4], pixel(image, 4, 2));
  EXPECT_EQ(picture.palette[5].rgbGreen, image.d.palette[5].rgbGreen);

  Image colour;
  ASSERT_EQ(vic::kOk, vic::allocImage(&colour.d, 9, 6, 24));
  EXPECT_EQ(vic::kBadBits, vic::loadFile(name.c_str(), vic::decodeBmp, &colour.d));
  EXPECT_EQ(vic::kCannotOpen, vic::loadFile((dir + "/missing.bmp").c_str(), vic::decodeBmp, &image.d));
  ImageDescriptor empty{};
  EXPECT_EQ(vic::kBadBuffer, vic::loadFile(name.c_str(), vic::decodeBmp, &empty));
}

TEST(Files, AFailedSaveLeavesTheOldFileAsItWas) {
  std::string dir = victest::scratchDirectory("files_save");
  std::string name = dir + "/kept.tif";
  const std::vector<uint8_t> old = {'o', 'l', 'd'};
  ASSERT_TRUE(victest::writeBytes(name, old));
  Image image;
  ASSERT_EQ(vic::kOk, vic::allocImage(&image.d, 300, 300, 24));

  // The disk fills up half way: the write fails, the old file stays, no temporary is left.
  struct rlimit saved;
  getrlimit(RLIMIT_FSIZE, &saved);
  struct rlimit small = saved;
  small.rlim_cur = 4096;
  signal(SIGXFSZ, SIG_IGN);
  setrlimit(RLIMIT_FSIZE, &small);
  int result = vic::saveFile(name.c_str(), &image.d, [](const vic::Picture& p, std::vector<uint8_t>& out) {
    return vic::encodeTiff(p, 0, out);
  });
  setrlimit(RLIMIT_FSIZE, &saved);
  EXPECT_EQ(vic::kDiskFull, result);
  EXPECT_EQ(old, victest::readBytes(name));
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) files += entry.is_regular_file();
  EXPECT_EQ(1, files);

  // A bad option writes nothing; a directory that does not exist cannot take the file.
  EXPECT_EQ(vic::kBadBits, vic::saveFile(name.c_str(), &image.d, [](const vic::Picture& p, std::vector<uint8_t>& out) {
              return vic::encodeTiff(p, 4, out);
            }));
  EXPECT_EQ(old, victest::readBytes(name));
  EXPECT_EQ(vic::kCannotCreate, saveTiffLzw((dir + "/no/such/dir.tif").c_str(), &image.d));

  // A good save replaces the file.
  ASSERT_EQ(vic::kOk, saveTiffLzw(name.c_str(), &image.d));
  EXPECT_NE(old, victest::readBytes(name));
}

TEST(Files, SaveWritesTheImageArea) {
  std::string dir = victest::scratchDirectory("files_area");
  Image image;
  ASSERT_EQ(vic::kOk, vic::allocImage(&image.d, 10, 10, 8));
  setPixel(image, 3, 4, 77);
  vic::Rect area{3, 4, 6, 9};
  vic::rectToImageArea(&area, &image.d);
  std::string name = dir + "/area.tif";
  ASSERT_EQ(vic::kOk, saveTiffLzw(name.c_str(), &image.d));
  vic::FileInfo info{};
  ASSERT_EQ(vic::kOk, vic::fileInfo(name.c_str(), vic::tiffInfo, &info));
  EXPECT_EQ(3, info.width);
  EXPECT_EQ(5, info.height);
  Image loaded;
  ASSERT_EQ(vic::kOk, vic::allocImage(&loaded.d, info.width, info.height, info.bits));
  ASSERT_EQ(vic::kOk, vic::loadFile(name.c_str(), vic::decodeTiff, &loaded.d));
  EXPECT_EQ(77, pixel(loaded, 0, 0));
  EXPECT_EQ(1, loaded.d.imgtype);
}

}  // namespace
