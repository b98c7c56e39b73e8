// Device-independent bitmaps as they come from BMP files and from the clipboard: the header
// variants (OS/2 core, Windows 3 and its V4/V5 extensions), palettes, bit fields and RLE.
#pragma once
#include <cstddef>
#include <cstdint>

#include "image.h"

namespace vic {

enum DibCompression : uint32_t { kDibRgb = 0, kDibRle8 = 1, kDibRle4 = 2, kDibBitfields = 3 };

struct DibLayout {
  uint32_t headerSize = 0;
  int width = 0;
  int height = 0;  // always positive
  bool topDown = false;
  int bits = 0;  // 1, 4, 8, 16, 24 or 32
  uint32_t compression = kDibRgb;
  int colors = 0;  // palette entries present
  int paletteEntryBytes = 4;
  uint32_t masks[3] = {0, 0, 0};  // red, green, blue, for 16 and 32 bits
  uint32_t sizeImage = 0;
  std::size_t paletteOffset = 0;
  std::size_t pixelOffset = 0;  // just after the palette (or the colour table of a deeper bitmap)

  int stride() const { return dibStride(width, bits); }
  // The depth of image this bitmap becomes: 1, 8 (from 4 and 8) or 24 (from 16, 24, 32).
  int imageBits() const { return bits == 1 ? 1 : bits <= 8 ? 8 : 24; }
};

// Reads and checks the header at the start of `dib`; `bad` is the code for a malformed header.
int parseDibHeader(const uint8_t* dib, std::size_t size, DibLayout& layout, int bad);
// Decodes the pixels found at `pixelOffset` (bytes from the start of `dib`) into `picture`.
int decodeDibPixels(const uint8_t* dib, std::size_t size, const DibLayout& layout, std::size_t pixelOffset,
                    Picture& picture, int bad);

}  // namespace vic
