// The virtual camera's picture: a moving synthetic scene (colour bars, a grey ramp and a colour
// gradient, fine line patterns and a bouncing ball) taken at the capture size of registers 27 and
// 28 with the in-camera processing the registers ask for, delivered as the camera's restricted
// JPEG stream (register 10 = 0x10) or as raw packed Y0 U Y1 V rows.
#pragma once

#include <cstddef>
#include <cstdint>

#include "scene_registers.h"

namespace qrvcam {

// Largest capture size the camera takes.
constexpr int kMaxCaptureWidth = 1280;
constexpr int kMaxCaptureHeight = 960;

// Renders frame number frameNumber into out, storing at most capacity bytes, and returns the
// frame's full length (which may exceed capacity). Returns 0 when the capture size registers do
// not hold a size the camera can take (width even, 2..1280; height 1..960). moved (may be null)
// receives the registers the automatic controls changed.
size_t renderFrame(const SceneRegisters& regs, uint32_t frameNumber, uint8_t* out, size_t capacity,
                   SceneFeedback* moved);

// The picture itself, before encoding: packed Y0 U Y1 V, width x 2 bytes a row; out must hold
// width x height x 2 bytes. Returns false for a size the camera cannot take.
bool renderPicture(const SceneRegisters& regs, uint32_t frameNumber, uint8_t* out, SceneFeedback* moved);

}  // namespace qrvcam
