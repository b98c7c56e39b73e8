// Grey rows to black and white: "scatter" (Floyd-Steinberg error diffusion, serpentine) and
// "halftone" (an 8 x 8 clustered-dot screen, so that dots grow from the cell centres as a printed
// halftone does). Output rows are 1-bit, leftmost pixel in the high bit, 1 = white.
#pragma once
#include <cstdint>
#include <vector>

namespace vic {

class ScatterDither {
 public:
  // False when memory ran out.
  bool start(int width);
  void row(const uint8_t* grey, uint8_t* bits);

 private:
  int width_ = 0;
  int rowNumber_ = 0;
  std::vector<int> errors_, nextErrors_;  // sixteenths, one slot of margin each side
};

void halftoneRow(const uint8_t* grey, int width, int y, uint8_t* bits);

}  // namespace vic
