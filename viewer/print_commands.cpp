// The main window's printing: the default printer, the "Printer Control" dialog with its preview,
// the printer set-up dialog, and the job with its "Print Status" box.
#include <windows.h>
#include <commdlg.h>

#include <algorithm>
#include <cstring>

#include "main_window.h"
#include "printing.h"
#include "viewer_ids.h"

namespace viewer {

namespace {

using printing::Page;
using printing::PrintSettings;

const char* const kPrintValues[] = {"Position from Left", "Position from Top", "Print Width",
                                    "Print Height",       "Frame Width",       "Auto Scale",
                                    "Auto Center",        "Raise for Print",   "Print Mode"};

LONG& value(TQRViewIO& io, const char* name) { return io.settings[io.settings.find(name)]; }

PrintSettings readSettings(TQRViewIO& io) {
  return {value(io, kPrintValues[0]), value(io, kPrintValues[1]), value(io, kPrintValues[2]),
          value(io, kPrintValues[3]), value(io, kPrintValues[4]), value(io, kPrintValues[5]),
          value(io, kPrintValues[6]), value(io, kPrintValues[7]), value(io, kPrintValues[8])};
}

void writeSettings(TQRViewIO& io, const PrintSettings& s) {
  const LONG values[] = {s.left, s.top, s.width, s.height, s.frameWidth, s.autoScale, s.autoCenter, s.raise, s.mode};
  for (int i = 0; i < 9; ++i) value(io, kPrintValues[i]) = values[i];
}

// The printer: its device mode and names, as the printer set-up dialog keeps them.
struct Printer {
  HGLOBAL devMode = nullptr, devNames = nullptr;
  ~Printer() {
    if (devMode) GlobalFree(devMode);
    if (devNames) GlobalFree(devNames);
  }
  bool openDefault(HWND owner) {
    PRINTDLGA dialog = {};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.Flags = PD_RETURNDEFAULT;
    if (!PrintDlgA(&dialog)) return false;
    devMode = dialog.hDevMode;
    devNames = dialog.hDevNames;
    return devNames != nullptr;
  }
  bool setup(HWND owner) {
    PRINTDLGA dialog = {};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.hDevMode = devMode;
    dialog.hDevNames = devNames;
    dialog.Flags = PD_PRINTSETUP;
    const BOOL done = PrintDlgA(&dialog);
    devMode = dialog.hDevMode;
    devNames = dialog.hDevNames;
    return done != 0;
  }
  std::string name(int which) const {  // 0 driver, 1 device, 2 port
    std::string text;
    if (const auto* names = static_cast<const DEVNAMES*>(GlobalLock(devNames))) {
      const WORD offsets[] = {names->wDriverOffset, names->wDeviceOffset, names->wOutputOffset};
      text = reinterpret_cast<const char*>(names) + offsets[which];
      GlobalUnlock(devNames);
    }
    return text;
  }
  HDC createDC() const {
    const DEVMODEA* mode = devMode ? static_cast<const DEVMODEA*>(GlobalLock(devMode)) : nullptr;
    HDC dc = CreateDCA(name(0).c_str(), name(1).c_str(), name(2).c_str(), mode);
    if (mode) GlobalUnlock(devMode);
    return dc;
  }
  void modeOf(short& orientation, short& colour) const {
    orientation = DMORIENT_PORTRAIT;
    colour = DMCOLOR_COLOR;
    if (const auto* mode = devMode ? static_cast<const DEVMODEA*>(GlobalLock(devMode)) : nullptr) {
      if (mode->dmFields & DM_ORIENTATION) orientation = mode->dmOrientation;
      if (mode->dmFields & DM_COLOR) colour = mode->dmColor;
      GlobalUnlock(devMode);
    }
  }
};

// "Printer Control": layout, mode and brightening of the printed picture, with a preview.
class PrintDialog : public ui::Dialog {
 public:
  PrintDialog(HINSTANCE resources, TQRViewIO& io, ViewerState& state, const ImageDescriptor& image, Printer& printer)
      : ui::Dialog(resources, IDD_PRINTER_CONTROL), io_(io), state_(state), image_(image), printer_(printer) {}
  ~PrintDialog() override {
    if (dc_) DeleteDC(dc_);
  }
  // The printer's device context, handed over to the caller.
  HDC takePrinterDC() {
    HDC dc = dc_;
    dc_ = nullptr;
    return dc;
  }

