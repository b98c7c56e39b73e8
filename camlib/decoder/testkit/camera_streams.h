// Helpers for tests, the fuzz corpus and benchmarks: camera frames from the virtual camera's scene,
// and edits of their segments.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "scene_registers.h"

namespace qrtest {

using Bytes = std::vector<uint8_t>;

// Registers for a plain picture: identity tone table, neutral balances, no automatic controls, and
// the quantisation table the camera library sends for this quality.
qrvcam::SceneRegisters PlainRegisters(int width, int height, int quality, bool compressed);

// One frame as the camera sends it.
Bytes CameraFrame(const qrvcam::SceneRegisters& regs, uint32_t frameNumber);
Bytes CameraFrame(int width, int height, int quality, uint32_t frameNumber = 0);

// Offset of the first segment with this marker (of the 0xFF byte), or -1.
long FindMarker(const Bytes& stream, int marker);
// Offset of the first entropy-coded byte (right after the scan header), or -1.
long EntropyStart(const Bytes& stream);

// The frame with the typical Huffman tables put back as one DHT segment before the frame header,
// as a general JPEG reader needs it.
Bytes WithHuffmanTables(const Bytes& stream);

// Inserts a whole segment (marker, then length and body) before the segment at offset.
Bytes InsertSegment(const Bytes& stream, long offset, int marker, const Bytes& body);

}  // namespace qrtest
