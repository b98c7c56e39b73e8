// vic32.dll: the image library's calls for programs, all of them: image records, packed bitmaps,
// files, pixel operations and printing. Plain __stdcall exports with undecorated names (vic32.def).
//
// Every call that gives a result gives 0 for success or a negative code (vic::Result in
// core/image.h, vic::resultText for the texts). Sources come before the destination; the caller
// allocates the destination at the size and depth the call needs. A destination of the wrong size
// or an argument out of range gives -1, an unusable descriptor -42, a depth the call does not
// handle -26, a failed allocation -14. Source and destination may be the same image.
#pragma once
#include <windows.h>

#include "core/image.h"
#include "formats/tiff_options.h"

#ifdef VIC32_BUILD
#define VIC32_API WINAPI
#else
#define VIC32_API DECLSPEC_IMPORT WINAPI
#endif

// What an info call tells about a file (see vic::FileInfo).
struct VicFileInfo {
  LONG width;
  LONG height;
  LONG bits;         // depth to allocate for loading: 1, 8 or 24 (4-bit BMP files say 8 here)
  LONG fileBits;     // bits per pixel as stored in the file
  LONG compression;  // BMP biCompression, TIFF Compression tag (vic::tiffOptionOf gives the savetif
                     // option that writes it again), TGA 1 for run-length, GIF 1 interlaced, JPEG 1
                     // progressive, PCX 1
  LONG imageType;    // TGA image type byte (1, 2, 3, 9, 10, 11); TIFF photometric
  LONG colors;       // palette entries in the file, 0 for true colour
};

// Where printimage puts the picture: left, top, width and height in thousandths of an inch from
// the printable area's top-left corner.
struct VicPrintArea {
  LONG left, top, width, height;
};
// Called by printimage before each band with the band number (from 1); non-zero stops the job.
typedef int(CALLBACK* VicPrintAbortProc)(int band);

