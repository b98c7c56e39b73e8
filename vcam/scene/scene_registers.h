// The part of the virtual camera's register file that its picture depends on, and what the camera's
// automatic controls changed while taking a picture.
#pragma once

#include <cstdint>

namespace qrvcam {

constexpr int kSceneRegisterCount = 64;

// Register numbers as the camera library writes them.
enum SceneRegister : int {
    kRegExposureMode = 1,   // 0 manual; 1..3 automatic exposure (moves gain and shutter)
    kRegAutoWhiteBalance = 2,
    kRegBlueBalance = 4,    // 0..255, 125 neutral; moved by automatic white balance
    kRegGain = 5,           // 0..255
    kRegFrameKind = 10,     // kCompressedFrames, else raw packed Y0 U Y1 V rows
    kRegToneTable = 13,     // 256-byte table, held in SceneRegisters::tone
    kRegFlip = 17,          // 1: rows bottom-up
    kRegMirror = 19,        // 1: columns right to left
    kRegQuantTable = 25,    // 128 words, held in SceneRegisters::quant
    kRegRedBalance = 26,    // 0..255, 125 neutral; moved by automatic white balance
    kRegCaptureWidth = 27,
    kRegCaptureHeight = 28,
    kRegSaturation = 35,    // 125 leaves colours as they are, 0 gives grey
    kRegShutter = 37,       // exposure time, 256 nominal
};

constexpr uint16_t kCompressedFrames = 0x10;

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
