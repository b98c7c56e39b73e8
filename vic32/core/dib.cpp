#include "dib.h"

#include <algorithm>

#include "bytes.h"

namespace vic {

namespace {

bool validDepth(int bits) { return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32; }

int lowestSetBit(uint32_t mask) {
  int shift = 0;
  while (shift < 32 && !(mask >> shift & 1)) ++shift;
  return shift;
}

// Scales the field `mask` selects in `value` to 0..255.
uint8_t maskedChannel(uint32_t value, uint32_t mask) {
  if (!mask) return 0;
  int shift = lowestSetBit(mask);
  uint32_t field = (value & mask) >> shift;
  uint32_t maximum = mask >> shift;
  return static_cast<uint8_t>((field * 255 + maximum / 2) / maximum);
}

void readPalette(const uint8_t* dib, const DibLayout& layout, Picture& picture) {
  int count = std::min<int>(layout.colors, static_cast<int>(picture.palette.size()));
  for (int i = 0; i < count; ++i) {
    const uint8_t* entry = dib + layout.paletteOffset + static_cast<std::size_t>(i) * layout.paletteEntryBytes;
    picture.palette[i] = RgbQuad{entry[0], entry[1], entry[2], 0};
  }
}

int decodeUncompressed(const uint8_t* pixels, const DibLayout& layout, Picture& picture) {
  int stride = layout.stride();
  for (int y = 0; y < layout.height; ++y) {
    const uint8_t* in = pixels + static_cast<std::size_t>(y) * stride;
    uint8_t* out = picture.row(layout.topDown ? y : layout.height - 1 - y);
    switch (layout.bits) {
      case 1:
      case 8:
        std::copy(in, in + picture.stride, out);
        break;
      case 4:
        for (int x = 0; x < layout.width; ++x) out[x] = (x & 1) ? (in[x / 2] & 0x0F) : (in[x / 2] >> 4);
        break;
      case 24:
        std::copy(in, in + static_cast<std::size_t>(layout.width) * 3, out);
        break;
      case 16:
      case 32:
        for (int x = 0; x < layout.width; ++x) {
          uint32_t value = layout.bits == 16
                               ? static_cast<uint32_t>(in[2 * x] | in[2 * x + 1] << 8)
                               : static_cast<uint32_t>(in[4 * x] | in[4 * x + 1] << 8 | in[4 * x + 2] << 16 |
                                                       uint32_t(in[4 * x + 3]) << 24);
          out[3 * x] = maskedChannel(value, layout.masks[2]);
          out[3 * x + 1] = maskedChannel(value, layout.masks[1]);
          out[3 * x + 2] = maskedChannel(value, layout.masks[0]);
        }
        break;
    }
  }
  return kOk;
}

// RLE8 and RLE4: runs and absolute blocks, bottom-up, with end-of-line, end-of-bitmap and delta
// escapes. Pixels that fall outside the bitmap are dropped; running out of data is an error.
int decodeRunLength(ByteReader& in, const DibLayout& layout, Picture& picture, int bad) {
  bool nibbles = layout.compression == kDibRle4;
  int x = 0, y = 0;
  auto put = [&](uint8_t index) {
    if (x < layout.width && y < layout.height) picture.row(layout.height - 1 - y)[x] = index;
    ++x;
  };
  while (!in.failed()) {
    uint8_t count = in.u8(), value = in.u8();
    if (in.failed()) break;
    if (count) {
      for (int i = 0; i < count; ++i) put(nibbles ? ((i & 1) ? value & 0x0F : value >> 4) : value);
      continue;
    }
    if (value == 0) {  // end of line
      x = 0;
      ++y;
    } else if (value == 1) {  // end of bitmap
      return kOk;
    } else if (value == 2) {  // delta
      x += in.u8();
      y += in.u8();
    } else {  // absolute block of `value` pixels, padded to a 16-bit boundary
      int bytes = nibbles ? (value + 1) / 2 : value;
      std::size_t start = in.position();
      for (int i = 0; i < value; ++i) {
        uint8_t byte = in.data()[std::min(start + (nibbles ? i / 2 : i), in.size() - 1)];
        put(nibbles ? ((i & 1) ? byte & 0x0F : byte >> 4) : byte);
      }
      in.skip(static_cast<std::size_t>((bytes + 1) & ~1));
    }
    if (y > layout.height) return kOk;  // everything further would fall outside
  }
  return bad;
}

}  // namespace

int parseDibHeader(const uint8_t* dib, std::size_t size, DibLayout& layout, int bad) {
  ByteReader in(dib, size);
  layout = DibLayout{};
  layout.headerSize = in.le32();
  if (in.failed()) return bad;
  int planes;
  uint32_t used = 0;              // biClrUsed
  if (layout.headerSize == 12) {  // OS/2 core header: 16-bit sizes, three-byte palette entries
    layout.width = in.le16();
    layout.height = in.le16();
    planes = in.le16();
    layout.bits = in.le16();
    layout.paletteEntryBytes = 3;
  } else if (layout.headerSize >= 40 && layout.headerSize <= 124) {
    int32_t width = static_cast<int32_t>(in.le32());
    int32_t height = static_cast<int32_t>(in.le32());
    planes = in.le16();
    layout.bits = in.le16();
    layout.compression = in.le32();
    layout.sizeImage = in.le32();
    in.skip(8);  // resolution
    used = in.le32();
    in.skip(4);
    if (width <= 0 || height == 0 || height == INT32_MIN) return bad;
    layout.width = width;
    layout.topDown = height < 0;
    layout.height = height < 0 ? -height : height;
    if (layout.bits <= 8) {
      if (used > (1u << layout.bits)) return bad;
      layout.colors = used ? static_cast<int>(used) : 1 << layout.bits;
    }
    if (layout.compression == kDibBitfields) {
      if (layout.bits != 16 && layout.bits != 32) return bad;
      // The masks follow a 40-byte header and are part of the longer ones.
      for (uint32_t& mask : layout.masks) mask = in.le32();
      if (layout.headerSize > 40) in.seek(layout.headerSize);
    } else if (layout.bits == 16) {
      layout.masks[0] = 0x7C00, layout.masks[1] = 0x03E0, layout.masks[2] = 0x001F;
    } else if (layout.bits == 32) {
      layout.masks[0] = 0xFF0000, layout.masks[1] = 0x00FF00, layout.masks[2] = 0x0000FF;
    }
  } else {
    return bad;
  }
  if (layout.headerSize == 12) {
    if (layout.width <= 0 || layout.height <= 0) return bad;
    if (layout.bits <= 8) layout.colors = 1 << layout.bits;
  }
  if (in.failed() || planes != 1 || !validDepth(layout.bits)) return bad;
  switch (layout.compression) {
    case kDibRgb:
      break;
    case kDibRle8:
      if (layout.bits != 8 || layout.topDown) return bad;
      break;
    case kDibRle4:
      if (layout.bits != 4 || layout.topDown) return bad;
      break;
    case kDibBitfields:
      break;
    default:
      return kBadCompression;
  }
  layout.paletteOffset = layout.compression == kDibBitfields && layout.headerSize == 40 ? 52 : layout.headerSize;
  // Above 8 bits a non-zero biClrUsed announces a colour table for palette screens; in a packed
  // bitmap it lies between the header (and masks) and the rows.
  uint64_t tableEntries = layout.bits <= 8 ? static_cast<uint64_t>(layout.colors) : used;
  uint64_t pixelOffset = layout.paletteOffset + tableEntries * layout.paletteEntryBytes;
  if (layout.width > kMaxDimension || layout.height > kMaxDimension ||
      static_cast<int64_t>(layout.width) * layout.height > kMaxPixels) {
    return kNoMemory;
  }
  if (pixelOffset > size) return bad;
  layout.pixelOffset = static_cast<std::size_t>(pixelOffset);
  return kOk;
}

int decodeDibPixels(const uint8_t* dib, std::size_t size, const DibLayout& layout, std::size_t pixelOffset,
                    Picture& picture, int bad) {
  // Every read stays inside `size`: a header that claims more palette entries or rows than the
  // memory holds is refused before anything is allocated for it.
  if (layout.paletteOffset + static_cast<std::size_t>(layout.colors) * layout.paletteEntryBytes > size) return bad;
  if (pixelOffset > size) return bad;
  bool runLength = layout.compression == kDibRle8 || layout.compression == kDibRle4;
  if (!runLength && static_cast<std::size_t>(layout.stride()) * layout.height > size - pixelOffset) return bad;
  int result = picture.allocate(layout.width, layout.height, layout.imageBits());
  if (result != kOk) return result;
  readPalette(dib, layout, picture);
  if (runLength) {
    ByteReader in(dib + pixelOffset, size - pixelOffset);
    return decodeRunLength(in, layout, picture, bad);
  }
  decodeUncompressed(dib + pixelOffset, layout, picture);
  clearRowPadding(picture);
  return kOk;
}

}  // namespace vic
