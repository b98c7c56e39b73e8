// ZSoft PCX, version 5, run-length encoded: 1 bit (one plane), 16 colours (four bit planes, read
// as 8 bits), 256 colours (one plane, palette after the pixels) and true colour (three planes).
#include <algorithm>

#include "../core/bytes.h"
#include "formats.h"

namespace vic {

namespace {

constexpr std::size_t kHeaderBytes = 128;

struct PcxHeader {
  int version, encoding, bitsPerPixel, planes, bytesPerLine;
  int width, height;
  const uint8_t* headerPalette;
  // Version 0 (PC Paintbrush 2.5) and version 3 (2.8 "without palette information") carry no
  // palette in the header, whatever its bytes hold.
  bool hasHeaderPalette() const { return version != 0 && version != 3; }
  // 1: one-bit, 8: palette, 24: colour.
  int imageBits() const {
    if (bitsPerPixel == 1 && planes == 1) return 1;
    if (bitsPerPixel == 8 && (planes == 3 || planes == 4)) return 24;
    return 8;
  }
};

int parseHeader(const uint8_t* data, std::size_t size, PcxHeader& h) {
  ByteReader in(data, size);
  if (in.u8() != 0x0A) return kBadPcx;
  h.version = in.u8();
  h.encoding = in.u8();
  h.bitsPerPixel = in.u8();
  int xMin = in.le16(), yMin = in.le16(), xMax = in.le16(), yMax = in.le16();
  in.seek(65);
  h.planes = in.u8();
  h.bytesPerLine = in.le16();
  if (in.failed() || size < kHeaderBytes || h.encoding > 1 || xMax < xMin || yMax < yMin) return kBadPcx;
  h.width = xMax - xMin + 1;
  h.height = yMax - yMin + 1;
  h.headerPalette = data + 16;
  bool supported = (h.bitsPerPixel == 1 && (h.planes == 1 || h.planes == 4)) ||
                   (h.bitsPerPixel == 8 && (h.planes == 1 || h.planes == 3 || h.planes == 4));
  if (!supported) return kBadPcx;
  if (h.bytesPerLine * 8 < h.width * h.bitsPerPixel) return kBadPcx;
  return kOk;
}

void encodeRun(ByteWriter& out, const uint8_t* line, int count) {
  int x = 0;
  while (x < count) {
    int run = 1;
    while (x + run < count && run < 63 && line[x + run] == line[x]) ++run;
    if (run > 1 || (line[x] & 0xC0) == 0xC0) out.u8(0xC0 | run);
    out.u8(line[x]);
    x += run;
  }
}

}  // namespace

int pcxInfo(const uint8_t* data, std::size_t size, FileInfo& info) {
  PcxHeader h;
  int result = parseHeader(data, size, h);
  if (result != kOk) return result;
  info = FileInfo{h.width,
                  h.height,
                  h.imageBits(),
                  h.bitsPerPixel * h.planes,
                  h.encoding,
                  0,
                  h.imageBits() == 24 ? 0 : 1 << std::min(8, h.bitsPerPixel * h.planes)};
  return kOk;
}

int decodePcx(const uint8_t* data, std::size_t size, Picture& picture) {
  PcxHeader h;
  int result = parseHeader(data, size, h);
  if (result != kOk) return result;
  result = picture.allocate(h.width, h.height, h.imageBits());
  if (result != kOk) return result;

  // The run-length stream, continuous over lines and planes (some writers let runs cross them).
  std::size_t lineBytes = static_cast<std::size_t>(h.bytesPerLine) * h.planes;
  std::vector<uint8_t> line(lineBytes);
  std::size_t at = kHeaderBytes;
  int pendingRun = 0;
  uint8_t pendingValue = 0;
  for (int y = 0; y < h.height; ++y) {
    std::size_t filled = 0;
    while (filled < lineBytes) {
      if (pendingRun > 0) {
        line[filled++] = pendingValue;
        --pendingRun;
        continue;
      }
      if (at >= size) return kBadPcx;
      uint8_t byte = data[at++];
      if (h.encoding == 1 && (byte & 0xC0) == 0xC0) {
        if (at >= size) return kBadPcx;
        pendingRun = byte & 0x3F;
        pendingValue = data[at++];
      } else {
        line[filled++] = byte;
      }
    }
    uint8_t* out = picture.row(y);
    const uint8_t* planes = line.data();
    int bpl = h.bytesPerLine;
    if (picture.bits == 1) {
      std::copy(planes, planes + std::min<std::size_t>(picture.stride, bpl), out);
      int tailBits = h.width & 7;  // keep the padding bits of the last byte clear
      if (tailBits) out[h.width / 8] &= static_cast<uint8_t>(0xFF00 >> tailBits);
    } else if (picture.bits == 24) {
      for (int x = 0; x < h.width; ++x) {
        out[3 * x] = planes[2 * bpl + x];
        out[3 * x + 1] = planes[bpl + x];
        out[3 * x + 2] = planes[x];
      }
    } else if (h.bitsPerPixel == 8) {
      std::copy(planes, planes + h.width, out);
    } else {  // four bit planes of one bit each
      for (int x = 0; x < h.width; ++x) {
        int index = 0;
        for (int p = 0; p < 4; ++p) index |= bitAt(planes + p * bpl, x) << p;
        out[x] = static_cast<uint8_t>(index);
      }
    }
  }

  clearRowPadding(picture);
  if (picture.bits == 8 && h.bitsPerPixel == 8) {
    // The 256-colour palette: a 12 marker and 768 bytes at the very end. Without it, grey.
    if (size >= kHeaderBytes + 769 && data[size - 769] == 12) {
      const uint8_t* p = data + size - 768;
      for (int i = 0; i < 256; ++i) picture.palette[i] = RgbQuad{p[3 * i + 2], p[3 * i + 1], p[3 * i], 0};
    }
  } else if (picture.bits == 8 || (picture.bits == 1 && h.hasHeaderPalette())) {
    const uint8_t* p = h.headerPalette;
    int entries = picture.bits == 1 ? 2 : 16;
    bool any = false;
    for (int i = 0; i < entries * 3; ++i) any = any || p[i] != 0;
    if (any) {
      for (int i = 0; i < entries; ++i) picture.palette[i] = RgbQuad{p[3 * i + 2], p[3 * i + 1], p[3 * i], 0};
    }
    if (picture.bits == 1 && picture.palette[0].rgbRed == picture.palette[1].rgbRed &&
        picture.palette[0].rgbGreen == picture.palette[1].rgbGreen &&
        picture.palette[0].rgbBlue == picture.palette[1].rgbBlue) {
      picture.palette[0] = RgbQuad{0, 0, 0, 0};  // a degenerate header palette: plain black and white
      picture.palette[1] = RgbQuad{255, 255, 255, 0};
    }
  }
  return kOk;
}

int encodePcx(const Picture& picture, std::vector<uint8_t>& out) {
  if (picture.width > 65535 || picture.height > 65535) return kBadRange;
  int planes = picture.bits == 24 ? 3 : 1;
  int bitsPerPixel = picture.bits == 1 ? 1 : 8;
  int bytesPerLine = (picture.width * bitsPerPixel + 7) / 8;
  bytesPerLine += bytesPerLine & 1;  // even, as the format asks
  ByteWriter file;
  file.u8(0x0A);
  file.u8(5);
  file.u8(1);
  file.u8(bitsPerPixel);
  file.le16(0);
  file.le16(0);
  file.le16(picture.width - 1);
  file.le16(picture.height - 1);
  file.le16(72);
  file.le16(72);
  for (int i = 0; i < 16; ++i) {  // header palette: the image's two colours for 1 bit
    RgbQuad e = picture.bits == 1 && i < 2 ? picture.palette[i] : RgbQuad{0, 0, 0, 0};
    file.u8(e.rgbRed);
    file.u8(e.rgbGreen);
    file.u8(e.rgbBlue);
  }
  file.u8(0);
  file.u8(planes);
  file.le16(bytesPerLine);
  file.le16(picture.bits == 8 ? 2 : 1);
  file.le16(0);
  file.le16(0);
  while (file.size() < kHeaderBytes) file.u8(0);

  std::vector<uint8_t> line(static_cast<std::size_t>(bytesPerLine) * planes);
  for (int y = 0; y < picture.height; ++y) {
    std::fill(line.begin(), line.end(), 0);
    const uint8_t* row = picture.row(y);
    if (picture.bits == 24) {
      for (int x = 0; x < picture.width; ++x) {
        line[x] = row[3 * x + 2];
        line[bytesPerLine + x] = row[3 * x + 1];
        line[2 * bytesPerLine + x] = row[3 * x];
      }
    } else {
      std::copy(row, row + (picture.width * bitsPerPixel + 7) / 8, line.begin());
    }
    // Each plane line is encoded on its own so that no run crosses it.
    for (int p = 0; p < planes; ++p)
      encodeRun(file, line.data() + static_cast<std::size_t>(p) * bytesPerLine, bytesPerLine);
  }
  if (picture.bits == 8) {
    file.u8(12);
    for (const RgbQuad& e : picture.palette) {
      file.u8(e.rgbRed);
      file.u8(e.rgbGreen);
      file.u8(e.rgbBlue);
    }
  }
  out = std::move(file.bytes());
  return kOk;
}

}  // namespace vic
