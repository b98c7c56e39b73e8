// Images for the tests: an image block from allocImage with its descriptor, and pixel access in
// top-down coordinates.
#pragma once
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <type_traits>
#include <vector>

#include "../core/image.h"

namespace victest {

struct Bgr {
  uint8_t b, g, r;
  bool operator==(const Bgr& o) const { return b == o.b && g == o.g && r == o.r; }
};

class TestImage {
 public:
  // An image as the library allocates it: 8-bit images get the identity grey ramp, 1-bit images
  // black and white. The type word starts at 0, so that tests see what an operation sets.
  TestImage(int width, int height, int bits) {
    if (vic::allocImage(&d, width, height, bits) != vic::kOk) std::abort();
    d.imgtype = 0;
  }
  ~TestImage() { vic::freeImage(&d); }
  TestImage(const TestImage&) = delete;
  TestImage& operator=(const TestImage&) = delete;

  ImageDescriptor d{};

  int width() const { return d.bmh->biWidth; }
  int height() const { return d.bmh->biHeight; }
  int bits() const { return d.bmh->biBitCount; }
  uint8_t* row(int y) const { return d.ibuff + static_cast<size_t>(height() - 1 - y) * d.buffwidth; }

  Bgr bgr(int x, int y) const {
    const uint8_t* p = row(y) + 3 * x;
    return Bgr{p[0], p[1], p[2]};
  }
  void setBgr(int x, int y, Bgr c) {
    uint8_t* p = row(y) + 3 * x;
    p[0] = c.b;
    p[1] = c.g;
    p[2] = c.r;
  }
  int index(int x, int y) const { return bits() == 8 ? row(y)[x] : (row(y)[x >> 3] >> (7 - (x & 7))) & 1; }
  void setIndex(int x, int y, int v) {
    if (bits() == 8) {
      row(y)[x] = static_cast<uint8_t>(v);
      return;
    }
    uint8_t mask = static_cast<uint8_t>(0x80 >> (x & 7));
    row(y)[x >> 3] = static_cast<uint8_t>(v ? row(y)[x >> 3] | mask : row(y)[x >> 3] & ~mask);
  }
  // The colour a pixel shows, whatever the depth.
  Bgr colour(int x, int y) const {
    if (bits() == 24) return bgr(x, y);
    const vic::RgbQuad& e = d.palette[index(x, y)];
    return Bgr{e.rgbBlue, e.rgbGreen, e.rgbRed};
  }
  // Fills every pixel from f(x, y): a Bgr for 24-bit images, an index otherwise.
  template <class F>
  void fill(F f) {
    for (int y = 0; y < height(); ++y)
      for (int x = 0; x < width(); ++x) {
        if constexpr (std::is_same_v<decltype(f(0, 0)), Bgr>)
          setBgr(x, y, f(x, y));
        else
          setIndex(x, y, f(x, y));
      }
  }
  bool samePixels(const TestImage& o) const {
    if (width() != o.width() || height() != o.height() || bits() != o.bits()) return false;
    for (int y = 0; y < height(); ++y)
      for (int x = 0; x < width(); ++x)
        if (bits() == 24 ? !(bgr(x, y) == o.bgr(x, y)) : index(x, y) != o.index(x, y)) return false;
    return true;
  }
};

}  // namespace victest
