// The output-format converters and the doubling for the 1280 x 960 size. The source is always the
// packed 4:2:2 frame (Y0 U Y1 V per pixel pair, rows top-down).
#include <cstring>

#include "colour_convert.h"
#include "jpeg_decoder.h"

namespace qrjpeg {

namespace {

constexpr int kMaxSide = 16384;

bool sizeOk(int width, int height) {
  return width >= 0 && height >= 0 && width <= kMaxSide && height <= kMaxSide && width % 2 == 0;
}

size_t frameBytes(int width, int height) { return static_cast<size_t>(width) * static_cast<size_t>(height) * 2; }

using RowConverter = void (*)(const uint8_t* src, int width, uint8_t* dst);

// Formats 0, 1 and 2: each source row through its row converter, the first source row becoming the
// last output row.
void convertBottomUp(RowConverter convertRow, int bytesPerPixel, const uint8_t* frame, int w, int h, uint8_t* out) {
  const size_t outStride = static_cast<size_t>(w) * bytesPerPixel;
  for (int y = 0; y < h; ++y) {
    convertRow(frame + static_cast<size_t>(y) * w * 2, w, out + static_cast<size_t>(h - 1 - y) * outStride);
  }
}

void extractLumaPlane(const uint8_t* frame, int w, int h, uint8_t* out) {
  for (int y = 0; y < h; ++y) {
    ExtractLumaRow(frame + static_cast<size_t>(y) * w * 2, w, out + static_cast<size_t>(y) * w);
  }
}

// Chroma of format 3: the average of two rows for each pixel pair.
void convertYuv420(const uint8_t* frame, int w, int h, uint8_t* out) {
  extractLumaPlane(frame, w, h, out);
  const int cw = w / 2, ch = h / 2;
  const size_t stride = static_cast<size_t>(w) * 2;
  uint8_t* uPlane = out + static_cast<size_t>(w) * h;
  uint8_t* vPlane = uPlane + static_cast<size_t>(cw) * ch;
  for (int k = 0; k < ch; ++k) {
    const uint8_t* a = frame + 2 * k * stride;
    const uint8_t* b = a + stride;
    AverageChromaRows(a, b, cw, uPlane + static_cast<size_t>(k) * cw, vPlane + static_cast<size_t>(k) * cw);
  }
}

// Format 5 in strips of four rows, so that each source row is read once for its luminance and its
// share of the block chroma; rows below the last whole strip give luminance only.
void convertYvu410(const uint8_t* frame, int w, int h, uint8_t* out) {
  const int cw = w / 4, ch = h / 4;
  const size_t stride = static_cast<size_t>(w) * 2;
  uint8_t* vPlane = out + static_cast<size_t>(w) * h;
  uint8_t* uPlane = vPlane + static_cast<size_t>(cw) * ch;
  for (int k = 0; k < ch; ++k) {
    ConvertStripYvu410(frame + 4 * k * stride, stride, w, out + static_cast<size_t>(4 * k) * w, w,
                       uPlane + static_cast<size_t>(k) * cw, vPlane + static_cast<size_t>(k) * cw);
  }
  for (int y = 4 * ch; y < h; ++y) {
    ExtractLumaRow(frame + static_cast<size_t>(y) * stride, w, out + static_cast<size_t>(y) * w);
  }
}

}  // namespace

size_t OutputBytes(int format, int width, int height) {
  if (width < 0 || height < 0 || width > kMaxSide || height > kMaxSide) return 0;
  size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
  switch (format) {
    case kFormatBgr24:
      return pixels * 3;
    case kFormatGrey8:
      return pixels;
    case kFormatRgb555:
      return pixels * 2;
    case kFormatYuv420:
      return pixels + 2 * static_cast<size_t>(width / 2) * static_cast<size_t>(height / 2);
    case kFormatPacked422:
      return pixels * 2;
    case kFormatYvu410:
      return pixels + 2 * static_cast<size_t>(width / 4) * static_cast<size_t>(height / 4);
    default:
      return 0;
  }
}

bool ConvertFrame(int format, const uint8_t* frame, size_t frameCapacity, int width, int height, uint8_t* out,
                  size_t outCapacity) {
  if (format < kFormatBgr24 || format > kFormatYvu410 || !sizeOk(width, height)) return false;
  if (frameBytes(width, height) > frameCapacity || OutputBytes(format, width, height) > outCapacity) {
    return false;
  }
  if (width == 0 || height == 0) return true;
  if (!frame || !out) return false;
  switch (format) {
    case kFormatBgr24:
      convertBottomUp(ConvertRowBgr24, 3, frame, width, height, out);
      break;
    case kFormatGrey8:
      convertBottomUp(ExtractLumaRow, 1, frame, width, height, out);
      break;
    case kFormatRgb555:
      convertBottomUp(ConvertRowRgb555, 2, frame, width, height, out);
      break;
    case kFormatYuv420:
      convertYuv420(frame, width, height, out);
      break;
    case kFormatPacked422:
      std::memcpy(out, frame, frameBytes(width, height));
      break;
    case kFormatYvu410:
      convertYvu410(frame, width, height, out);
      break;
  }
  return true;
}

bool DoubleFrame(uint8_t* frame, size_t capacity) {
  constexpr int kSrcWidth = 640, kSrcHeight = 480;
  constexpr size_t kSrcStride = kSrcWidth * 2, kDstStride = kSrcStride * 2;
  if (!frame || capacity < kDstStride * kSrcHeight * 2) return false;
  // Bottom-up: output rows 2a and 2a + 1 lie at or after source row a, so unread rows survive.
  for (int a = kSrcHeight - 1; a >= 0; --a) {
    const uint8_t* src = frame + a * kSrcStride;
    uint8_t* odd = frame + (2 * a + 1) * kDstStride;
    DoublePixelsRow(src, kSrcWidth, odd);
    std::memcpy(frame + 2 * a * kDstStride, odd, kDstStride);
  }
  return true;
}

}  // namespace qrjpeg
