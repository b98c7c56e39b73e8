// LZW as GIF and TIFF use it. Writing: the longest string the table already holds goes out as one
// code, that string plus the next byte becomes the next free code, and a clear code starts the
// table afresh once it is full; the string table is hashed on (code, next byte) pairs.
//
// The two formats differ only in how codes become bytes (GIF least significant bit first, in
// sub-blocks; TIFF most significant bit first), which the caller's `Packer` or `CodeSource` does,
// and in when the codes widen: TIFF widens one code earlier than GIF ("early change").
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace vic {

// Packer: a class with put(int code, int bits) that writes one code of `bits` bits.
template <class Packer>
class LzwEncoder {
 public:
  // Codes 0 .. 2^minimumCodeSize - 1 stand for the bytes; then come the clear and end codes.
  // New strings get codes below `codeLimit`.
  LzwEncoder(Packer& packer, int minimumCodeSize, int codeLimit, bool earlyChange)
      : packer_(packer),
        minimum_(minimumCodeSize),
        clear_(1 << minimumCodeSize),
        limit_(codeLimit),
        early_(earlyChange ? 1 : 0) {
    reset();
    packer_.put(clear_, codeSize_);
  }

  void add(uint8_t value) {
    if (current_ < 0) {
      current_ = value;
      return;
    }
    uint32_t key = static_cast<uint32_t>(current_) << 8 | value;
    std::size_t slot = (key * 2654435761u >> 19) & (kTableSize - 1);
    while (keys_[slot] != kEmpty) {
      if (keys_[slot] == key) {
        current_ = codes_[slot];
        return;
      }
      slot = (slot + 1) & (kTableSize - 1);
    }
    packer_.put(current_, codeSize_);
    if (next_ < limit_) {
      keys_[slot] = key;
      codes_[slot] = static_cast<uint16_t>(next_++);
      // The reader defines each code one code later than this encoder does.
      widenWhenReaderHas(next_);
    } else {
      packer_.put(clear_, codeSize_);
      reset();
    }
    current_ = value;
  }

  // Writes the last string and the end code; the packer then flushes its own bits.
  void finish() {
    if (current_ >= 0) {
      packer_.put(current_, codeSize_);
      // The reader defines one more code on this one and may widen before the end code.
      widenWhenReaderHas(next_ + 1);
    }
    packer_.put(clear_ + 1, codeSize_);
  }

 private:
  static constexpr std::size_t kTableSize = 8192;
  static constexpr uint32_t kEmpty = 0xFFFFFFFF;

  // `next` codes defined (as this encoder counts them): widen as the reader does at that point.
  void widenWhenReaderHas(int next) {
    if (next + early_ > (1 << codeSize_) && codeSize_ < 12) ++codeSize_;
  }
  void reset() {
    keys_.assign(kTableSize, kEmpty);
    codes_.assign(kTableSize, 0);
    next_ = clear_ + 2;
    codeSize_ = minimum_ + 1;
  }

  Packer& packer_;
  const int minimum_, clear_, limit_, early_;
  int next_ = 0, codeSize_ = 0, current_ = -1;
  std::vector<uint32_t> keys_;
  std::vector<uint16_t> codes_;
};

// Reads codes from `codes` (read(bits) gives the next code, or -1 when the data ends) and appends
// the bytes they stand for to `out` until it holds at least `expected` bytes. False when the
// stream is broken, or when it ends (or gives the end code) first.
template <class CodeSource>
bool decodeLzw(CodeSource& codes, int minimumCodeSize, bool earlyChange, std::vector<uint8_t>& out,
               std::size_t expected) {
  constexpr int kMaxCodes = 4096;
  const int clear = 1 << minimumCodeSize, end = clear + 1, early = earlyChange ? 1 : 0;
  std::vector<uint16_t> prefix(kMaxCodes);
  std::vector<uint8_t> suffix(kMaxCodes), stack(kMaxCodes + 1);
  int codeSize = minimumCodeSize + 1, next = clear + 2, previous = -1;
  uint8_t first = 0;  // first byte of the last string
  while (out.size() < expected) {
    int code = codes.read(codeSize);
    if (code < 0 || code == end) return false;
    if (code == clear) {
      codeSize = minimumCodeSize + 1;
      next = clear + 2;
      previous = -1;
      continue;
    }
    if (previous < 0 ? code >= clear : code > next || (code == next && next >= kMaxCodes)) return false;
    int depth = 0, walk = code;
    if (code == next) {  // the code being defined: the previous string and its own first byte
      stack[depth++] = first;
      walk = previous;
    }
    while (walk >= clear) {
      if (depth >= kMaxCodes) return false;
      stack[depth++] = suffix[walk];
      walk = prefix[walk];
    }
    stack[depth++] = static_cast<uint8_t>(walk);
    first = static_cast<uint8_t>(walk);
    while (depth > 0) out.push_back(stack[--depth]);
    if (previous >= 0 && next < kMaxCodes) {
      prefix[next] = static_cast<uint16_t>(previous);
      suffix[next] = first;
      ++next;
      if (next + early >= (1 << codeSize) && codeSize < 12) ++codeSize;
    }
    previous = code;
  }
  return true;
}

}  // namespace vic
