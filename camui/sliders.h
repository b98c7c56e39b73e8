// The camera panels' sliders, as the viewer, the capture driver and the TWAIN source show them: a
// horizontal scroll bar over one setting, a read-out field beside it and the camera call a move
// makes. Each front end keeps the table of its own sliders; showing and moving them is here.
#pragma once
#include <windows.h>

#include "profile_store.h"

namespace camui {

// What a slider's field shows: the percent of 250, the value itself, or the gamma text.
enum class SliderField { Percent, Plain, Gamma };

struct Slider {
  int bar, field;
  profiles::ValueId value;
  int last, page;  // positions 0 to `last`, the page a click beside the thumb moves
  SliderField kind;
  LONG (*send)(LONG value);  // the camera call, with the slider's value
};

// The camera calls of the sliders, each taking the slider's value as the bar holds it.
LONG sendSharpness(LONG value);
LONG sendGain(LONG value);
LONG sendBacklight(LONG value);
LONG sendAutoBias(LONG percent);  // 0 to 100 percent, sent as 0 to 255
LONG sendGamma(LONG value);
LONG sendChroma(LONG value);
LONG sendRed(LONG value);
LONG sendBlue(LONG value);

// Sets the bar `bar` to positions 0 to `last` with the page `page`, at `position`.
void setBarRange(HWND dialog, int bar, int last, int page, LONG position);
// Moves the bar where the scroll request asks, never past `last`, and returns the new position.
int moveBar(HWND dialog, int bar, WPARAM request, int last);
void setNumberField(HWND dialog, int field, LONG value);
void setPercentField(HWND dialog, int field, LONG value);

void showSliderField(HWND dialog, const Slider& slider, LONG value);
// The bar's range, page and position and the field, for `value`.
void showSlider(HWND dialog, const Slider& slider, LONG value);
// The slider moved to `value`: the setting and the field follow, and the camera when `camera`.
void applySlider(HWND dialog, const Slider& slider, profiles::ProfileSettings& settings, LONG value,
                 bool camera = true);

inline const Slider* sliderPointer(const Slider& slider) { return &slider; }
inline const Slider* sliderPointer(const Slider* slider) { return slider; }

// The slider of the bar `bar` in a front end's table (of sliders or of pointers to them), or null.
template <typename Table>
const Slider* sliderOf(const Table& sliders, int bar) {
  for (const auto& entry : sliders) {
    const Slider* slider = sliderPointer(entry);
    if (slider->bar == bar) return slider;
  }
  return nullptr;
}

}  // namespace camui
