// The preview control's painting.
#include "preview_control.h"

#include "image_drawing.h"

namespace twain {

namespace {

bool holdsPicture(const ImageDescriptor& image) { return image.bmh != nullptr && image.ibuff != nullptr; }

void freeHeld(ImageDescriptor& image) {
  if (image.bmh) freeimage(&image);
  image = ImageDescriptor{};
}

}  // namespace

TBitmapControl::TBitmapControl(const ImageDescriptor& image, const LONG& rotate)
    : image_(image), rotate_(rotate), background_(CreateSolidBrush(GetSysColor(COLOR_WINDOW))) {}

TBitmapControl::~TBitmapControl() {
  if (background_) DeleteObject(background_);
}

bool TBitmapControl::bind(HWND control) {
  if (!attach(control)) return false;
  HDC screen = GetDC(nullptr);
  displayBits_ = GetDeviceCaps(screen, BITSPIXEL) * GetDeviceCaps(screen, PLANES);
  ReleaseDC(nullptr, screen);
  return true;
}

LRESULT TBitmapControl::handleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd_, &ps);
      paint(dc);
      EndPaint(hwnd_, &ps);
      return 0;
    }
    case WM_PRINTCLIENT:
      paint(reinterpret_cast<HDC>(wParam));
      return 0;
    case WM_ERASEBKGND:
      return 1;  // the paint covers the whole area
    default:
      return defaultHandling(message, wParam, lParam);
  }
}

void TBitmapControl::paint(HDC dc) {
  drawFrame(dc);
  const RECT area = {kBorder, kBorder, kBorder + kAreaWidth, kBorder + kAreaHeight};
  if (!holdsPicture(image_) || clearPending_) {
    fillArea(dc, area);
    return;
  }
  if (rotate_ != 0) {
    drawRotated(dc);
  } else {
    drawUpright(dc);
  }
}

// Button shadow and window frame above and left, highlight and button face below and right.
void TBitmapControl::drawFrame(HDC dc) const {
  const int right = kAreaWidth + 2 * kBorder - 1, bottom = kAreaHeight + 2 * kBorder - 1;
  struct Edge {
    int colour, x0, y0, x1, y1, x2, y2;
  };
  const Edge edges[] = {
      {COLOR_BTNSHADOW, 0, bottom - 1, 0, 0, right, 0},
      {COLOR_WINDOWFRAME, 1, bottom - 2, 1, 1, right - 1, 1},
      {COLOR_BTNHIGHLIGHT, 0, bottom, right, bottom, right, -1},
      {COLOR_BTNFACE, 1, bottom - 1, right - 1, bottom - 1, right - 1, 0},
  };
  for (const Edge& e : edges) {
    HPEN pen = CreatePen(PS_SOLID, 1, GetSysColor(e.colour));
    HGDIOBJ previous = SelectObject(dc, pen);
    MoveToEx(dc, e.x0, e.y0, nullptr);
    LineTo(dc, e.x1, e.y1);
    LineTo(dc, e.x2, e.y2);
    SelectObject(dc, previous);
    DeleteObject(pen);
  }
}

void TBitmapControl::fillArea(HDC dc, const RECT& area) const {
  if (area.right > area.left && area.bottom > area.top) FillRect(dc, &area, background_);
}

const ImageDescriptor& TBitmapControl::forDisplay(const ImageDescriptor& image, ImageDescriptor& copy) const {
  const LONG bits = image.bmh->biBitCount;
  if (displayBits_ > 8) return image;
  const LONG width = image.bmh->biWidth, height = image.bmh->biHeight;
  if (displayBits_ <= 7) {
    if (allocimage(&copy, width, height, 8) == 0 && colordither(&image, &copy, 16) == 0) return copy;
  } else if (bits == 24) {
    if (allocimage(&copy, width, height, 8) == 0 && convertrgbtopal(256, &image, &copy) == 0) return copy;
  } else {
    return image;  // an 8-bit preview shows with its own palette
  }
  freeHeld(copy);
  return image;
}

void TBitmapControl::drawUpright(HDC dc) {
  ImageDescriptor copy{};
  const ImageDescriptor& shown = forDisplay(image_, copy);
  const int width = shown.bmh->biWidth, height = shown.bmh->biHeight;
  camui::drawImage(dc, kBorder, kBorder, shown);
  // The area not covered by a smaller picture.
  fillArea(dc, RECT{kBorder + width, kBorder, kBorder + kAreaWidth, kBorder + kAreaHeight});
  fillArea(dc, RECT{kBorder, kBorder + height, kBorder + (width < kAreaWidth ? width : kAreaWidth),
                    kBorder + kAreaHeight});
  freeHeld(copy);
}

// The preview itself turned a quarter (direction as the full frame's: "Rotate Image" 1 turns it
// with direction 0), reduced to 180 x 240 when taller than the area, centred.
void TBitmapControl::drawRotated(HDC dc) {
  const LONG width = image_.bmh->biWidth, height = image_.bmh->biHeight, bits = image_.bmh->biBitCount;
  ImageDescriptor turned{}, reduced{}, copy{};
  if (allocimage(&turned, height, width, bits) != 0) return;
  rotate90(rotate_ == 1 ? 0 : 1, &image_, &turned);
  copyimagepalette(&image_, &turned);
  const ImageDescriptor* picture = &turned;
  if (turned.bmh->biHeight > kAreaHeight && allocimage(&reduced, 180, 240, bits) == 0) {
    resize(&turned, &reduced);
    copyimagepalette(&turned, &reduced);
    picture = &reduced;
  }
  const ImageDescriptor& shown = forDisplay(*picture, copy);
  const int w = shown.bmh->biWidth, h = shown.bmh->biHeight;
  const int x = w >= kAreaWidth ? kBorder : (kAreaWidth - w) / 2 + kBorder;
  const int y = h >= kAreaHeight ? kBorder : (kAreaHeight - h) / 2 + kBorder;
  // The sides around the centred picture are the background.
  fillArea(dc, RECT{kBorder, kBorder, kBorder + kAreaWidth, y});
  fillArea(dc, RECT{kBorder, y + h, kBorder + kAreaWidth, kBorder + kAreaHeight});
  fillArea(dc, RECT{kBorder, y, x, y + h});
  fillArea(dc, RECT{x + w, y, kBorder + kAreaWidth, y + h});
  camui::drawImage(dc, x, y, shown);
  freeHeld(copy);
  freeHeld(reduced);
  freeHeld(turned);
}

}  // namespace twain
