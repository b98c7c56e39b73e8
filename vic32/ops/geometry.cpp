// resize, rotate90, flipimage, mirrorimage.
#include <algorithm>
#include <cstring>

#include "ops.h"
#include "pixels.h"
#include "resample.h"

namespace vic {
namespace {

// Output and input of a geometry call: same depth; the palette goes along.
int openGeometryPair(const ImageDescriptor* source, ImageDescriptor* destination, Image& in, Image& out) {
  int result = openPair(source, destination, in, out);
  if (result != kOk) return result;
  if (in.bits() != out.bits()) return kBadBits;
  return kOk;
}

// As openGeometryPair, for the calls that keep the size (flip, mirror); a destination that shares
// memory with the source is read from a detached copy kept in `keep`.
int openSameSizePair(const ImageDescriptor* source, ImageDescriptor* destination, Image& in, Image& out,
                     std::vector<uint8_t>& keep) {
  int result = openGeometryPair(source, destination, in, out);
  if (result != kOk) return result;
  if (!sameSize(in, out)) return kBadRange;
  return detachIfOverlapping(in, out, keep);
}

void copyPalette(const Image& in, const Image& out) {
  if (in.bits() > 8 || in.palette() == out.palette()) return;
  writePalette(out, in.palette(), in.paletteCapacity);
}

// True when an 8-bit image's pixel values are its grey levels, so that they may be blended.
bool valuesAreLevels(const Image& image) {
  if (image.bits() == 24) return true;
  return image.bits() == 8 && isIdentityGreyRamp(image.palette(), image.paletteCapacity);
}

// Filtered resampling of 24-bit pixels or 8-bit levels: rows first into 16-bit intermediates
// (8 fraction bits), then columns.
int resampleFiltered(const Image& in, const Image& out) {
  int channels = in.bits() / 8;
  AxisWeights xs, ys;
  if (!makeAxisWeights(in.width(), out.width(), xs) || !makeAxisWeights(in.height(), out.height(), ys))
    return kNoMemory;
  const size_t rowValues = static_cast<size_t>(out.width()) * channels;
  std::vector<uint16_t> across;
  std::vector<uint32_t> sums;
  if (!tryAllocate(across, rowValues * in.height()) || !tryAllocate(sums, rowValues)) return kNoMemory;

  for (int y = 0; y < in.height(); ++y) {
    const uint8_t* src = in.row(y);
    uint16_t* dst = &across[rowValues * y];
    for (int x = 0; x < out.width(); ++x) {
      const int16_t* w = &xs.weights[static_cast<size_t>(x) * xs.taps];
      const uint8_t* p = src + static_cast<size_t>(xs.first[x]) * channels;
      if (channels == 3) {  // the three channels of a pixel together: one pass over the taps
        uint32_t b = 0, g = 0, r = 0;
        for (int k = 0; k < xs.taps; ++k, p += 3) {
          uint32_t weight = static_cast<uint32_t>(w[k]);
          b += weight * p[0];
          g += weight * p[1];
          r += weight * p[2];
        }
        dst[3 * x] = static_cast<uint16_t>((b + (1u << 5)) >> 6);
        dst[3 * x + 1] = static_cast<uint16_t>((g + (1u << 5)) >> 6);
        dst[3 * x + 2] = static_cast<uint16_t>((r + (1u << 5)) >> 6);
      } else {
        uint32_t sum = 0;
        for (int k = 0; k < xs.taps; ++k) sum += static_cast<uint32_t>(w[k]) * p[k];
        dst[x] = static_cast<uint16_t>((sum + (1u << 5)) >> 6);
      }
    }
  }
  for (int y = 0; y < out.height(); ++y) {
    const int16_t* w = &ys.weights[static_cast<size_t>(y) * ys.taps];
    const uint16_t* rows[64];
    uint32_t weights[64];
    int count = 0;
    for (int k = 0; k < ys.taps; ++k) {
      if (w[k] == 0) continue;
      if (count == 64) {  // a reduction beyond 32 times: fold the rest in through the sums
        count = -1;
        break;
      }
      rows[count] = &across[rowValues * (ys.first[y] + k)];
      weights[count++] = static_cast<uint32_t>(w[k]);
    }
    uint8_t* __restrict dst = out.row(y);
    if (count == 2) {  // enlarging: two rows, in one pass the compiler can vectorise
      const uint16_t* __restrict a = rows[0];
      const uint16_t* __restrict b = rows[1];
      const uint32_t wa = weights[0], wb = weights[1];
      for (size_t i = 0; i < rowValues; ++i) dst[i] = static_cast<uint8_t>((wa * a[i] + wb * b[i] + (1u << 21)) >> 22);
    } else if (count > 0) {
      for (size_t i = 0; i < rowValues; ++i) {
        uint32_t sum = 1u << 21;
        for (int k = 0; k < count; ++k) sum += weights[k] * rows[k][i];
        dst[i] = static_cast<uint8_t>(sum >> 22);
      }
    } else {
      std::fill(sums.begin(), sums.end(), 0u);
      for (int k = 0; k < ys.taps; ++k) {
        const uint16_t* src = &across[rowValues * (ys.first[y] + k)];
        for (size_t i = 0; i < rowValues; ++i) sums[i] += static_cast<uint32_t>(w[k]) * src[i];
      }
      for (size_t i = 0; i < rowValues; ++i) dst[i] = static_cast<uint8_t>((sums[i] + (1u << 21)) >> 22);
    }
  }
  return kOk;
}

// Nearest-sample resize, for palette indices (which cannot be blended) and 1-bit pixels.
void resampleNearest(const Image& in, const Image& out, const AxisWeights& xs, const AxisWeights& ys) {
  for (int y = 0; y < out.height(); ++y) {
    const uint8_t* src = in.row(ys.nearest[y]);
    uint8_t* dst = out.row(y);
    if (in.bits() == 8) {
      for (int x = 0; x < out.width(); ++x) dst[x] = src[xs.nearest[x]];
    } else {
      std::memset(dst, 0, out.view.stride);
      for (int x = 0; x < out.width(); ++x) setBit(dst, x, bitAt(src, xs.nearest[x]));
    }
  }
}

}  // namespace

int resize(const ImageDescriptor* source, ImageDescriptor* destination) {
  Image in, out;
  int result = openGeometryPair(source, destination, in, out);
  if (result != kOk) return result;
  std::vector<uint8_t> keep;
  if ((result = detachIfOverlapping(in, out, keep)) != kOk) return result;
  if (valuesAreLevels(in)) {
    result = resampleFiltered(in, out);
  } else {
    AxisWeights xs, ys;
    if (!makeAxisWeights(in.width(), out.width(), xs) || !makeAxisWeights(in.height(), out.height(), ys))
      return kNoMemory;
    resampleNearest(in, out, xs, ys);
  }
  if (result == kOk) copyPalette(in, out);
  return result;
}

int rotate90(int direction, const ImageDescriptor* source, ImageDescriptor* destination) {
  if (direction != 0 && direction != 1) return kBadRange;
  Image in, out;
  int result = openGeometryPair(source, destination, in, out);
  if (result != kOk) return result;
  if (out.width() != in.height() || out.height() != in.width()) return kBadRange;
  std::vector<uint8_t> keep;
  if ((result = detachIfOverlapping(in, out, keep)) != kOk) return result;

  // Output pixel (x, y) comes from input column y (clockwise) or width-1-y (counter-clockwise)
  // and from input row height-1-x (clockwise) or x; in storage (bottom-up) order that input row
  // sits x rows (clockwise) or height-1-x rows above the bottom. Square tiles keep both the rows
  // read and the rows written in the cache.
  const uint8_t* bottom = in.view.bottomRow;
  const std::ptrdiff_t stride = in.view.stride;
  const bool clockwise = direction == 0;
  const int tile = 32;
  const int bytes = in.bits() / 8;
  for (int ty = 0; ty < out.height(); ty += tile) {
    int yEnd = std::min(ty + tile, out.height());
    for (int tx = 0; tx < out.width(); tx += tile) {
      int xEnd = std::min(tx + tile, out.width());
      for (int y = ty; y < yEnd; ++y) {
        uint8_t* dst = out.row(y);
        int column = clockwise ? y : in.width() - 1 - y;
        for (int x = tx; x < xEnd; ++x) {
          const uint8_t* srcRow = bottom + (clockwise ? x : in.height() - 1 - x) * stride;
          if (bytes == 3) {
            const uint8_t* p = srcRow + column * 3;
            dst[3 * x] = p[0];
            dst[3 * x + 1] = p[1];
            dst[3 * x + 2] = p[2];
          } else if (bytes == 1) {
            dst[x] = srcRow[column];
          } else {
            setBit(dst, x, bitAt(srcRow, column));
          }
        }
      }
    }
  }
  copyPalette(in, out);
  return kOk;
}

int flipImage(const ImageDescriptor* source, ImageDescriptor* destination) {
  Image in, out;
  std::vector<uint8_t> keep;
  int result = openSameSizePair(source, destination, in, out, keep);
  if (result != kOk) return result;
  for (int y = 0; y < out.height(); ++y) std::memcpy(out.row(y), in.row(in.height() - 1 - y), out.view.stride);
  copyPalette(in, out);
  return kOk;
}

int mirrorImage(const ImageDescriptor* source, ImageDescriptor* destination) {
  Image in, out;
  std::vector<uint8_t> keep;
  int result = openSameSizePair(source, destination, in, out, keep);
  if (result != kOk) return result;
  const int width = in.width();
  for (int y = 0; y < out.height(); ++y) {
    const uint8_t* src = in.row(y);
    uint8_t* dst = out.row(y);
    if (in.bits() == 24) {
      for (int x = 0; x < width; ++x) std::memcpy(dst + 3 * x, src + 3 * (width - 1 - x), 3);
    } else if (in.bits() == 8) {
      for (int x = 0; x < width; ++x) dst[x] = src[width - 1 - x];
    } else {
      std::memset(dst, 0, out.view.stride);
      for (int x = 0; x < width; ++x) setBit(dst, x, bitAt(src, width - 1 - x));
    }
  }
  copyPalette(in, out);
  return kOk;
}

}  // namespace vic
