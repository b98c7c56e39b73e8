// Windows bitmap files: a 14-byte file header in front of a device-independent bitmap.
#include <algorithm>

#include "../core/bytes.h"
#include "../core/dib.h"
#include "formats.h"

namespace vic {

namespace {

constexpr std::size_t kFileHeaderBytes = 14;

int parseBmp(const uint8_t* data, std::size_t size, DibLayout& layout, std::size_t& pixelOffset) {
  if (size < kFileHeaderBytes) return kBadBmp;
  ByteReader in(data, size);
  if (in.u8() != 'B' || in.u8() != 'M') return kBadBmp;
  in.skip(8);
  uint32_t offset = in.le32();
  if (in.failed()) return kBadBmp;
  int result = parseDibHeader(data + kFileHeaderBytes, size - kFileHeaderBytes, layout, kBadBmp);
  if (result != kOk) return result;
  // Some writers leave the offset zero; the pixels then follow the palette.
  pixelOffset = offset ? offset - std::min<std::size_t>(offset, kFileHeaderBytes) : layout.pixelOffset;
  if (offset && offset < kFileHeaderBytes + layout.paletteOffset) return kBadBmp;
  return kOk;
}

// One row of RLE8: runs of two or more equal pixels as (count, value); the rest as absolute
// blocks of three or more (padded to an even length) or as runs of one.
void encodeRle8Row(const uint8_t* row, int width, ByteWriter& out) {
  int x = 0;
  while (x < width) {
    int run = 1;
    while (x + run < width && run < 255 && row[x + run] == row[x]) ++run;
    if (run >= 2) {
      out.u8(run);
      out.u8(row[x]);
      x += run;
      continue;
    }
    // Gather literals until two equal neighbours start a run.
    int literal = 1;
    while (x + literal < width && literal < 255 &&
           !(x + literal + 1 < width && row[x + literal] == row[x + literal + 1])) {
      ++literal;
    }
    if (literal < 3) {
      for (int i = 0; i < literal; ++i) {
        out.u8(1);
        out.u8(row[x + i]);
      }
    } else {
      out.u8(0);
      out.u8(literal);
      out.append(row + x, literal);
      if (literal & 1) out.u8(0);
    }
    x += literal;
  }
  out.u8(0);
  out.u8(0);
}

}  // namespace

int bmpInfo(const uint8_t* data, std::size_t size, FileInfo& info) {
  DibLayout layout;
  std::size_t pixelOffset;
  int result = parseBmp(data, size, layout, pixelOffset);
  if (result != kOk) return result;
  info = FileInfo{
      layout.width, layout.height, layout.imageBits(), layout.bits, static_cast<int32_t>(layout.compression), 0,
      layout.colors};
  return kOk;
}

int decodeBmp(const uint8_t* data, std::size_t size, Picture& picture) {
  DibLayout layout;
  std::size_t pixelOffset;
  int result = parseBmp(data, size, layout, pixelOffset);
  if (result != kOk) return result;
  return decodeDibPixels(data + kFileHeaderBytes, size - kFileHeaderBytes, layout, pixelOffset, picture, kBadBmp);
}

int encodeBmp(const Picture& picture, int option, std::vector<uint8_t>& out) {
  if (option != 0 && option != 1) return kBadRange;
  if (option == 1 && picture.bits != 8) return kBadBits;
  int colors = static_cast<int>(picture.palette.size());
  ByteWriter pixels;
  if (option == 1) {
    for (int y = picture.height - 1; y >= 0; --y) encodeRle8Row(picture.row(y), picture.width, pixels);
    pixels.u8(0);
    pixels.u8(1);
  } else {
    for (int y = picture.height - 1; y >= 0; --y) pixels.append(picture.row(y), picture.stride);
  }
  uint32_t pixelOffset = static_cast<uint32_t>(kFileHeaderBytes + 40 + colors * 4);
  ByteWriter file;
  file.u8('B');
  file.u8('M');
  file.le32(static_cast<uint32_t>(pixelOffset + pixels.size()));
  file.le32(0);
  file.le32(pixelOffset);
  file.le32(40);
  file.le32(static_cast<uint32_t>(picture.width));
  file.le32(static_cast<uint32_t>(picture.height));
  file.le16(1);
  file.le16(picture.bits);
  file.le32(option == 1 ? kDibRle8 : kDibRgb);
  file.le32(static_cast<uint32_t>(pixels.size()));
  file.le32(2835);  // 72 dots per inch
  file.le32(2835);
  file.le32(static_cast<uint32_t>(colors));
  file.le32(0);
  for (const RgbQuad& entry : picture.palette) {
    file.u8(entry.rgbBlue);
    file.u8(entry.rgbGreen);
    file.u8(entry.rgbRed);
    file.u8(0);
  }
  file.append(pixels.bytes().data(), pixels.size());
  out = std::move(file.bytes());
  return kOk;
}

}  // namespace vic
