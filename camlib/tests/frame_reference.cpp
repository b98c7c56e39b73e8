#include "frame_reference.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "frame_source.h"
#include "jpeg_decoder.h"
#include "qrvcam.h"

namespace camlibtest {

const Mode kModes[7] = {{640, 480, 640, 480}, {320, 240, 320, 240},  {160, 120, 160, 120}, {352, 288, 352, 288},
                        {176, 144, 176, 144}, {1280, 960, 640, 480}, {120, 96, 120, 96}};

// Destination size by format, in eighths of a byte per output pixel; format 4 is the capture.
std::size_t destinationBytes(int resolution, int format) {
  const Mode& m = kModes[resolution];
  if (format == 4) return static_cast<std::size_t>(m.captureWidth) * m.captureHeight * 2;
  static const int kEighths[] = {24, 8, 16, 12, 16, 9};
  return static_cast<std::size_t>(m.outputWidth) * m.outputHeight * kEighths[format] / 8;
}

DWORD framesDelivered() {
  VCamDeviceStatus status;
  EXPECT_EQ(1, VCamGetDeviceStatus(0, &status));
  return status.framesDelivered;
}

qrvcam::SceneRegisters cameraRegisters() {
  vcam::RegisterFile file{};
  for (int reg = 0; reg < vcam::RegisterFile::kRegisterCount; ++reg) {
    DWORD value = 0;
    VCamReadRegister(0, reg, &value);
    file.values[reg] = value;
  }
  VCamReadToneTable(0, file.toneTable);
  VCamReadQuantTable(0, reinterpret_cast<WORD*>(file.quantTable));
  return vcam::sceneRegisters(file);
}

Bytes expectedOutput(const qrvcam::SceneRegisters& regs, std::uint32_t frameNumber, int resolution, int format) {
  const Mode& m = kModes[resolution];
  Bytes frame(qrjpeg::kFrameBufferBytes);
  EXPECT_TRUE(qrvcam::renderPicture(regs, frameNumber, frame.data(), nullptr));
  if (resolution == 5) {
    EXPECT_TRUE(qrjpeg::DoubleFrame(frame.data(), frame.size()));
  }
  const int w = format == 4 ? m.captureWidth : m.outputWidth, h = format == 4 ? m.captureHeight : m.outputHeight;
  Bytes out(destinationBytes(resolution, format));
  EXPECT_TRUE(qrjpeg::ConvertFrame(format, frame.data(), frame.size(), w, h, out.data(), out.size()));
  return out;
}

namespace {

// The output's samples on one scale: bytes, except format 2's 5-bit channels (scaled to 8 bits).
std::vector<int> samples(const Bytes& out, int format) {
  if (format != 2) return std::vector<int>(out.begin(), out.end());
  std::vector<int> channels;
  for (std::size_t i = 0; i + 1 < out.size(); i += 2) {
    const int word = out[i] | out[i + 1] << 8;
    for (int shift : {10, 5, 0}) channels.push_back((word >> shift & 31) << 3);
  }
  return channels;
}

}  // namespace

double meanDifference(const Bytes& got, const Bytes& want, int format) {
  const std::vector<int> a = samples(got, format), b = samples(want, format);
  if (a.size() != b.size() || a.empty()) return 1e9;
  std::uint64_t sum = 0;
  for (std::size_t i = 0; i < a.size(); ++i) sum += static_cast<std::uint64_t>(std::abs(a[i] - b[i]));
  return static_cast<double>(sum) / static_cast<double>(a.size());
}

}  // namespace camlibtest
