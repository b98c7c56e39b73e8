#include "printing.h"

#include <cstdio>

namespace viewer {
namespace printing {

Page pageOf(HDC printer) {
  const int dpiX = GetDeviceCaps(printer, LOGPIXELSX), dpiY = GetDeviceCaps(printer, LOGPIXELSY);
  if (dpiX <= 0 || dpiY <= 0) return {0, 0};
  return {GetDeviceCaps(printer, HORZRES) * 1000 / dpiX, GetDeviceCaps(printer, VERTRES) * 1000 / dpiY};
}

bool widthLimited(LONG imageWidth, LONG imageHeight, const Page& page) {
  if (imageHeight <= 0 || page.height <= 0) return true;
  return static_cast<float>(imageWidth) / static_cast<float>(imageHeight) >=
         static_cast<float>(page.width) / static_cast<float>(page.height);
}

void fit(PrintSettings& s, LONG imageWidth, LONG imageHeight, const Page& page) {
  if (imageWidth <= 0 || imageHeight <= 0) return;
  if (widthLimited(imageWidth, imageHeight, page)) {
    s.width = page.width;
    s.height = static_cast<LONG>(static_cast<long long>(imageHeight) * page.width / imageWidth);
  } else {
    s.height = page.height;
    s.width = static_cast<LONG>(static_cast<long long>(imageWidth) * page.height / imageHeight);
  }
  s.left = (page.width - s.width) / 2;
  s.top = (page.height - s.height) / 2;
}

void applyRules(PrintSettings& s, LONG imageWidth, LONG imageHeight, const Page& page) {
  if (s.width > page.width || s.height > page.height || s.autoScale) fit(s, imageWidth, imageHeight, page);
  // Compared unsigned, as the bars hold them: a negative margin is beyond the largest too.
  const DWORD largestLeft = static_cast<DWORD>(page.width - s.width > 0 ? page.width - s.width : 0);
  const DWORD largestTop = static_cast<DWORD>(page.height - s.height > 0 ? page.height - s.height : 0);
  if (static_cast<DWORD>(s.left) > largestLeft) s.left = static_cast<LONG>(largestLeft);
  if (static_cast<DWORD>(s.top) > largestTop) s.top = static_cast<LONG>(largestTop);
  if (s.autoCenter) {
    s.left = static_cast<LONG>(largestLeft / 2);
    s.top = static_cast<LONG>(largestTop / 2);
  }
}

void setSize(PrintSettings& s, LONG value, LONG imageWidth, LONG imageHeight, const Page& page) {
  if (imageWidth <= 0 || imageHeight <= 0) return;
  if (widthLimited(imageWidth, imageHeight, page)) {
    s.width = value;
    s.height = static_cast<LONG>(static_cast<long long>(imageHeight) * value / imageWidth);
  } else {
    s.height = value;
    s.width = static_cast<LONG>(static_cast<long long>(imageWidth) * value / imageHeight);
  }
}

std::string inchText(LONG thousandths) {
  char text[32];
  std::snprintf(text, sizeof text, "%.5g%c", static_cast<double>(thousandths / 10) * 0.01, 34);
  return text;
}

}  // namespace printing
}  // namespace viewer
