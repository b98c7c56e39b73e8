// Where the virtual camera's frames come from. The device answers every frame request through
// produceFrame(), with a copy of the register file taken when the request arrived.
#pragma once
#include <cstddef>
#include <cstdint>

#include "register_file.h"

namespace vcam {

struct FrameJob {
  int deviceIndex;            // 0-15
  std::uint32_t frameNumber;  // counts the frames this device has delivered since it was plugged in
  std::uint32_t scene;        // chosen with VCamSetScene
};

// Writes one frame of at most `capacity` bytes into `buffer` as the registers ask (register 10
// selects compressed or raw frames, registers 27/28 the capture size) and returns its length.
// Until the scene renderer is attached the camera delivers empty frames (length 0).
std::size_t produceFrame(const FrameJob& job, const RegisterFile& registers, std::uint8_t* buffer,
                         std::size_t capacity);

}  // namespace vcam
