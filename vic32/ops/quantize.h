// Colour reduction: choosing a palette for a picture (median cut), finding the nearest palette
// colour, the fixed display palettes, and writing an 8-bit image through a palette with or
// without error diffusion.
#pragma once
#include <algorithm>
#include <cstdint>
#include <vector>

#include "pixels.h"

namespace vic {

struct Palette {
  RgbQuad entries[256] = {};
  int count = 0;
};

// The picture's distinct colours when there are at most `limit` of them; false otherwise.
// `failed` is set when memory ran out.
bool collectExactColours(const Image& image, int limit, Palette& palette, bool& failed);

// A palette of at most `colours` entries for the picture: median cut on a 15-bit histogram,
// splitting the box with the largest squared error where the split leaves the least.
// False when memory ran out.
bool medianCutPalette(const Image& image, int colours, Palette& palette);

// Exact nearest palette colour (squared RGB distance), with a cache of recent answers.
class NearestColour {
 public:
  explicit NearestColour(const Palette& palette);
  int operator()(int red, int green, int blue);

 private:
  int search(int red, int green, int blue) const;
  struct Entry {
    uint8_t red, green, blue;
    uint8_t index;
  };
  std::vector<Entry> byGreen_;  // the palette sorted by green, searched outwards
  std::vector<uint32_t> cache_; // colour key | 1 << 24 (valid), index in the top byte
};

// The fixed 256-colour display palette: a 6 x 6 x 6 colour cube (levels 0, 51 ... 255, entry
// 36 red + 6 green + blue) followed by 40 greys, so that grey pictures keep 46 grey levels.
const Palette& rainbowPalette();
// Nearest rainbow entry by table look-up: the nearest cube colour (levels are independent) or the
// nearest grey (the grey nearest the mean of the three), whichever is closer.
class RainbowNearest {
 public:
  RainbowNearest();
  int operator()(int red, int green, int blue) const {
    int cube = cubeIndex_[red] * 36 + cubeIndex_[green] * 6 + cubeIndex_[blue];
    int cubeDistance = cubeError_[red] + cubeError_[green] + cubeError_[blue];
    int grey = greyLevel_[red + green + blue];
    int dr = red - grey, dg = green - grey, db = blue - grey;
    int greyDistance = dr * dr + dg * dg + db * db;
    return greyDistance < cubeDistance ? greyIndex_[red + green + blue] : cube;
  }

 private:
  uint8_t cubeIndex_[256];
  int cubeError_[256];
  uint8_t greyLevel_[766];
  uint8_t greyIndex_[766];
};

// The sixteen colours of a standard 16-colour display, in its palette order.
const Palette& sixteenColourPalette();

// Writes `in` into the 8-bit `out` as indices of `palette` (which also becomes out's palette),
// with serpentine Floyd-Steinberg error diffusion or without. kOk or kNoMemory.
template <class Nearest>
int writeThroughPalette(const Image& in, const Image& out, const Palette& palette, Nearest& nearest, bool diffuse) {
  // The output palette is written last: in place, the source's palette may be the same memory.
  const int width = in.width();
  if (!diffuse && in.bits() == 24) {
    for (int y = 0; y < in.height(); ++y) {
      const uint8_t* src = in.row(y);
      uint8_t* dst = out.row(y);
      for (int x = 0; x < width; ++x, src += 3) dst[x] = static_cast<uint8_t>(nearest(src[2], src[1], src[0]));
    }
    writePalette(out, palette.entries, palette.count);
    return kOk;
  }
  if (!diffuse && in.bits() == 8) {
    RgbQuad slots[256];
    paletteSlots(in, slots);
    uint8_t map[256];
    for (int i = 0; i < 256; ++i) map[i] = static_cast<uint8_t>(nearest(slots[i].rgbRed, slots[i].rgbGreen, slots[i].rgbBlue));
    for (int y = 0; y < in.height(); ++y) {
      const uint8_t* src = in.row(y);
      uint8_t* dst = out.row(y);
      for (int x = 0; x < width; ++x) dst[x] = map[src[x]];
    }
    writePalette(out, palette.entries, palette.count);
    return kOk;
  }
  // Error diffusion (also plain mapping of 1-bit pictures, with diffusion off). Errors are kept
  // in sixteenths, one slot of margin on either side of the row.
  std::vector<uint8_t> bgr;
  std::vector<int> errors, nextErrors;
  if (!tryAllocate(bgr, static_cast<size_t>(width) * 3) || !tryAllocate(errors, static_cast<size_t>(width + 2) * 3) ||
      !tryAllocate(nextErrors, static_cast<size_t>(width + 2) * 3))
    return kNoMemory;
  for (int y = 0; y < in.height(); ++y) {
    rowToBgr(in, y, bgr.data());
    uint8_t* dst = out.row(y);
    const bool leftToRight = (y & 1) == 0;
    const int step = leftToRight ? 1 : -1;
    std::fill(nextErrors.begin(), nextErrors.end(), 0);
    for (int i = 0; i < width; ++i) {
      int x = leftToRight ? i : width - 1 - i;
      int* e = &errors[static_cast<size_t>(x + 1) * 3];
      // The error carried is measured from the unclamped wish, so that none is lost at the ends of
      // the range and the average colour of an area comes out right; it is bounded so that a
      // colour outside the palette's reach cannot build it up without limit.
      int wanted[3], reachable[3];
      for (int c = 0; c < 3; ++c) {
        wanted[c] = bgr[3 * x + c] + (diffuse ? (e[c] + 8) >> 4 : 0);
        reachable[c] = clampByte(wanted[c]);
      }
      int index = nearest(reachable[2], reachable[1], reachable[0]);
      dst[x] = static_cast<uint8_t>(index);
      if (!diffuse) continue;
      const RgbQuad& got = palette.entries[index];
      const int gotValues[3] = {got.rgbBlue, got.rgbGreen, got.rgbRed};
      for (int c = 0; c < 3; ++c) {
        int error = std::clamp(wanted[c] - gotValues[c], -255, 255);
        errors[static_cast<size_t>(x + 1 + step) * 3 + c] += error * 7;
        nextErrors[static_cast<size_t>(x + 1 - step) * 3 + c] += error * 3;
        nextErrors[static_cast<size_t>(x + 1) * 3 + c] += error * 5;
        nextErrors[static_cast<size_t>(x + 1 + step) * 3 + c] += error;
      }
    }
    errors.swap(nextErrors);
  }
  writePalette(out, palette.entries, palette.count);
  return kOk;
}

}  // namespace vic
