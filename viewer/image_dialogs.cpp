// The picture dialogs. Every scroll bar has an edit beside it that shows its value; a value typed
// into the edit is taken at OK, clamped to the bar's range.
#include "image_dialogs.h"

#include <algorithm>

#include "controls.h"
#include "messages.h"

namespace viewer {

namespace {

LONG rounded(float value) { return static_cast<LONG>(value + 0.5f); }
LONG clamped(LONG value, LONG low, LONG high) { return value < low ? low : value > high ? high : value; }

// A scroll bar with its edit, which shows the position less `offset`.
struct Slider {
  HWND dialog;
  int bar, edit;
  LONG offset;
  void setUp(LONG low, LONG high, int page, LONG position) const {
    ui::ScrollBar(dialog, bar).setRange(low, high, page);
    set(position);
  }
  void set(LONG position) const {
    ui::ScrollBar(dialog, bar).setPosition(position);
    SetDlgItemInt(dialog, edit, position - offset, TRUE);
  }
  // The position a WM_HSCROLL from this bar asks for, or -1 when it came from another control.
  LONG requested(WPARAM request, LPARAM from) const {
    if (reinterpret_cast<HWND>(from) != GetDlgItem(dialog, bar)) return -1;
    return ui::ScrollBar(dialog, bar).requestedPosition(request);
  }
  // The edit's value as a position, clamped to [low, high].
  LONG typed(LONG low, LONG high) const {
    BOOL ok = FALSE;
    const LONG value = static_cast<LONG>(GetDlgItemInt(dialog, edit, &ok, TRUE));
    return clamped(ok ? value + offset : ui::ScrollBar(dialog, bar).position(), low, high);
  }
};

}  // namespace

ResizeRanges resizeRanges(LONG width, LONG height, bool keepAspect) {
  const float r = static_cast<float>(width) / static_cast<float>(height);
  const float s = static_cast<float>(height) / static_cast<float>(width);
  if (!keepAspect) return {kMinResizeWidth, kMaxResizeWidth, kMinResizeHeight, kMaxResizeHeight, s};
  ResizeRanges ranges;
  ranges.minWidth = std::max<LONG>(kMinResizeWidth, rounded(r * kMinResizeHeight));
  ranges.maxWidth = std::min<LONG>(kMaxResizeWidth, rounded(r * kMaxResizeHeight));
  ranges.minHeight = std::max<LONG>(kMinResizeHeight, rounded(s * kMinResizeWidth));
  ranges.maxHeight = std::min<LONG>(kMaxResizeHeight, rounded(s * kMaxResizeWidth));
  ranges.heightPerWidth = s;
  return ranges;
}

// Resize.

Resize::Resize(HINSTANCE resources, LONG width, LONG height, bool keepAspect)
    : ui::Dialog(resources, "Resize"), width(width), height(height), keepAspect(keepAspect) {}

bool Resize::onInit() {
  ui::CheckBox(hwnd_, IDC_CHECK).setChecked(keepAspect);
  applyRanges();
  return true;
}

void Resize::applyRanges() {
  ranges_ = resizeRanges(width, height, keepAspect);
  width = clamped(width, ranges_.minWidth, ranges_.maxWidth);
  ui::ScrollBar(hwnd_, IDC_FIRST_BAR).setRange(ranges_.minWidth, ranges_.maxWidth, 20);
  if (keepAspect) height = rounded(width * ranges_.heightPerWidth);
  height = clamped(height, ranges_.minHeight, ranges_.maxHeight);
  ui::ScrollBar(hwnd_, IDC_HEIGHT_BAR).setRange(ranges_.minHeight, ranges_.maxHeight, 20);
  ui::Control(hwnd_, IDC_HEIGHT_BAR).enable(!keepAspect);
  ui::Control(hwnd_, IDC_HEIGHT_EDIT).enable(!keepAspect);
  show();
}

void Resize::show() {
  Slider{hwnd_, IDC_FIRST_BAR, IDC_FIRST_EDIT, 0}.set(width);
  Slider{hwnd_, IDC_HEIGHT_BAR, IDC_HEIGHT_EDIT, 0}.set(height);
}

bool Resize::onCommand(int id, int code, HWND control) {
  if (id == IDC_CHECK && code == BN_CLICKED) {
    keepAspect = !keepAspect;
    aspectToggled = true;
    applyRanges();
    return true;
  }
  if (id == IDOK) {
    width = Slider{hwnd_, IDC_FIRST_BAR, IDC_FIRST_EDIT, 0}.typed(ranges_.minWidth, ranges_.maxWidth);
    if (keepAspect)
      height = clamped(rounded(width * ranges_.heightPerWidth), ranges_.minHeight, ranges_.maxHeight);
    else
      height = Slider{hwnd_, IDC_HEIGHT_BAR, IDC_HEIGHT_EDIT, 0}.typed(ranges_.minHeight, ranges_.maxHeight);
  }
  return Dialog::onCommand(id, code, control);
}

INT_PTR Resize::onMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) {
  if (message != WM_HSCROLL) return Dialog::onMessage(message, wParam, lParam, handled);
  handled = true;
  const LONG wantedWidth = Slider{hwnd_, IDC_FIRST_BAR, IDC_FIRST_EDIT, 0}.requested(wParam, lParam);
  const LONG wantedHeight = Slider{hwnd_, IDC_HEIGHT_BAR, IDC_HEIGHT_EDIT, 0}.requested(wParam, lParam);
  if (wantedWidth >= 0) {
    width = wantedWidth;
    if (keepAspect) height = clamped(rounded(width * ranges_.heightPerWidth), ranges_.minHeight, ranges_.maxHeight);
  } else if (wantedHeight >= 0) {
    height = wantedHeight;
  }
  show();
  return 0;
}

