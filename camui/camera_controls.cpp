// The camera-control rules shared by the front ends' camera panels.
#include "camera_controls.h"

#include <cstdio>
#include <cstdlib>

namespace camui {

int shutterSpeed(int shutter) { return static_cast<int>(1.0 / ((shutter + 0.5) * 0.000063492)); }

int shutterAtPosition(int position) {
  if (position < 0) position = 0;
  if (position >= kShutterPositions) position = kShutterPositions - 1;
  return position < 150 ? position : 15600 / (253 - position);
}

int positionForShutter(int shutter) {
  for (int position = 0; position < kShutterPositions - 1; ++position) {
    if (shutterAtPosition(position) >= shutter) return position;
  }
  return kShutterPositions - 1;
}

int scanFrequencyForShutter(int shutter) { return shutter > 260 ? 1560000 / shutter : 6000; }

// clang-format off
const ShutterPresets kViewerShutterPresets = {
    {"Fastest",         0, 6000},
    {"1/10,000th Sec",  1, 6000},
    {"1/2,000th Sec",   7, 6000},
    {"1/1,000th Sec",  15, 6000},
    {"1/500th Sec",    31, 6000},
    {"1/250th Sec",    62, 6000},
    {"1/100th Sec",   157, 6000},
    {"1/60th Sec",    260, 6000},
    {"1/50th Sec",    312, 5000},
    {"1/30th Sec",    520, 3000},
    {"1/25th Sec",    624, 2500},
    {"1/15th Sec",   1040, 1500},
    {"1/12th Sec",   1248, 1250},
    {"1/7th Sec",    2080,  750},
    {"1/6th Sec",    2496,  625},
    {"1/4th Sec",    3900,  400},
};

const ShutterPresets kTwainShutterPresets = {
    {"Fastest",         0, 6000},
    {"1/10,000th Sec",  1, 6000},
    {"1/2,000th Sec",   7, 6000},
    {"1/1,000th Sec",  15, 6000},
    {"1/500th Sec",    31, 6000},
    {"1/250th Sec",    62, 6000},
    {"1/100th Sec",   157, 6000},
    {"1/60th Sec",    260, 6000},
    {"1/50th Sec",    312, 5000},
    {"1/30th Sec",    520, 3000},
    {"1/25th Sec",    624, 2500},
    {"1/15th Sec",   1040, 1500},
    {"1/12th Sec",   1248, 1200},
    {"1/7th Sec",    2080,  700},
    {"1/6th Sec",    2496,  600},
    {"1/4th Sec",    3900,  400},
};

const char* const kAgcModeTexts[kAgcModeCount] = {"AGC Off", "AGC Avg Mode", "AGC Center Avg", "AGC Peak Mode"};
const int kAgcModes[kAgcModeCount] =             {0,         3,              7,                15};

const char* const kQualityTexts[kQualityCount] = {"High Frame Rate", "Medium Quality", "High Quality"};
const int kQualities[kQualityCount] =            {0,                 128,              255};
// clang-format on

int nearestPreset(int shutter, const ShutterPresets& presets) {
  if (shutter <= 0) return 0;
  if (shutter == 1) return 1;
  int upper = 2;
  while (upper < kShutterPresetCount - 1 && presets[upper].shutter < shutter) ++upper;
  const int lower = upper - 1;
  const int speed = shutterSpeed(shutter);
  const int toUpper = std::abs(speed - shutterSpeed(presets[upper].shutter));
  const int toLower = std::abs(speed - shutterSpeed(presets[lower].shutter));
  return toUpper < toLower ? upper : lower;
}

int percentOf250(int value) { return value * 100 / 250; }

std::string gammaText(int gamma) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%d", gamma + 100);
  std::string text(digits);
  if (!text.empty() && text[0] != '-') text.insert(1, ".");
  return text;
}

int agcItem(int mode, int otherItem) {
  for (int item = 0; item < kAgcModeCount; ++item) {
    if (kAgcModes[item] == mode) return item;
  }
  return otherItem;
}

bool onlyHighQuality(int resolution, int format) {
  return format == 1 && (resolution == 2 || resolution == 4 || resolution == 6);
}

int qualityOfItem(int item, int resolution, int format) {
  if (onlyHighQuality(resolution, format) || item < 0 || item >= kQualityCount) return 255;
  return kQualities[item];
}

int itemOfQuality(int quality, int resolution, int format) {
  if (onlyHighQuality(resolution, format)) return 0;
  for (int item = 0; item < kQualityCount; ++item) {
    if (kQualities[item] == quality) return item;
  }
  return 0;
}

}  // namespace camui
