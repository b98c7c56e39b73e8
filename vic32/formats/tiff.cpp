// TIFF 6.0 baseline and the extensions scanners and cameras write: either byte order, strips,
// chunky or planar samples; bilevel, 4- and 8-bit grey or palette, 8-bit RGB; no compression,
// LZW (with horizontal prediction), PackBits, and CCITT Modified Huffman, Group 3 and Group 4.
// Written little-endian, chunky, in strips of about 8 KB (CCITT: one strip); Group 3 is written as
// Modified Huffman (see tiff_options.h).
#include <algorithm>
#include <cstring>

#include "../core/bytes.h"
#include "ccitt.h"
#include "formats.h"
#include "lzw.h"
#include "tiff_options.h"

namespace vic {

namespace {

enum Tag : uint16_t {
  kImageWidth = 256,
  kImageLength = 257,
  kBitsPerSample = 258,
  kCompression = 259,
  kPhotometric = 262,
  kFillOrder = 266,
  kStripOffsets = 273,
  kSamplesPerPixel = 277,
  kRowsPerStrip = 278,
  kStripByteCounts = 279,
  kXResolution = 282,
  kYResolution = 283,
  kPlanarConfig = 284,
  kT4Options = 292,
  kT6Options = 293,
  kResolutionUnit = 296,
  kPredictor = 317,
  kColorMap = 320,
  kTileWidth = 322,
};
enum Photometric { kWhiteIsZero = 0, kBlackIsZero = 1, kRgb = 2, kPalette = 3 };
enum FieldType { kByte = 1, kAscii = 2, kShort = 3, kLong = 4, kRational = 5 };

class TiffReader {
 public:
  TiffReader(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool bigEndian = false;
  uint32_t u16(std::size_t at) const {
    if (at + 2 > size_) return 0;
    return bigEndian ? (data_[at] << 8 | data_[at + 1]) : (data_[at] | data_[at + 1] << 8);
  }
  uint32_t u32(std::size_t at) const {
    if (at + 4 > size_) return 0;
    return bigEndian ? (u16(at) << 16 | u16(at + 2)) : (u16(at) | u16(at + 2) << 16);
  }
  const uint8_t* data_;
  std::size_t size_;
};

struct Field {
  uint16_t type = 0;
  uint32_t count = 0;
  std::size_t valueAt = 0;  // file offset of the first value
};

int typeBytes(int type) {
  switch (type) {
    case kByte:
    case kAscii:
    case 6:
    case 7:
      return 1;
    case kShort:
    case 8:
      return 2;
    case kLong:
    case 9:
    case 11:
      return 4;
    case kRational:
    case 10:
    case 12:
      return 8;
    default:
      return 0;
  }
}

struct TiffImage {
  uint32_t width = 0, height = 0;
  int bitsPerSample = 1, samplesPerPixel = 1, compression = kTiffNone, photometric = -1, fillOrder = 1;
  int planar = 1, predictor = 1;
  uint32_t rowsPerStrip = 0xFFFFFFFF, t4Options = 0;
  std::vector<uint32_t> stripOffsets, stripByteCounts;
  Field colorMap;
  bool tiled = false;
};

class IfdParser {
 public:
  explicit IfdParser(TiffReader& file) : file_(file) {}

  int parse(TiffImage& image) {
    if (file_.size_ < 8) return kBadTif;
    uint8_t a = file_.data_[0], b = file_.data_[1];
    if (a == 'I' && b == 'I') {
      file_.bigEndian = false;
    } else if (a == 'M' && b == 'M') {
      file_.bigEndian = true;
    } else {
      return kBadTif;
    }
    if (file_.u16(2) != 42) return kBadTif;
    std::size_t ifd = file_.u32(4);
    if (ifd < 8 || ifd + 2 > file_.size_) return kBadTif;
    uint32_t entries = file_.u16(ifd);
    if (ifd + 2 + entries * 12ull > file_.size_) return kBadTif;
    for (uint32_t i = 0; i < entries; ++i) {
      std::size_t at = ifd + 2 + i * 12;
      Field field;
      uint16_t tag = static_cast<uint16_t>(file_.u16(at));
      field.type = static_cast<uint16_t>(file_.u16(at + 2));
      field.count = file_.u32(at + 4);
      int bytes = typeBytes(field.type);
      if (!bytes) continue;  // unknown types are skipped, as the standard asks
      uint64_t total = static_cast<uint64_t>(bytes) * field.count;
      field.valueAt = total <= 4 ? at + 8 : file_.u32(at + 8);
      if (field.valueAt + total > file_.size_) return kBadTif;
      if (!store(tag, field, image)) return kBadTif;
    }
    return kOk;
  }

