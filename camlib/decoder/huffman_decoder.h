// Huffman decoding of the entropy-coded data: the bit reader over the compressed bytes and the
// lookup tables built from the standard's typical tables.
#pragma once

#include <cstddef>
#include <cstdint>

#include "jpeg_tables.h"

namespace qrjpeg {

// Reads the entropy-coded bytes as a bit stream. A 0xFF byte followed by 0x00 stands for 0xFF; a
// 0xFF followed by anything else is a marker and both bytes are dropped (restart markers do not
// reset anything; the camera sends none). Past the end of the data every bit reads as zero.
class BitReader {
 public:
  BitReader(const uint8_t* data, const uint8_t* end) : p_(data), end_(end) {}

  // Makes at least 32 bits available (zeros past the end of the data).
  void ensure32() {
    if (bits_ < 32) refill();
  }
  uint32_t peek(int n) const { return static_cast<uint32_t>(buf_ >> (64 - n)); }
  void skip(int n) {
    buf_ <<= n;
    bits_ -= n;
  }
  // n = 1..16
  uint32_t take(int n) {
    uint32_t v = peek(n);
    skip(n);
    return v;
  }

 private:
  void refill() {
    while (bits_ <= 56) {
      if (p_ >= end_) {
        bits_ = 64;  // the low bits of buf_ are already zero
        return;
      }
      uint32_t b = *p_++;
      if (b == 0xFF) {
        if (p_ >= end_) continue;
        if (*p_++ != 0) continue;
      }
      buf_ |= static_cast<uint64_t>(b) << (56 - bits_);
      bits_ += 8;
    }
  }

  const uint8_t* p_;
  const uint8_t* end_;
  uint64_t buf_ = 0;  // valid bits left-aligned; the bits below them are zero
  int bits_ = 0;
};

// A Huffman table ready for decoding: codes of up to kFastBits bits come from one lookup of the
// next kFastBits bits; longer ones from the canonical-code limits of each length.
class HuffmanLookup {
 public:
  static constexpr int kFastBits = 9;

  explicit HuffmanLookup(const HuffmanSpec& spec);

  // Needs 16 bits available in the reader. An invalid code (possible only in corrupt data)
  // consumes 16 bits and yields symbol 0.
  int decode(BitReader& reader) const {
    uint32_t entry = fast_[reader.peek(kFastBits)];
    if (entry != 0) {
      reader.skip(static_cast<int>(entry >> 8));
      return static_cast<int>(entry & 0xFF);
    }
    return decodeLong(reader);
  }

  // The code of up to kFastBits bits that the bits peek (kFastBits of them) start with: its
  // length (0 when the code is longer) and symbol.
  int shortCodeLength(uint32_t peek) const { return fast_[peek] >> 8; }
  int shortCodeSymbol(uint32_t peek) const { return fast_[peek] & 0xFF; }

 private:
  int decodeLong(BitReader& reader) const;

  uint16_t fast_[1 << kFastBits];  // (code length << 8) | symbol; 0 for longer codes
  int32_t maxCode_[17];            // largest code of each length, -1 when none
  int32_t symbolOffset_[17];       // index of a code's symbol = code + offset
  uint8_t symbols_[256];
};

// AC decoding in one step: most codes are short enough that the next kFastBits bits hold the code
// and the value bits after it, so one lookup gives the run of zeros, the value and the bits used.
class AcLookup {
 public:
  struct Entry {
    int16_t value;
    uint8_t run;   // zeros before the value, or kEndOfBlock
    uint8_t bits;  // code and value bits; 0 when the next bits need the general decoding
  };
  static constexpr uint8_t kEndOfBlock = 0xFF;

  explicit AcLookup(const HuffmanSpec& spec);

  const Entry& at(const BitReader& reader) const { return entries_[reader.peek(HuffmanLookup::kFastBits)]; }
  const HuffmanLookup& general() const { return general_; }

 private:
  HuffmanLookup general_;
  Entry entries_[1 << HuffmanLookup::kFastBits];
};

// Value of a coefficient from its size category and the raw bits that follow the code.
inline int32_t ExtendSign(uint32_t raw, int size) {
  if (size == 0) return 0;
  int32_t v = static_cast<int32_t>(raw);
  return v < (1 << (size - 1)) ? v - (1 << size) + 1 : v;
}

}  // namespace qrjpeg
