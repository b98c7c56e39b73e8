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
#include <vector>

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
  uint8_t* ibuff;                // pixel buffer: the first byte of the bottom row (DIB order)
  int32_t stx, sty, endx, endy;  // image area, inclusive (recttoimagearea / imageareatorect)
  int32_t buffwidth;             // bytes per row, a multiple of four
  vic::RgbQuad* palette;         // palette entries, null for 24-bit images
  int32_t colors;                // palette colour count: 0 for 24-bit, else 2, 16 or 256
  int32_t imgtype;               // non-zero: a grey image
  vic::BitmapInfoHeader* bmh;    // header at the start of the packed bitmap, or null
};

namespace vic {

// Result codes: 0 for success, or one of these.
enum Result : int {
  kOk = 0,
  kBadRange = -1,           // "Value(s) out of range"
  kDiskFull = -3,           // "Disk full, file not written"
  kCannotOpen = -4,         // "Cannot open file"
  kBadData = -5,            // "Invalid Data"
  kBadTif = -6,             // "Unreadable TIF format"
  kBadTifBits = -8,         // "Unsupported TIF bits per sample"
  kBadCompression = -9,     // "Unsupported compression scheme"
  kCannotCreate = -10,      // "Cannot create"
  kBadFileType = -11,       // "Unreadable filetype"
  kCompressedDib = -12,     // "DIB is compressed and can not be processed"
  kNoMemory = -14,          // "Insufficient memory"
  kBadPiw = -15,            // "Unreadable PIW format" (no PIW reader here; the code keeps its text)
  kBadPcx = -16,            // "Unreadable PCX format"
  kBadGif = -17,            // "Unreadable GIF format"
  kPrinterError = -18,      // "Printer error"
  kBadTga = -25,            // "Unreadable Targa format"
  kBadBits = -26,           // "Image bits per pixel not supported by function"
  kBadBmp = -27,            // "Unreadable BMP format"
  kTimedOut = -34,          // "Function timed out"
  kLockFailed = -40,        // "Error in locking memory"
  kPrintBusy = -41,         // "Print function is busy"
  kBadBuffer = -42,         // "Invalid image buffer address"
  kBadJpeg = -43,           // "Unreadable JPG format"
  kG4TooManyChanges = -44,  // "Group 4 image has too many color changes in a row"
  kNoPrinter = -100,        // "No default system printer detected"
};

// A checked view of a descriptor's image, for the pixel code. Rows are addressed top-down here
// (row 0 is the top row) whatever the storage order.
struct ImageView {
  int width = 0;
  int height = 0;
  int bits = 0;    // 1, 8 or 24
  int stride = 0;  // bytes per row
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

namespace vic {

// Same layout as Win32's RECT: right and bottom lie just outside.
struct Rect {
  int32_t left, top, right, bottom;
};

// Largest image the library makes: far above any camera or scanner picture, low enough that a
// hostile file cannot make a 32-bit process ask for gigabytes.
constexpr int kMaxDimension = 32767;
constexpr int64_t kMaxPixels = 64ll * 1024 * 1024;

// Records and bitmaps. Each returns kOk or a result code unless it says otherwise.

// Makes a new image block (header, palette, zeroed rows) for `descriptor`, which must not hold
// one (the caller frees it first). 8-bit images get a grey ramp and a non-zero type word,
// 1-bit images black and white. The image area becomes the whole image.
int allocImage(ImageDescriptor* descriptor, int width, int height, int bits);
// Releases the descriptor's block and empties the descriptor. Empty descriptors are left alone.
void freeImage(ImageDescriptor* descriptor);
// Copies the source's image area into the destination's, as much as both areas hold, together
// with the palette and the type word. Both images must have the same bit count.
int copyImage(const ImageDescriptor* source, ImageDescriptor* destination);
// Copies palette entries (as many as both hold) and the type word.
int copyImagePalette(const ImageDescriptor* source, ImageDescriptor* destination);
// Makes `destination` a second record of the same image (no pixels are copied).
int copyImgDes(const ImageDescriptor* source, ImageDescriptor* destination);
int rectToImageArea(const Rect* rect, ImageDescriptor* descriptor);
int imageAreaToRect(const ImageDescriptor* descriptor, Rect* rect);
// Makes a new image from a packed bitmap of `dibBytes` bytes (header, palette, rows), replacing
// the descriptor's image only once the new one is complete. Nothing beyond `dibBytes` is read: a
// header that claims more rows or palette entries than they hold gives kBadData, and no bytes at
// all kBadBuffer.
int dibToImage(const uint8_t* dib, std::size_t dibBytes, ImageDescriptor* descriptor);
// The same for a packed bitmap in a memory block that a caller hands over (the clipboard's),
// bounded by the end of that block (imageBlockBytesFrom); kBadBuffer when `dib` lies in none.
int dibBlockToImage(const uint8_t* dib, ImageDescriptor* descriptor);
// Makes a new block holding the image's packed bitmap; *dib receives it (free with
// freeImageBlock, or in the DLL as the caller's global memory).
int imageToDib(const ImageDescriptor* descriptor, uint8_t** dib);

// True when every entry has red = green = blue.
bool isGreyPalette(const RgbQuad* palette, int colors);
// True when entry i is grey level i for every entry: pixel values are then the grey levels.
bool isIdentityGreyRamp(const RgbQuad* palette, int colors);
// The type word (`imgtype`) of an image of this depth and palette: 1, a grey image, when it has 8
// bits and every palette entry is grey; else 0. Every call that makes or changes a palette sets
// the word so, so that it always says what the palette is.
int32_t greyImageMark(int bits, const RgbQuad* palette, int colors);

// A decoded or to-be-encoded picture, rows top-down, each row laid out as in a DIB (1 bit: most
// significant bit first; 8 bits: palette index; 24 bits: blue, green, red), padded to four bytes.
struct Picture {
  int width = 0;
  int height = 0;
  int bits = 0;  // 1, 8 or 24
  int stride = 0;
  std::vector<uint8_t> pixels;
  std::vector<RgbQuad> palette;  // 2 entries (1 bit), 256 (8 bits), none (24 bits)

