#include "image.h"

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

}  // namespace vic