 protected:
  bool onInit() override {
    kept_ = readSettings(io_);
    // The preview panel: 140 x 120 pixels.
    SetWindowPos(item(IDC_PRINT_PREVIEW), nullptr, 0, 0, 140, 120, SWP_NOMOVE | SWP_NOZORDER);
    setUp();
    return true;
  }
  bool onCommand(int id, int code, HWND control) override {
    PrintSettings s = readSettings(io_);
    switch (id) {
      case IDC_PRINT_DEFAULT:
      case IDC_PRINT_HALFTONE:
      case IDC_PRINT_SCATTER:
        s.mode = id == IDC_PRINT_DEFAULT ? 0 : id == IDC_PRINT_HALFTONE ? 1 : 2;
        break;
      case IDC_PRINT_SCALE:
        s.autoScale = !s.autoScale;
        break;
      case IDC_PRINT_CENTER:
        s.autoCenter = !s.autoCenter;
        break;
      case IDC_PRINT_BRIGHTEN:
        s.raise = !s.raise;
        break;
      case IDC_PRINT_SETUP:
        if (printer_.setup(hwnd_)) setUp();
        return true;
      case IDCANCEL:
        writeSettings(io_, kept_);
        end(IDCANCEL);
        return true;
      case IDOK:
      case IDC_PRINT_NOW:
        end(id);
        return true;
      default:
        return ui::Dialog::onCommand(id, code, control);
    }
    writeSettings(io_, s);
    state_.configChanged = 1;
    refresh();
    return true;
  }
  INT_PTR onMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) override {
    if (message == WM_DRAWITEM && wParam == IDC_PRINT_PREVIEW) {
      drawPreview(reinterpret_cast<const DRAWITEMSTRUCT*>(lParam)->hDC);
      handled = true;
      return TRUE;
    }
    if (message != WM_HSCROLL && message != WM_VSCROLL) return 0;
    handled = true;
    HWND bar = reinterpret_cast<HWND>(lParam);
    const int id = GetDlgCtrlID(bar);
    SCROLLINFO info = {};
    info.cbSize = sizeof info;
    info.fMask = SIF_ALL;
    GetScrollInfo(bar, SB_CTL, &info);
    int position = info.nPos;
    const int line = 10, page = static_cast<int>(info.nPage ? info.nPage : 1);
    switch (LOWORD(wParam)) {
      case SB_LINEUP:
        position -= line;
        break;
      case SB_LINEDOWN:
        position += line;
        break;
      case SB_PAGEUP:
        position -= page;
        break;
      case SB_PAGEDOWN:
        position += page;
        break;
      case SB_THUMBPOSITION:
      case SB_THUMBTRACK:
        position = info.nTrackPos;
        break;
      case SB_TOP:
        position = info.nMin;
        break;
      case SB_BOTTOM:
        position = info.nMax;
        break;
      default:
        return 0;
    }
    if (position < info.nMin) position = info.nMin;
    if (position > info.nMax) position = info.nMax;
    PrintSettings s = readSettings(io_);
    const LONG width = image_.bmh->biWidth, height = image_.bmh->biHeight;
    if (id == IDC_PRINT_LEFT_BAR) s.left = position;
    if (id == IDC_PRINT_TOP_BAR) s.top = position;
    if (id == IDC_PRINT_SIZE_BAR) printing::setSize(s, position, width, height, page_);
    if (id == IDC_PRINT_FRAME_BAR) s.frameWidth = position;
    writeSettings(io_, s);
    state_.configChanged = 1;
    refresh();
    return 0;
  }

