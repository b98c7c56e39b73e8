/* The pixel operations, colour reduction and printing exported by vic32.dll (__stdcall,
   undecorated names). Results: 0 for success or a negative code (see core/image.h). Sources come
   before the destination; the caller allocates the destination at the size and depth the call
   needs. */
#pragma once
#include <windows.h>

#include "image.h"

#ifdef __cplusplus
extern "C" {
#endif

#ifdef VIC32_BUILD
#define VIC32_API __declspec(dllexport)
#else
#define VIC32_API __declspec(dllimport)
#endif

/* Called by printimage before each band with the band number (from 1); non-zero stops the job. */
typedef int(CALLBACK* VIC32PRINTABORTPROC)(int band);
/* Where printimage puts the picture: left, top, width and height in thousandths of an inch. */
typedef struct {
  LONG left, top, width, height;
} VIC32PRINTAREA;

/* Geometry. */
VIC32_API int WINAPI resize(ImageDescriptor* source, ImageDescriptor* destination);
VIC32_API int WINAPI rotate90(int direction, ImageDescriptor* source, ImageDescriptor* destination); /* 0 cw, 1 ccw */
VIC32_API int WINAPI flipimage(ImageDescriptor* source, ImageDescriptor* destination);
VIC32_API int WINAPI mirrorimage(ImageDescriptor* source, ImageDescriptor* destination);

/* Colour depth. */
VIC32_API int WINAPI convertrgbtopal(int colors, ImageDescriptor* source, ImageDescriptor* destination);
VIC32_API int WINAPI convertpaltorgb(ImageDescriptor* source, ImageDescriptor* destination);
VIC32_API int WINAPI colortogray(ImageDescriptor* source, ImageDescriptor* destination);
/* The destination's `colors`, set by the caller, is the number of colours wanted (2 to 256). */
VIC32_API int WINAPI reduceimagecolors(ImageDescriptor* source, ImageDescriptor* destination);
VIC32_API int WINAPI convert8bitto1bit(int mode, ImageDescriptor* source, ImageDescriptor* destination);
VIC32_API int WINAPI convert1bitto8bit(ImageDescriptor* source, ImageDescriptor* destination);
VIC32_API int WINAPI rainbowpalette(ImageDescriptor* destination);
VIC32_API int WINAPI matchcolorimage(ImageDescriptor* source, ImageDescriptor* destination);
/* mode 0 or 16: the 16 colours of a 16-colour display; 256: the 256-colour rainbow palette. */
VIC32_API int WINAPI colordither(ImageDescriptor* source, ImageDescriptor* destination, int mode);

/* Tone. Tables are 256 bytes each. */
VIC32_API int WINAPI changebright(int amount, ImageDescriptor* source, ImageDescriptor* destination);
VIC32_API int WINAPI histobrighten(ImageDescriptor* source, ImageDescriptor* destination);
VIC32_API int WINAPI brightenmidrange(ImageDescriptor* source, ImageDescriptor* destination);
VIC32_API int WINAPI usetable(const BYTE* red, const BYTE* green, const BYTE* blue, ImageDescriptor* source,
                              ImageDescriptor* destination);
VIC32_API int WINAPI negative(ImageDescriptor* source, ImageDescriptor* destination);
VIC32_API int WINAPI calcavglevel(ImageDescriptor* source, LONG* average, LONG* darkAverage, LONG* lightAverage);
VIC32_API int WINAPI kodalith(int level, ImageDescriptor* source, ImageDescriptor* destination);
VIC32_API int WINAPI exchangelevel(int low, int high, int level, ImageDescriptor* source, ImageDescriptor* destination);

/* Effects and arithmetic. kernel: nine signed coefficients row by row, then the divisor. */
VIC32_API int WINAPI sharpengentle(ImageDescriptor* source, ImageDescriptor* destination);
VIC32_API int WINAPI blur(ImageDescriptor* source, ImageDescriptor* destination);
VIC32_API int WINAPI outline(ImageDescriptor* source, ImageDescriptor* destination);
VIC32_API int WINAPI matrixconv(const signed char* kernel, ImageDescriptor* source, ImageDescriptor* destination);
VIC32_API int WINAPI addimage(ImageDescriptor* first, ImageDescriptor* second, ImageDescriptor* destination);
VIC32_API int WINAPI subimage(ImageDescriptor* first, ImageDescriptor* second, ImageDescriptor* destination);

/* Printing: mode 0 as is, 1 black-and-white halftone, 2 black-and-white scatter; frameWidth 0 to
   20 picture pixels. A job stopped by the callback is abandoned and gives 0. */
VIC32_API int WINAPI printimage(HWND window, HDC printer, int mode, ImageDescriptor* image, const VIC32PRINTAREA* area,
                                int frameWidth, VIC32PRINTABORTPROC abort);

#ifdef __cplusplus
}
#endif
