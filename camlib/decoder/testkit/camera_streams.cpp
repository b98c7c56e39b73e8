#include "camera_streams.h"

#include <cstring>

#include "jpeg_tables.h"
#include "parameter_rules.h"
#include "quant_table.h"
#include "scene.h"

namespace qrtest {

qrvcam::SceneRegisters PlainRegisters(int width, int height, int quality, bool compressed) {
  qrvcam::SceneRegisters regs;
  std::memset(&regs, 0, sizeof regs);
  regs.reg[qrvcam::kRegCaptureWidth] = static_cast<uint16_t>(width);
  regs.reg[qrvcam::kRegCaptureHeight] = static_cast<uint16_t>(height);
  regs.reg[qrvcam::kRegFrameKind] = compressed ? qrvcam::kFrameKindCompressed : 0;
  regs.reg[qrvcam::kRegGain] = 64;
  regs.reg[qrvcam::kRegShutter] = 256;
  regs.reg[qrvcam::kRegRedBalance] = 125;
  regs.reg[qrvcam::kRegBlueBalance] = 125;
  regs.reg[qrvcam::kRegChromaSaturation] = 125;
  for (int i = 0; i < 256; ++i) regs.tone[i] = static_cast<uint8_t>(i);
  // The table the camera library sends to register 25 for this quality.
  const camlib::QuantTable quant = camlib::buildQuantTable(camlib::clampToByte(quality));
  std::memcpy(regs.quant, quant.data(), sizeof regs.quant);
  return regs;
}

Bytes CameraFrame(const qrvcam::SceneRegisters& regs, uint32_t frameNumber) {
  size_t length = qrvcam::renderFrame(regs, frameNumber, nullptr, 0, nullptr);
  Bytes frame(length);
  qrvcam::renderFrame(regs, frameNumber, frame.data(), frame.size(), nullptr);
  return frame;
}

Bytes CameraFrame(int width, int height, int quality, uint32_t frameNumber) {
  return CameraFrame(PlainRegisters(width, height, quality, true), frameNumber);
}

long FindMarker(const Bytes& s, int marker) {
  size_t pos = 2;
  while (pos + 4 <= s.size()) {
    int m = (s[pos] << 8) | s[pos + 1];
    if (m == marker) return static_cast<long>(pos);
    if (m == 0xFFDA) return -1;
    pos += 2 + ((s[pos + 2] << 8) | s[pos + 3]);
  }
  return -1;
}

long EntropyStart(const Bytes& s) {
  long sos = FindMarker(s, 0xFFDA);
  if (sos < 0) return -1;
  return sos + 2 + ((s[sos + 2] << 8) | s[sos + 3]);
}

Bytes InsertSegment(const Bytes& stream, long offset, int marker, const Bytes& body) {
  Bytes out(stream.begin(), stream.begin() + offset);
  out.push_back(static_cast<uint8_t>(marker >> 8));
  out.push_back(static_cast<uint8_t>(marker));
  size_t length = body.size() + 2;
  out.push_back(static_cast<uint8_t>(length >> 8));
  out.push_back(static_cast<uint8_t>(length));
  out.insert(out.end(), body.begin(), body.end());
  out.insert(out.end(), stream.begin() + offset, stream.end());
  return out;
}

Bytes WithHuffmanTables(const Bytes& stream) {
  struct Entry {
    uint8_t classAndId;
    const qrjpeg::HuffmanSpec* spec;
  };
  const Entry tables[4] = {{0x00, &qrjpeg::kLuminanceDc},
                           {0x10, &qrjpeg::kLuminanceAc},
                           {0x01, &qrjpeg::kChrominanceDc},
                           {0x11, &qrjpeg::kChrominanceAc}};
  Bytes body;
  for (const Entry& t : tables) {
    body.push_back(t.classAndId);
    body.insert(body.end(), t.spec->counts, t.spec->counts + 16);
    body.insert(body.end(), t.spec->symbols, t.spec->symbols + t.spec->symbolCount);
  }
  return InsertSegment(stream, FindMarker(stream, 0xFFC0), 0xFFC4, body);
}

}  // namespace qrtest