  // Sizes the picture (zeroed pixels, grey or black-and-white palette). kBadRange for a size
  // beyond the limits, kNoMemory when memory is short.
  int allocate(int width, int height, int bits);
  // For a 1-bit picture: entry 0 is the brighter colour, so a 0 bit is the white one (as TIFF's
  // WhiteIsZero has it), the other way round from PostScript's and most formats' black 0.
  bool zeroIsBrighter() const {
    auto brightness = [](const RgbQuad& e) { return e.rgbRed + e.rgbGreen + e.rgbBlue; };
    return bits == 1 && palette.size() == 2 && brightness(palette[0]) > brightness(palette[1]);
  }
  uint8_t* row(int y) { return pixels.data() + static_cast<std::size_t>(y) * stride; }
  const uint8_t* row(int y) const { return pixels.data() + static_cast<std::size_t>(y) * stride; }
};

// Zeroes what lies beyond the last pixel of each row (unused bits and padding bytes), so that
// equal pictures have equal bytes.
void clearRowPadding(Picture& picture);

// The load step: copies the picture into the descriptor's image area (as much as fits), with its
// palette; the type word tells whether the palette is grey. kBadBits when the depths differ.
int pictureToImage(const Picture& picture, ImageDescriptor* descriptor);
// The save step: the descriptor's image area as a picture.
int imageToPicture(const ImageDescriptor* descriptor, Picture& picture);

// Pixel x of a 1-bit row (the leftmost pixel is the most significant bit of the first byte); also
// bit x of any stream packed most significant bit first.
inline int bitAt(const uint8_t* row, std::size_t x) { return (row[x >> 3] >> (7 - (x & 7))) & 1; }
inline void setBit(uint8_t* row, std::size_t x, int bit) {
  uint8_t mask = static_cast<uint8_t>(0x80 >> (x & 7));
  row[x >> 3] = static_cast<uint8_t>(bit ? (row[x >> 3] | mask) : (row[x >> 3] & ~mask));
}

// Copies `count` pixels of a row at depth `bits` from pixel `sourceX` to pixel `destinationX`.
void copyRowPixels(const uint8_t* source, int sourceX, uint8_t* destination, int destinationX, int count, int bits);

}  // namespace vic
