// The picture operations: undo, clear, clip, the colour-depth conversions, the effects with their
// palette round trip, rotation, flip and mirror, resizing, brightness and colour, the clip
// rectangle drawn with the mouse, and the delayed timer.
//
// Every operation runs in one frame: the wait cursor, the undo copy, the work, the display
// update, and the picture marked unsaved. Work that fails puts the picture back from the undo
// copy and reports its code; nothing is left half-changed.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>

#include "image_dialogs.h"
#include "main_window.h"
#include "qrcamlib.h"
#include "viewer_ids.h"

namespace viewer {

namespace {

const int kImageCommands[] = {CM_UNDO,          CM_CLEAR_IMAGE,  CM_CLIP_AREA,  CM_ADJUST_RGB,   CM_ADJUST_BRIGHTNESS,
                              CM_HISTOBRIGHTEN, CM_COLOUR_TO_BW, CM_16M_TO_256, CM_TO_16M,       CM_256_TO_16,
                              CM_256_TO_2,      CM_2_TO_256,     CM_SHARPEN,    CM_SMOOTH,       CM_EMBOSS,
                              CM_NEGATIVE,      CM_KODALITH,     CM_TRACE,      CM_RESIZE,       CM_FLIP,
                              CM_MIRROR,        CM_ROTATE_CW,    CM_ROTATE_CCW, CM_DELAYED_TIMER};

// The conversions into a new picture: the depth it gets and whether it keeps the type word.
struct Conversion {
  int command;
  LONG bits;
  bool keepsType;
};
const Conversion kConversions[] = {{CM_COLOUR_TO_BW, 8, false}, {CM_16M_TO_256, 8, true}, {CM_TO_16M, 24, true},
                                   {CM_256_TO_16, 8, true},     {CM_256_TO_2, 1, true},   {CM_2_TO_256, 8, false}};

const Conversion* conversionOf(int id) {
  for (const Conversion& c : kConversions)
    if (c.command == id) return &c;
  return nullptr;
}

// The emboss kernels: nine coefficients row by row, then the divisor.
const signed char kEmbossUp[10] = {-1, -1, 0, -1, 3, 0, 0, 0, 0, 1};
const signed char kEmbossDown[10] = {1, 1, 0, 1, -3, 0, 0, 0, 0, 1};

bool greyPalette(const ImageDescriptor& image) {
  for (int i = 0; i < image.colors; ++i) {
    const auto& entry = image.palette[i];
    if (entry.rgbRed != entry.rgbGreen || entry.rgbGreen != entry.rgbBlue) return false;
  }
  return true;
}

// A work image freed when it goes out of scope.
struct WorkImage {
  ImageDescriptor image = {};
  LONG allocate(const ImageDescriptor& like) {
    const LONG code = allocimage(&image, like.bmh->biWidth, like.bmh->biHeight, like.bmh->biBitCount);
    if (code != 0) image = {};
    return code;
  }
  ~WorkImage() {
    if (image.bmh) freeimage(&image);
  }
};

LONG kodalithAtAverage(ImageDescriptor& image) {
  LONG level = 0, second = 0, third = 0;
  LONG code = calcavglevel(&image, &level, &second, &third);
  if (code == 0) code = kodalith(level, &image, &image);
  return code;
}

}  // namespace

bool isImageCommand(int id) {
  return std::find(std::begin(kImageCommands), std::end(kImageCommands), id) != std::end(kImageCommands);
}

bool TBmpViewWindow::imageCommandEnabled(int id) const {
  const bool idle = !state_.previewOn;
  const bool image = current_.bmh != nullptr;
  const LONG bits = image ? current_.bmh->biBitCount : 0;
  const LONG colours = current_.colors;
  switch (id) {
    case CM_UNDO:
      return idle && undo_.bmh;
    case CM_CLIP_AREA:
      return idle && image && ops_.clipShown;
    case CM_COLOUR_TO_BW:
      return idle && image && current_.imgtype == 0;
    case CM_16M_TO_256:
      return idle && bits == 24;
    case CM_TO_16M:
      return idle && bits == 8;
    case CM_256_TO_16:
    case CM_256_TO_2:
      return idle && image && colours == 256;
    case CM_2_TO_256:
      return idle && bits == 1;
    case CM_SHARPEN:
    case CM_SMOOTH:
    case CM_EMBOSS:
    case CM_KODALITH:
    case CM_TRACE:
      return idle && image && (colours == 0 || colours == 256);
    case CM_NEGATIVE:
      return idle && image && (colours == 0 || colours == 2 || colours == 256);
    case CM_DELAYED_TIMER:
      return state_.cameraPowered && !ops_.timerRunning;
  }
  return idle && image;  // clear, the dialogs, histogram brightening, resize, flip, mirror, rotation
}

void TBmpViewWindow::imageCommand(int id) {
  pendingOperation_ = id;
  if (conversionOf(id)) {
    convertInto(id);
    return;
  }
  switch (id) {
    case CM_UNDO:
      undo();
      break;
    case CM_CLEAR_IMAGE:
      clearImage();
      break;
    case CM_CLIP_AREA:
      clipImage();
      break;
    case CM_HISTOBRIGHTEN:
    case CM_SHARPEN:
    case CM_SMOOTH:
    case CM_EMBOSS:
    case CM_NEGATIVE:
    case CM_KODALITH:
    case CM_TRACE:
      inPlace(id);
      break;
    case CM_FLIP:
      operate(&TBmpViewWindow::flipWork);
      break;
    case CM_MIRROR:
      operate(&TBmpViewWindow::mirrorWork);
      break;
    case CM_ROTATE_CW:
    case CM_ROTATE_CCW:
      rotation_ = id == CM_ROTATE_CW ? 0 : 1;
      ops_.manualRotationMark = true;
      operate(&TBmpViewWindow::rotateWork);
      ops_.manualRotationMark = false;
      break;
    case CM_RESIZE: {
      Resize dialog(resources_, current_.bmh->biWidth, current_.bmh->biHeight,
                    io_[VIEWER_VALUE("Resize AutoAspect")] != 0);
      const INT_PTR answer = dialog.runModal(dialogOwner());
      if (dialog.aspectToggled) state_.configChanged = 1;
      if (answer != IDOK) break;
      io_[VIEWER_VALUE("Resize AutoAspect")] = dialog.keepAspect ? 1 : 0;
      if (dialog.width != current_.bmh->biWidth || dialog.height != current_.bmh->biHeight) {
        ops_.resizeRequested = true;
        ops_.resizeWidth = dialog.width;
        ops_.resizeHeight = dialog.height;
      }
      break;
    }
    case CM_ADJUST_BRIGHTNESS: {
      Brighten dialog(resources_);
      dialog.runModal(dialogOwner());
      ops_.brightnessRequest = dialog.value;
      break;
    }
    case CM_ADJUST_RGB: {
      Adjcolor dialog(resources_);
      dialog.runModal(dialogOwner());
      ops_.colourRequested = true;
      ops_.red = dialog.red;
      ops_.green = dialog.green;
      ops_.blue = dialog.blue;
      break;
    }
    case CM_DELAYED_TIMER:
      startDelayedTimer();
      break;
  }
}

// The frame.

void TBmpViewWindow::operate(LONG (TBmpViewWindow::*work)()) {
  HCURSOR cursor = SetCursor(LoadCursorA(nullptr, MAKEINTRESOURCEA(32514)));  // IDC_WAIT
  if (keepUndoCopy()) {
    const LONG code = (this->*work)();
    if (code != 0) {
      restoreFromUndo();
      state_.lastError = code;
    }
  }
  const LONG code = state_.lastError;
  ops_.operationMark = true;
  displayUpdate();
  ops_.operationMark = false;
  if (state_.lastError == 0) state_.lastError = code;
  SetCursor(cursor);
  state_.imageSaved = 0;
  // A worked picture may carry another palette or type word: the next camera frame gets a fresh one.
  rebuildRequested_ = true;
  if (state_.lastError != 0) reportError();
}

LONG TBmpViewWindow::reallocateCurrent(LONG width, LONG height, LONG bits) {
  if (current_.bmh) freeimage(&current_);
  current_ = {};
  const LONG code = allocimage(&current_, width, height, bits);
  if (code != 0) current_ = {};
  return code;
}

void TBmpViewWindow::restoreFromUndo() {
  if (!undo_.bmh) return;
  if (reallocateCurrent(undo_.bmh->biWidth, undo_.bmh->biHeight, undo_.bmh->biBitCount) == 0)
    copyimage(&undo_, &current_);
}

void TBmpViewWindow::undo() {
  reportError();  // a code still pending
  state_.lastError = 0;
  if (undo_.bmh) {
    const LONG code = reallocateCurrent(undo_.bmh->biWidth, undo_.bmh->biHeight, undo_.bmh->biBitCount);
    if (code == 0) {
      copyimage(&undo_, &current_);
      state_.statusText = ops_.undoStatus;
      rebuildRequested_ = true;
      freeimage(&undo_);
      undo_ = {};
    } else {
      state_.lastError = code;
    }
    reportError();
  }
  ops_.operationMark = true;
  displayUpdate();
  ops_.operationMark = false;
}

void TBmpViewWindow::clearImage() {
  const int answer = messages_.show(dialogOwner(), "Clear screen of current image?", MB_YESNO | MB_ICONQUESTION);
  if (answer == IDYES) {
    keepUndoCopy();
    if (current_.bmh) freeimage(&current_);
    current_ = {};
    state_.currentFileName.clear();
    state_.statusText.clear();
    state_.imageSaved = 1;
    freeDisplayImage();
  }
  ops_.operationMark = true;
  displayUpdate();
  ops_.operationMark = false;
}

void TBmpViewWindow::clipImage() {
  if (ops_.clip.right - ops_.clip.left < 1 || ops_.clip.bottom - ops_.clip.top < 1) return;
  ops_.clipMark = true;
  operate(&TBmpViewWindow::clipWork);
  ops_.clipMark = false;
}

LONG TBmpViewWindow::clipWork() {
  RECT area = {};
  imageareatorect(&undo_, &area);
  LONG code =
      reallocateCurrent(ops_.clip.right - ops_.clip.left, ops_.clip.bottom - ops_.clip.top, undo_.bmh->biBitCount);
  if (code != 0) return code;
  recttoimagearea(&ops_.clip, &undo_);
  code = copyimage(&undo_, &current_);
  recttoimagearea(&area, &undo_);
  state_.statusText = "Clip Area";
  return code;
}

// Conversions into a new picture, filled from the undo copy (inPlaceWork tells them apart).
void TBmpViewWindow::convertInto(int id) {
  pendingOperation_ = id;
  operate(&TBmpViewWindow::inPlaceWork);
}

// The in-place operations, worked on 24-bit or grey pictures: a colour palette picture goes to
// 24 bits first and back to a 256-colour palette afterwards.
void TBmpViewWindow::inPlace(int id) {
  pendingOperation_ = id;
  operate(&TBmpViewWindow::inPlaceWork);
}

LONG TBmpViewWindow::inPlaceWork() {
  const int id = pendingOperation_;
  if (const Conversion* c = conversionOf(id)) {
    LONG code = reallocateCurrent(undo_.bmh->biWidth, undo_.bmh->biHeight, c->bits);
    if (code != 0) return code;
    switch (id) {
      case CM_COLOUR_TO_BW:
        code = colortogray(&undo_, &current_);
        break;
      case CM_16M_TO_256:
        code = convertrgbtopal(256, &undo_, &current_);
        break;
      case CM_TO_16M:
        code = convertpaltorgb(&undo_, &current_);
        break;
      case CM_256_TO_16:
        current_.colors = 16;
        code = reduceimagecolors(&undo_, &current_);
        break;
      case CM_256_TO_2:
        code = convert8bitto1bit(0, &undo_, &current_);
        break;
      case CM_2_TO_256:
        code = convert1bitto8bit(&undo_, &current_);
        break;
    }
    if (code == 0 && c->keepsType) current_.imgtype = undo_.imgtype;
    return code;
  }
  // To full colour.
  const LONG type = current_.imgtype;
  bool converted = false;
  if ((current_.colors > 0 && !greyPalette(current_)) || (current_.colors == 0 && current_.bmh->biBitCount != 24)) {
    LONG code = reallocateCurrent(undo_.bmh->biWidth, undo_.bmh->biHeight, 24);
    if (code == 0) code = convertpaltorgb(&undo_, &current_);
    if (code != 0) return code;
    current_.imgtype = type;
    converted = true;
  }
  LONG code = 0;
  switch (id) {
    case CM_HISTOBRIGHTEN:
      code = histobrighten(&current_, &current_);
      break;
    case CM_SHARPEN:
      code = sharpengentle(&current_, &current_);
      break;
    case CM_SMOOTH:
      code = blur(&current_, &current_);
      break;
    case CM_NEGATIVE:
      code = negative(&current_, &current_);
      break;
    case CM_ADJUST_BRIGHTNESS:
      code = changebright(ops_.brightnessRequest * 255 / 100, &current_, &current_);
      break;
    case CM_KODALITH:
      code = kodalithAtAverage(current_);
      break;
    case CM_TRACE:
      code = kodalithAtAverage(current_);
      if (code == 0) code = outline(&current_, &current_);
      break;
    case CM_EMBOSS: {
      WorkImage a, b, c;
      code = a.allocate(current_);
      if (code == 0) code = b.allocate(current_);
      if (code == 0) code = c.allocate(current_);
      if (code == 0) code = exchangelevel(0, 255, 128, &current_, &c.image);  // flat level 128
      if (code == 0) code = matrixconv(kEmbossUp, &current_, &a.image);
      if (code == 0) code = matrixconv(kEmbossDown, &current_, &b.image);
      if (code == 0) code = subimage(&c.image, &b.image, &c.image);
      if (code == 0) code = addimage(&c.image, &a.image, &current_);
      break;
    }
  }
  if (code != 0 || !converted) return code;
  // Back to a palette.
  WorkImage work;
  code = work.allocate(current_);
  if (code == 0) code = copyimage(&current_, &work.image);
  if (code == 0) code = reallocateCurrent(work.image.bmh->biWidth, work.image.bmh->biHeight, 8);
  if (code == 0) code = convertrgbtopal(256, &work.image, &current_);
  if (code == 0) current_.imgtype = type;
  return code;
}

LONG TBmpViewWindow::flipWork() { return flipimage(&current_, &current_); }
LONG TBmpViewWindow::mirrorWork() { return mirrorimage(&current_, &current_); }

LONG TBmpViewWindow::rotateWork() {
  LONG code = reallocateCurrent(undo_.bmh->biHeight, undo_.bmh->biWidth, undo_.bmh->biBitCount);
  if (code == 0) code = rotate90(rotation_, &undo_, &current_);
  if (code == 0) code = copyimagepalette(&undo_, &current_);
  return code;
}

LONG TBmpViewWindow::resizeWork() {
  LONG code = reallocateCurrent(ops_.resizeWidth, ops_.resizeHeight, undo_.bmh->biBitCount);
  if (code == 0) code = resize(&undo_, &current_);
  if (code == 0) code = copyimagepalette(&undo_, &current_);
  return code;
}

LONG TBmpViewWindow::colourWork() {
  const LONG percent[3] = {ops_.red, ops_.green, ops_.blue};
  auto scaled = [](LONG value, LONG percentage) {
    return static_cast<BYTE>(std::min<LONG>(255, value * percentage / 100));
  };
  if (current_.colors > 0) {
    for (int i = 0; i < current_.colors; ++i) {
      auto& entry = current_.palette[i];
      entry.rgbRed = scaled(entry.rgbRed, percent[0]);
      entry.rgbGreen = scaled(entry.rgbGreen, percent[1]);
      entry.rgbBlue = scaled(entry.rgbBlue, percent[2]);
    }
    return 0;
  }
  BYTE tables[3][256];
  for (int channel = 0; channel < 3; ++channel)
    for (int i = 0; i < 256; ++i) tables[channel][i] = scaled(i, percent[channel]);
  return usetable(tables[0], tables[1], tables[2], &current_, &current_);
}

bool TBmpViewWindow::imageRequestStep() {
  if (ops_.resizeRequested) {
    ops_.resizeRequested = false;
    const DWORD width = static_cast<DWORD>(ops_.resizeWidth), height = static_cast<DWORD>(ops_.resizeHeight);
    if (width < kMinResizeWidth || height < kMinResizeHeight) {
      messages_.show(dialogOwner(), "Can't reduce image below 16 x 12", MB_OK);
    } else if (width > kMaxResizeWidth || height > kMaxResizeHeight) {
      messages_.show(dialogOwner(), "Can't expand image beyond 2560 x 1920", MB_OK);
    } else if (current_.bmh) {
      operate(&TBmpViewWindow::resizeWork);
    }
    return true;
  }
  if (ops_.brightnessRequest != 0) {
    if (current_.bmh) inPlace(CM_ADJUST_BRIGHTNESS);
    ops_.brightnessRequest = 0;
    return true;
  }
  if (ops_.colourRequested) {
    ops_.colourRequested = false;
    if (current_.bmh) {
      operate(&TBmpViewWindow::colourWork);
    }
    return true;
  }
  return false;
}

// The clip rectangle.

void TBmpViewWindow::leftButtonDown(int x, int y) {
  if (state_.previewOn || !current_.bmh) return;
  ops_.dragging = true;
  shownStatus_ = ui::format("%s (%d x %d x %d)", state_.statusText.c_str(), static_cast<int>(current_.bmh->biWidth),
                            static_cast<int>(current_.bmh->biHeight), static_cast<int>(current_.bmh->biBitCount));
  refreshStatusBar();
  SetCapture(hwnd_);
  if (ops_.clipShown) {
    ops_.clipShown = false;
    InvalidateRect(hwnd_, nullptr, FALSE);
    UpdateWindow(hwnd_);
  }
  const int imageX = x + scrollX_, imageY = y + scrollY_;
  if (x >= 0 && y >= 0 && imageX <= current_.bmh->biWidth && imageY <= current_.bmh->biHeight) {
    ops_.anchor = {imageX, imageY};
    ops_.anchorValid = true;
  }
  ops_.last = {x, y};
  ops_.clipShown = false;
}

void TBmpViewWindow::mouseMove(int x, int y) {
  if (!ops_.dragging || !ops_.anchorValid || state_.previewOn || !current_.bmh) return;
  if (x == ops_.last.x && y == ops_.last.y) return;
  ops_.last = {x, y};
  RECT client;
  GetClientRect(hwnd_, &client);
  // Beyond the window the view scrolls that way; the anchor stays on its picture point.
  const int oldX = scrollX_, oldY = scrollY_;
  if (x < 0) scroll(SB_HORZ, SB_LINEUP);
  if (x >= client.right) scroll(SB_HORZ, SB_LINEDOWN);
  if (y < 0) scroll(SB_VERT, SB_LINEUP);
  if (y >= client.bottom) scroll(SB_VERT, SB_LINEDOWN);
  if (oldX != scrollX_ || oldY != scrollY_) UpdateWindow(hwnd_);  // the picture and the old rectangle
  HDC dc = GetDC(hwnd_);
  if (ops_.clipShown) drawClipRectangle(dc);  // drawn again: erased
  const int width = current_.bmh->biWidth, height = current_.bmh->biHeight;
  const int px = std::max(0, std::min<int>(x, std::min<int>(width - scrollX_, client.right - 1))) + scrollX_;
  const int py = std::max(0, std::min<int>(y, std::min<int>(height - scrollY_, client.bottom - 1))) + scrollY_;
  ops_.clip = {std::min<LONG>(ops_.anchor.x, px), std::min<LONG>(ops_.anchor.y, py), std::max<LONG>(ops_.anchor.x, px),
               std::max<LONG>(ops_.anchor.y, py)};
  ops_.clipShown = true;
  drawClipRectangle(dc);
  ReleaseDC(hwnd_, dc);
  shownStatus_ = ui::format("%s (%d x %d)", "Clip Area", static_cast<int>(ops_.clip.right - ops_.clip.left),
                            static_cast<int>(ops_.clip.bottom - ops_.clip.top));
  refreshStatusBar();
  refreshCommandStates();
}

void TBmpViewWindow::leftButtonUp() {
  if (GetCapture() == hwnd_) ReleaseCapture();
  ops_.dragging = false;
  ops_.anchorValid = false;
}

void TBmpViewWindow::drawClipRectangle(HDC dc) const {
  HPEN pen = CreatePen(PS_DOT, 1, RGB(255, 255, 255));
  HGDIOBJ oldPen = SelectObject(dc, pen);
  HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(NULL_BRUSH));
  const int oldMode = SetROP2(dc, R2_XORPEN);
  const int oldBackground = SetBkMode(dc, TRANSPARENT);
  Rectangle(dc, ops_.clip.left - scrollX_, ops_.clip.top - scrollY_, ops_.clip.right - scrollX_,
            ops_.clip.bottom - scrollY_);
  SetBkMode(dc, oldBackground);
  SetROP2(dc, oldMode);
  SelectObject(dc, oldBrush);
  SelectObject(dc, oldPen);
  DeleteObject(pen);
}