#ifdef __cplusplus
extern "C" {
#endif

// Image records and packed bitmaps.
LONG VIC32_API allocimage(ImageDescriptor* image, LONG width, LONG height, LONG bits);
void VIC32_API freeimage(ImageDescriptor* image);
LONG VIC32_API copyimage(const ImageDescriptor* source, ImageDescriptor* destination);
LONG VIC32_API copyimagepalette(const ImageDescriptor* source, ImageDescriptor* destination);
LONG VIC32_API copyimgdes(const ImageDescriptor* source, ImageDescriptor* destination);
LONG VIC32_API recttoimagearea(const RECT* rect, ImageDescriptor* image);
LONG VIC32_API imageareatorect(const ImageDescriptor* image, RECT* rect);
// Replaces the descriptor's image (freeing it only once the new one is made) with a copy of a
// packed bitmap; RLE bitmaps give -12.
LONG VIC32_API dibtoimage(const BYTE* dib, ImageDescriptor* image);
// *dib receives a pointer into new locked movable global memory holding the packed bitmap;
// GlobalHandle of it gives the handle the caller then owns.
LONG VIC32_API imagetodib(const ImageDescriptor* image, BYTE** dib);

// Files: an info call, then allocimage with its width, height and bits, then the load call.
LONG VIC32_API bmpinfo(const char* name, VicFileInfo* info);
LONG VIC32_API loadbmp(const char* name, ImageDescriptor* image);
LONG VIC32_API savebmp(const char* name, const ImageDescriptor* image, LONG option);  // 0 plain, 1 RLE8
LONG VIC32_API gifinfo(const char* name, VicFileInfo* info);
LONG VIC32_API loadgif(const char* name, ImageDescriptor* image);
LONG VIC32_API savegif(const char* name, const ImageDescriptor* image);
LONG VIC32_API jpeginfo(const char* name, VicFileInfo* info);
LONG VIC32_API loadjpg(const char* name, ImageDescriptor* image);
LONG VIC32_API savejpg(const char* name, const ImageDescriptor* image, LONG quality);  // 25..100
LONG VIC32_API pcxinfo(const char* name, VicFileInfo* info);
LONG VIC32_API loadpcx(const char* name, ImageDescriptor* image);
LONG VIC32_API savepcx(const char* name, const ImageDescriptor* image);
LONG VIC32_API tgainfo(const char* name, VicFileInfo* info);
LONG VIC32_API loadtga(const char* name, ImageDescriptor* image);
LONG VIC32_API savetga(const char* name, const ImageDescriptor* image, LONG option);  // 0 plain, 1 RLE
LONG VIC32_API tiffinfo(const char* name, VicFileInfo* info);
LONG VIC32_API loadtif(const char* name, ImageDescriptor* image);
// 0 none, 1 LZW, 2 PackBits, 3 Group 3, 4 Group 4 (3 and 4 for 1-bit images). Group 3 is written
// as Modified Huffman, Compression 2 (formats/tiff_options.h).
LONG VIC32_API savetif(const char* name, const ImageDescriptor* image, LONG option);
LONG VIC32_API saveeps(const char* name, const ImageDescriptor* image);

// Geometry.
LONG VIC32_API resize(const ImageDescriptor* source, ImageDescriptor* destination);
LONG VIC32_API rotate90(LONG direction, const ImageDescriptor* source, ImageDescriptor* destination);  // 0 cw, 1 ccw
LONG VIC32_API flipimage(const ImageDescriptor* source, ImageDescriptor* destination);
LONG VIC32_API mirrorimage(const ImageDescriptor* source, ImageDescriptor* destination);

// Colour depth.
LONG VIC32_API convertrgbtopal(LONG colors, const ImageDescriptor* source, ImageDescriptor* destination);
LONG VIC32_API convertpaltorgb(const ImageDescriptor* source, ImageDescriptor* destination);
LONG VIC32_API colortogray(const ImageDescriptor* source, ImageDescriptor* destination);
// The destination's `colors`, set by the caller, is the number of colours wanted (2 to 256).
LONG VIC32_API reduceimagecolors(const ImageDescriptor* source, ImageDescriptor* destination);
LONG VIC32_API convert8bitto1bit(LONG mode, const ImageDescriptor* source, ImageDescriptor* destination);
LONG VIC32_API convert1bitto8bit(const ImageDescriptor* source, ImageDescriptor* destination);
LONG VIC32_API rainbowpalette(ImageDescriptor* destination);
LONG VIC32_API matchcolorimage(const ImageDescriptor* source, ImageDescriptor* destination);
// mode 0 or 16: the 16 colours of a 16-colour display; 256: the 256-colour rainbow palette.
LONG VIC32_API colordither(const ImageDescriptor* source, ImageDescriptor* destination, LONG mode);

// Tone. Tables are 256 bytes each.
LONG VIC32_API changebright(LONG amount, const ImageDescriptor* source, ImageDescriptor* destination);
LONG VIC32_API histobrighten(const ImageDescriptor* source, ImageDescriptor* destination);
LONG VIC32_API brightenmidrange(const ImageDescriptor* source, ImageDescriptor* destination);
LONG VIC32_API usetable(const BYTE* red, const BYTE* green, const BYTE* blue, const ImageDescriptor* source,
                        ImageDescriptor* destination);
LONG VIC32_API negative(const ImageDescriptor* source, ImageDescriptor* destination);
LONG VIC32_API calcavglevel(const ImageDescriptor* source, LONG* average, LONG* darkAverage, LONG* lightAverage);
LONG VIC32_API kodalith(LONG level, const ImageDescriptor* source, ImageDescriptor* destination);
LONG VIC32_API exchangelevel(LONG low, LONG high, LONG level, const ImageDescriptor* source,
                             ImageDescriptor* destination);

// Effects and arithmetic. kernel: nine signed coefficients row by row, then the divisor.
LONG VIC32_API sharpengentle(const ImageDescriptor* source, ImageDescriptor* destination);
LONG VIC32_API blur(const ImageDescriptor* source, ImageDescriptor* destination);
LONG VIC32_API outline(const ImageDescriptor* source, ImageDescriptor* destination);
LONG VIC32_API matrixconv(const signed char* kernel, const ImageDescriptor* source, ImageDescriptor* destination);
LONG VIC32_API addimage(const ImageDescriptor* first, const ImageDescriptor* second, ImageDescriptor* destination);
LONG VIC32_API subimage(const ImageDescriptor* first, const ImageDescriptor* second, ImageDescriptor* destination);

// Printing: mode 0 as is, 1 black-and-white halftone, 2 black-and-white scatter; frameWidth 0 to
// 20 picture pixels. A job stopped by the callback is abandoned and gives 0.
LONG VIC32_API printimage(HWND window, HDC printer, LONG mode, const ImageDescriptor* image, const VicPrintArea* area,
                          LONG frameWidth, VicPrintAbortProc abort);

#ifdef __cplusplus
}
#endif
