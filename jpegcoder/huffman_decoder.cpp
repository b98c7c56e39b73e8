#include "huffman_decoder.h"

namespace qrjpeg {

void HuffmanLookup::clear() {
  for (auto& e : fast_) e = 0;
  for (auto& m : maxCode_) m = -1;
  for (auto& o : symbolOffset_) o = 0;
  for (auto& s : symbols_) s = 0;
}

bool HuffmanLookup::build(const HuffmanSpec& spec) {
  clear();
  int total = 0;
  for (uint8_t count : spec.counts) total += count;
  if (total > 256 || total > spec.symbolCount) return false;
  for (int i = 0; i < total; ++i) symbols_[i] = spec.symbols[i];

  // Canonical codes: consecutive within a length, doubled when the length grows.
  int32_t code = 0;
  int index = 0;
  for (int length = 1; length <= 16; ++length) {
    int count = spec.counts[length - 1];
    symbolOffset_[length] = index - code;
    for (int i = 0; i < count; ++i, ++code, ++index) {
      if (code >= (1 << length)) {  // over-subscribed: no such code
        clear();
        return false;
      }
      if (length <= kFastBits) {
        int shift = kFastBits - length;
        for (int fill = 0; fill < (1 << shift); ++fill) {
          fast_[(code << shift) | fill] = static_cast<uint16_t>((length << 8) | spec.symbols[index]);
        }
      }
    }
    maxCode_[length] = count ? code - 1 : -1;
    code <<= 1;
  }
  return true;
}

int HuffmanLookup::decodeLong(BitReader& reader) const {
  for (int length = kFastBits + 1; length <= 16; ++length) {
    int32_t code = static_cast<int32_t>(reader.peek(length));
    if (code <= maxCode_[length]) {
      reader.skip(length);
      return symbols_[code + symbolOffset_[length]];
    }
  }
  reader.skip(16);
  return 0;
}

AcLookup::AcLookup(const HuffmanSpec& spec) : general_(spec) {
  constexpr int n = HuffmanLookup::kFastBits;
  for (uint32_t peek = 0; peek < (1u << n); ++peek) {
    Entry e = {0, 0, 0};
    const int length = general_.shortCodeLength(peek);
    const int symbol = general_.shortCodeSymbol(peek);
    const int run = symbol >> 4, size = symbol & 15;
    if (length != 0) {
      if (symbol == 0) {
        e = {0, kEndOfBlock, static_cast<uint8_t>(length)};
      } else if (length + size <= n) {
        uint32_t raw = (peek >> (n - length - size)) & ((1u << size) - 1);
        e = {static_cast<int16_t>(ExtendSign(raw, size)), static_cast<uint8_t>(run),
             static_cast<uint8_t>(length + size)};
      }
    }
    entries_[peek] = e;
  }
}

}  // namespace qrjpeg
