// The DLL's exported calls, in the order of vic32.def: thin __stdcall wrappers over the records,
// codecs and pixel operations (all Win32-free) and printing.
#include "vic32.h"

#include "../formats/formats.h"
#include "../ops/ops.h"
#include "../ops/print.h"

static_assert(sizeof(VicFileInfo) == sizeof(vic::FileInfo), "info record layout");
static_assert(sizeof(RECT) == sizeof(vic::Rect), "RECT layout");
static_assert(sizeof(LONG) == sizeof(int32_t), "calcavglevel levels are 32-bit");
static_assert(sizeof(VicPrintArea) == sizeof(vic::PrintArea), "print area layout");

namespace {

vic::FileInfo* asInfo(VicFileInfo* info) { return reinterpret_cast<vic::FileInfo*>(info); }

// An encoder with its option or quality bound, as saveFile calls encoders.
auto withOption(int (*encode)(const vic::Picture&, int, std::vector<uint8_t>&), LONG option) {
  return
      [encode, option](const vic::Picture& picture, std::vector<uint8_t>& out) { return encode(picture, option, out); };
}

}  // namespace

extern "C" {

LONG WINAPI allocimage(ImageDescriptor* image, LONG width, LONG height, LONG bits) {
  return vic::allocImage(image, width, height, bits);
}
void WINAPI freeimage(ImageDescriptor* image) { vic::freeImage(image); }
LONG WINAPI copyimage(const ImageDescriptor* source, ImageDescriptor* destination) {
  return vic::copyImage(source, destination);
}
LONG WINAPI copyimagepalette(const ImageDescriptor* source, ImageDescriptor* destination) {
  return vic::copyImagePalette(source, destination);
}
LONG WINAPI copyimgdes(const ImageDescriptor* source, ImageDescriptor* destination) {
  return vic::copyImgDes(source, destination);
}
LONG WINAPI recttoimagearea(const RECT* rect, ImageDescriptor* image) {
  return vic::rectToImageArea(reinterpret_cast<const vic::Rect*>(rect), image);
}
LONG WINAPI imageareatorect(const ImageDescriptor* image, RECT* rect) {
  return vic::imageAreaToRect(image, reinterpret_cast<vic::Rect*>(rect));
}
LONG WINAPI dibtoimage(const BYTE* dib, ImageDescriptor* image) { return vic::dibBlockToImage(dib, image); }
LONG WINAPI imagetodib(const ImageDescriptor* image, BYTE** dib) { return vic::imageToDib(image, dib); }

LONG WINAPI bmpinfo(const char* name, VicFileInfo* info) { return vic::fileInfo(name, vic::bmpInfo, asInfo(info)); }
LONG WINAPI loadbmp(const char* name, ImageDescriptor* image) { return vic::loadFile(name, vic::decodeBmp, image); }
LONG WINAPI savebmp(const char* name, const ImageDescriptor* image, LONG option) {
  return vic::saveFile(name, image, withOption(vic::encodeBmp, option));
}

LONG WINAPI gifinfo(const char* name, VicFileInfo* info) { return vic::fileInfo(name, vic::gifInfo, asInfo(info)); }
LONG WINAPI loadgif(const char* name, ImageDescriptor* image) { return vic::loadFile(name, vic::decodeGif, image); }
LONG WINAPI savegif(const char* name, const ImageDescriptor* image) {
  return vic::saveFile(name, image, vic::encodeGif);
}

LONG WINAPI jpeginfo(const char* name, VicFileInfo* info) { return vic::fileInfo(name, vic::jpegInfo, asInfo(info)); }
LONG WINAPI loadjpg(const char* name, ImageDescriptor* image) { return vic::loadFile(name, vic::decodeJpeg, image); }
LONG WINAPI savejpg(const char* name, const ImageDescriptor* image, LONG quality) {
  return vic::saveFile(name, image, withOption(vic::encodeJpeg, quality));
}

LONG WINAPI pcxinfo(const char* name, VicFileInfo* info) { return vic::fileInfo(name, vic::pcxInfo, asInfo(info)); }
LONG WINAPI loadpcx(const char* name, ImageDescriptor* image) { return vic::loadFile(name, vic::decodePcx, image); }
LONG WINAPI savepcx(const char* name, const ImageDescriptor* image) {
  return vic::saveFile(name, image, vic::encodePcx);
}

LONG WINAPI tgainfo(const char* name, VicFileInfo* info) { return vic::fileInfo(name, vic::tgaInfo, asInfo(info)); }
LONG WINAPI loadtga(const char* name, ImageDescriptor* image) { return vic::loadFile(name, vic::decodeTga, image); }
LONG WINAPI savetga(const char* name, const ImageDescriptor* image, LONG option) {
  return vic::saveFile(name, image, withOption(vic::encodeTga, option));
}

LONG WINAPI tiffinfo(const char* name, VicFileInfo* info) { return vic::fileInfo(name, vic::tiffInfo, asInfo(info)); }
LONG WINAPI loadtif(const char* name, ImageDescriptor* image) { return vic::loadFile(name, vic::decodeTiff, image); }
LONG WINAPI savetif(const char* name, const ImageDescriptor* image, LONG option) {
  return vic::saveFile(name, image, withOption(vic::encodeTiff, option));
}

LONG WINAPI saveeps(const char* name, const ImageDescriptor* image) {
  return vic::saveFile(name, image, vic::encodeEps);
}

LONG WINAPI resize(const ImageDescriptor* s, ImageDescriptor* d) { return vic::resize(s, d); }
LONG WINAPI rotate90(LONG direction, const ImageDescriptor* s, ImageDescriptor* d) {
  return vic::rotate90(direction, s, d);
}
LONG WINAPI flipimage(const ImageDescriptor* s, ImageDescriptor* d) { return vic::flipImage(s, d); }
LONG WINAPI mirrorimage(const ImageDescriptor* s, ImageDescriptor* d) { return vic::mirrorImage(s, d); }

LONG WINAPI convertrgbtopal(LONG colors, const ImageDescriptor* s, ImageDescriptor* d) {
  return vic::convertRgbToPal(colors, s, d);
}
LONG WINAPI convertpaltorgb(const ImageDescriptor* s, ImageDescriptor* d) { return vic::convertPalToRgb(s, d); }
LONG WINAPI colortogray(const ImageDescriptor* s, ImageDescriptor* d) { return vic::colorToGray(s, d); }
LONG WINAPI reduceimagecolors(const ImageDescriptor* s, ImageDescriptor* d) { return vic::reduceImageColors(s, d); }
LONG WINAPI convert8bitto1bit(LONG mode, const ImageDescriptor* s, ImageDescriptor* d) {
  return vic::convert8BitTo1Bit(mode, s, d);
}
LONG WINAPI convert1bitto8bit(const ImageDescriptor* s, ImageDescriptor* d) { return vic::convert1BitTo8Bit(s, d); }
LONG WINAPI rainbowpalette(ImageDescriptor* d) { return vic::rainbowPalette(d); }
LONG WINAPI matchcolorimage(const ImageDescriptor* s, ImageDescriptor* d) { return vic::matchColorImage(s, d); }
LONG WINAPI colordither(const ImageDescriptor* s, ImageDescriptor* d, LONG mode) {
  return vic::colorDither(s, d, mode);
}

LONG WINAPI changebright(LONG amount, const ImageDescriptor* s, ImageDescriptor* d) {
  return vic::changeBright(amount, s, d);
}
LONG WINAPI histobrighten(const ImageDescriptor* s, ImageDescriptor* d) { return vic::histoBrighten(s, d); }
LONG WINAPI brightenmidrange(const ImageDescriptor* s, ImageDescriptor* d) { return vic::brightenMidRange(s, d); }
LONG WINAPI usetable(const BYTE* r, const BYTE* g, const BYTE* b, const ImageDescriptor* s, ImageDescriptor* d) {
  return vic::useTable(r, g, b, s, d);
}
LONG WINAPI negative(const ImageDescriptor* s, ImageDescriptor* d) { return vic::negative(s, d); }
LONG WINAPI calcavglevel(const ImageDescriptor* s, LONG* average, LONG* dark, LONG* light) {
  return vic::calcAvgLevel(s, reinterpret_cast<int32_t*>(average), reinterpret_cast<int32_t*>(dark),
                           reinterpret_cast<int32_t*>(light));
}
LONG WINAPI kodalith(LONG level, const ImageDescriptor* s, ImageDescriptor* d) { return vic::kodalith(level, s, d); }
LONG WINAPI exchangelevel(LONG low, LONG high, LONG level, const ImageDescriptor* s, ImageDescriptor* d) {
  return vic::exchangeLevel(low, high, level, s, d);
}

LONG WINAPI sharpengentle(const ImageDescriptor* s, ImageDescriptor* d) { return vic::sharpenGentle(s, d); }
LONG WINAPI blur(const ImageDescriptor* s, ImageDescriptor* d) { return vic::blur(s, d); }
LONG WINAPI outline(const ImageDescriptor* s, ImageDescriptor* d) { return vic::outline(s, d); }
LONG WINAPI matrixconv(const signed char* kernel, const ImageDescriptor* s, ImageDescriptor* d) {
  return vic::matrixConv(reinterpret_cast<const int8_t*>(kernel), s, d);
}
LONG WINAPI addimage(const ImageDescriptor* a, const ImageDescriptor* b, ImageDescriptor* d) {
  return vic::addImage(a, b, d);
}
LONG WINAPI subimage(const ImageDescriptor* a, const ImageDescriptor* b, ImageDescriptor* d) {
  return vic::subImage(a, b, d);
}

LONG WINAPI printimage(HWND window, HDC printer, LONG mode, const ImageDescriptor* image, const VicPrintArea* area,
                       LONG frameWidth, VicPrintAbortProc abort) {
  return vic::printImage(window, printer, mode, image, reinterpret_cast<const vic::PrintArea*>(area), frameWidth, abort,
                         nullptr);
}

}  // extern "C"
