#include "bilevel.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "pixels.h"

namespace vic {

bool ScatterDither::start(int width) {
  width_ = width;
  rowNumber_ = 0;
  return tryAllocate(errors_, static_cast<size_t>(width) + 2) &&
         tryAllocate(nextErrors_, static_cast<size_t>(width) + 2);
}

void ScatterDither::row(const uint8_t* grey, uint8_t* bits) {
  std::memset(bits, 0, (static_cast<size_t>(width_) + 7) / 8);
  std::fill(nextErrors_.begin(), nextErrors_.end(), 0);
  const bool leftToRight = (rowNumber_++ & 1) == 0;
  const int step = leftToRight ? 1 : -1;
  for (int i = 0; i < width_; ++i) {
    int x = leftToRight ? i : width_ - 1 - i;
    int wanted = clampByte(grey[x] + ((errors_[x + 1] + 8) >> 4));
    int white = wanted >= 128;
    if (white) setBit(bits, x, 1);
    int error = wanted - (white ? 255 : 0);
    errors_[x + 1 + step] += error * 7;
    nextErrors_[x + 1 - step] += error * 3;
    nextErrors_[x + 1] += error * 5;
    nextErrors_[x + 1 + step] += error;
  }
  errors_.swap(nextErrors_);
}

namespace {

// Thresholds of the clustered-dot cell: cells ordered by distance from the cell centre, so that
// black covers the centre first as the grey darkens.
struct Screen {
  uint8_t darkness[8][8];  // a pixel turns black when 255 - grey exceeds this
  Screen() {
    int order[64];
    for (int i = 0; i < 64; ++i) order[i] = i;
    auto distance = [](int i) {
      int dx = 2 * (i % 8) - 7, dy = 2 * (i / 8) - 7;
      return dx * dx + dy * dy;
    };
    std::stable_sort(order, order + 64, [&](int a, int b) { return distance(a) < distance(b); });
    for (int rank = 0; rank < 64; ++rank)
      darkness[order[rank] / 8][order[rank] % 8] = static_cast<uint8_t>(rank * 4 + 2);
  }
};

}  // namespace

void halftoneRow(const uint8_t* grey, int width, int y, uint8_t* bits) {
  static const Screen screen;
  std::memset(bits, 0, (static_cast<size_t>(width) + 7) / 8);
  const uint8_t* thresholds = screen.darkness[y & 7];
  for (int x = 0; x < width; ++x)
    if (255 - grey[x] <= thresholds[x & 7]) setBit(bits, x, 1);
}

}  // namespace vic
