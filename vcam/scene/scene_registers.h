// The part of the virtual camera's register file that its picture depends on, and what the camera's
// automatic controls changed while taking a picture.
#pragma once

#include <cstdint>

#include "register_map.h"

namespace qrvcam {

constexpr int kSceneRegisterCount = 64;

// The registers the picture depends on, under the numbers the camera library writes them with.
// As the camera reads them: exposure mode 0 is manual, 1..3 automatic exposure (which moves gain
// and shutter); the balances are 0..255 with 125 neutral and are moved by automatic white
// balance; frame kind kFrameKindCompressed asks for the compressed stream, anything else for raw
// packed Y0 U Y1 V rows; flip 1 sends the rows bottom-up and mirror 1 the columns right to left;
// saturation 125 leaves colours as they are and 0 gives grey; shutter 256 is the nominal exposure.
// The two tables arrive as data stages and are held in SceneRegisters::tone and ::quant.
using camlib::kFrameKindCompressed;
using camlib::kRegAutoWhiteBalance;
using camlib::kRegBlueBalance;
using camlib::kRegCaptureHeight;
using camlib::kRegCaptureWidth;
using camlib::kRegChromaSaturation;
using camlib::kRegExposureMode;
using camlib::kRegFlip;
using camlib::kRegFrameKind;
using camlib::kRegGain;
using camlib::kRegMirror;
using camlib::kRegQuantTable;
using camlib::kRegRedBalance;
using camlib::kRegShutter;
using camlib::kRegToneTable;

struct SceneRegisters {
  uint16_t reg[kSceneRegisterCount];  // indexed by register number
  uint8_t tone[256];                  // register 13: applied to red, green and blue
  uint16_t quant[128];                // register 25: luminance then chrominance, zig-zag order
};

// Registers the camera's automatic exposure and white balance changed after a picture; the
// register file takes these values before the next one.
struct SceneFeedback {
  struct Move {
    uint8_t reg;
    uint16_t value;
  };
  int count = 0;
  Move moved[4];
};

}  // namespace qrvcam
