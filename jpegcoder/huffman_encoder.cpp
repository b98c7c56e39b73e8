#include "huffman_encoder.h"

namespace qrjpeg {

HuffmanCodes::HuffmanCodes(const HuffmanSpec& spec) : code{}, length{} {
  // Canonical codes: consecutive within a length, doubled when the length grows.
  int next = 0, index = 0;
  for (int bits = 1; bits <= 16; ++bits) {
    for (int i = 0; i < spec.counts[bits - 1] && index < spec.symbolCount; ++i, ++next, ++index) {
      code[spec.symbols[index]] = static_cast<uint16_t>(next);
      length[spec.symbols[index]] = static_cast<uint8_t>(bits);
    }
    next <<= 1;
  }
}

int SizeCategory(int value) {
  unsigned magnitude = value < 0 ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
  int bits = 0;
  while (magnitude) {
    ++bits;
    magnitude >>= 1;
  }
  return bits;
}

}  // namespace qrjpeg
