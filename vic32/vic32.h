// vic32.dll: the image library's calls for programs. Every call that gives a result gives 0 for
// success or a negative code (vic::Result in core/image.h); source precedes destination.
#pragma once
#include <windows.h>

#include "core/image.h"

// What an info call tells about a file (see vic::FileInfo).
struct VicFileInfo {
  LONG width;
  LONG height;
  LONG bits;         // depth to allocate for loading: 1, 8 or 24 (4-bit BMP files say 8 here)
  LONG fileBits;     // bits per pixel as stored in the file
  LONG compression;  // BMP biCompression, TIFF Compression tag, TGA 1 for run-length, GIF 1 interlaced,
                     // JPEG 1 progressive, PCX 1
  LONG imageType;    // TGA image type byte (1, 2, 3, 9, 10, 11); TIFF photometric
  LONG colors;       // palette entries in the file, 0 for true colour
};

#ifdef __cplusplus
extern "C" {
#endif

LONG WINAPI allocimage(ImageDescriptor* image, LONG width, LONG height, LONG bits);
void WINAPI freeimage(ImageDescriptor* image);
LONG WINAPI copyimage(const ImageDescriptor* source, ImageDescriptor* destination);
LONG WINAPI copyimagepalette(const ImageDescriptor* source, ImageDescriptor* destination);
LONG WINAPI copyimgdes(const ImageDescriptor* source, ImageDescriptor* destination);
LONG WINAPI recttoimagearea(const RECT* rect, ImageDescriptor* image);
LONG WINAPI imageareatorect(const ImageDescriptor* image, RECT* rect);
// Replaces the descriptor's image (freeing it only once the new one is made) with a copy of a
// packed bitmap; RLE bitmaps give -12.
LONG WINAPI dibtoimage(const BYTE* dib, ImageDescriptor* image);
// *dib receives a pointer into new locked movable global memory holding the packed bitmap;
// GlobalHandle of it gives the handle the caller then owns.
LONG WINAPI imagetodib(const ImageDescriptor* image, BYTE** dib);

LONG WINAPI bmpinfo(const char* name, VicFileInfo* info);
LONG WINAPI loadbmp(const char* name, ImageDescriptor* image);
LONG WINAPI savebmp(const char* name, const ImageDescriptor* image, LONG option);  // 0 plain, 1 RLE8
LONG WINAPI gifinfo(const char* name, VicFileInfo* info);
LONG WINAPI loadgif(const char* name, ImageDescriptor* image);
LONG WINAPI savegif(const char* name, const ImageDescriptor* image);
LONG WINAPI jpeginfo(const char* name, VicFileInfo* info);
LONG WINAPI loadjpg(const char* name, ImageDescriptor* image);
LONG WINAPI savejpg(const char* name, const ImageDescriptor* image, LONG quality);  // 25..100
LONG WINAPI pcxinfo(const char* name, VicFileInfo* info);
LONG WINAPI loadpcx(const char* name, ImageDescriptor* image);
LONG WINAPI savepcx(const char* name, const ImageDescriptor* image);
LONG WINAPI tgainfo(const char* name, VicFileInfo* info);
LONG WINAPI loadtga(const char* name, ImageDescriptor* image);
LONG WINAPI savetga(const char* name, const ImageDescriptor* image, LONG option);  // 0 plain, 1 RLE
LONG WINAPI tiffinfo(const char* name, VicFileInfo* info);
LONG WINAPI loadtif(const char* name, ImageDescriptor* image);
// 0 none, 1 LZW, 2 PackBits, 3 Group 3, 4 Group 4 (3 and 4 for 1-bit images)
LONG WINAPI savetif(const char* name, const ImageDescriptor* image, LONG option);
LONG WINAPI saveeps(const char* name, const ImageDescriptor* image);

#ifdef __cplusplus
}
#endif
