// What the virtual camera should have shown in a frame read through the camera library: the scene
// renderer's own picture for the camera's registers and frame number, converted into an output
// format, and a measure of how far a read frame is from it. Shared by every test that checks the
// pixels a front end receives.
#pragma once
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "scene.h"

namespace camlibtest {

using Bytes = std::vector<std::uint8_t>;

// The library's resolution codes 0-6: output size and the capture size behind it.
struct Mode {
  int outputWidth, outputHeight, captureWidth, captureHeight;
};
extern const Mode kModes[7];

// Destination size of a frame read at `resolution` in output `format` (format 4 is the capture).
std::size_t destinationBytes(int resolution, int format);

// Frames virtual camera 0 has delivered so far (the next frame's number).
DWORD framesDelivered();

// Virtual camera 0's registers as they stand, as the scene renderer reads them.
qrvcam::SceneRegisters cameraRegisters();

// The scene picture of one frame, doubled when the resolution asks, in the output format.
Bytes expectedOutput(const qrvcam::SceneRegisters& regs, std::uint32_t frameNumber, int resolution, int format);

// Mean absolute difference of two outputs, sample by sample (format 2's 5-bit channels scaled to
// 8 bits); huge when the sizes differ.
double meanDifference(const Bytes& got, const Bytes& want, int format);

}  // namespace camlibtest
