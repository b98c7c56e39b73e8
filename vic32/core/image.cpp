#include "image.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "dib.h"
#include "memory.h"

namespace vic {

int viewOf(const ImageDescriptor* image, ImageView& view) {
  if (!image || !image->bmh || !image->ibuff) return kBadBuffer;
  const BitmapInfoHeader& header = *image->bmh;
  int bits = header.biBitCount;
  if (header.biWidth <= 0 || header.biHeight == 0 || (bits != 1 && bits != 8 && bits != 24)) return kBadBuffer;
  int height = header.biHeight < 0 ? -header.biHeight : header.biHeight;
  if (header.biHeight < 0) return kBadBuffer;  // top-down bitmaps are not images of this library
  if (image->buffwidth != dibStride(header.biWidth, bits)) return kBadBuffer;
  if (bits != 24 && !image->palette) return kBadBuffer;
  view.width = header.biWidth;
  view.height = height;
  view.bits = bits;
  view.stride = image->buffwidth;
  view.bottomRow = image->ibuff;
  view.palette = image->palette;
  view.colors = image->colors;
  return kOk;
}

bool isGreyPalette(const RgbQuad* palette, int colors) {
  for (int i = 0; i < colors; ++i) {
    if (palette[i].rgbRed != palette[i].rgbGreen || palette[i].rgbGreen != palette[i].rgbBlue) return false;
  }
  return true;
}

bool isIdentityGreyRamp(const RgbQuad* palette, int colors) {
  for (int i = 0; i < colors; ++i) {
    if (palette[i].rgbRed != i || palette[i].rgbGreen != i || palette[i].rgbBlue != i) return false;
  }
  return true;
}

int32_t greyImageMark(int bits, const RgbQuad* palette, int colors) {
  return bits == 8 && isGreyPalette(palette, colors) ? 1 : 0;
}

namespace {

int paletteSizeFor(int bits) { return bits == 1 ? 2 : bits == 8 ? 256 : 0; }

// Palette entries a checked view may be read or written through: the record's count, never more
// than its depth allows.
int usableColors(const ImageView& view) { return std::max(0, std::min(view.colors, paletteSizeFor(view.bits))); }

bool sizeWithinLimits(int width, int height) {
  return width > 0 && height > 0 && width <= kMaxDimension && height <= kMaxDimension &&
         static_cast<int64_t>(width) * height <= kMaxPixels;
}

void fillDefaultPalette(RgbQuad* palette, int bits) {
  int colors = paletteSizeFor(bits);
  for (int i = 0; i < colors; ++i) {
    uint8_t level = static_cast<uint8_t>(bits == 1 ? i * 255 : i);
    palette[i] = RgbQuad{level, level, level, 0};
  }
}

// The image area as a checked rectangle inside the image.
struct Area {
  int x, y, width, height;
};

int areaOf(const ImageDescriptor* image, const ImageView& view, Area& area) {
  if (image->stx < 0 || image->sty < 0 || image->stx > image->endx || image->sty > image->endy ||
      image->endx >= view.width || image->endy >= view.height) {
    return kBadRange;
  }
  area = Area{image->stx, image->sty, image->endx - image->stx + 1, image->endy - image->sty + 1};
  return kOk;
}

}  // namespace

void copyRowPixels(const uint8_t* source, int sourceX, uint8_t* destination, int destinationX, int count, int bits) {
  if (bits == 1) {
    // Within one row, copy from the far end when moving right so no bit is overwritten unread.
    bool backward = source == destination && destinationX > sourceX;
    for (int n = 0; n < count; ++n) {
      int i = backward ? count - 1 - n : n;
      setBit(destination, destinationX + i, bitAt(source, sourceX + i));
    }
    return;
  }
  int bytesPerPixel = bits / 8;
  std::memmove(destination + destinationX * bytesPerPixel, source + sourceX * bytesPerPixel,
               static_cast<std::size_t>(count) * bytesPerPixel);
}

int allocImage(ImageDescriptor* descriptor, int width, int height, int bits) {
  if (!descriptor) return kBadBuffer;
  if (bits != 1 && bits != 8 && bits != 24) return kBadBits;
  if (!sizeWithinLimits(width, height)) return kBadRange;
  int colors = paletteSizeFor(bits);
  int stride = dibStride(width, bits);
  std::size_t pixelBytes = static_cast<std::size_t>(stride) * height;
  std::size_t headerBytes = sizeof(BitmapInfoHeader) + colors * sizeof(RgbQuad);
  auto* block = static_cast<uint8_t*>(allocImageBlock(headerBytes + pixelBytes));
  if (!block) return kNoMemory;

  auto* header = reinterpret_cast<BitmapInfoHeader*>(block);
  header->biSize = sizeof(BitmapInfoHeader);
  header->biWidth = width;
  header->biHeight = height;
  header->biPlanes = 1;
  header->biBitCount = static_cast<uint16_t>(bits);
  header->biCompression = 0;
  header->biSizeImage = static_cast<uint32_t>(pixelBytes);
  header->biClrUsed = static_cast<uint32_t>(colors);
  auto* palette = colors ? reinterpret_cast<RgbQuad*>(block + sizeof(BitmapInfoHeader)) : nullptr;
  if (palette) fillDefaultPalette(palette, bits);

  descriptor->ibuff = block + headerBytes;
  descriptor->stx = 0;
  descriptor->sty = 0;
  descriptor->endx = width - 1;
  descriptor->endy = height - 1;
  descriptor->buffwidth = stride;
  descriptor->palette = palette;
  descriptor->colors = colors;
  descriptor->imgtype = greyImageMark(bits, palette, colors);
  descriptor->bmh = header;
  return kOk;
}

void freeImage(ImageDescriptor* descriptor) {
  if (!descriptor || !descriptor->bmh) return;
  freeImageBlock(descriptor->bmh);
  *descriptor = ImageDescriptor{};
}

int copyImagePalette(const ImageDescriptor* source, ImageDescriptor* destination) {
  ImageView from, to;
  if (viewOf(source, from) != kOk || viewOf(destination, to) != kOk) return kBadBuffer;
  int count = std::min(usableColors(from), usableColors(to));
  if (count > 0) std::memmove(to.palette, from.palette, count * sizeof(RgbQuad));
  destination->imgtype = source->imgtype;
  return kOk;
}

int copyImage(const ImageDescriptor* source, ImageDescriptor* destination) {
  ImageView from, to;
  if (viewOf(source, from) != kOk || viewOf(destination, to) != kOk) return kBadBuffer;
  if (from.bits != to.bits) return kBadBits;
  Area sourceArea, destinationArea;
  if (areaOf(source, from, sourceArea) != kOk || areaOf(destination, to, destinationArea) != kOk) return kBadRange;
  int width = std::min(sourceArea.width, destinationArea.width);
  int height = std::min(sourceArea.height, destinationArea.height);
  // Both records may name the same pixels. Rows lie bottom-up in memory, so when the destination
  // lies higher in memory, copy from the top row down (highest address first), else bottom up.
  bool destinationHigher = to.row(destinationArea.y) > from.row(sourceArea.y);
  for (int i = 0; i < height; ++i) {
    int y = destinationHigher ? i : height - 1 - i;
    copyRowPixels(from.row(sourceArea.y + y), sourceArea.x, to.row(destinationArea.y + y), destinationArea.x, width,
                  from.bits);
  }
  if (from.palette != to.palette) copyImagePalette(source, destination);
  destination->imgtype = source->imgtype;
  return kOk;
}

int copyImgDes(const ImageDescriptor* source, ImageDescriptor* destination) {
  if (!source || !destination) return kBadBuffer;
  *destination = *source;
  return kOk;
}

int rectToImageArea(const Rect* rect, ImageDescriptor* descriptor) {
  if (!rect || !descriptor) return kBadBuffer;
  descriptor->stx = rect->left;
  descriptor->sty = rect->top;
  descriptor->endx = rect->right - 1;
  descriptor->endy = rect->bottom - 1;
  return kOk;
}

int imageAreaToRect(const ImageDescriptor* descriptor, Rect* rect) {
  if (!rect || !descriptor) return kBadBuffer;
  *rect = Rect{descriptor->stx, descriptor->sty, descriptor->endx + 1, descriptor->endy + 1};
  return kOk;
}

int Picture::allocate(int newWidth, int newHeight, int newBits) {
  if (newBits != 1 && newBits != 8 && newBits != 24) return kBadBits;
  if (!sizeWithinLimits(newWidth, newHeight)) return kBadRange;
  width = newWidth;
  height = newHeight;
  bits = newBits;
  stride = dibStride(newWidth, newBits);
  try {
    pixels.assign(static_cast<std::size_t>(stride) * newHeight, 0);
    palette.assign(paletteSizeFor(newBits), RgbQuad{0, 0, 0, 0});
  } catch (const std::bad_alloc&) {
    pixels.clear();
    return kNoMemory;
  }
  fillDefaultPalette(palette.data(), newBits);
  return kOk;
}

void clearRowPadding(Picture& picture) {
  int usedBits = picture.width * picture.bits;
  for (int y = 0; y < picture.height; ++y) {
    uint8_t* row = picture.row(y);
    if (usedBits % 8) row[usedBits / 8] &= static_cast<uint8_t>(0xFF00 >> (usedBits % 8));
    for (int i = (usedBits + 7) / 8; i < picture.stride; ++i) row[i] = 0;
  }
}

int pictureToImage(const Picture& picture, ImageDescriptor* descriptor) {
  ImageView view;
  if (viewOf(descriptor, view) != kOk) return kBadBuffer;
  if (view.bits != picture.bits) return kBadBits;
  Area area;
  if (areaOf(descriptor, view, area) != kOk) return kBadRange;
  int width = std::min(area.width, picture.width);
  int height = std::min(area.height, picture.height);
  for (int y = 0; y < height; ++y) {
    copyRowPixels(picture.row(y), 0, view.row(area.y + y), area.x, width, view.bits);
  }
  int colors = std::min<int>(usableColors(view), static_cast<int>(picture.palette.size()));
  if (colors > 0) std::memcpy(view.palette, picture.palette.data(), colors * sizeof(RgbQuad));
  descriptor->imgtype = greyImageMark(view.bits, view.palette, usableColors(view));
  return kOk;
}

int imageToPicture(const ImageDescriptor* descriptor, Picture& picture) {
  ImageView view;
  if (viewOf(descriptor, view) != kOk) return kBadBuffer;
  Area area;
  if (areaOf(descriptor, view, area) != kOk) return kBadRange;
  int result = picture.allocate(area.width, area.height, view.bits);
  if (result != kOk) return result;
  for (int y = 0; y < area.height; ++y) {
    copyRowPixels(view.row(area.y + y), area.x, picture.row(y), 0, area.width, view.bits);
  }
  int colors = std::min<int>(usableColors(view), static_cast<int>(picture.palette.size()));
  if (colors > 0) std::memcpy(picture.palette.data(), view.palette, colors * sizeof(RgbQuad));
  return kOk;
}

int dibToImage(const uint8_t* dib, std::size_t dibBytes, ImageDescriptor* descriptor) {
  if (!dib || !dibBytes || !descriptor) return kBadBuffer;
  DibLayout layout;
  int result = parseDibHeader(dib, dibBytes, layout, kBadData);
  if (result != kOk) return result;
  if (layout.compression == kDibRle8 || layout.compression == kDibRle4) return kCompressedDib;
  Picture picture;
  result = decodeDibPixels(dib, dibBytes, layout, layout.pixelOffset, picture, kBadData);
  if (result != kOk) return result;
  ImageDescriptor fresh{};
  result = allocImage(&fresh, picture.width, picture.height, picture.bits);
  if (result != kOk) return result;
  pictureToImage(picture, &fresh);
  freeImage(descriptor);
  *descriptor = fresh;
  return kOk;
}

int dibBlockToImage(const uint8_t* dib, ImageDescriptor* descriptor) {
  return dibToImage(dib, imageBlockBytesFrom(dib), descriptor);
}

int imageToDib(const ImageDescriptor* descriptor, uint8_t** dib) {
  if (!dib) return kBadBuffer;
  *dib = nullptr;
  ImageView view;
  if (viewOf(descriptor, view) != kOk) return kBadBuffer;
  int colors = usableColors(view);
  std::size_t headerBytes = sizeof(BitmapInfoHeader) + colors * sizeof(RgbQuad);
  std::size_t pixelBytes = static_cast<std::size_t>(view.stride) * view.height;
  auto* block = static_cast<uint8_t*>(allocImageBlock(headerBytes + pixelBytes));
  if (!block) return kNoMemory;
  BitmapInfoHeader header = *descriptor->bmh;
  header.biSize = sizeof(BitmapInfoHeader);
  header.biCompression = 0;
  header.biSizeImage = static_cast<uint32_t>(pixelBytes);
  header.biClrUsed = static_cast<uint32_t>(colors);
  std::memcpy(block, &header, sizeof header);
  if (colors) std::memcpy(block + sizeof header, view.palette, colors * sizeof(RgbQuad));
  std::memcpy(block + headerBytes, view.bottomRow, pixelBytes);
  *dib = block;
  return kOk;
}

}  // namespace vic
