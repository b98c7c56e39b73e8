// Huffman coding of JPEG blocks, shared by the image library's JPEG writer and the virtual camera's
// encoder: the code of each symbol, the size category, the bit writer with its byte stuffing, and
// the coding of one block of quantised coefficients (T.81 F.1.2).
#pragma once

#include <cstdint>

#include "jpeg_tables.h"

namespace qrjpeg {

// The code of each symbol of a table, and its length (0 for symbols the table lacks).
struct HuffmanCodes {
  explicit HuffmanCodes(const HuffmanSpec& spec);
  uint16_t code[256];
  uint8_t length[256];
};

// Bits needed for |value|: the size category that the symbols code (0 for 0).
int SizeCategory(int value);

// Writes bits most significant first into bytes handed to put (any callable taking a uint8_t); a
// 0xFF byte is followed by a stuffed 0x00.
template <typename PutByte>
class BitWriter {
 public:
  explicit BitWriter(PutByte put) : put_(put) {}

  // The low n bits of bits (n = 0..24).
  void write(uint32_t bits, int n) {
    acc_ = (acc_ << n) | (bits & ((1u << n) - 1));
    count_ += n;
    while (count_ >= 8) {
      count_ -= 8;
      uint8_t b = static_cast<uint8_t>(acc_ >> count_);
      put_(b);
      if (b == 0xFF) put_(static_cast<uint8_t>(0x00));
    }
    acc_ &= (1u << count_) - 1;
  }
  // A coefficient or difference of size category size, as the bits after its code: the value
  // itself when positive, value - 1 in size bits when negative.
  void writeValue(int value, int size) {
    if (size) write(static_cast<uint32_t>(value < 0 ? value - 1 : value), size);
  }
  // Fills the last byte with one-bits.
  void flush() {
    if (count_ > 0) write(0x7F, 8 - count_);
  }

 private:
  PutByte put_;
  uint32_t acc_ = 0;  // the count_ bits not yet written, in its low bits
  int count_ = 0;
};

// Codes one block of quantised coefficients (natural order, as the tables' size categories allow:
// a DC difference of at most 11 bits, AC values of at most 10): the DC difference from predictor,
// which then becomes this block's DC, and the runs of zeros and values of the AC coefficients in
// zig-zag order, with an end of block after the last non-zero one.
template <typename PutByte>
void EncodeBlock(BitWriter<PutByte>& out, const int16_t* coef, int& predictor, const HuffmanCodes& dc,
                 const HuffmanCodes& ac) {
  const int diff = coef[0] - predictor;
  predictor = coef[0];
  int size = SizeCategory(diff);
  out.write(dc.code[size], dc.length[size]);
  out.writeValue(diff, size);

  int run = 0;
  for (int k = 1; k < 64; ++k) {
    const int value = coef[kZigzagToNatural[k]];
    if (value == 0) {
      ++run;
      continue;
    }
    while (run >= 16) {
      out.write(ac.code[0xF0], ac.length[0xF0]);  // sixteen zeros
      run -= 16;
    }
    size = SizeCategory(value);
    const int symbol = (run << 4) | size;
    out.write(ac.code[symbol], ac.length[symbol]);
    out.writeValue(value, size);
    run = 0;
  }
  if (run) out.write(ac.code[0x00], ac.length[0x00]);  // end of block
}

}  // namespace qrjpeg
