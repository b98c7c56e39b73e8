// Images of the image library into device contexts.
#include "image_drawing.h"

#include <vector>

namespace camui {

HPALETTE createImagePalette(const ImageDescriptor& image) {
  if (!image.palette || image.colors <= 0 || image.colors > 256) return nullptr;
  std::vector<BYTE> block(sizeof(LOGPALETTE) + sizeof(PALETTEENTRY) * static_cast<size_t>(image.colors));
  auto* palette = reinterpret_cast<LOGPALETTE*>(block.data());
  palette->palVersion = 0x300;
  palette->palNumEntries = static_cast<WORD>(image.colors);
  for (int i = 0; i < image.colors; ++i) {
    palette->palPalEntry[i].peRed = image.palette[i].rgbRed;
    palette->palPalEntry[i].peGreen = image.palette[i].rgbGreen;
    palette->palPalEntry[i].peBlue = image.palette[i].rgbBlue;
    palette->palPalEntry[i].peFlags = 0;
  }
  return CreatePalette(palette);
}

bool drawImage(HDC dc, int x, int y, const ImageDescriptor& image) {
  if (!image.bmh || !image.ibuff) return false;
  const LONG width = image.bmh->biWidth;
  const LONG height = image.bmh->biHeight;
  HPALETTE palette = createImagePalette(image);
  HPALETTE previous = nullptr;
  if (palette) {
    previous = SelectPalette(dc, palette, FALSE);
    RealizePalette(dc);
  }
  const int lines = SetDIBitsToDevice(dc, x, y, static_cast<DWORD>(width), static_cast<DWORD>(height), 0, 0, 0,
                                      static_cast<UINT>(height), image.ibuff,
                                      reinterpret_cast<const BITMAPINFO*>(image.bmh), DIB_RGB_COLORS);
  if (palette) {
    SelectPalette(dc, previous, FALSE);
    DeleteObject(palette);
  }
  return lines > 0;
}

}  // namespace camui
