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
// Constructing one may throw std::bad_alloc.
class NearestColour {
 public:
  explicit NearestColour(const Palette& palette);
  int operator()(int red, int green, int blue);
  int search(int red, int green, int blue) const;  // uncached

 private:
  struct Entry {
    uint8_t red, green, blue;
    uint8_t index;
    int16_t sum;  // red + green + blue
  };
  std::vector<Entry> bySum_;     // the palette sorted by sum, searched outwards
  std::vector<uint32_t> cache_;  // colour key | 1 << 24 (valid), index in the top byte
};

// Nearest palette colour to the centre of the colour's cell of 4 x 4 x 4 levels, each cell
// searched once. For error diffusion, which corrects the small misses in the next pixels and
// meets far more distinct colours than an exact cache holds. May throw std::bad_alloc.
class CellNearest {
 public:
  explicit CellNearest(const Palette& palette) : exact_(palette), cells_(1 << 18, -1) {}
  int operator()(int red, int green, int blue) {
    int16_t& cell = cells_[(red >> 2) << 12 | (green >> 2) << 6 | (blue >> 2)];
    if (cell < 0) cell = static_cast<int16_t>(exact_.search((red & ~3) + 2, (green & ~3) + 2, (blue & ~3) + 2));
    return cell;
  }

 private:
  NearestColour exact_;
  std::vector<int16_t> cells_;
};

// The fixed 256-colour display palette: a 6 x 6 x 6 colour cube (levels 0, 51 ... 255, entry
// 36 red + 6 green + blue) followed by 40 greys, so that grey pictures keep 46 grey levels.
const Palette& rainbowDisplayPalette();
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
// The one look-up table of the rainbow palette, built at its first use.
const RainbowNearest& rainbowNearest();

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
    for (int i = 0; i < 256; ++i)
      map[i] = static_cast<uint8_t>(nearest(slots[i].rgbRed, slots[i].rgbGreen, slots[i].rgbBlue));
    for (int y = 0; y < in.height(); ++y) {
      const uint8_t* src = in.row(y);
      uint8_t* dst = out.row(y);
      for (int x = 0; x < width; ++x) dst[x] = map[src[x]];
    }
    writePalette(out, palette.entries, palette.count);
    return kOk;
  }
  // Error diffusion (also plain mapping of 1-bit pictures, with diffusion off). Errors are kept
  // in sixteenths: the share for the next pixel in `carry`, the shares for the row below in
  // `below` (one slot of margin on either side), which becomes `above` for that row.
  std::vector<uint8_t> bgr;
  std::vector<int> above, below;
  if (!tryAllocate(bgr, static_cast<size_t>(width) * 3) || !tryAllocate(above, static_cast<size_t>(width + 2) * 3) ||
      !tryAllocate(below, static_cast<size_t>(width + 2) * 3))
    return kNoMemory;
  for (int y = 0; y < in.height(); ++y) {
    rowToBgr(in, y, bgr.data());
    uint8_t* dst = out.row(y);
    const bool leftToRight = (y & 1) == 0;
    const int step = leftToRight ? 3 : -3;
    std::fill(below.begin(), below.end(), 0);
    int carry[3] = {0, 0, 0};
    for (int i = 0; i < width; ++i) {
      const int x = leftToRight ? i : width - 1 - i;
      const uint8_t* pixel = &bgr[static_cast<size_t>(x) * 3];
      const int* fromAbove = &above[static_cast<size_t>(x + 1) * 3];
      int* toBelow = &below[static_cast<size_t>(x + 1) * 3];
      // The error carried is measured from the unclamped wish, so that none is lost at the ends of
      // the range and the average colour of an area comes out right; it is bounded so that a
      // colour outside the palette's reach cannot build it up without limit.
      int wanted[3];
      for (int c = 0; c < 3; ++c) wanted[c] = pixel[c] + (diffuse ? (fromAbove[c] + carry[c] + 8) >> 4 : 0);
      const int index = nearest(clampByte(wanted[2]), clampByte(wanted[1]), clampByte(wanted[0]));
      dst[x] = static_cast<uint8_t>(index);
      if (!diffuse) continue;
      const RgbQuad& got = palette.entries[index];
      const int gotValues[3] = {got.rgbBlue, got.rgbGreen, got.rgbRed};
      for (int c = 0; c < 3; ++c) {
        const int error = std::clamp(wanted[c] - gotValues[c], -255, 255);
        carry[c] = error * 7;
        toBelow[c - step] += error * 3;
        toBelow[c] += error * 5;
        toBelow[c + step] += error;
      }
    }
    above.swap(below);
  }
  writePalette(out, palette.entries, palette.count);
  return kOk;
}

}  // namespace vic