 private:
  uint32_t value(const Field& field, uint32_t index) const {
    std::size_t at = field.valueAt + static_cast<std::size_t>(index) * typeBytes(field.type);
    switch (field.type) {
      case kByte:
        return file_.data_[at];
      case kShort:
        return file_.u16(at);
      case kLong:
        return file_.u32(at);
      default:
        return 0;
    }
  }
  uint32_t first(const Field& field) const { return field.count ? value(field, 0) : 0; }

  bool store(uint16_t tag, const Field& field, TiffImage& image) {
    switch (tag) {
      case kImageWidth:
        image.width = first(field);
        break;
      case kImageLength:
        image.height = first(field);
        break;
      case kBitsPerSample:
        image.bitsPerSample = static_cast<int>(first(field));
        for (uint32_t i = 1; i < field.count; ++i) {
          if (value(field, i) != value(field, 0)) image.bitsPerSample = -1;  // mixed depths
        }
        break;
      case kCompression:
        image.compression = static_cast<int>(first(field));
        break;
      case kPhotometric:
        image.photometric = static_cast<int>(first(field));
        break;
      case kFillOrder:
        image.fillOrder = static_cast<int>(first(field));
        break;
      case kSamplesPerPixel:
        image.samplesPerPixel = static_cast<int>(first(field));
        break;
      case kRowsPerStrip:
        image.rowsPerStrip = first(field);
        break;
      case kPlanarConfig:
        image.planar = static_cast<int>(first(field));
        break;
      case kT4Options:
        image.t4Options = first(field);
        break;
      case kPredictor:
        image.predictor = static_cast<int>(first(field));
        break;
      case kColorMap:
        image.colorMap = field;
        break;
      case kTileWidth:
        image.tiled = true;
        break;
      case kStripOffsets:
      case kStripByteCounts: {
        if (field.count > 1000000) return false;
        auto& list = tag == kStripOffsets ? image.stripOffsets : image.stripByteCounts;
        list.resize(field.count);
        for (uint32_t i = 0; i < field.count; ++i) list[i] = value(field, i);
        break;
      }
      default:
        break;
    }
    return true;
  }

