#include "bit_reader.h"

namespace qrjpeg {

bool BitReader::refillSpecial() {
  if (p_ >= end_) {
    // The low bits of buf_ are already zero. Zeros past the real end of the data are counted, so
    // that overran() can tell when they are taken (once it has, it stays so).
    if (end_ == dataEnd_) padBits_ = padBits_ > bits_ ? 65 : padBits_ + 64 - bits_;
    bits_ = 64;
    return false;
  }
  ++p_;  // the 0xFF
  if (markers_ == Markers::kStop) {
    // A 0xFF that is the data's last byte is a file cut short, not a marker: the bits after it
    // count as past the end.
    if (p_ >= end_) return true;
    if (*p_ != 0) {
      end_ = --p_;  // a marker: the data ends here
      return true;
    }
    ++p_;
  } else {
    if (p_ >= end_) return true;  // a last 0xFF is dropped
    if (*p_++ != 0) return true;  // a marker is dropped with the byte after it
  }
  buf_ |= static_cast<uint64_t>(0xFF) << (56 - bits_);
  bits_ += 8;
  return true;
}

}  // namespace qrjpeg
