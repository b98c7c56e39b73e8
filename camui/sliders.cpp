#include "sliders.h"

#include <algorithm>

#include "camera_controls.h"
#include "controls.h"
#include "qrcamlib.h"

namespace camui {

LONG sendSharpness(LONG value) { return QRSetSharpness(value); }
LONG sendGain(LONG value) { return QRSetGain(value); }
LONG sendBacklight(LONG value) { return QRSetBLCEn(value); }
LONG sendAutoBias(LONG percent) { return QRSetAutoBias((static_cast<DWORD>(percent) * 255u / 100u) & 0xFF); }
LONG sendGamma(LONG value) { return QRSetGamma(value & 0xFF); }
LONG sendChroma(LONG value) { return QRSetChromaSat(value & 0xFF); }
LONG sendRed(LONG value) { return QRSetRedBal(value & 0xFF); }
LONG sendBlue(LONG value) { return QRSetBlueBal(value & 0xFF); }

void setBarRange(HWND dialog, int bar, int last, int page, LONG position) {
  ui::ScrollBar control(dialog, bar);
  // With a page the thumb reaches max - page + 1: the range is widened so that `last` is reached.
  control.setRange(0, last + page - 1, page);
  control.setPosition(position);
}

int moveBar(HWND dialog, int bar, WPARAM request, int last) {
  ui::ScrollBar control(dialog, bar);
  const int position = std::min(control.requestedPosition(request), last);
  control.setPosition(position);
  return position;
}

void setNumberField(HWND dialog, int field, LONG value) {
  SetDlgItemInt(dialog, field, static_cast<UINT>(value), TRUE);
}

void setPercentField(HWND dialog, int field, LONG value) { setNumberField(dialog, field, percentOf250(value)); }

void showSliderField(HWND dialog, const Slider& slider, LONG value) {
  switch (slider.kind) {
    case SliderField::Percent:
      setPercentField(dialog, slider.field, value);
      break;
    case SliderField::Plain:
      setNumberField(dialog, slider.field, value);
      break;
    case SliderField::Gamma:
      SetDlgItemTextA(dialog, slider.field, gammaText(value).c_str());
      break;
  }
}

void showSlider(HWND dialog, const Slider& slider, LONG value) {
  setBarRange(dialog, slider.bar, slider.last, slider.page, value);
  showSliderField(dialog, slider, value);
}

void applySlider(HWND dialog, const Slider& slider, profiles::ProfileSettings& settings, LONG value, bool camera) {
  settings[slider.value] = value;
  showSliderField(dialog, slider, value);
  if (camera) slider.send(value);
}

}  // namespace camui
