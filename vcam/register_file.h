// The virtual camera's register file as the camera firmware sees it: every register the host
// writes, plus the two tables that arrive as 256-byte data stages. A plain record, so it can live
// in shared memory and be handed to the frame renderer as it stands.
#pragma once
#include <cstdint>

namespace vcam {

struct RegisterFile {
  static constexpr int kRegisterCount = 64;  // the host uses registers 1-47
  std::uint32_t values[kRegisterCount];      // last value written (reads answer the low 16 bits)
  std::uint8_t toneTable[256];               // register 13: luminance tone curve
  std::uint16_t quantTable[128];             // register 25: luminance then chrominance steps, zig-zag order
};

}  // namespace vcam
