// The bit reader over entropy-coded JPEG data, shared by the camera's frame decoder and the image
// library's JPEG reader.
#pragma once

#include <cstdint>

namespace qrjpeg {

// Reads entropy-coded bytes as a bit stream, most significant bit first, through a 64-bit buffer
// that is refilled a byte at a time. A 0xFF byte followed by 0x00 stands for 0xFF. Any other byte
// after 0xFF makes a marker, which the reader either drops (camera frames carry no markers that
// matter) or stops at (the end of a scan in a JPEG file; a 0xFF that is the data's last byte is
// then the end of a file cut short, not a marker). At the end of the data, and after a marker
// that stopped the reader, every bit reads as zero.
class BitReader {
 public:
  enum class Markers {
    kSkip,  // a marker's two bytes are dropped and reading goes on after them
    kStop,  // a marker ends the data; position() is then the marker's first byte
  };

  BitReader(const uint8_t* data, const uint8_t* end, Markers markers = Markers::kSkip)
      : p_(data), end_(end), dataEnd_(end), markers_(markers) {}

  // Makes at least 32 bits available (zeros past the end of the data).
  void ensure32() {
    if (bits_ < 32) refill();
  }
  // The next n bits (n = 1..32, that many available).
  uint32_t peek(int n) const { return static_cast<uint32_t>(buf_ >> (64 - n)); }
  void skip(int n) {
    buf_ <<= n;
    bits_ -= n;
  }
  // n = 1..16, that many available.
  uint32_t take(int n) {
    uint32_t v = peek(n);
    skip(n);
    return v;
  }
  // The next n bits (n = 0..16), refilling as needed.
  uint32_t bits(int n) {
    if (n == 0) return 0;
    ensure32();
    return take(n);
  }

  // Whether more bits were taken than the data holds up to its end (a marker's zeros do not count),
  // since the reader was made or last restarted.
  bool overran() const { return bits_ < padBits_; }
  // The first byte not yet read into the bit buffer; with Markers::kStop, the marker that stopped
  // the reader once it has reached it.
  const uint8_t* position() const { return p_; }

  // At the end of a restart interval: drops the bits left in the buffer (the rest of the current
  // byte), steps over 0xFF fill bytes and a restart marker RST0..RST7 if one follows, and reads on
  // from there.
  void restart() {
    buf_ = 0;
    bits_ = 0;
    padBits_ = 0;
    end_ = dataEnd_;
    while (end_ - p_ >= 2 && p_[0] == 0xFF && p_[1] == 0xFF) ++p_;
    if (end_ - p_ >= 2 && p_[0] == 0xFF && p_[1] >= 0xD0 && p_[1] <= 0xD7) p_ += 2;
  }

 private:
  // The common case, a byte that is neither 0xFF nor past the end, stays inline; the rest is
  // refillSpecial's.
  void refill() {
    while (bits_ <= 56) {
      if (p_ < end_ && *p_ != 0xFF) {
        buf_ |= static_cast<uint64_t>(*p_++) << (56 - bits_);
        bits_ += 8;
      } else if (!refillSpecial()) {
        return;
      }
    }
  }
  // At the end of the data or at a 0xFF byte: false when the end was reached (the buffer is then
  // full of zeros), true when reading goes on.
  bool refillSpecial();

  const uint8_t* p_;
  const uint8_t* end_;      // where reading stops: the data's end, or a marker that stopped it
  const uint8_t* dataEnd_;  // the data's end
  Markers markers_;
  uint64_t buf_ = 0;  // valid bits left-aligned; the bits below them are zero
  int bits_ = 0;
  int padBits_ = 0;  // zeros from past the data's end in buf_ or already taken (at most 65)
};

}  // namespace qrjpeg
