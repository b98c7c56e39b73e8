// Truevision Targa: colour-mapped (1, 9), true colour (2, 10) and grey (3, 11) images, plain or
// run-length, either origin.
#include <algorithm>

#include "../core/bytes.h"
#include "formats.h"

namespace vic {

namespace {

struct TgaHeader {
  int idLength, colorMapType, imageType;
  int mapStart, mapLength, mapDepth;
  int width, height, pixelDepth, descriptor;
  bool runLength() const { return imageType >= 9; }
  int baseType() const { return imageType & 7; }
  bool topDown() const { return descriptor & 0x20; }
  bool rightToLeft() const { return descriptor & 0x10; }
};

int mapDepthBytes(int depth) { return (depth + 7) / 8; }

int parseHeader(ByteReader& in, TgaHeader& h) {
  h.idLength = in.u8();
  h.colorMapType = in.u8();
  h.imageType = in.u8();
  h.mapStart = in.le16();
  h.mapLength = in.le16();
  h.mapDepth = in.u8();
  in.skip(4);  // origin
  h.width = in.le16();
  h.height = in.le16();
  h.pixelDepth = in.u8();
  h.descriptor = in.u8();
  if (in.failed() || h.width == 0 || h.height == 0 || h.colorMapType > 1) return kBadTga;
  switch (h.baseType()) {
    case 1:
      if (h.colorMapType != 1 || h.pixelDepth != 8) return kBadTga;
      break;
    case 2:
      if (h.pixelDepth != 15 && h.pixelDepth != 16 && h.pixelDepth != 24 && h.pixelDepth != 32) return kBadTga;
      break;
    case 3:
      if (h.pixelDepth != 8) return kBadTga;
      break;
    default:
      return kBadTga;
  }
  if (h.imageType != h.baseType() && h.imageType != h.baseType() + 8) return kBadTga;
  if (h.colorMapType == 1 && h.mapDepth != 15 && h.mapDepth != 16 && h.mapDepth != 24 && h.mapDepth != 32) {
    return kBadTga;
  }
  return kOk;
}

// A colour of 15/16 (x RRRRR GGGGG BBBBB, little-endian), 24 or 32 bits as blue, green, red.
RgbQuad readColor(const uint8_t* p, int depth) {
  if (depth <= 16) {
    unsigned v = p[0] | p[1] << 8;
    auto expand = [](unsigned five) { return static_cast<uint8_t>(five << 3 | five >> 2); };
    return RgbQuad{expand(v & 31), expand(v >> 5 & 31), expand(v >> 10 & 31), 0};
  }
  return RgbQuad{p[0], p[1], p[2], 0};
}

}  // namespace

int tgaInfo(const uint8_t* data, std::size_t size, FileInfo& info) {
  ByteReader in(data, size);
  TgaHeader h;
  int result = parseHeader(in, h);
  if (result != kOk) return result;
  bool colour = h.baseType() == 2;
  info = FileInfo{h.width,
                  h.height,
                  colour ? 24 : 8,
                  h.pixelDepth,
                  h.runLength() ? 1 : 0,
                  h.imageType,
                  h.colorMapType ? h.mapLength : 0};
  return kOk;
}

int decodeTga(const uint8_t* data, std::size_t size, Picture& picture) {
  ByteReader in(data, size);
  TgaHeader h;
  int result = parseHeader(in, h);
  if (result != kOk) return result;
  result = picture.allocate(h.width, h.height, h.baseType() == 2 ? 24 : 8);
  if (result != kOk) return result;
  in.skip(h.idLength);
  if (h.colorMapType == 1) {
    int entryBytes = mapDepthBytes(h.mapDepth);
    for (int i = 0; i < h.mapLength; ++i) {
      uint8_t entry[4] = {0, 0, 0, 0};
      if (!in.bytes(entry, entryBytes)) return kBadTga;
      int index = h.mapStart + i;
      if (h.baseType() == 1 && index < 256) picture.palette[index] = readColor(entry, h.mapDepth);
    }
  }
  int pixelBytes = mapDepthBytes(h.pixelDepth);
  int outBytes = picture.bits / 8;
  std::size_t total = static_cast<std::size_t>(h.width) * h.height;
  std::size_t done = 0;
  auto store = [&](const uint8_t* pixel, std::size_t count) {
    for (std::size_t i = 0; i < count && done < total; ++i, ++done) {
      int y = static_cast<int>(done / h.width), x = static_cast<int>(done % h.width);
      if (!h.topDown()) y = h.height - 1 - y;
      if (h.rightToLeft()) x = h.width - 1 - x;
      uint8_t* out = picture.row(y) + x * outBytes;
      if (outBytes == 1) {
        out[0] = pixel[0];
      } else {
        RgbQuad c = readColor(pixel, h.pixelDepth);
        out[0] = c.rgbBlue, out[1] = c.rgbGreen, out[2] = c.rgbRed;
      }
    }
  };
  uint8_t pixel[4];
  while (done < total) {
    if (h.runLength()) {
      uint8_t packet = in.u8();
      std::size_t count = (packet & 0x7F) + 1u;
      if (packet & 0x80) {
        if (!in.bytes(pixel, pixelBytes)) return kBadTga;
        store(pixel, count);
      } else {
        for (std::size_t i = 0; i < count && done < total; ++i) {
          if (!in.bytes(pixel, pixelBytes)) return kBadTga;
          store(pixel, 1);
        }
      }
    } else {
      if (!in.bytes(pixel, pixelBytes)) return kBadTga;
      store(pixel, 1);
    }
    if (in.failed()) return kBadTga;
  }
  return kOk;
}

int encodeTga(const Picture& picture, int option, std::vector<uint8_t>& out) {
  if (option != 0 && option != 1) return kBadRange;
  if (picture.bits == 1) return kBadBits;
  if (picture.width > 65535 || picture.height > 65535) return kBadRange;
  bool colour = picture.bits == 24;
  bool grey = !colour && isIdentityGreyRamp(picture.palette.data(), 256);
  int baseType = colour ? 2 : grey ? 3 : 1;
  ByteWriter file;
  file.u8(0);
  file.u8(baseType == 1 ? 1 : 0);
  file.u8(baseType + (option == 1 ? 8 : 0));
  file.le16(0);
  file.le16(baseType == 1 ? 256 : 0);
  file.u8(baseType == 1 ? 24 : 0);
  file.le16(0);
  file.le16(0);
  file.le16(picture.width);
  file.le16(picture.height);
  file.u8(colour ? 24 : 8);
  file.u8(0);  // bottom-left origin, no alpha
  if (baseType == 1) {
    for (const RgbQuad& e : picture.palette) {
      file.u8(e.rgbBlue);
      file.u8(e.rgbGreen);
      file.u8(e.rgbRed);
    }
  }
  int bytes = colour ? 3 : 1;
  for (int y = picture.height - 1; y >= 0; --y) {
    const uint8_t* row = picture.row(y);
    if (option == 0) {
      file.append(row, static_cast<std::size_t>(picture.width) * bytes);
      continue;
    }
    // Packets never cross a row end, which every reader accepts.
    auto same = [&](int a, int b) { return std::equal(row + a * bytes, row + (a + 1) * bytes, row + b * bytes); };
    int x = 0;
    while (x < picture.width) {
      int run = 1;
      while (x + run < picture.width && run < 128 && same(x, x + run)) ++run;
      if (run >= 2) {
        file.u8(0x80 | (run - 1));
        file.append(row + x * bytes, bytes);
        x += run;
        continue;
      }
      int literal = 1;
      while (x + literal < picture.width && literal < 128 &&
             !(x + literal + 1 < picture.width && same(x + literal, x + literal + 1))) {
        ++literal;
      }
      file.u8(literal - 1);
      file.append(row + x * bytes, static_cast<std::size_t>(literal) * bytes);
      x += literal;
    }
  }
  // Version 2 footer: no extension or developer area.
  file.le32(0);
  file.le32(0);
  file.text("TRUEVISION-XFILE.");
  file.u8(0);
  out = std::move(file.bytes());
  return kOk;
}

}  // namespace vic