  TiffReader& file_;
};

// Which pictures this reader makes, from the tags: kOk, or the code for what is missing.
int checkImage(const TiffImage& image) {
  if (image.width == 0 || image.height == 0 || image.tiled || image.stripOffsets.empty()) return kBadTif;
  if (image.planar != 1 && image.planar != 2) return kBadTif;
  switch (image.compression) {
    case kTiffNone:
    case kTiffLzw:
    case kTiffPackBits:
      break;
    case kTiffModifiedHuffman:
    case kTiffGroup3:
    case kTiffGroup4:
      if (image.bitsPerSample != 1 || image.samplesPerPixel != 1) return kBadTif;
      break;
    default:
      return kBadCompression;
  }
  if (image.bitsPerSample != 1 && image.bitsPerSample != 4 && image.bitsPerSample != 8) return kBadTifBits;
  int photometric = image.photometric;
  if (photometric == kRgb) {
    if (image.bitsPerSample != 8 || image.samplesPerPixel < 3) return kBadTifBits;
  } else if (photometric == kPalette) {
    if (image.samplesPerPixel != 1 || image.bitsPerSample == 1) return kBadTif;
    if (image.colorMap.count < 3u << image.bitsPerSample || image.colorMap.type != kShort) return kBadTif;
  } else if (photometric == kWhiteIsZero || photometric == kBlackIsZero || photometric == -1) {
    if (image.samplesPerPixel < 1 || image.samplesPerPixel > 2) return kBadTifBits;  // grey, perhaps with alpha
  } else {
    return kBadTif;
  }
  if (image.samplesPerPixel > 8) return kBadTif;
  if (image.width > static_cast<uint32_t>(kMaxDimension) || image.height > static_cast<uint32_t>(kMaxDimension)) {
    return kNoMemory;
  }
  return kOk;
}

// How the samples are read: a file without a Photometric tag is taken as BlackIsZero.
int photometricOf(const TiffImage& image) { return image.photometric < 0 ? kBlackIsZero : image.photometric; }

int imageBitsOf(const TiffImage& image) {
  if (image.photometric == kRgb) return 24;
  return image.bitsPerSample == 1 && image.samplesPerPixel == 1 ? 1 : 8;
}

bool decodePackBits(const uint8_t* in, std::size_t size, std::vector<uint8_t>& out, std::size_t expected) {
  std::size_t at = 0;
  while (out.size() < expected && at < size) {
    int n = static_cast<int8_t>(in[at++]);
    if (n >= 0) {
      std::size_t count = static_cast<std::size_t>(n) + 1;
      if (at + count > size) return false;
      out.insert(out.end(), in + at, in + at + count);
      at += count;
    } else if (n != -128) {
      if (at >= size) return false;
      out.insert(out.end(), static_cast<std::size_t>(1 - n), in[at++]);
    }
  }
  return out.size() >= expected;
}

// TIFF LZW codes: most significant bit first.
class MsbFirstBits {
 public:
  MsbFirstBits(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  // -1 when the data ends.
  int read(int bits) {
    if (position_ + bits > size_ * 8) return -1;
    int code = 0;
    for (int i = 0; i < bits; ++i, ++position_) code = code << 1 | bitAt(data_, position_);
    return code;
  }

 private:
  const uint8_t* data_;
  std::size_t size_;
  std::size_t position_ = 0;
};

uint8_t reverseBits(uint8_t b) {
  b = static_cast<uint8_t>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
  b = static_cast<uint8_t>((b & 0xCC) >> 2 | (b & 0x33) << 2);
  return static_cast<uint8_t>((b & 0xAA) >> 1 | (b & 0x55) << 1);
}

// One strip's samples, decompressed: `rows` rows of `rowBytes`.
int decodeStrip(const TiffImage& image, const uint8_t* data, std::size_t size, uint32_t rows, std::size_t rowBytes,
                std::vector<uint8_t>& out) {
  std::size_t expected = rowBytes * rows;
  std::vector<uint8_t> reversed;
  if (image.fillOrder == 2) {
    reversed.assign(data, data + size);
    for (uint8_t& b : reversed) b = reverseBits(b);
    data = reversed.data();
  }
  out.clear();
  bool ok = true;
  switch (image.compression) {
    case kTiffNone:
      if (size < expected) return kBadTif;
      out.assign(data, data + expected);
      break;
    case kTiffPackBits:
      ok = decodePackBits(data, size, out, expected);
      break;
    case kTiffLzw: {
      MsbFirstBits bits(data, size);
      ok = decodeLzw(bits, 8, true, out, expected);
      break;
    }
    case kTiffModifiedHuffman:
      ok = decodeFax(data, size, FaxCoding::kModifiedHuffman, false, image.width, rows, out);
      break;
    case kTiffGroup3:
      if (image.t4Options & 2) return kBadCompression;  // uncompressed mode
      ok = decodeFax(data, size, FaxCoding::kGroup3, image.t4Options & 1, image.width, rows, out);
      break;
    case kTiffGroup4:
      ok = decodeFax(data, size, FaxCoding::kGroup4, false, image.width, rows, out);
      break;
  }
  if (!ok || out.size() < expected) return kBadTif;
  if (image.predictor == 2 && image.bitsPerSample == 8) {
    int step = image.planar == 1 ? image.samplesPerPixel : 1;
    for (uint32_t r = 0; r < rows; ++r) {
      uint8_t* row = out.data() + r * rowBytes;
      for (std::size_t i = step; i < rowBytes; ++i) row[i] = static_cast<uint8_t>(row[i] + row[i - step]);
    }
  }
  return kOk;
}

uint8_t sampleAt(const uint8_t* row, uint32_t index, int bits) {
  switch (bits) {
    case 8:
      return row[index];
    case 4:
      return static_cast<uint8_t>(index & 1 ? row[index / 2] & 0x0F : row[index / 2] >> 4);
    default:
      return static_cast<uint8_t>(bitAt(row, index));
  }
}

// Puts one decoded strip (of one plane when planar) into the picture.
void placeStrip(const TiffImage& image, const std::vector<uint8_t>& strip, std::size_t rowBytes, uint32_t firstRow,
                uint32_t rows, int plane, Picture& picture) {
  int spp = image.planar == 1 ? image.samplesPerPixel : 1;
  for (uint32_t r = 0; r < rows; ++r) {
    const uint8_t* in = strip.data() + r * rowBytes;
    uint8_t* out = picture.row(static_cast<int>(firstRow + r));
    if (picture.bits == 1) {
      std::memcpy(out, in, (image.width + 7) / 8);
      continue;
    }
    for (uint32_t x = 0; x < image.width; ++x) {
      if (picture.bits == 24) {
        if (image.planar == 1) {
          out[3 * x + 2] = in[x * spp];
          out[3 * x + 1] = in[x * spp + 1];
          out[3 * x] = in[x * spp + 2];
        } else if (plane < 3) {
          out[3 * x + 2 - plane] = in[x];
        }
      } else if (plane == 0) {
        out[x] = sampleAt(in, x * spp, image.bitsPerSample);
      }
    }
  }
}

void setPalette(const TiffReader& file, const TiffImage& image, Picture& picture) {
  int photometric = photometricOf(image);
  int levels = 1 << image.bitsPerSample;
  if (photometric == kPalette) {
    std::size_t at = image.colorMap.valueAt;
    for (int i = 0; i < levels && i < 256; ++i) {
      // As libtiff reads 16-bit maps: the high byte.
      auto channel = [&](int c) { return static_cast<uint8_t>(file.u16(at + 2 * (c * levels + i)) >> 8); };
      picture.palette[i] = RgbQuad{channel(2), channel(1), channel(0), 0};
    }
    return;
  }
  int count = static_cast<int>(picture.palette.size());
  for (int i = 0; i < count; ++i) {
    int level = i < levels ? i * 255 / (levels - 1) : 255;
    uint8_t grey = static_cast<uint8_t>(photometric == kWhiteIsZero ? 255 - level : level);
    picture.palette[i] = RgbQuad{grey, grey, grey, 0};
  }
}

// --- writing ---

struct OutField {
  uint16_t tag, type;
  std::vector<uint32_t> values;
};

void writeIfd(ByteWriter& file, std::vector<OutField> fields) {
  std::sort(fields.begin(), fields.end(), [](const OutField& a, const OutField& b) { return a.tag < b.tag; });
  if (file.size() & 1) file.u8(0);
  std::size_t ifdAt = file.size();
  file.patchLe32(4, static_cast<uint32_t>(ifdAt));
  std::size_t extraAt = ifdAt + 2 + fields.size() * 12 + 4;
  ByteWriter extra;
  file.le16(static_cast<unsigned>(fields.size()));
  for (const OutField& f : fields) {
    int bytes = typeBytes(f.type);
    uint32_t count = static_cast<uint32_t>(f.type == kRational ? f.values.size() / 2 : f.values.size());
    file.le16(f.tag);
    file.le16(f.type);
    file.le32(count);
    ByteWriter packed;
    for (uint32_t v : f.values) {
      if (f.type == kShort)
        packed.le16(v);
      else
        packed.le32(v);
    }
    if (static_cast<std::size_t>(bytes) * count <= 4) {
      while (packed.size() < 4) packed.u8(0);
      file.append(packed.bytes().data(), 4);
    } else {
      file.le32(static_cast<uint32_t>(extraAt + extra.size()));
      extra.append(packed.bytes().data(), packed.size());
      if (extra.size() & 1) extra.u8(0);
    }
  }
  file.le32(0);
  file.append(extra.bytes().data(), extra.size());
}

std::vector<uint8_t> encodePackBits(const uint8_t* row, std::size_t count) {
  ByteWriter out;
  std::size_t x = 0;
  while (x < count) {
    std::size_t run = 1;
    while (x + run < count && run < 128 && row[x + run] == row[x]) ++run;
    if (run >= 2) {
      out.u8(static_cast<unsigned>(257 - run) & 0xFF);
      out.u8(row[x]);
      x += run;
      continue;
    }
    std::size_t literal = 1;
    while (x + literal < count && literal < 128 &&
           !(x + literal + 1 < count && row[x + literal] == row[x + literal + 1])) {
      ++literal;
    }
    out.u8(static_cast<unsigned>(literal - 1));
    out.append(row + x, literal);
    x += literal;
  }
  return std::move(out.bytes());
}

// TIFF's LZW codes: most significant bit first, the last byte padded with zero bits.
class MsbFirstPacker {
 public:
  explicit MsbFirstPacker(ByteWriter& out) : out_(out) {}
  void put(int code, int bits) {
    buffer_ = buffer_ << bits | static_cast<uint32_t>(code);
    count_ += bits;
    while (count_ >= 8) {
      out_.u8(static_cast<uint8_t>(buffer_ >> (count_ - 8)));
      count_ -= 8;
    }
    buffer_ &= (1u << count_) - 1;
  }
  void finish() {
    if (count_) out_.u8(static_cast<uint8_t>(buffer_ << (8 - count_)));
  }

