#include "frame_source.h"

#include <cstdio>

#include "scene.h"

namespace vcam {

namespace {

std::size_t replayFile(const char* path, std::uint8_t* buffer, std::size_t capacity) {
  std::FILE* file = std::fopen(path, "rb");
  if (!file) return 0;
  long length = 0;
  if (std::fseek(file, 0, SEEK_END) == 0) length = std::ftell(file);
  std::fseek(file, 0, SEEK_SET);
  if (length < 0) length = 0;
  const std::size_t wanted = static_cast<std::size_t>(length) < capacity ? static_cast<std::size_t>(length) : capacity;
  const std::size_t stored = buffer && wanted ? std::fread(buffer, 1, wanted, file) : 0;
  std::fclose(file);
  // A file that shrank while it was read is a frame of what could be read.
  return stored < wanted ? stored : static_cast<std::size_t>(length);
}

}  // namespace

std::size_t produceFrame(const FrameJob& job, const RegisterFile& registers, std::uint8_t* buffer, std::size_t capacity,
                         qrvcam::SceneFeedback* moved) {
  if (moved) moved->count = 0;
  if (job.replayPath[0]) return replayFile(job.replayPath, buffer, capacity);
  const qrvcam::SceneRegisters scene = sceneRegisters(registers);
  return qrvcam::renderFrame(scene, job.frameNumber, buffer, buffer ? capacity : 0, moved, job.scene);
}

}  // namespace vcam