 private:
  // Step 2: the printer's device context, page, orientation and colour, then the controls.
  void setUp() {
    if (dc_) DeleteDC(dc_);
    dc_ = printer_.createDC();
    page_ = dc_ ? printing::pageOf(dc_) : Page{0, 0};
    printer_.modeOf(orientation_, colour_);
    SetDlgItemTextA(hwnd_, IDC_PRINT_PRINTER,
                    ui::format("%s on %s", printer_.name(1).c_str(), printer_.name(2).c_str()).c_str());
    SetDlgItemTextA(hwnd_, IDC_PRINT_ORIENTATION,
                    orientation_ == DMORIENT_PORTRAIT ? "Portrait Format" : "Landscape Format");
    SetDlgItemTextA(hwnd_, IDC_PRINT_COLOUR, colour_ == DMCOLOR_COLOR ? "Color Print Mode" : "B/W Print Mode");
    refresh();
  }
  // Steps 3 and 4: the options and the values, then the preview.
  void refresh() {
    PrintSettings s = readSettings(io_);
    const LONG width = image_.bmh->biWidth, height = image_.bmh->biHeight;
    const bool grey = image_.imgtype != 0;
    if (!grey) s.mode = 0;
    printing::applyRules(s, width, height, page_);
    writeSettings(io_, s);
    CheckDlgButton(hwnd_, IDC_PRINT_DEFAULT, s.mode == 0 ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(hwnd_, IDC_PRINT_HALFTONE, s.mode == 1 ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(hwnd_, IDC_PRINT_SCATTER, s.mode == 2 ? BST_CHECKED : BST_UNCHECKED);
    EnableWindow(item(IDC_PRINT_HALFTONE), grey);
    EnableWindow(item(IDC_PRINT_SCATTER), grey);
    CheckDlgButton(hwnd_, IDC_PRINT_SCALE, s.autoScale ? BST_CHECKED : BST_UNCHECKED);
    EnableWindow(item(IDC_PRINT_CENTER), !s.autoScale);
    CheckDlgButton(hwnd_, IDC_PRINT_CENTER, !s.autoScale && s.autoCenter ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(hwnd_, IDC_PRINT_BRIGHTEN, s.raise ? BST_CHECKED : BST_UNCHECKED);
    EnableWindow(item(IDC_PRINT_SIZE_BAR), !s.autoScale);
    EnableWindow(item(IDC_PRINT_LEFT_BAR), !s.autoCenter);
    EnableWindow(item(IDC_PRINT_TOP_BAR), !s.autoCenter);
    const LONG largestLeft = page_.width - s.width > 0 ? page_.width - s.width : 0;
    const LONG largestTop = page_.height - s.height > 0 ? page_.height - s.height : 0;
    setBar(IDC_PRINT_LEFT_BAR, 0, largestLeft, largestLeft / 10, s.left);
    setBar(IDC_PRINT_TOP_BAR, 0, largestTop, largestTop / 10, s.top);
    const bool limitedByWidth = printing::widthLimited(width, height, page_);
    const LONG sizeMax = limitedByWidth ? page_.width : page_.height;
    setBar(IDC_PRINT_SIZE_BAR, 500, sizeMax, sizeMax / 10, limitedByWidth ? s.width : s.height);
    setBar(IDC_PRINT_FRAME_BAR, 0, 20, 1, s.frameWidth);
    SetDlgItemTextA(hwnd_, IDC_PRINT_WIDTH, printing::inchText(s.width).c_str());
    SetDlgItemTextA(hwnd_, IDC_PRINT_HEIGHT, printing::inchText(s.height).c_str());
    SetDlgItemTextA(hwnd_, IDC_PRINT_LEFT, printing::inchText(s.left).c_str());
    SetDlgItemTextA(hwnd_, IDC_PRINT_TOP, printing::inchText(s.top).c_str());
    SetDlgItemInt(hwnd_, IDC_PRINT_FRAME, static_cast<UINT>(s.frameWidth), FALSE);
    InvalidateRect(item(IDC_PRINT_PREVIEW), nullptr, TRUE);
  }
  void setBar(int id, LONG minimum, LONG maximum, LONG page, LONG position) {
    SCROLLINFO info = {};
    info.cbSize = sizeof info;
    info.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
    info.nMin = minimum;
    info.nMax = maximum > minimum ? maximum : minimum;
    info.nPage = static_cast<UINT>(page > 0 ? page : 1);
    info.nPos = position;
    SetScrollInfo(item(id), SB_CTL, &info, TRUE);
  }
  void drawPreview(HDC dc) {
    RECT panel = {0, 0, 140, 120};
    FillRect(dc, &panel, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    if (page_.width <= 0 || page_.height <= 0) return;
    const float scale =
        std::min(120.0f / static_cast<float>(page_.width + 1), 100.0f / static_cast<float>(page_.height + 1));
    HPEN dotted = CreatePen(PS_DOT, 1, RGB(0, 0, 0));
    HGDIOBJ oldPen = SelectObject(dc, dotted);
    HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(NULL_BRUSH));
    Rectangle(dc, 10, 10, 10 + static_cast<int>(scale * page_.width), 10 + static_cast<int>(scale * page_.height));
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldPen);
    DeleteObject(dotted);
    const PrintSettings s = readSettings(io_);
    const int left = static_cast<int>(scale * s.left), top = static_cast<int>(scale * s.top);
    const int width = static_cast<int>(scale * (s.left + s.width)) - left;
    const int height = static_cast<int>(scale * (s.top + s.height)) - top;
    if (width <= 0 || height <= 0) return;
    ImageDescriptor sized = {}, shown = {};
    if (allocimage(&sized, width, height, image_.bmh->biBitCount) != 0) return;
    LONG code = copyimagepalette(&image_, &sized);
    if (code == 0 || image_.colors == 0) code = resize(&image_, &sized);
    if (code == 0) code = allocimage(&shown, width, height, 8);
    if (code == 0) {
      code = colour_ != DMCOLOR_COLOR || image_.imgtype != 0 ? colortogray(&sized, &shown)
                                                             : colordither(&sized, &shown, 256);
    }
    if (code == 0)
      SetDIBitsToDevice(dc, 10 + left, 10 + top, width, height, 0, 0, 0, height, shown.ibuff,
                        reinterpret_cast<const BITMAPINFO*>(shown.bmh), DIB_RGB_COLORS);
    if (shown.bmh) freeimage(&shown);
    freeimage(&sized);
  }

  TQRViewIO& io_;
  ViewerState& state_;
  const ImageDescriptor& image_;
  Printer& printer_;
  PrintSettings kept_ = {};
  HDC dc_ = nullptr;
  Page page_ = {0, 0};
  short orientation_ = DMORIENT_PORTRAIT, colour_ = DMCOLOR_COLOR;
};

// "Print Status": the band in progress and a Cancel that stops the job.
class PrtProg : public ui::Dialog {
 public:
  explicit PrtProg(HINSTANCE resources) : ui::Dialog(resources, IDD_PRINT_STATUS) {}
  bool cancelled = false;
  int bandShown = 0;

 protected:
  bool onCommand(int id, int code, HWND control) override {
    if (id == IDCANCEL) {
      cancelled = true;
      return true;
    }
    return ui::Dialog::onCommand(id, code, control);
  }
};

PrtProg* g_progress = nullptr;  // the box of the job in progress (one at a time: printing is modal)

int CALLBACK printAbort(int band) {
  if (!g_progress) return 0;
  if (band != g_progress->bandShown && g_progress->handle()) {
    g_progress->bandShown = band;
    SetDlgItemTextA(g_progress->handle(), IDC_PRINT_STATUS_TEXT, ui::format("Processing band %d", band).c_str());
  }
  // The box's own messages (its Cancel among them) while the job holds the thread.
  MSG msg;
  while (g_progress->handle() && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (!IsDialogMessageA(g_progress->handle(), &msg)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }
  return g_progress->cancelled ? 1 : 0;
}

}  // namespace

void TBmpViewWindow::printImage() {
  if (!current_.bmh) return;
  Printer printer;
  if (!printer.openDefault(owner())) {
    state_.lastError = -100;
    reportError();
    return;
  }
  PrintDialog dialog(resources_, io_, state_, current_, printer);
  if (dialog.runModal(owner()) != IDC_PRINT_NOW) return;
  HDC dc = dialog.takePrinterDC();
  if (!dc) return;
  state_.printJobActive = 1;
  EnableWindow(owner(), FALSE);
  PrtProg progress(resources_);
  progress.createModeless(owner());
  if (progress.handle()) SetWindowPos(progress.handle(), nullptr, 200, 250, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  SetDlgItemTextA(progress.handle(), IDC_PRINT_STATUS_TEXT, "");
  ImageDescriptor work = {};
  LONG code = allocimage(&work, current_.bmh->biWidth, current_.bmh->biHeight, current_.bmh->biBitCount);
  if (code == 0) code = copyimage(&current_, &work);
  if (code == 0) {
    const PrintSettings s = readSettings(io_);
    const VicPrintArea area = {s.left, s.top, s.width, s.height};
    if (s.raise) brightenmidrange(&work, &work);
    g_progress = &progress;
    code = printimage(owner(), dc, s.mode, &work, &area, s.frameWidth, printAbort);
    g_progress = nullptr;
  }
  state_.pendingPrintError = code;
  // The progress box closes when `progress` goes, at the end of this call.
  if (work.bmh) freeimage(&work);
  DeleteDC(dc);
  state_.printJobActive = 0;
  EnableWindow(owner(), TRUE);
  SetFocus(owner());
}

}  // namespace viewer
