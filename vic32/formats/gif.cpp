// GIF 87a/89a: the first image of the file, interlaced or not, with its local or the global
// colour table, placed on the logical screen. Written as GIF89a with one global table.
#include <algorithm>
#include <cstring>

#include "../core/bytes.h"
#include "formats.h"
#include "lzw.h"

namespace vic {

namespace {

constexpr int kMaxCodes = 4096;

struct GifScreen {
  int width, height, flags, background;
};

struct GifFrame {
  int left, top, width, height, flags;
  bool interlaced() const { return flags & 0x40; }
};

int parseScreen(ByteReader& in, GifScreen& screen) {
  uint8_t signature[6];
  if (!in.bytes(signature, 6)) return kBadGif;
  if (std::memcmp(signature, "GIF87a", 6) != 0 && std::memcmp(signature, "GIF89a", 6) != 0) return kBadGif;
  screen.width = in.le16();
  screen.height = in.le16();
  screen.flags = in.u8();
  screen.background = in.u8();
  in.skip(1);
  return in.failed() ? kBadGif : kOk;
}

void skipSubBlocks(ByteReader& in) {
  while (!in.failed()) {
    uint8_t length = in.u8();
    if (length == 0) return;
    in.skip(length);
  }
}

// Moves past the global table and any extensions to the first image descriptor.
int findFirstFrame(ByteReader& in, const GifScreen& screen, GifFrame& frame) {
  if (screen.flags & 0x80) in.skip(3u << ((screen.flags & 7) + 1));
  while (!in.failed()) {
    uint8_t block = in.u8();
    if (block == 0x21) {
      in.skip(1);
      skipSubBlocks(in);
    } else if (block == 0x2C) {
      frame.left = in.le16();
      frame.top = in.le16();
      frame.width = in.le16();
      frame.height = in.le16();
      frame.flags = in.u8();
      if (in.failed() || frame.width == 0 || frame.height == 0) return kBadGif;
      return kOk;
    } else {
      return kBadGif;  // the trailer or garbage before any image
    }
  }
  return kBadGif;
}

// Reads the LZW data sub-blocks as one bit stream, least significant bit first.
class SubBlockBits {
 public:
  explicit SubBlockBits(ByteReader& in) : in_(in) {}
  // -1 when the data ends.
  int read(int bits) {
    while (count_ < bits) {
      if (left_ == 0) {
        if (ended_) return -1;
        left_ = in_.u8();
        if (in_.failed() || left_ == 0) {
          ended_ = true;
          return -1;
        }
      }
      buffer_ |= static_cast<uint32_t>(in_.u8()) << count_;
      count_ += 8;
      --left_;
      if (in_.failed()) {
        ended_ = true;
        return -1;
      }
    }
    int value = static_cast<int>(buffer_ & ((1u << bits) - 1));
    buffer_ >>= bits;
    count_ -= bits;
    return value;
  }

 private:
  ByteReader& in_;
  uint32_t buffer_ = 0;
  int count_ = 0;
  int left_ = 0;
  bool ended_ = false;
};

void readTable(const uint8_t* p, int entries, Picture& picture) {
  for (int i = 0; i < entries && i < 256; ++i) picture.palette[i] = RgbQuad{p[3 * i + 2], p[3 * i + 1], p[3 * i], 0};
}

// GIF's LZW codes: least significant bit first, in data sub-blocks of up to 255 bytes.
class SubBlockPacker {
 public:
  explicit SubBlockPacker(ByteWriter& out) : out_(out) {}
  void put(int code, int bits) {
    buffer_ |= static_cast<uint32_t>(code) << count_;
    count_ += bits;
    while (count_ >= 8) {
      block(static_cast<uint8_t>(buffer_));
      buffer_ >>= 8;
      count_ -= 8;
    }
  }
  // Writes the last bits, the last sub-block and the block terminator.
  void finish() {
    if (count_ > 0) block(static_cast<uint8_t>(buffer_));
    flushBlock();
    out_.u8(0);
  }

 private:
  void block(uint8_t byte) {
    pending_[pendingCount_++] = byte;
    if (pendingCount_ == 255) flushBlock();
  }
  void flushBlock() {
    if (!pendingCount_) return;
    out_.u8(pendingCount_);
    out_.append(pending_, pendingCount_);
    pendingCount_ = 0;
  }

