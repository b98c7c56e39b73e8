// The pixel operations of the image library: geometry, colour depth, tone and effects.
// Win32-free; the DLL exports them through thin __stdcall shims (dll/exports.cpp), each under its
// name here in lower case (convertRgbToPal as convertrgbtopal).
//
// Every call returns kOk (0) or a negative result code (core/image.h). Sources come before the
// destination. The caller allocates the destination at the size and depth the call needs; a
// destination whose size does not fit gives kBadRange, an unusable descriptor kBadBuffer, a depth
// the call does not handle kBadBits, a failed work allocation kNoMemory. Source and destination
// may be the same descriptor (in place) wherever the sizes allow it.
//
// Eight-bit images: a palette whose entries are all grey (red = green = blue) makes a grey image,
// and the level-based operations work on its grey levels (writing the destination with the
// identity grey ramp when the source's grey palette was not that ramp). Point operations on an
// 8-bit or 1-bit image with a colour palette change the palette instead of the pixels; the
// neighbourhood operations (blur, sharpen, matrix, outline) refuse such an image with kBadBits.
#pragma once
#include <cstdint>

#include "../core/image.h"

namespace vic {

// Geometry.
int resize(const ImageDescriptor* source, ImageDescriptor* destination);
int rotate90(int direction, const ImageDescriptor* source, ImageDescriptor* destination);  // 0 cw, 1 ccw
int flipImage(const ImageDescriptor* source, ImageDescriptor* destination);                // top to bottom
int mirrorImage(const ImageDescriptor* source, ImageDescriptor* destination);              // left to right

// Colour depth.
int convertRgbToPal(int colors, const ImageDescriptor* source, ImageDescriptor* destination);
int convertPalToRgb(const ImageDescriptor* source, ImageDescriptor* destination);
int colorToGray(const ImageDescriptor* source, ImageDescriptor* destination);
int reduceImageColors(const ImageDescriptor* source, ImageDescriptor* destination);
int convert8BitTo1Bit(int mode, const ImageDescriptor* source, ImageDescriptor* destination);
int convert1BitTo8Bit(const ImageDescriptor* source, ImageDescriptor* destination);
int rainbowPalette(ImageDescriptor* destination);
int matchColorImage(const ImageDescriptor* source, ImageDescriptor* destination);
int colorDither(const ImageDescriptor* source, ImageDescriptor* destination, int mode);

// Tone.
int changeBright(int amount, const ImageDescriptor* source, ImageDescriptor* destination);
int histoBrighten(const ImageDescriptor* source, ImageDescriptor* destination);
int brightenMidRange(const ImageDescriptor* source, ImageDescriptor* destination);
int useTable(const uint8_t* red, const uint8_t* green, const uint8_t* blue, const ImageDescriptor* source,
             ImageDescriptor* destination);
int negative(const ImageDescriptor* source, ImageDescriptor* destination);
int calcAvgLevel(const ImageDescriptor* source, int32_t* average, int32_t* darkAverage, int32_t* lightAverage);
int kodalith(int level, const ImageDescriptor* source, ImageDescriptor* destination);
int exchangeLevel(int low, int high, int level, const ImageDescriptor* source, ImageDescriptor* destination);

// Neighbourhood effects and image arithmetic.
int sharpenGentle(const ImageDescriptor* source, ImageDescriptor* destination);
int blur(const ImageDescriptor* source, ImageDescriptor* destination);
int outline(const ImageDescriptor* source, ImageDescriptor* destination);
// kernel: nine signed coefficients row by row, then the divisor (ten signed bytes).
int matrixConv(const int8_t* kernel, const ImageDescriptor* source, ImageDescriptor* destination);
int addImage(const ImageDescriptor* first, const ImageDescriptor* second, ImageDescriptor* destination);
int subImage(const ImageDescriptor* first, const ImageDescriptor* second, ImageDescriptor* destination);

}  // namespace vic