// Brighten.

bool Brighten::onInit() {
  Slider{hwnd_, IDC_FIRST_BAR, IDC_FIRST_EDIT, 100}.setUp(0, 200, 10, 100);
  return true;
}

bool Brighten::onCommand(int id, int code, HWND control) {
  if (id == IDOK) value = Slider{hwnd_, IDC_FIRST_BAR, IDC_FIRST_EDIT, 100}.typed(0, 200) - 100;
  if (id == IDCANCEL) value = 0;
  return Dialog::onCommand(id, code, control);
}

INT_PTR Brighten::onMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) {
  if (message != WM_HSCROLL) return Dialog::onMessage(message, wParam, lParam, handled);
  handled = true;
  const Slider slider{hwnd_, IDC_FIRST_BAR, IDC_FIRST_EDIT, 100};
  const LONG position = slider.requested(wParam, lParam);
  if (position >= 0) slider.set(position);
  return 0;
}

// Adjcolor.

namespace {
Slider colourSlider(HWND dialog, int channel) {  // 0 red, 1 green, 2 blue
  static const int bars[] = {IDC_RED_BAR, IDC_GREEN_BAR, IDC_FIRST_BAR};
  static const int edits[] = {IDC_RED_EDIT, IDC_GREEN_EDIT, IDC_FIRST_EDIT};
  return Slider{dialog, bars[channel], edits[channel], 100};
}
}  // namespace

bool Adjcolor::onInit() {
  for (int channel = 0; channel < 3; ++channel) colourSlider(hwnd_, channel).setUp(0, 200, 10, 100);
  return true;
}

bool Adjcolor::onCommand(int id, int code, HWND control) {
  if (id == IDOK) {
    red = colourSlider(hwnd_, 0).typed(0, 200);
    green = colourSlider(hwnd_, 1).typed(0, 200);
    blue = colourSlider(hwnd_, 2).typed(0, 200);
  }
  if (id == IDCANCEL) red = green = blue = 100;
  return Dialog::onCommand(id, code, control);
}

INT_PTR Adjcolor::onMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) {
  if (message != WM_HSCROLL) return Dialog::onMessage(message, wParam, lParam, handled);
  handled = true;
  for (int channel = 0; channel < 3; ++channel) {
    const Slider slider = colourSlider(hwnd_, channel);
    const LONG position = slider.requested(wParam, lParam);
    if (position >= 0) slider.set(position);
  }
  return 0;
}

// DlydTmr.

bool DlydTmr::onInit() {
  ui::CheckBox(hwnd_, IDC_CHECK).setChecked(preview);
  ui::Control(hwnd_, IDC_CHECK).enable(selectable_);
  Slider{hwnd_, IDC_FIRST_BAR, IDC_DELAY_EDIT, 0}.setUp(5, 100, 5, clamped(seconds, 5, 100));
  return true;
}

bool DlydTmr::onCommand(int id, int code, HWND control) {
  if (id == IDOK) {
    seconds = Slider{hwnd_, IDC_FIRST_BAR, IDC_DELAY_EDIT, 0}.typed(5, 100);
    preview = ui::CheckBox(hwnd_, IDC_CHECK).checked();
  }
  return Dialog::onCommand(id, code, control);
}

INT_PTR DlydTmr::onMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) {
  if (message != WM_HSCROLL) return Dialog::onMessage(message, wParam, lParam, handled);
  handled = true;
  const Slider slider{hwnd_, IDC_FIRST_BAR, IDC_DELAY_EDIT, 0};
  const LONG position = slider.requested(wParam, lParam);
  if (position >= 0) slider.set(position);
  return 0;
}

}  // namespace viewer