 private:
  ByteWriter& out_;
  uint32_t buffer_ = 0;
  int count_ = 0;
};

}  // namespace

int tiffInfo(const uint8_t* data, std::size_t size, FileInfo& info) {
  TiffReader file(data, size);
  TiffImage image;
  int result = IfdParser(file).parse(image);
  if (result != kOk) return result;
  result = checkImage(image);
  if (result != kOk) return result;
  info = FileInfo{static_cast<int32_t>(image.width),
                  static_cast<int32_t>(image.height),
                  imageBitsOf(image),
                  image.bitsPerSample * image.samplesPerPixel,
                  image.compression,
                  photometricOf(image),
                  image.photometric == kRgb ? 0 : 1 << image.bitsPerSample};
  return kOk;
}

int decodeTiff(const uint8_t* data, std::size_t size, Picture& picture) {
  TiffReader file(data, size);
  TiffImage image;
  int result = IfdParser(file).parse(image);
  if (result == kOk) result = checkImage(image);
  if (result != kOk) return result;
  result = picture.allocate(static_cast<int>(image.width), static_cast<int>(image.height), imageBitsOf(image));
  if (result != kOk) return result;
  setPalette(file, image, picture);

  int planes = image.planar == 2 ? image.samplesPerPixel : 1;
  int samplesPerRow = image.planar == 2 ? 1 : image.samplesPerPixel;
  std::size_t rowBytes = (static_cast<std::size_t>(image.width) * image.bitsPerSample * samplesPerRow + 7) / 8;
  uint32_t rowsPerStrip = std::min(image.rowsPerStrip ? image.rowsPerStrip : image.height, image.height);
  uint32_t stripsPerPlane = (image.height + rowsPerStrip - 1) / rowsPerStrip;
  if (image.stripOffsets.size() < static_cast<std::size_t>(stripsPerPlane) * planes) return kBadTif;
  std::vector<uint8_t> strip;
  for (int plane = 0; plane < planes; ++plane) {
    for (uint32_t s = 0; s < stripsPerPlane; ++s) {
      std::size_t index = static_cast<std::size_t>(plane) * stripsPerPlane + s;
      uint32_t firstRow = s * rowsPerStrip;
      uint32_t rows = std::min(rowsPerStrip, image.height - firstRow);
      std::size_t offset = image.stripOffsets[index];
      std::size_t count;
      if (index < image.stripByteCounts.size()) {
        count = image.stripByteCounts[index];
      } else if (image.compression == kTiffNone) {
        count = rowBytes * rows;  // old writers leave the counts out of uncompressed files
      } else {
        return kBadTif;
      }
      if (offset > size || count > size - offset) return kBadTif;
      result = decodeStrip(image, data + offset, count, rows, rowBytes, strip);
      if (result != kOk) return result;
      placeStrip(image, strip, rowBytes, firstRow, rows, plane, picture);
    }
  }
  clearRowPadding(picture);
  return kOk;
}

int encodeTiff(const Picture& picture, int option, std::vector<uint8_t>& out) {
  if (option < 0 || option > 4) return kBadRange;
  if (option >= 3 && picture.bits != 1) return kBadBits;
  int compression = kTiffCompressionOfOption[option];
  int spp = picture.bits == 24 ? 3 : 1;
  int bps = picture.bits == 1 ? 1 : 8;
  std::size_t rowBytes = (static_cast<std::size_t>(picture.width) * picture.bits + 7) / 8;

  // Rows as the file stores them: red, green, blue order for colour.
  std::vector<uint8_t> rows(rowBytes * picture.height);
  for (int y = 0; y < picture.height; ++y) {
    uint8_t* to = rows.data() + rowBytes * y;
    const uint8_t* from = picture.row(y);
    if (picture.bits == 24) {
      for (int x = 0; x < picture.width; ++x) {
        to[3 * x] = from[3 * x + 2];
        to[3 * x + 1] = from[3 * x + 1];
        to[3 * x + 2] = from[3 * x];
      }
    } else {
      std::memcpy(to, from, rowBytes);
    }
  }

  int photometric;
  if (picture.bits == 24) {
    photometric = kRgb;
  } else if (picture.bits == 1) {
    photometric = picture.zeroIsBrighter() ? kWhiteIsZero : kBlackIsZero;
  } else {
    photometric = isIdentityGreyRamp(picture.palette.data(), 256) ? kBlackIsZero : kPalette;
  }

  ByteWriter file;
  file.u8('I');
  file.u8('I');
  file.le16(42);
  file.le32(0);  // the IFD offset, patched once known
  uint32_t rowsPerStrip =
      option >= 3 ? static_cast<uint32_t>(picture.height)
                  : static_cast<uint32_t>(std::max<std::size_t>(1, 8192 / std::max<std::size_t>(rowBytes, 1)));
  rowsPerStrip = std::min<uint32_t>(rowsPerStrip, static_cast<uint32_t>(picture.height));
  std::vector<uint32_t> offsets, counts;
  for (uint32_t first = 0; first < static_cast<uint32_t>(picture.height); first += rowsPerStrip) {
    uint32_t count = std::min<uint32_t>(rowsPerStrip, static_cast<uint32_t>(picture.height) - first);
    const uint8_t* strip = rows.data() + rowBytes * first;
    offsets.push_back(static_cast<uint32_t>(file.size()));
    std::size_t before = file.size();
    switch (compression) {
      case kTiffNone:
        file.append(strip, rowBytes * count);
        break;
      case kTiffPackBits:
        for (uint32_t r = 0; r < count; ++r) {  // PackBits never runs across rows
          std::vector<uint8_t> packed = encodePackBits(strip + rowBytes * r, rowBytes);
          file.append(packed.data(), packed.size());
        }
        break;
      case kTiffLzw: {
        MsbFirstPacker packer(file);
        LzwEncoder<MsbFirstPacker> lzw(packer, 8, 4093, true);
        for (std::size_t i = 0; i < rowBytes * count; ++i) lzw.add(strip[i]);
        lzw.finish();
        packer.finish();
        break;
      }
      default: {
        std::vector<uint8_t> fax =
            encodeFax(strip, picture.width, static_cast<int>(count),
                      compression == kTiffGroup4 ? FaxCoding::kGroup4 : FaxCoding::kModifiedHuffman);
        file.append(fax.data(), fax.size());
        break;
      }
    }
    counts.push_back(static_cast<uint32_t>(file.size() - before));
  }

  std::vector<OutField> fields = {
      {kImageWidth, kLong, {static_cast<uint32_t>(picture.width)}},
      {kImageLength, kLong, {static_cast<uint32_t>(picture.height)}},
      {kBitsPerSample, kShort, std::vector<uint32_t>(spp, static_cast<uint32_t>(bps))},
      {kCompression, kShort, {static_cast<uint32_t>(compression)}},
      {kPhotometric, kShort, {static_cast<uint32_t>(photometric)}},
      {kStripOffsets, kLong, offsets},
      {kSamplesPerPixel, kShort, {static_cast<uint32_t>(spp)}},
      {kRowsPerStrip, kLong, {rowsPerStrip}},
      {kStripByteCounts, kLong, counts},
      {kXResolution, kRational, {72, 1}},
      {kYResolution, kRational, {72, 1}},
      {kPlanarConfig, kShort, {1}},
      {kResolutionUnit, kShort, {2}},
  };
  if (compression == kTiffGroup4) fields.push_back({kT6Options, kLong, {0}});
  if (photometric == kPalette) {
    std::vector<uint32_t> map(768);
    for (int i = 0; i < 256; ++i) {
      map[i] = picture.palette[i].rgbRed * 257u;
      map[256 + i] = picture.palette[i].rgbGreen * 257u;
      map[512 + i] = picture.palette[i].rgbBlue * 257u;
    }
    fields.push_back({kColorMap, kShort, map});
  }
  writeIfd(file, fields);
  out = std::move(file.bytes());
  return kOk;
}

}  // namespace vic
