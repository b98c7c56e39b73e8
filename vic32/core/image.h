// The image record shared by the image library, the camera library and the front ends, and the
// result codes of the image library. Win32-free: the same layout is used by the DLL (where the
// block comes from GlobalAlloc) and by the native build of the pixel and codec code.
//
// An image is one packed device-independent bitmap in one memory block: a 40-byte
// BITMAPINFOHEADER, then the palette (blue, green, red, zero entries), then the rows, bottom-up,
// each padded to a multiple of four bytes. The descriptor points into that block.
#pragma once
#include <cstddef>
#include <cstdint>

namespace vic {

#pragma pack(push, 1)
// Same layout as Win32's BITMAPINFOHEADER.
struct BitmapInfoHeader {
  uint32_t biSize;
  int32_t biWidth;
  int32_t biHeight;
  uint16_t biPlanes;
  uint16_t biBitCount;
  uint32_t biCompression;
  uint32_t biSizeImage;
  int32_t biXPelsPerMeter;
  int32_t biYPelsPerMeter;
  uint32_t biClrUsed;
  uint32_t biClrImportant;
};
// Same layout as Win32's RGBQUAD.
struct RgbQuad {
  uint8_t rgbBlue, rgbGreen, rgbRed, rgbReserved;
};
#pragma pack(pop)
static_assert(sizeof(BitmapInfoHeader) == 40, "BITMAPINFOHEADER layout");
static_assert(sizeof(RgbQuad) == 4, "RGBQUAD layout");

}  // namespace vic

// The caller-owned record of one image, in the field order the callers rely on. A null `bmh`
// means the descriptor holds no image.
struct ImageDescriptor {
  uint8_t* ibuff;                 // pixel buffer: the first byte of the bottom row (DIB order)
  int32_t stx, sty, endx, endy;   // image area, inclusive (recttoimagearea / imageareatorect)
  int32_t buffwidth;              // bytes per row, a multiple of four
  vic::RgbQuad* palette;          // palette entries, null for 24-bit images
  int32_t colors;                 // palette colour count: 0 for 24-bit, else 2, 16 or 256
  int32_t imgtype;                // non-zero: a grey image
  vic::BitmapInfoHeader* bmh;     // header at the start of the packed bitmap, or null
};

namespace vic {

// Result codes: 0 for success, or one of these.
enum Result : int {
  kOk = 0,
  kBadRange = -1,             // "Value(s) out of range"
  kDiskFull = -3,             // "Disk full, file not written"
  kCannotOpen = -4,           // "Cannot open file"
  kBadData = -5,              // "Invalid Data"
  kBadTif = -6,               // "Unreadable TIF format"
  kBadTifBits = -8,           // "Unsupported TIF bits per sample"
  kBadCompression = -9,       // "Unsupported compression scheme"
  kCannotCreate = -10,        // "Cannot create"
  kBadFileType = -11,         // "Unreadable filetype"
  kCompressedDib = -12,       // "DIB is compressed and can not be processed"
  kNoMemory = -14,            // "Insufficient memory"
  kBadPcx = -16,              // "Unreadable PCX format"
  kBadGif = -17,              // "Unreadable GIF format"
  kPrinterError = -18,        // "Printer error"
  kBadTga = -25,              // "Unreadable Targa format"
  kBadBits = -26,             // "Image bits per pixel not supported by function"
  kBadBmp = -27,              // "Unreadable BMP format"
  kTimedOut = -34,            // "Function timed out"
  kLockFailed = -40,          // "Error in locking memory"
  kPrintBusy = -41,           // "Print function is busy"
  kBadBuffer = -42,           // "Invalid image buffer address"
  kBadJpeg = -43,             // "Unreadable JPG format"
  kG4TooManyChanges = -44,    // "Group 4 image has too many color changes in a row"
  kNoPrinter = -100,          // "No default system printer detected"
};

// A checked view of a descriptor's image, for the pixel code. Rows are addressed top-down here
// (row 0 is the top row) whatever the storage order.
struct ImageView {
  int width = 0;
  int height = 0;
  int bits = 0;        // 1, 8 or 24
  int stride = 0;      // bytes per row
  uint8_t* bottomRow = nullptr;
  RgbQuad* palette = nullptr;
  int colors = 0;

  uint8_t* row(int y) const { return bottomRow + static_cast<std::ptrdiff_t>(height - 1 - y) * stride; }
};

// Bytes per row of a DIB of this width and depth (padded to four bytes).
inline int dibStride(int width, int bits) { return ((width * bits + 31) / 32) * 4; }

// Fills `view` from a descriptor after checking that it holds a consistent image: non-null
// header and buffer, positive size, 1/8/24 bits, and a row length that matches the header.
// Returns kOk, or kBadBuffer for an unusable descriptor.
int viewOf(const ImageDescriptor* image, ImageView& view);

}  // namespace vic
