#include "pixels.h"

#include <cstring>

namespace vic {

int openImage(const ImageDescriptor* descriptor, Image& image) {
  int result = viewOf(descriptor, image.view);
  if (result != kOk) return result;
  image.descriptor = const_cast<ImageDescriptor*>(descriptor);
  image.paletteCapacity = 0;
  if (image.view.bits <= 8) {
    // The header says how many entries sit between it and the rows; never index past them.
    int full = 1 << image.view.bits;
    uint32_t used = descriptor->bmh->biClrUsed;
    image.paletteCapacity = (used == 0 || used > static_cast<uint32_t>(full)) ? full : static_cast<int>(used);
  }
  return kOk;
}

int openPair(const ImageDescriptor* source, ImageDescriptor* destination, Image& in, Image& out) {
  int result = openImage(source, in);
  if (result != kOk) return result;
  return openImage(destination, out);
}

int detachIfOverlapping(Image& source, const Image& destination, std::vector<uint8_t>& keep) {
  const uint8_t* s = source.view.bottomRow;
  const uint8_t* d = destination.view.bottomRow;
  std::size_t sn = source.pixelBytes(), dn = destination.pixelBytes();
  bool overlap = s < d + dn && d < s + sn;
  if (!overlap) return kOk;
  if (!tryAllocate(keep, sn)) return kNoMemory;
  std::memcpy(keep.data(), s, sn);
  source.view.bottomRow = keep.data();
  return kOk;
}

void paletteSlots(const Image& image, RgbQuad slots[256]) {
  std::memset(slots, 0, 256 * sizeof(RgbQuad));
  for (int i = 0; i < image.paletteCapacity; ++i) slots[i] = image.palette()[i];
}

bool hasGreyPalette(const Image& image) {
  return image.paletteCapacity > 0 && isGreyPalette(image.palette(), image.paletteCapacity);
}

void greyLevelsOfPalette(const Image& image, uint8_t levels[256]) {
  RgbQuad slots[256];
  paletteSlots(image, slots);
  for (int i = 0; i < 256; ++i) levels[i] = luma(slots[i].rgbRed, slots[i].rgbGreen, slots[i].rgbBlue);
}

void writeGreyRamp(const Image& image) {
  RgbQuad ramp[256];
  for (int i = 0; i < 256; ++i) ramp[i] = RgbQuad{uint8_t(i), uint8_t(i), uint8_t(i), 0};
  writePalette(image, ramp, 256);
}

void writePalette(const Image& image, const RgbQuad* entries, int count) {
  for (int i = 0; i < image.paletteCapacity; ++i) image.palette()[i] = i < count ? entries[i] : RgbQuad{0, 0, 0, 0};
  image.descriptor->imgtype = greyImageMark(image.bits(), image.palette(), image.paletteCapacity);
}

void rowToBgr(const Image& image, int y, uint8_t* bgr) {
  const uint8_t* row = image.row(y);
  int width = image.width();
  if (image.bits() == 24) {
    std::memcpy(bgr, row, static_cast<std::size_t>(width) * 3);
    return;
  }
  RgbQuad slots[256];
  paletteSlots(image, slots);
  for (int x = 0; x < width; ++x) {
    int index = image.bits() == 8 ? row[x] : bitAt(row, x);
    bgr[3 * x] = slots[index].rgbBlue;
    bgr[3 * x + 1] = slots[index].rgbGreen;
    bgr[3 * x + 2] = slots[index].rgbRed;
  }
}

void rowToGrey(const Image& image, int y, uint8_t* grey) {
  const uint8_t* row = image.row(y);
  int width = image.width();
  if (image.bits() == 24) {
    for (int x = 0; x < width; ++x) grey[x] = luma(row[3 * x + 2], row[3 * x + 1], row[3 * x]);
    return;
  }
  uint8_t levels[256];
  greyLevelsOfPalette(image, levels);
  for (int x = 0; x < width; ++x) grey[x] = levels[image.bits() == 8 ? row[x] : bitAt(row, x)];
}

}  // namespace vic
