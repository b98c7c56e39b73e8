#include "print.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "bilevel.h"
#include "pixels.h"
#include "resample.h"

namespace vic {
namespace {

// One band's bitmap stays near this size, so that a large print never needs the whole page in
// memory at printer resolution.
const int kBandBytes = 256 * 1024;

LONG g_printing = 0;

struct BusyMark {
  bool acquired = InterlockedExchange(&g_printing, 1) == 0;
  ~BusyMark() {
    if (acquired) InterlockedExchange(&g_printing, 0);
  }
};

// The picture's place on the page in printer pixels.
struct Placement {
  int x, y, width, height;
};

struct DibInfo {
  BITMAPINFOHEADER header;
  RGBQUAD colours[256];
};

void dispatchPendingMessages() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {  // leave it for the application's own loop
      PostQuitMessage(static_cast<int>(message.wParam));
      break;
    }
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

// The job's bands: each asks the callback first and stops the job when it says so.
class Job {
 public:
  Job(HDC printer, PrintAbortProc abort) : printer_(printer), abort_(abort) {}
  bool nextBandWanted() {
    dispatchPendingMessages();
    ++band_;
    if (abort_ && abort_(band_) != 0) stopped_ = true;
    return !stopped_;
  }
  bool stopped() const { return stopped_; }
  HDC printer() const { return printer_; }

