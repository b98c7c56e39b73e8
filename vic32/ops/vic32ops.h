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

/* Exports come from the .def file (undecorated names); callers import the decorated ones. */
#ifdef VIC32_BUILD
#define VIC32OPS_API WINAPI
#else
#define VIC32OPS_API DECLSPEC_IMPORT WINAPI
#endif

/* Called by printimage before each band with the band number (from 1); non-zero stops the job. */
typedef int(CALLBACK* VIC32PRINTABORTPROC)(int band);
/* Where printimage puts the picture: left, top, width and height in thousandths of an inch. */
typedef struct {
  LONG left, top, width, height;
} VIC32PRINTAREA;

/* Geometry. */
int VIC32OPS_API resize(ImageDescriptor* source, ImageDescriptor* destination);
int VIC32OPS_API rotate90(int direction, ImageDescriptor* source, ImageDescriptor* destination); /* 0 cw, 1 ccw */
int VIC32OPS_API flipimage(ImageDescriptor* source, ImageDescriptor* destination);
int VIC32OPS_API mirrorimage(ImageDescriptor* source, ImageDescriptor* destination);

/* Colour depth. */
int VIC32OPS_API convertrgbtopal(int colors, ImageDescriptor* source, ImageDescriptor* destination);
int VIC32OPS_API convertpaltorgb(ImageDescriptor* source, ImageDescriptor* destination);
int VIC32OPS_API colortogray(ImageDescriptor* source, ImageDescriptor* destination);
/* The destination's `colors`, set by the caller, is the number of colours wanted (2 to 256). */
int VIC32OPS_API reduceimagecolors(ImageDescriptor* source, ImageDescriptor* destination);
int VIC32OPS_API convert8bitto1bit(int mode, ImageDescriptor* source, ImageDescriptor* destination);
int VIC32OPS_API convert1bitto8bit(ImageDescriptor* source, ImageDescriptor* destination);
int VIC32OPS_API rainbowpalette(ImageDescriptor* destination);
int VIC32OPS_API matchcolorimage(ImageDescriptor* source, ImageDescriptor* destination);
/* mode 0 or 16: the 16 colours of a 16-colour display; 256: the 256-colour rainbow palette. */
int VIC32OPS_API colordither(ImageDescriptor* source, ImageDescriptor* destination, int mode);

/* Tone. Tables are 256 bytes each. */
int VIC32OPS_API changebright(int amount, ImageDescriptor* source, ImageDescriptor* destination);
int VIC32OPS_API histobrighten(ImageDescriptor* source, ImageDescriptor* destination);
int VIC32OPS_API brightenmidrange(ImageDescriptor* source, ImageDescriptor* destination);
int VIC32OPS_API usetable(const BYTE* red, const BYTE* green, const BYTE* blue, ImageDescriptor* source,
                          ImageDescriptor* destination);
int VIC32OPS_API negative(ImageDescriptor* source, ImageDescriptor* destination);
int VIC32OPS_API calcavglevel(ImageDescriptor* source, LONG* average, LONG* darkAverage, LONG* lightAverage);
int VIC32OPS_API kodalith(int level, ImageDescriptor* source, ImageDescriptor* destination);
int VIC32OPS_API exchangelevel(int low, int high, int level, ImageDescriptor* source, ImageDescriptor* destination);

/* Effects and arithmetic. kernel: nine signed coefficients row by row, then the divisor. */
int VIC32OPS_API sharpengentle(ImageDescriptor* source, ImageDescriptor* destination);
int VIC32OPS_API blur(ImageDescriptor* source, ImageDescriptor* destination);
int VIC32OPS_API outline(ImageDescriptor* source, ImageDescriptor* destination);
int VIC32OPS_API matrixconv(const signed char* kernel, ImageDescriptor* source, ImageDescriptor* destination);
int VIC32OPS_API addimage(ImageDescriptor* first, ImageDescriptor* second, ImageDescriptor* destination);
int VIC32OPS_API subimage(ImageDescriptor* first, ImageDescriptor* second, ImageDescriptor* destination);

/* Printing: mode 0 as is, 1 black-and-white halftone, 2 black-and-white scatter; frameWidth 0 to
   20 picture pixels. A job stopped by the callback is abandoned and gives 0. */
int VIC32OPS_API printimage(HWND window, HDC printer, int mode, ImageDescriptor* image, const VIC32PRINTAREA* area,
                            int frameWidth, VIC32PRINTABORTPROC abort);

#ifdef __cplusplus
}
#endif
