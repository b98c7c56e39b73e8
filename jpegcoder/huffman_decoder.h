// Huffman decoding of entropy-coded JPEG data: lookup tables built from a table as the interchange
// format lists it, read through the BitReader. The camera's frame decoder builds them from the
// standard's typical tables, the image library's JPEG reader from the tables in the file.
#pragma once

#include <cstdint>

#include "bit_reader.h"
#include "jpeg_tables.h"

namespace qrjpeg {

// A Huffman table ready for decoding: codes of up to kFastBits bits come from one lookup of the
// next kFastBits bits; longer ones from the canonical-code limits of each length.
class HuffmanLookup {
 public:
  static constexpr int kFastBits = 9;

  // A table without codes: every decode is an invalid code.
  HuffmanLookup() { clear(); }
  // spec must be valid (the standard's tables are).
  explicit HuffmanLookup(const HuffmanSpec& spec) { build(spec); }

  // Builds the table from spec. False, leaving a table without codes, when the counts describe more
  // codes of a length than there are (over-subscribed), more than 256 symbols, or more symbols
  // than spec holds.
  bool build(const HuffmanSpec& spec);

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
  void clear();
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

// Value of a coefficient from its size category (0..16) and the raw bits that follow the code
// (T.81 F.2.2.1): a value whose top bit is 0 is negative.
inline int32_t ExtendSign(uint32_t raw, int size) {
  if (size == 0) return 0;
  int32_t v = static_cast<int32_t>(raw);
  return v < (1 << (size - 1)) ? v - (1 << size) + 1 : v;
}

}  // namespace qrjpeg