  ByteWriter& out_;
  uint32_t buffer_ = 0;
  int count_ = 0;
  uint8_t pending_[255];
  int pendingCount_ = 0;
};

}  // namespace

int gifInfo(const uint8_t* data, std::size_t size, FileInfo& info) {
  ByteReader in(data, size);
  GifScreen screen;
  GifFrame frame;
  int result = parseScreen(in, screen);
  if (result == kOk) result = findFirstFrame(in, screen, frame);
  if (result != kOk) return result;
  int width = screen.width ? screen.width : frame.width, height = screen.height ? screen.height : frame.height;
  int tableFlags = (frame.flags & 0x80) ? frame.flags : screen.flags;
  info = FileInfo{width, height, 8, (tableFlags & 7) + 1, frame.interlaced() ? 1 : 0, 0, 2 << (tableFlags & 7)};
  return kOk;
}

int decodeGif(const uint8_t* data, std::size_t size, Picture& picture) {
  ByteReader in(data, size);
  GifScreen screen;
  int result = parseScreen(in, screen);
  if (result != kOk) return result;
  if (screen.flags & 0x80) {
    int entries = 2 << (screen.flags & 7);
    if (in.remaining() < static_cast<std::size_t>(entries) * 3) return kBadGif;
  }
  const uint8_t* globalTable = data + in.position();
  GifFrame frame;
  result = findFirstFrame(in, screen, frame);
  if (result != kOk) return result;
  int width = screen.width ? screen.width : frame.width, height = screen.height ? screen.height : frame.height;
  result = picture.allocate(width, height, 8);
  if (result != kOk) return result;
  if (screen.flags & 0x80) {
    readTable(globalTable, 2 << (screen.flags & 7), picture);
    std::fill(picture.pixels.begin(), picture.pixels.end(), static_cast<uint8_t>(screen.background));
  }
  if (frame.flags & 0x80) {
    int entries = 2 << (frame.flags & 7);
    if (in.remaining() < static_cast<std::size_t>(entries) * 3) return kBadGif;
    readTable(data + in.position(), entries, picture);
    in.skip(static_cast<std::size_t>(entries) * 3);
  } else if (!(screen.flags & 0x80)) {
    return kBadGif;  // no colour table at all
  }
  int minimumCodeSize = in.u8();
  if (in.failed()) return kBadGif;
  if (static_cast<int64_t>(frame.width) * frame.height > kMaxPixels) return kNoMemory;
  if (minimumCodeSize < 2 || minimumCodeSize > 11) return kBadGif;
  std::vector<uint8_t> indices;
  std::size_t total = static_cast<std::size_t>(frame.width) * frame.height;
  indices.reserve(total);
  SubBlockBits bits(in);
  if (!decodeLzw(bits, minimumCodeSize, false, indices, total)) return kBadGif;

  // Interlaced frames store rows in four passes: every 8th from 0, every 8th from 4, every 4th
  // from 2, every 2nd from 1.
  static const int kStart[4] = {0, 4, 2, 1}, kStep[4] = {8, 8, 4, 2};
  int sourceRow = 0;
  for (int pass = 0; pass < (frame.interlaced() ? 4 : 1); ++pass) {
    int start = frame.interlaced() ? kStart[pass] : 0, step = frame.interlaced() ? kStep[pass] : 1;
    for (int y = start; y < frame.height; y += step, ++sourceRow) {
      int targetY = frame.top + y;
      if (targetY >= height) continue;
      int count = std::min(frame.width, width - frame.left);
      if (count <= 0) continue;
      const uint8_t* from = indices.data() + static_cast<std::size_t>(sourceRow) * frame.width;
      std::copy(from, from + count, picture.row(targetY) + frame.left);
    }
  }
  clearRowPadding(picture);  // the background fill reached the row padding too
  return kOk;
}

int encodeGif(const Picture& picture, std::vector<uint8_t>& out) {
  if (picture.bits == 24) return kBadBits;
  if (picture.width > 65535 || picture.height > 65535) return kBadRange;
  int depth = picture.bits == 1 ? 1 : 8;  // table of 2 or 256 entries
  ByteWriter file;
  file.text("GIF89a");
  file.le16(picture.width);
  file.le16(picture.height);
  file.u8(0x80 | (depth - 1) << 4 | (depth - 1));
  file.u8(0);
  file.u8(0);
  for (const RgbQuad& e : picture.palette) {
    file.u8(e.rgbRed);
    file.u8(e.rgbGreen);
    file.u8(e.rgbBlue);
  }
  file.u8(0x2C);
  file.le16(0);
  file.le16(0);
  file.le16(picture.width);
  file.le16(picture.height);
  file.u8(0);
  int minimumCodeSize = depth == 1 ? 2 : 8;
  file.u8(minimumCodeSize);
  SubBlockPacker packer(file);
  LzwEncoder<SubBlockPacker> lzw(packer, minimumCodeSize, kMaxCodes, false);
  for (int y = 0; y < picture.height; ++y) {
    const uint8_t* row = picture.row(y);
    for (int x = 0; x < picture.width; ++x) {
      lzw.add(picture.bits == 1 ? bitAt(row, x) : row[x]);
    }
  }
  lzw.finish();
  packer.finish();
  file.u8(0x3B);
  out = std::move(file.bytes());
  return kOk;
}

}  // namespace vic
