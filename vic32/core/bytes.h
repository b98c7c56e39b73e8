// Bounds-checked reading and plain appending of little- and big-endian numbers, for the file
// codecs. A reader that runs past its end reads zeros and remembers it (`failed`), so a parser
// can read a whole header and check once.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace vic {

class ByteReader {
 public:
  ByteReader(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  bool failed() const { return failed_; }
  std::size_t position() const { return position_; }
  std::size_t size() const { return size_; }
  std::size_t remaining() const { return position_ < size_ ? size_ - position_ : 0; }
  const uint8_t* data() const { return data_; }
  void seek(std::size_t position) {
    if (position > size_) failed_ = true;
    position_ = position;
  }
  void skip(std::size_t count) {
    if (count > remaining()) {
      failed_ = true;
      position_ = size_;
    } else {
      position_ += count;
    }
  }
  uint8_t u8() {
    if (position_ >= size_) {
      failed_ = true;
      return 0;
    }
    return data_[position_++];
  }
  uint16_t le16() {
    uint16_t a = u8();
    return static_cast<uint16_t>(a | u8() << 8);
  }
  uint32_t le32() {
    uint32_t a = le16();
    return a | static_cast<uint32_t>(le16()) << 16;
  }
  uint16_t be16() {
    uint16_t a = u8();
    return static_cast<uint16_t>(a << 8 | u8());
  }
  // Copies `count` bytes out, or fails without copying when fewer remain.
  bool bytes(uint8_t* out, std::size_t count) {
    if (count > remaining()) {
      failed_ = true;
      position_ = size_;
      return false;
    }
    for (std::size_t i = 0; i < count; ++i) out[i] = data_[position_ + i];
    position_ += count;
    return true;
  }

 private:
  const uint8_t* data_;
  std::size_t size_;
  std::size_t position_ = 0;
  bool failed_ = false;
};

class ByteWriter {
 public:
  std::vector<uint8_t>& bytes() { return bytes_; }
  std::size_t size() const { return bytes_.size(); }
  void u8(unsigned value) { bytes_.push_back(static_cast<uint8_t>(value)); }
  void le16(unsigned value) {
    u8(value & 0xFF);
    u8(value >> 8 & 0xFF);
  }
  void le32(uint32_t value) {
    le16(value & 0xFFFF);
    le16(value >> 16);
  }
  void be16(unsigned value) {
    u8(value >> 8 & 0xFF);
    u8(value & 0xFF);
  }
  void append(const uint8_t* data, std::size_t count) { bytes_.insert(bytes_.end(), data, data + count); }
  void text(const char* s) {
    while (*s) u8(static_cast<uint8_t>(*s++));
  }
  // Overwrites a little-endian number already written.
  void patchLe32(std::size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes_[at + i] = static_cast<uint8_t>(value >> (8 * i));
  }

 private:
  std::vector<uint8_t> bytes_;
};

}  // namespace vic
