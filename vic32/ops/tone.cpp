// Tone: changebright, histobrighten, brightenmidrange, usetable, negative, calcavglevel,
// kodalith, exchangelevel. Each is a table from old level to new level.
#include <cmath>
#include <cstring>

#include "ops.h"
#include "pixels.h"

namespace vic {
namespace {

using Table = uint8_t[256];

// Applies one table per channel. 24-bit pixels and the levels of a grey 8-bit image change
// directly (the output gets the identity grey ramp); a colour palette, a 1-bit image, or different
// tables on a grey image change the palette entries and keep the pixels.
int applyTables(const ImageDescriptor* source, ImageDescriptor* destination, const Table& red, const Table& green,
                const Table& blue) {
  Image in, out;
  int result = openPair(source, destination, in, out);
  if (result != kOk) return result;
  if (in.bits() != out.bits()) return kBadBits;
  if (!sameSize(in, out)) return kBadRange;
  std::vector<uint8_t> keep;
  if ((result = detachIfOverlapping(in, out, keep)) != kOk) return result;
  const int width = in.width();
  if (in.bits() == 24) {
    for (int y = 0; y < in.height(); ++y) {
      const uint8_t* src = in.row(y);
      uint8_t* dst = out.row(y);
      for (int x = 0; x < width; ++x, src += 3, dst += 3) {
        dst[0] = blue[src[0]];
        dst[1] = green[src[1]];
        dst[2] = red[src[2]];
      }
    }
    return kOk;
  }
  const bool sameTables = std::memcmp(red, green, 256) == 0 && std::memcmp(green, blue, 256) == 0;
  if (in.bits() == 8 && sameTables && hasGreyPalette(in) && out.paletteCapacity == 256) {
    uint8_t levels[256], map[256];
    greyLevelsOfPalette(in, levels);
    for (int i = 0; i < 256; ++i) map[i] = red[levels[i]];
    for (int y = 0; y < in.height(); ++y) {
      const uint8_t* src = in.row(y);
      uint8_t* dst = out.row(y);
      for (int x = 0; x < width; ++x) dst[x] = map[src[x]];
    }
    writeGreyRamp(out);
    return kOk;
  }
  RgbQuad entries[256];
  paletteSlots(in, entries);
  for (RgbQuad& e : entries) e = RgbQuad{blue[e.rgbBlue], green[e.rgbGreen], red[e.rgbRed], 0};
  for (int y = 0; y < in.height(); ++y) std::memcpy(out.row(y), in.row(y), out.view.stride);
  writePalette(out, entries, in.paletteCapacity);
  return kOk;
}

int applyTable(const ImageDescriptor* source, ImageDescriptor* destination, const Table& table) {
  return applyTables(source, destination, table, table, table);
}

// Counts of each grey level (luminance for colour pixels). kOk, kBadBuffer or kNoMemory.
int greyHistogram(const ImageDescriptor* source, double histogram[256], double& pixels) {
  Image in;
  int result = openImage(source, in);
  if (result != kOk) return result;
  std::vector<uint8_t> grey;
  if (!tryAllocate(grey, static_cast<size_t>(in.width()))) return kNoMemory;
  std::fill(histogram, histogram + 256, 0.0);
  for (int y = 0; y < in.height(); ++y) {
    rowToGrey(in, y, grey.data());
    for (int x = 0; x < in.width(); ++x) histogram[grey[x]] += 1;
  }
  pixels = static_cast<double>(in.width()) * in.height();
  return kOk;
}

bool isLevel(int v) { return v >= 0 && v <= 255; }

}  // namespace

int changeBright(int amount, const ImageDescriptor* source, ImageDescriptor* destination) {
  if (amount < -255 || amount > 255) return kBadRange;
  Table table;
  for (int i = 0; i < 256; ++i) table[i] = clampByte(i + amount);
  return applyTable(source, destination, table);
}

// Stretches the levels between the darkest and the brightest half percent of the picture over
// the full range, the same for every channel so that colours keep their hue.
int histoBrighten(const ImageDescriptor* source, ImageDescriptor* destination) {
  double histogram[256], pixels = 0;
  int result = greyHistogram(source, histogram, pixels);
  if (result != kOk) return result;
  const double tail = pixels * 0.005;
  int low = 0, high = 255;
  for (double seen = 0; low < 255 && (seen += histogram[low]) <= tail;) ++low;
  for (double seen = 0; high > 0 && (seen += histogram[high]) <= tail;) --high;
  Table table;
  for (int i = 0; i < 256; ++i)
    table[i] = high > low ? clampByte(static_cast<int>(std::lround((i - low) * 255.0 / (high - low)))) : uint8_t(i);
  return applyTable(source, destination, table);
}

// Lifts the middle tones (gamma 0.7) and keeps black and white where they are, so that a print,
// which comes out darker than the screen, shows the shadows.
int brightenMidRange(const ImageDescriptor* source, ImageDescriptor* destination) {
  Table table;
  for (int i = 0; i < 256; ++i) table[i] = clampByte(static_cast<int>(std::lround(255.0 * std::pow(i / 255.0, 0.7))));
  return applyTable(source, destination, table);
}

int useTable(const uint8_t* red, const uint8_t* green, const uint8_t* blue, const ImageDescriptor* source,
             ImageDescriptor* destination) {
  if (!red || !green || !blue) return kBadRange;
  Table r, g, b;
  std::memcpy(r, red, 256);
  std::memcpy(g, green, 256);
  std::memcpy(b, blue, 256);
  return applyTables(source, destination, r, g, b);
}

int negative(const ImageDescriptor* source, ImageDescriptor* destination) {
  Table table;
  for (int i = 0; i < 256; ++i) table[i] = static_cast<uint8_t>(255 - i);
  return applyTable(source, destination, table);
}

int exchangeLevel(int low, int high, int level, const ImageDescriptor* source, ImageDescriptor* destination) {
  if (!isLevel(low) || !isLevel(high) || !isLevel(level) || low > high) return kBadRange;
  Table table;
  for (int i = 0; i < 256; ++i)
    table[i] = (i >= low && i <= high) ? static_cast<uint8_t>(level) : static_cast<uint8_t>(i);
  return applyTable(source, destination, table);
}

// The mean grey level, and the means of the pixels below it and of those at or above it.
int calcAvgLevel(const ImageDescriptor* source, int32_t* average, int32_t* darkAverage, int32_t* lightAverage) {
  if (!average) return kBadRange;
  double histogram[256], pixels = 0;
  int result = greyHistogram(source, histogram, pixels);
  if (result != kOk) return result;
  double sum = 0;
  for (int i = 0; i < 256; ++i) sum += histogram[i] * i;
  int mean = static_cast<int>(std::lround(sum / pixels));
  double darkCount = 0, darkSum = 0;
  for (int i = 0; i < mean; ++i) {
    darkCount += histogram[i];
    darkSum += histogram[i] * i;
  }
  double lightCount = pixels - darkCount, lightSum = sum - darkSum;
  *average = mean;
  if (darkAverage) *darkAverage = darkCount > 0 ? static_cast<int32_t>(std::lround(darkSum / darkCount)) : mean;
  if (lightAverage) *lightAverage = lightCount > 0 ? static_cast<int32_t>(std::lround(lightSum / lightCount)) : mean;
  return kOk;
}

// Lith film: every pixel black or white by its grey level against `level`.
int kodalith(int level, const ImageDescriptor* source, ImageDescriptor* destination) {
  if (level < 0 || level > 256) return kBadRange;
  Image in, out;
  int result = openPair(source, destination, in, out);
  if (result != kOk) return result;
  if (in.bits() != 24) {
    Table table;
    for (int i = 0; i < 256; ++i) table[i] = i >= level ? 255 : 0;
    if (in.bits() == 8 && hasGreyPalette(in)) return applyTable(source, destination, table);
    // A colour palette: its entries by their own grey level, which makes it black and white.
    Table none;
    for (int i = 0; i < 256; ++i) none[i] = static_cast<uint8_t>(i);
    if ((result = applyTables(source, destination, none, none, none)) != kOk) return result;
    RgbQuad entries[256];
    paletteSlots(out, entries);
    for (RgbQuad& e : entries) {
      uint8_t v = table[luma(e.rgbRed, e.rgbGreen, e.rgbBlue)];
      e = RgbQuad{v, v, v, 0};
    }
    writePalette(out, entries, out.paletteCapacity);
    return kOk;
  }
  if (out.bits() != 24) return kBadBits;
  if (!sameSize(in, out)) return kBadRange;
  for (int y = 0; y < in.height(); ++y) {
    const uint8_t* src = in.row(y);
    uint8_t* dst = out.row(y);
    for (int x = 0; x < in.width(); ++x, src += 3, dst += 3) {
      uint8_t v = luma(src[2], src[1], src[0]) >= level ? 255 : 0;
      dst[0] = dst[1] = dst[2] = v;
    }
  }
  return kOk;
}

}  // namespace vic
