// The exported __stdcall entry points of the pixel operations and printing.
#define VIC32_BUILD
#include "vic32ops.h"

#include "ops.h"
#include "print.h"

static_assert(sizeof(LONG) == sizeof(int32_t), "calcavglevel levels are 32-bit");
static_assert(sizeof(VIC32PRINTAREA) == sizeof(vic::PrintArea), "print area layout");

extern "C" {

int WINAPI resize(ImageDescriptor* s, ImageDescriptor* d) { return vic::resize(s, d); }
int WINAPI rotate90(int direction, ImageDescriptor* s, ImageDescriptor* d) { return vic::rotate90(direction, s, d); }
int WINAPI flipimage(ImageDescriptor* s, ImageDescriptor* d) { return vic::flipimage(s, d); }
int WINAPI mirrorimage(ImageDescriptor* s, ImageDescriptor* d) { return vic::mirrorimage(s, d); }

int WINAPI convertrgbtopal(int colors, ImageDescriptor* s, ImageDescriptor* d) {
  return vic::convertrgbtopal(colors, s, d);
}
int WINAPI convertpaltorgb(ImageDescriptor* s, ImageDescriptor* d) { return vic::convertpaltorgb(s, d); }
int WINAPI colortogray(ImageDescriptor* s, ImageDescriptor* d) { return vic::colortogray(s, d); }
int WINAPI reduceimagecolors(ImageDescriptor* s, ImageDescriptor* d) { return vic::reduceimagecolors(s, d); }
int WINAPI convert8bitto1bit(int mode, ImageDescriptor* s, ImageDescriptor* d) {
  return vic::convert8bitto1bit(mode, s, d);
}
int WINAPI convert1bitto8bit(ImageDescriptor* s, ImageDescriptor* d) { return vic::convert1bitto8bit(s, d); }
int WINAPI rainbowpalette(ImageDescriptor* d) { return vic::rainbowpalette(d); }
int WINAPI matchcolorimage(ImageDescriptor* s, ImageDescriptor* d) { return vic::matchcolorimage(s, d); }
int WINAPI colordither(ImageDescriptor* s, ImageDescriptor* d, int mode) { return vic::colordither(s, d, mode); }

int WINAPI changebright(int amount, ImageDescriptor* s, ImageDescriptor* d) { return vic::changebright(amount, s, d); }
int WINAPI histobrighten(ImageDescriptor* s, ImageDescriptor* d) { return vic::histobrighten(s, d); }
int WINAPI brightenmidrange(ImageDescriptor* s, ImageDescriptor* d) { return vic::brightenmidrange(s, d); }
int WINAPI usetable(const BYTE* r, const BYTE* g, const BYTE* b, ImageDescriptor* s, ImageDescriptor* d) {
  return vic::usetable(r, g, b, s, d);
}
int WINAPI negative(ImageDescriptor* s, ImageDescriptor* d) { return vic::negative(s, d); }
int WINAPI calcavglevel(ImageDescriptor* s, LONG* average, LONG* dark, LONG* light) {
  return vic::calcavglevel(s, reinterpret_cast<int32_t*>(average), reinterpret_cast<int32_t*>(dark),
                           reinterpret_cast<int32_t*>(light));
}
int WINAPI kodalith(int level, ImageDescriptor* s, ImageDescriptor* d) { return vic::kodalith(level, s, d); }
int WINAPI exchangelevel(int low, int high, int level, ImageDescriptor* s, ImageDescriptor* d) {
  return vic::exchangelevel(low, high, level, s, d);
}

int WINAPI sharpengentle(ImageDescriptor* s, ImageDescriptor* d) { return vic::sharpengentle(s, d); }
int WINAPI blur(ImageDescriptor* s, ImageDescriptor* d) { return vic::blur(s, d); }
int WINAPI outline(ImageDescriptor* s, ImageDescriptor* d) { return vic::outline(s, d); }
int WINAPI matrixconv(const signed char* kernel, ImageDescriptor* s, ImageDescriptor* d) {
  return vic::matrixconv(reinterpret_cast<const int8_t*>(kernel), s, d);
}
int WINAPI addimage(ImageDescriptor* a, ImageDescriptor* b, ImageDescriptor* d) { return vic::addimage(a, b, d); }
int WINAPI subimage(ImageDescriptor* a, ImageDescriptor* b, ImageDescriptor* d) { return vic::subimage(a, b, d); }

int WINAPI printimage(HWND window, HDC printer, int mode, ImageDescriptor* image, const VIC32PRINTAREA* area,
                      int frameWidth, VIC32PRINTABORTPROC abort) {
  return vic::printImage(window, printer, mode, image, reinterpret_cast<const vic::PrintArea*>(area), frameWidth, abort,
                         nullptr);
}

}  // extern "C"
