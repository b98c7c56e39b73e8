// The virtual camera's picture: one of its scenes (below) taken at the capture size of registers
// 27 and 28 with the in-camera processing the registers ask for, delivered as the camera's
// restricted JPEG stream (register 10 = 0x10) or as raw packed Y0 U Y1 V rows.
#pragma once

#include <cstddef>
#include <cstdint>

#include "scene_registers.h"

namespace qrvcam {

// Largest capture size the camera takes.
constexpr int kMaxCaptureWidth = 1280;
constexpr int kMaxCaptureHeight = 960;

// The scenes in front of the camera, by the number VCamSetScene and "qrvcamctl scene N" take. Every
// scene is laid out on the picture as a whole, so that each capture size shows the same view.
enum SceneNumber : uint32_t {
  kSceneTestPattern = 0,  // colour bars, grey ramp, colour gradient, fine lines, a bouncing ball; moves
  kSceneLandscape = 1,    // a still, photograph-like view: sky, sun, clouds, hills, trees and a lake
  kSceneFlatGrey = 2,     // flat fields of one light (FlatFieldLight), for colour, gain and white balance
  kSceneFlatWhite = 3,
  kSceneFlatRed = 4,
  kSceneFlatGreen = 5,
  kSceneFlatBlue = 6,
  kSceneFlatBlack = 7,
  kSceneCount = 8
};

struct Light {
  int r, g, b;
};

// The light a flat-field scene sends into the camera, 0-255 a channel. Through the camera it
// comes out as this colour when the processing is neutral: gain 64, shutter 256, identity tone
// table, saturation 125, and the balances that undo the room's warm light (the scenes are lit a
// little warm, red x 17/16 and blue x 14/16 at balance 125, so that white balance has work to
// do): red balance kNeutralRedBalance, blue balance kNeutralBlueBalance. False for a scene that
// is no flat field.
bool FlatFieldLight(uint32_t scene, Light* light);
constexpr int kNeutralRedBalance = 117;
constexpr int kNeutralBlueBalance = 143;

// Renders frame number frameNumber into out, storing at most capacity bytes, and returns the
// frame's full length (which may exceed capacity). Returns 0 when the capture size registers do
// not hold a size the camera can take (width even, 2..1280; height 1..960). moved (may be null)
// receives the registers the automatic controls changed.
size_t renderFrame(const SceneRegisters& regs, uint32_t frameNumber, uint8_t* out, size_t capacity,
                   SceneFeedback* moved, uint32_t scene = kSceneTestPattern);

// The picture itself, before encoding: packed Y0 U Y1 V, width x 2 bytes a row; out must hold
// width x height x 2 bytes. Returns false for a size the camera cannot take or a scene it does
// not have (renderFrame then returns 0).
bool renderPicture(const SceneRegisters& regs, uint32_t frameNumber, uint8_t* out, SceneFeedback* moved,
                   uint32_t scene = kSceneTestPattern);

}  // namespace qrvcam
