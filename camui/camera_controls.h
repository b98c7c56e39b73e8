// The camera-control rules that every front end's camera panel shares: the shutter scroll bar's
// table, shutter speeds, the scan frequency a shutter needs, the shutter presets and the choice of
// the preset nearest to a shutter, the percent and gamma texts, the automatic-gain list and the
// quality list. No Win32: the viewer's panels, the capture driver's source dialog and the TWAIN
// source's control panel all link it, and it is tested natively too.
#pragma once

#include <string>

namespace camui {

// A shutter value v exposes for (v + 0.5) x 0.000063492 s; its speed is the denominator of that
// time, truncated: 260 is "1/60".
int shutterSpeed(int shutter);

// The shutter scroll bar: positions 0 to 249. Position i is shutter i below 150 and 15600 / (253 - i)
// from 150 on (151 at 150, 3900 at 249), so the bar is fine at fast shutters and coarse at slow ones.
constexpr int kShutterPositions = 250;
int shutterAtPosition(int position);
// Where the bar stands for a shutter: the first position whose shutter is not below it, the last
// position for a shutter beyond the table.
int positionForShutter(int shutter);

// The scan frequency (hundredths of a hertz) a shutter needs: 1560000 / shutter for shutters above
// 260 (a frame longer than 1/60 s), 6000 otherwise.
int scanFrequencyForShutter(int shutter);

// A shutter preset: its list text, shutter value and scan frequency.
struct ShutterPreset {
  const char* text;
  int shutter;
  int frequency;
};
constexpr int kShutterPresetCount = 16;
using ShutterPresets = ShutterPreset[kShutterPresetCount];
// The viewer's presets, and the TWAIN source's, whose three slowest have frequencies of their own.
extern const ShutterPresets kViewerShutterPresets;
extern const ShutterPresets kTwainShutterPresets;

// The preset to select for a shutter: 0 is "Fastest", 1 "1/10,000th Sec"; any other shutter lies
// between two neighbouring presets (the lower below it, the upper at or above it; beyond the
// slowest, the two slowest), and the upper one is chosen when its speed is strictly nearer to the
// shutter's speed than the lower one's.
int nearestPreset(int shutter, const ShutterPresets& presets);

// A setting of range 0 to 250 shown in percent: v x 100 / 250.
int percentOf250(int value);
// "Gamma Value" + 100 as three digits with a point after the first: 120 shows "2.20".
std::string gammaText(int gamma);

// The automatic-gain list: "AGC Off", "AGC Avg Mode", "AGC Center Avg", "AGC Peak Mode" for the
// modes 0, 3, 7 and 15.
constexpr int kAgcModeCount = 4;
extern const char* const kAgcModeTexts[kAgcModeCount];
extern const int kAgcModes[kAgcModeCount];
// The list entry for a mode; a value that is none of the four selects `otherItem` (the viewer and
// the capture driver show "AGC Off", 0; the TWAIN source shows "AGC Peak Mode", 3, for any other
// non-zero value).
int agcItem(int mode, int otherItem);

// The quality list: "High Frame Rate", "Medium Quality", "High Quality" for 0, 128 and 255; only
// "High Quality" for 8-bit black and white (output format 1) at the three smallest sizes (library
// resolution codes 2, 4 and 6), where the camera has no lower quality.
constexpr int kQualityCount = 3;
extern const char* const kQualityTexts[kQualityCount];
bool onlyHighQuality(int resolution, int format);
// The quality an item of the list stands for (255 whenever the list holds only "High Quality"),
// and the item showing a quality (the first for a value that is none of the three).
int qualityOfItem(int item, int resolution, int format);
int itemOfQuality(int quality, int resolution, int format);

}  // namespace camui
