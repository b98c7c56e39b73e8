// Colour depth: convertrgbtopal, convertpaltorgb, colortogray, reduceimagecolors,
// convert8bitto1bit, convert1bitto8bit, rainbowpalette, matchcolorimage, colordither.
#include <cstring>
#include <new>

#include "bilevel.h"
#include "ops.h"
#include "pixels.h"
#include "quantize.h"

namespace vic {
namespace {

// Opens a conversion: same size, destination of the given depth, source pixels detached when
// the two share memory.
int openConversion(const ImageDescriptor* source, ImageDescriptor* destination, int destinationBits, Image& in,
                   Image& out, std::vector<uint8_t>& keep) {
  int result = openPair(source, destination, in, out);
  if (result != kOk) return result;
  if (out.bits() != destinationBits) return kBadBits;
  if (!sameSize(in, out)) return kBadRange;
  return detachIfOverlapping(in, out, keep);
}

// The best palette of at most `colours` entries for the picture and the picture written through
// it. A picture with no more colours than that keeps every colour exactly; otherwise the palette
// comes from median cut and the error is diffused, which keeps the smooth gradients of camera
// pictures (sky, skin, walls) free of the bands that plain nearest-colour mapping leaves.
int quantizeInto(const Image& in, const Image& out, int colours) {
  Palette palette;
  bool failed = false;
  bool exact = collectExactColours(in, colours, palette, failed);
  if (failed) return kNoMemory;
  if (!exact && !medianCutPalette(in, colours, palette)) return kNoMemory;
  int result;
  try {
    if (exact) {
      NearestColour nearest(palette);
      result = writeThroughPalette(in, out, palette, nearest, false);
    } else {
      CellNearest nearest(palette);
      result = writeThroughPalette(in, out, palette, nearest, true);
    }
  } catch (const std::bad_alloc&) {
    return kNoMemory;
  }
  if (result == kOk) out.descriptor->colors = colours;
  return result;
}

}  // namespace

int convertRgbToPal(int colors, const ImageDescriptor* source, ImageDescriptor* destination) {
  if (colors < 2 || colors > 256) return kBadRange;
  Image in, out;
  std::vector<uint8_t> keep;
  int result = openConversion(source, destination, 8, in, out, keep);
  if (result != kOk) return result;
  if (out.paletteCapacity < colors) return kBadBuffer;
  return quantizeInto(in, out, colors);
}

int reduceImageColors(const ImageDescriptor* source, ImageDescriptor* destination) {
  // The destination's colour count, set by the caller, is the number of colours wanted.
  return convertRgbToPal(destination ? destination->colors : 0, source, destination);
}

int convertPalToRgb(const ImageDescriptor* source, ImageDescriptor* destination) {
  Image in, out;
  std::vector<uint8_t> keep;
  int result = openConversion(source, destination, 24, in, out, keep);
  if (result != kOk) return result;
  for (int y = 0; y < in.height(); ++y) rowToBgr(in, y, out.row(y));
  return kOk;
}

int colorToGray(const ImageDescriptor* source, ImageDescriptor* destination) {
  Image in, out;
  std::vector<uint8_t> keep;
  int result = openConversion(source, destination, 8, in, out, keep);
  if (result != kOk) return result;
  if (out.paletteCapacity < 256) return kBadBuffer;
  for (int y = 0; y < in.height(); ++y) rowToGrey(in, y, out.row(y));
  writeGreyRamp(out);  // which marks it a grey image from now on
  out.descriptor->colors = 256;
  return kOk;
}

int convert8BitTo1Bit(int mode, const ImageDescriptor* source, ImageDescriptor* destination) {
  if (mode != 0) return kBadRange;
  Image in, out;
  std::vector<uint8_t> keep;
  int result = openConversion(source, destination, 1, in, out, keep);
  if (result != kOk) return result;
  if (in.bits() == 1) return kBadBits;
  // Error diffusion keeps the grey tones of a picture as dot density; a plain threshold would
  // leave only the silhouettes.
  ScatterDither scatter;
  std::vector<uint8_t> grey;
  if (!scatter.start(in.width()) || !tryAllocate(grey, static_cast<size_t>(in.width()))) return kNoMemory;
  for (int y = 0; y < in.height(); ++y) {
    rowToGrey(in, y, grey.data());
    uint8_t* bits = out.row(y);
    std::memset(bits, 0, out.view.stride);
    scatter.row(grey.data(), bits);
  }
  const RgbQuad blackAndWhite[2] = {{0, 0, 0, 0}, {255, 255, 255, 0}};
  writePalette(out, blackAndWhite, 2);
  out.descriptor->colors = 2;
  return kOk;
}

int convert1BitTo8Bit(const ImageDescriptor* source, ImageDescriptor* destination) {
  Image in, out;
  std::vector<uint8_t> keep;
  int result = openConversion(source, destination, 8, in, out, keep);
  if (result != kOk) return result;
  if (in.bits() != 1) return kBadBits;
  if (out.paletteCapacity < 256) return kBadBuffer;
  // A black-and-white (grey) source becomes a grey image whose pixel values are levels, so that
  // the level operations work on it; a two-colour source keeps its two colours as indices.
  const bool grey = hasGreyPalette(in);
  uint8_t value[2] = {0, 1};
  if (grey) {
    value[0] = in.palette()[0].rgbRed;
    value[1] = in.palette()[in.paletteCapacity > 1 ? 1 : 0].rgbRed;
  }
  for (int y = 0; y < in.height(); ++y) {
    const uint8_t* src = in.row(y);
    uint8_t* dst = out.row(y);
    for (int x = 0; x < in.width(); ++x) dst[x] = value[bitAt(src, x)];
  }
  if (grey) {
    writeGreyRamp(out);
  } else {
    writePalette(out, in.palette(), in.paletteCapacity);
  }
  out.descriptor->colors = 256;
  return kOk;
}

int rainbowPalette(ImageDescriptor* destination) {
  Image out;
  int result = openImage(destination, out);
  if (result != kOk) return result;
  if (out.bits() != 8) return kBadBits;
  if (out.paletteCapacity < 256) return kBadBuffer;
  writePalette(out, rainbowDisplayPalette().entries, 256);
  destination->colors = 256;
  return kOk;
}

int matchColorImage(const ImageDescriptor* source, ImageDescriptor* destination) {
  Image in, out;
  std::vector<uint8_t> keep;
  int result = openConversion(source, destination, 8, in, out, keep);
  if (result != kOk) return result;
  if (in.bits() == 1) return kBadBits;
  Palette palette;
  palette.count = out.paletteCapacity;
  std::memcpy(palette.entries, out.palette(), sizeof(RgbQuad) * palette.count);
  // The display palette is almost always the rainbow palette, matched by table look-up fast
  // enough for live preview; any other palette is searched.
  if (palette.count == 256 &&
      std::memcmp(palette.entries, rainbowDisplayPalette().entries, sizeof palette.entries) == 0) {
    return writeThroughPalette(in, out, palette, rainbowNearest(), false);
  }
  try {
    NearestColour nearest(palette);
    return writeThroughPalette(in, out, palette, nearest, false);
  } catch (const std::bad_alloc&) {
    return kNoMemory;
  }
}

int colorDither(const ImageDescriptor* source, ImageDescriptor* destination, int mode) {
  // Mode 0 and 16: the sixteen colours of a 16-colour display; 256: the 256-colour rainbow.
  if (mode != 0 && mode != 16 && mode != 256) return kBadRange;
  Image in, out;
  std::vector<uint8_t> keep;
  int result = openConversion(source, destination, 8, in, out, keep);
  if (result != kOk) return result;
  if (in.bits() == 1) return kBadBits;
  if (out.paletteCapacity < (mode == 256 ? 256 : 16)) return kBadBuffer;
  if (mode == 256) {
    result = writeThroughPalette(in, out, rainbowDisplayPalette(), rainbowNearest(), true);
  } else {
    try {
      CellNearest nearest(sixteenColourPalette());
      result = writeThroughPalette(in, out, sixteenColourPalette(), nearest, true);
    } catch (const std::bad_alloc&) {
      return kNoMemory;
    }
  }
  return result;
}

}  // namespace vic