// The delayed timer.

void TBmpViewWindow::startDelayedTimer() {
  const LONG resolution = io_[VIEWER_VALUE("Resolution")];
  const bool large = resolution == 0 || resolution == 5;
  DlydTmr dialog(resources_, ops_.timerSeconds, ops_.previewDuringTimer, !large);
  if (dialog.runModal(dialogOwner()) != IDOK) return;
  ops_.previewDuringTimer = dialog.preview;
  ops_.timerSeconds = dialog.seconds;
  ops_.timerTicks = delayTicks(ops_.timerSeconds);
  state_.previewOn = large ? 0 : 1;
  ops_.timerRunning = true;
  ops_.timerCount = 0;
  ops_.ledState = 1;
  QRSetLEDEn(0);
  RECT client;
  GetClientRect(hwnd_, &client);
  ops_.gauge =
      CreateWindowExA(0, PROGRESS_CLASSA, "0%", WS_CHILD | WS_VISIBLE | WS_BORDER, 0, client.bottom - 35, 240, 34,
                      hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_TIMER_GAUGE)), resources_, nullptr);
  if (ops_.gauge) SendMessageA(ops_.gauge, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
}

void TBmpViewWindow::delayedTimerTick() {
  if (!ops_.timerRunning) return;
  if (ops_.timerCount < ops_.timerTicks) {
    ++ops_.timerCount;
    const int percent = static_cast<int>(ops_.timerCount * 100 / ops_.timerTicks);
    if (ops_.gauge) {
      SendMessageA(ops_.gauge, PBM_SETPOS, percent, 0);
      SetWindowTextA(ops_.gauge, ui::format("%d%%", percent).c_str());
    }
    if (ops_.timerTicks - ops_.timerCount < 3 && ops_.ledState != 3) {
      ops_.ledState = 3;
      QRSetLEDEn(3);  // blinking for the last ticks
    }
    return;
  }
  ops_.timerRunning = false;
  if (ops_.gauge) DestroyWindow(ops_.gauge);
  ops_.gauge = nullptr;
  setLedFromSettings();
  if (state_.previewOn)
    state_.previewOn = 0;
  else
    state_.snapshotRequested = 1;
}

}  // namespace viewer