 private:
  HDC printer_;
  PrintAbortProc abort_;
  int band_ = 0;
  bool stopped_ = false;
};

DibInfo dibInfoFor(const Image& image, int rows) {
  DibInfo info{};
  info.header.biSize = sizeof(BITMAPINFOHEADER);
  info.header.biWidth = image.width();
  info.header.biHeight = rows;
  info.header.biPlanes = 1;
  info.header.biBitCount = static_cast<WORD>(image.bits());
  info.header.biCompression = BI_RGB;
  info.header.biClrUsed = static_cast<DWORD>(image.paletteCapacity);
  for (int i = 0; i < image.paletteCapacity; ++i) {
    const RgbQuad& e = image.palette()[i];
    info.colours[i] = RGBQUAD{e.rgbBlue, e.rgbGreen, e.rgbRed, 0};
  }
  return info;
}

// Mode 0: bands of picture rows, each stretched by the driver onto its share of the area. Band
// edges are computed from the row numbers alone, so neighbouring bands meet without gap or overlap.
int printAsIs(Job& job, const Image& image, const Placement& at) {
  const int rowsPerBand = std::max(1, kBandBytes / image.view.stride);
  SetStretchBltMode(job.printer(), HALFTONE);
  SetBrushOrgEx(job.printer(), 0, 0, nullptr);
  for (int top = 0; top < image.height(); top += rowsPerBand) {
    if (!job.nextBandWanted()) return kOk;
    int bottom = std::min(image.height(), top + rowsPerBand);
    int y0 = at.y + static_cast<int>(static_cast<long long>(top) * at.height / image.height());
    int y1 = at.y + static_cast<int>(static_cast<long long>(bottom) * at.height / image.height());
    if (y1 == y0) continue;
    DibInfo info = dibInfoFor(image, bottom - top);
    // Rows are stored bottom-up, so the band's lowest row is where its bits begin.
    const uint8_t* bits = image.row(bottom - 1);
    if (StretchDIBits(job.printer(), at.x, y0, at.width, y1 - y0, 0, 0, image.width(), bottom - top, bits,
                      reinterpret_cast<const BITMAPINFO*>(&info), DIB_RGB_COLORS, SRCCOPY) == 0)
      return kPrinterError;
  }
  return kOk;
}

// Modes 1 and 2: the grey picture resampled to printer pixels (rows across first, then down),
// turned into black and white there, and sent band by band one to one.
int printBlackAndWhite(Job& job, const Image& image, const Placement& at, int mode) {
  AxisWeights xs, ys;
  if (!makeAxisWeights(image.width(), at.width, xs) || !makeAxisWeights(image.height(), at.height, ys))
    return kNoMemory;
  const size_t width = static_cast<size_t>(at.width);
  std::vector<uint16_t> across;
  std::vector<uint8_t> grey, sourceGrey, band;
  std::vector<uint32_t> sums;
  ScatterDither scatter;
  const int stride = dibStride(at.width, 1);
  const int rowsPerBand = std::max(1, kBandBytes / stride);
  if (!tryAllocate(across, width * image.height()) || !tryAllocate(grey, width) ||
      !tryAllocate(sourceGrey, static_cast<size_t>(image.width())) || !tryAllocate(sums, width) ||
      !tryAllocate(band, static_cast<size_t>(stride) * rowsPerBand) || !scatter.start(at.width))
    return kNoMemory;

  for (int y = 0; y < image.height(); ++y) {
    rowToGrey(image, y, sourceGrey.data());
    uint16_t* out = &across[width * y];
    for (size_t x = 0; x < width; ++x) {
      const int16_t* w = &xs.weights[x * xs.taps];
      const uint8_t* p = &sourceGrey[xs.first[x]];
      uint32_t sum = 0;
      for (int k = 0; k < xs.taps; ++k) sum += static_cast<uint32_t>(w[k]) * p[k];
      out[x] = static_cast<uint16_t>((sum + (1u << 5)) >> 6);
    }
  }

  DibInfo info{};
  info.header.biSize = sizeof(BITMAPINFOHEADER);
  info.header.biWidth = at.width;
  info.header.biPlanes = 1;
  info.header.biBitCount = 1;
  info.header.biCompression = BI_RGB;
  info.header.biClrUsed = 2;
  info.colours[1] = RGBQUAD{255, 255, 255, 0};

  for (int top = 0; top < at.height; top += rowsPerBand) {
    if (!job.nextBandWanted()) return kOk;
    const int rows = std::min(rowsPerBand, at.height - top);
    for (int r = 0; r < rows; ++r) {
      const int y = top + r;
      const int16_t* w = &ys.weights[static_cast<size_t>(y) * ys.taps];
      std::fill(sums.begin(), sums.end(), 0u);
      for (int k = 0; k < ys.taps; ++k) {
        if (w[k] == 0) continue;
        const uint16_t* src = &across[width * (ys.first[y] + k)];
        for (size_t x = 0; x < width; ++x) sums[x] += static_cast<uint32_t>(w[k]) * src[x];
      }
      for (size_t x = 0; x < width; ++x) grey[x] = static_cast<uint8_t>((sums[x] + (1u << 21)) >> 22);
      uint8_t* bits = &band[static_cast<size_t>(rows - 1 - r) * stride];  // bottom-up band
      std::memset(bits, 0, stride);
      if (mode == kPrintHalftone) {
        halftoneRow(grey.data(), at.width, y, bits);
      } else {
        scatter.row(grey.data(), bits);
      }
    }
    info.header.biHeight = rows;
    if (StretchDIBits(job.printer(), at.x, at.y + top, at.width, rows, 0, 0, at.width, rows, band.data(),
                      reinterpret_cast<const BITMAPINFO*>(&info), DIB_RGB_COLORS, SRCCOPY) == 0)
      return kPrinterError;
  }
  return kOk;
}

// A black frame `thickness` printer pixels wide just outside the picture.
void drawFrame(HDC printer, const Placement& at, int thickness) {
  HBRUSH black = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
  const int left = at.x, top = at.y, right = at.x + at.width, bottom = at.y + at.height;
  const RECT sides[4] = {{left - thickness, top - thickness, right + thickness, top},
                         {left - thickness, bottom, right + thickness, bottom + thickness},
                         {left - thickness, top, left, bottom},
                         {right, top, right + thickness, bottom}};
  for (const RECT& side : sides) FillRect(printer, &side, black);
}

int thousandthsToPixels(int32_t value, int pixelsPerInch) {
  return static_cast<int>(static_cast<long long>(value) * pixelsPerInch / 1000);
}

}  // namespace

int printImage(HWND window, HDC printer, int mode, const ImageDescriptor* image, const PrintArea* area, int frameWidth,
               PrintAbortProc abort, const char* outputFile) {
  (void)window;
  BusyMark busy;
  if (!busy.acquired) return kPrintBusy;
  Image picture;
  int result = openImage(image, picture);
  if (result != kOk) return result;
  if (mode < kPrintAsIs || mode > kPrintScatter || !area || frameWidth < 0 || frameWidth > 20) return kBadRange;
  if (!printer) return kPrinterError;
  const int dpiX = GetDeviceCaps(printer, LOGPIXELSX), dpiY = GetDeviceCaps(printer, LOGPIXELSY);
  if (dpiX <= 0 || dpiY <= 0) return kPrinterError;
  Placement at{thousandthsToPixels(area->left, dpiX), thousandthsToPixels(area->top, dpiY),
               thousandthsToPixels(area->width, dpiX), thousandthsToPixels(area->height, dpiY)};
  // Beyond 100 inches a side is no print area of any printer; it would only exhaust memory.
  if (at.width < 1 || at.height < 1 || area->width > 100000 || area->height > 100000 || area->left < 0 || area->top < 0)
    return kBadRange;

  DOCINFOA document{};
  document.cbSize = sizeof document;
  document.lpszDocName = "Image";
  document.lpszOutput = outputFile;
  if (StartDocA(printer, &document) <= 0) return kPrinterError;
  if (StartPage(printer) <= 0) {
    AbortDoc(printer);
    return kPrinterError;
  }
  Job job(printer, abort);
  result = mode == kPrintAsIs ? printAsIs(job, picture, at) : printBlackAndWhite(job, picture, at, mode);
  if (result != kOk || job.stopped()) {
    AbortDoc(printer);
    return result;
  }
  if (frameWidth > 0) {
    int thickness = std::max(1, static_cast<int>(static_cast<long long>(frameWidth) * at.width / picture.width()));
    drawFrame(printer, at, thickness);
  }
  if (EndPage(printer) <= 0) {
    AbortDoc(printer);
    return kPrinterError;
  }
  return EndDoc(printer) > 0 ? kOk : kPrinterError;
}

}  // namespace vic
