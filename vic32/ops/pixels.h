// Helpers shared by the pixel operations: checked access to an image's rows and palette, grey
// levels, and allocation that reports exhaustion instead of throwing.
#pragma once
#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

#include "../core/image.h"

namespace vic {

// One image as the operations see it: the checked view, the descriptor (to write the palette and
// the colour count) and how many palette entries the memory block really holds.
struct Image {
  ImageView view;
  ImageDescriptor* descriptor = nullptr;
  int paletteCapacity = 0;  // 0 for 24-bit

  int width() const { return view.width; }
  int height() const { return view.height; }
  int bits() const { return view.bits; }
  uint8_t* row(int y) const { return view.row(y); }
  RgbQuad* palette() const { return view.palette; }
  std::size_t pixelBytes() const { return static_cast<std::size_t>(view.stride) * view.height; }
};

// Checks a descriptor and fills `image`. kOk or kBadBuffer.
int openImage(const ImageDescriptor* descriptor, Image& image);
// Opens both images of a source-to-destination operation; kBadBuffer if either is unusable.
int openPair(const ImageDescriptor* source, ImageDescriptor* destination, Image& in, Image& out);

inline bool sameSize(const Image& a, const Image& b) { return a.width() == b.width() && a.height() == b.height(); }

// A vector of `count` elements, or false when memory is exhausted (callers return kNoMemory).
template <class T>
bool tryAllocate(std::vector<T>& v, std::size_t count, T fill = T()) {
  try {
    v.assign(count, fill);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

// When the destination's pixels overlap the source's (an operation in place), the source pixels
// are copied aside and `source` is pointed at the copy, so that no output row overwrites input the
// operation still has to read. kOk or kNoMemory.
int detachIfOverlapping(Image& source, const Image& destination, std::vector<uint8_t>& keep);

// Luminance with the Rec. 601 weights, 8-bit fixed point (weights sum to 256).
inline uint8_t luma(int red, int green, int blue) {
  return static_cast<uint8_t>((77 * red + 150 * green + 29 * blue + 128) >> 8);
}
inline uint8_t clampByte(int v) { return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); }

// Palette entries as 256 slots: entries the block does not hold read as black.
void paletteSlots(const Image& image, RgbQuad slots[256]);
// True when every palette entry the block holds is grey (red = green = blue).
bool hasGreyPalette(const Image& image);
// For each index of an 8-bit or 1-bit image, the grey level its palette entry shows.
void greyLevelsOfPalette(const Image& image, uint8_t levels[256]);
// Writes the identity grey ramp (entry i = level i) into an 8-bit image's palette.
void writeGreyRamp(const Image& image);
// Writes `count` entries to the palette, blacks out the rest of the block's entries, and sets the
// type word to what the palette now is (greyImageMark): every operation writes an output palette
// through here, so that a colour result is never marked grey, nor a grey one colour.
void writePalette(const Image& image, const RgbQuad* entries, int count);

// One row as blue-green-red triplets (three bytes a pixel), whatever the depth.
void rowToBgr(const Image& image, int y, uint8_t* bgr);
// One row as grey levels (luminance of colour pixels), whatever the depth.
void rowToGrey(const Image& image, int y, uint8_t* grey);

}  // namespace vic
