// Where the virtual camera's frames come from. The device answers every frame request through
// produceFrame(), with a copy of the register file taken when the request arrived.
#pragma once
#include <cstddef>
#include <cstdint>

#include "register_file.h"
#include "scene_registers.h"

namespace vcam {

constexpr int kReplayPathSize = 260;

struct FrameJob {
  int deviceIndex;            // 0-15
  std::uint32_t frameNumber;  // counts the frames this device has delivered since it was plugged in
  std::uint32_t scene;        // chosen with VCamSetScene: a qrvcam::SceneNumber
  // A file whose bytes are this frame, whatever they hold (empty: the scene is taken).
  char replayPath[kReplayPathSize];
};

// Writes one frame into `buffer`, storing at most `capacity` bytes, and returns the frame's full
// length (which may be more than was stored, as a driver reports it). A frame of the job's scene is taken at the
// capture size of registers 27/28, compressed when register 10 asks for it, raw packed Y0 U Y1 V
// rows otherwise; `moved` (may be null) receives the registers the camera's automatic exposure and
// white balance changed, which the register file must take before the next frame. A replayed
// frame is the file's bytes (length 0 when it cannot be read) and moves nothing.
std::size_t produceFrame(const FrameJob& job, const RegisterFile& registers, std::uint8_t* buffer, std::size_t capacity,
                         qrvcam::SceneFeedback* moved);

// The registers as the scene renderer reads them (each register's low 16 bits, the two tables).
inline qrvcam::SceneRegisters sceneRegisters(const RegisterFile& registers) {
  static_assert(qrvcam::kSceneRegisterCount == RegisterFile::kRegisterCount, "one register file");
  qrvcam::SceneRegisters scene{};
  for (int i = 0; i < RegisterFile::kRegisterCount; ++i) scene.reg[i] = static_cast<std::uint16_t>(registers.values[i]);
  for (int i = 0; i < 256; ++i) scene.tone[i] = registers.toneTable[i];
  for (int i = 0; i < 128; ++i) scene.quant[i] = registers.quantTable[i];
  return scene;
}

}  // namespace vcam
