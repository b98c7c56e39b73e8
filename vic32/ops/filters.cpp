// Neighbourhood effects and image arithmetic: sharpengentle, blur, matrixconv, outline, addimage,
// subimage. They work on levels: the three channels of a 24-bit image or the grey levels of a
// grey 8-bit image. Pixels beyond the border repeat the border pixel.
#include <algorithm>
#include <cstring>

#include "ops.h"
#include "pixels.h"

namespace vic {
namespace {

// An image's levels, top row first, rows packed.
struct Levels {
  int width = 0, height = 0, channels = 0;
  std::vector<uint8_t> values;

  const uint8_t* at(int x, int y) const {
    x = std::clamp(x, 0, width - 1);
    y = std::clamp(y, 0, height - 1);
    return &values[(static_cast<size_t>(y) * width + x) * channels];
  }
};

int readLevels(const Image& image, Levels& levels) {
  if (image.bits() == 24) {
    levels.channels = 3;
  } else if (image.bits() == 8 && hasGreyPalette(image)) {
    levels.channels = 1;
  } else {
    return kBadBits;
  }
  levels.width = image.width();
  levels.height = image.height();
  const size_t rowValues = static_cast<size_t>(levels.width) * levels.channels;
  if (!tryAllocate(levels.values, rowValues * levels.height)) return kNoMemory;
  for (int y = 0; y < levels.height; ++y) {
    uint8_t* dst = &levels.values[rowValues * y];
    if (levels.channels == 3) {
      std::memcpy(dst, image.row(y), rowValues);
    } else {
      rowToGrey(image, y, dst);
    }
  }
  return kOk;
}

// The destination must hold levels of the same kind and size.
int checkLevelsFit(const Levels& levels, const Image& out) {
  if (out.bits() != (levels.channels == 3 ? 24 : 8)) return kBadBits;
  if (out.width() != levels.width || out.height() != levels.height) return kBadRange;
  if (levels.channels == 1 && out.paletteCapacity < 256) return kBadBuffer;
  return kOk;
}

void writeLevels(const Levels& levels, const Image& out) {
  const size_t rowValues = static_cast<size_t>(levels.width) * levels.channels;
  for (int y = 0; y < levels.height; ++y) std::memcpy(out.row(y), &levels.values[rowValues * y], rowValues);
  if (levels.channels == 1) writeGreyRamp(out);
}

// Runs `compute(input levels, output levels)` from source to destination.
template <class Compute>
int levelOperation(const ImageDescriptor* source, ImageDescriptor* destination, Compute compute) {
  Image in, out;
  int result = openPair(source, destination, in, out);
  if (result != kOk) return result;
  Levels input, output;
  if ((result = readLevels(in, input)) != kOk) return result;
  if ((result = checkLevelsFit(input, out)) != kOk) return result;
  output.width = input.width;
  output.height = input.height;
  output.channels = input.channels;
  if (!tryAllocate(output.values, input.values.size())) return kNoMemory;
  compute(input, output);
  writeLevels(output, out);
  return kOk;
}

// Rounded quotient (halves away from minus infinity), for either sign of the divisor.
int divideRounded(int sum, int divisor) {
  if (divisor < 0) {
    sum = -sum;
    divisor = -divisor;
  }
  int twice = 2 * sum + divisor;
  int q = twice / (2 * divisor);
  if (twice % (2 * divisor) != 0 && twice < 0) --q;  // floor for negative values
  return q;
}

// The border repeats its pixels: each row and column's neighbours are found once (clamped), not at
// every tap.
void convolve(const Levels& in, Levels& out, const int kernel[9], int divisor) {
  const int channels = in.channels;
  const size_t rowValues = static_cast<size_t>(in.width) * channels;
  for (int y = 0; y < in.height; ++y) {
    const uint8_t* rows[3] = {in.at(0, y - 1), in.at(0, y), in.at(0, y + 1)};
    uint8_t* target = &out.values[rowValues * y];
    for (int x = 0; x < in.width; ++x) {
      const int columns[3] = {std::max(x - 1, 0) * channels, x * channels, std::min(x + 1, in.width - 1) * channels};
      for (int c = 0; c < channels; ++c) {
        int sum = 0;
        for (int ky = 0; ky < 3; ++ky) {
          const uint8_t* row = rows[ky] + c;
          sum += kernel[ky * 3] * row[columns[0]] + kernel[ky * 3 + 1] * row[columns[1]] +
                 kernel[ky * 3 + 2] * row[columns[2]];
        }
        target[x * channels + c] = clampByte(divideRounded(sum, divisor));
      }
    }
  }
}

int convolveImage(const ImageDescriptor* source, ImageDescriptor* destination, const int kernel[9], int divisor) {
  return levelOperation(source, destination,
                        [&](const Levels& in, Levels& out) { convolve(in, out, kernel, divisor); });
}

// Two images of the same kind and size combined level by level into a third.
template <class Combine>
int combine(const ImageDescriptor* first, const ImageDescriptor* second, ImageDescriptor* destination, Combine op) {
  Image a, b, out;
  int result = openImage(first, a);
  if (result == kOk) result = openImage(second, b);
  if (result == kOk) result = openImage(destination, out);
  if (result != kOk) return result;
  Levels la, lb;
  if ((result = readLevels(a, la)) != kOk || (result = readLevels(b, lb)) != kOk) return result;
  if (la.channels != lb.channels) return kBadBits;
  if (la.width != lb.width || la.height != lb.height) return kBadRange;
  if ((result = checkLevelsFit(la, out)) != kOk) return result;
  for (size_t i = 0; i < la.values.size(); ++i) la.values[i] = clampByte(op(la.values[i], lb.values[i]));
  writeLevels(la, out);
  return kOk;
}

}  // namespace

// The picture plus half of its difference from the mean of its four neighbours.
int sharpenGentle(const ImageDescriptor* source, ImageDescriptor* destination) {
  static const int kernel[9] = {0, -1, 0, -1, 12, -1, 0, -1, 0};
  return convolveImage(source, destination, kernel, 8);
}

int blur(const ImageDescriptor* source, ImageDescriptor* destination) {
  static const int kernel[9] = {1, 2, 1, 2, 4, 2, 1, 2, 1};
  return convolveImage(source, destination, kernel, 16);
}

int matrixConv(const int8_t* kernel, const ImageDescriptor* source, ImageDescriptor* destination) {
  if (!kernel || kernel[9] == 0) return kBadRange;
  int coefficients[9];
  for (int i = 0; i < 9; ++i) coefficients[i] = kernel[i];
  return convolveImage(source, destination, coefficients, kernel[9]);
}

// A line drawing: each pixel darkens by how much brighter its brightest four-neighbour is, so
// dark shapes on a light ground keep a one-pixel outline on their own side of the edge and flat
// areas turn white.
int outline(const ImageDescriptor* source, ImageDescriptor* destination) {
  return levelOperation(source, destination, [](const Levels& in, Levels& out) {
    static const int dx[4] = {1, -1, 0, 0}, dy[4] = {0, 0, 1, -1};
    for (int y = 0; y < in.height; ++y)
      for (int x = 0; x < in.width; ++x)
        for (int c = 0; c < in.channels; ++c) {
          int self = in.at(x, y)[c], rise = 0;
          for (int k = 0; k < 4; ++k) rise = std::max(rise, in.at(x + dx[k], y + dy[k])[c] - self);
          out.values[(static_cast<size_t>(y) * in.width + x) * in.channels + c] = static_cast<uint8_t>(255 - rise);
        }
  });
}

int addImage(const ImageDescriptor* first, const ImageDescriptor* second, ImageDescriptor* destination) {
  return combine(first, second, destination, [](int a, int b) { return a + b; });
}

int subImage(const ImageDescriptor* first, const ImageDescriptor* second, ImageDescriptor* destination) {
  return combine(first, second, destination, [](int a, int b) { return a - b; });
}

}  // namespace vic
