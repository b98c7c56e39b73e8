// The camera's registers as the library uses them, and the capture sizes it programs.
#pragma once
#include <cstdint>

namespace camlib {

enum Register : std::uint32_t {
  kRegExposureMode = 1,
  kRegAutoWhiteBalance = 2,
  kRegBlueBalance = 4,
  kRegGain = 5,  // also auto bias
  kRegCaptureRun = 6,
  kRegStartup7 = 7,
  kRegMains60Hz = 9,
  kRegFrameKind = 10,  // 0x10 compressed, 0 raw
  kRegStartup11 = 11,
  kRegToneTable = 13,
  kRegFlip = 17,
  kRegLed = 18,
  kRegMirror = 19,
  kRegStartup20 = 20,
  kRegNoiseFilter = 21,
  kRegPower = 23,
  kRegQuantTable = 25,
  kRegRedBalance = 26,
  kRegCaptureWidth = 27,
  kRegCaptureHeight = 28,
  kRegCaptureWidth2 = 29,
  kRegCaptureHeight2 = 30,
  kRegCaptureOffsetX = 31,
  kRegCaptureOffsetY = 32,
  kRegChromaSaturation = 35,
  kRegSharpness = 36,
  kRegShutter = 37,
  kRegStartup38 = 38,
  kRegGeneralInput = 42,  // bit 1: the push-button level
  kRegStartup45 = 45,
  kRegNoiseFilterPrepare = 46,
  kRegStartup47 = 47,
};

constexpr std::uint32_t kFrameKindCompressed = 0x10;
constexpr std::uint32_t kLedOn = 2;
constexpr std::uint32_t kNoiseFilterOn = 5;
constexpr std::uint32_t kNoiseFilterPrepareValue = 0x80;
constexpr std::uint32_t kButtonBit = 0x2;

struct ResolutionMode {
  int outputWidth, outputHeight;
  int captureWidth, captureHeight;
};

// Index = resolution code. Code 5 is a 640 x 480 capture doubled on the host.
constexpr ResolutionMode kResolutions[] = {
    {640, 480, 640, 480},   // 0
    {320, 240, 320, 240},   // 1
    {160, 120, 160, 120},   // 2
    {352, 288, 352, 288},   // 3
    {176, 144, 176, 144},   // 4
    {1280, 960, 640, 480},  // 5
    {120, 96, 120, 96},     // 6
};
constexpr int kResolutionCount = sizeof(kResolutions) / sizeof(kResolutions[0]);

constexpr int kOutputFormatCount = 6;  // codes 0-5

}  // namespace camlib
