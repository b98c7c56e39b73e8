// Drawing an image of the image library into a device context, as every front end's preview and
// picture window does: the image's own palette selected and realised first, then the pixels 1:1
// with SetDIBitsToDevice.
#pragma once
#include <windows.h>

#include "vic32.h"

namespace camui {

// A logical palette of the image's colours; null for an image without a palette.
HPALETTE createImagePalette(const ImageDescriptor& image);

// The whole image with its top-left corner at (x, y), its palette (if any) selected and realised
// for the drawing and the previous one put back. False when nothing was drawn.
bool drawImage(HDC dc, int x, int y, const ImageDescriptor& image);

}  // namespace camui
