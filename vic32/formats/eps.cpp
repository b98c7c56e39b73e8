// Encapsulated PostScript (EPSF 3.0): the picture as one `image` (grey, 1 or 8 bits) or
// `colorimage` (colour) of hexadecimal samples, one point per pixel, bounding box the picture.
#include <cstdio>
#include <string>

#include "../core/bytes.h"
#include "formats.h"

namespace vic {

namespace {

class HexLines {
 public:
  explicit HexLines(ByteWriter& out) : out_(out) {}
  void byte(uint8_t value) {
    static const char kDigits[] = "0123456789ABCDEF";
    out_.u8(kDigits[value >> 4]);
    out_.u8(kDigits[value & 15]);
    if (++onLine_ == 36) newline();
  }
  void newline() {
    if (onLine_) out_.u8('\n');
    onLine_ = 0;
  }

 private:
  ByteWriter& out_;
  int onLine_ = 0;
};

}  // namespace

int encodeEps(const Picture& picture, std::vector<uint8_t>& out) {
  bool colour = picture.bits == 24 || (picture.bits == 8 && !isGreyPalette(picture.palette.data(), 256));
  int sampleBits = picture.bits == 1 ? 1 : 8;
  ByteWriter file;
  char line[256];
  auto print = [&](const char* text) { file.text(text); };
  print("%!PS-Adobe-3.0 EPSF-3.0\n");
  std::snprintf(line, sizeof line, "%%%%BoundingBox: 0 0 %d %d\n", picture.width, picture.height);
  print(line);
  std::snprintf(line, sizeof line, "%%%%HiResBoundingBox: 0 0 %d %d\n", picture.width, picture.height);
  print(line);
  print("%%Creator: vic32\n%%Title: image\n%%Pages: 1\n%%LanguageLevel: 1\n%%EndComments\n");
  print("%%BeginProlog\n%%EndProlog\n%%Page: 1 1\n");
  print("gsave\n");
  int rowBytes = colour ? picture.width * 3 : (picture.width * sampleBits + 7) / 8;
  std::snprintf(line, sizeof line, "/rowdata %d string def\n", rowBytes);
  print(line);
  std::snprintf(line, sizeof line, "%d %d scale\n", picture.width, picture.height);
  print(line);
  std::snprintf(line, sizeof line, "%d %d %d [%d 0 0 -%d 0 %d]\n", picture.width, picture.height, sampleBits,
                picture.width, picture.height, picture.height);
  print(line);
  print(colour ? "{currentfile rowdata readhexstring pop} false 3 colorimage\n"
               : "{currentfile rowdata readhexstring pop} image\n");

  HexLines hex(file);
  // PostScript's 1-bit samples are 0 black, 1 white: flip when the palette says otherwise.
  bool invert = picture.zeroIsBrighter();
  for (int y = 0; y < picture.height; ++y) {
    const uint8_t* row = picture.row(y);
    for (int x = 0; x < (colour ? picture.width : rowBytes); ++x) {
      if (picture.bits == 1) {
        hex.byte(invert ? static_cast<uint8_t>(~row[x]) : row[x]);
      } else if (picture.bits == 24) {
        hex.byte(row[3 * x + 2]);
        hex.byte(row[3 * x + 1]);
        hex.byte(row[3 * x]);
      } else {
        const RgbQuad& e = picture.palette[row[x]];
        if (colour) {
          hex.byte(e.rgbRed);
          hex.byte(e.rgbGreen);
          hex.byte(e.rgbBlue);
        } else {
          hex.byte(e.rgbRed);
        }
      }
    }
    hex.newline();
  }
  print("grestore\nshowpage\n%%Trailer\n%%EOF\n");
  out = std::move(file.bytes());
  return kOk;
}

}  // namespace vic
