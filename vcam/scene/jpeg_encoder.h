// The camera's frame encoder: packed 4:2:2 samples into the restricted baseline stream (start of
// image; one quantisation segment with table 0 for luminance and 1 for chrominance; frame header of
// length 17 with Y sampled 2x1 and Cb, Cr 1x1; scan header of length 12; entropy data coded with
// the standard's typical Huffman tables, which the stream leaves out; end of image).
#pragma once

#include <cstddef>
#include <cstdint>

namespace qrvcam {

// Stores at most capacity bytes and counts every byte, so that a short buffer still learns the
// stream's full length.
class ByteSink {
 public:
  ByteSink(uint8_t* out, size_t capacity) : out_(out), capacity_(capacity) {}
  void put(uint8_t b) {
    if (count_ < capacity_) out_[count_] = b;
    ++count_;
  }
  void put16(int v) {
    put(static_cast<uint8_t>(v >> 8));
    put(static_cast<uint8_t>(v));
  }
  size_t count() const { return count_; }

 private:
  uint8_t* out_;
  size_t capacity_;
  size_t count_ = 0;
};

// picture: packed Y0 U Y1 V, width even; quant: 64 luminance then 64 chrominance steps in zig-zag
// order (a step of 0 is taken as 1). Returns the stream's length.
size_t encodeFrame(const uint8_t* picture, int width, int height, const uint16_t* quant, ByteSink& sink);

}  // namespace qrvcam
