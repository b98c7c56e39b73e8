// libjpeg-turbo as the reference decoder (accurate integer method throughout).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qrtest {

struct ReferencePicture {
  bool ok = false;
  int width = 0, height = 0;
  std::vector<uint8_t> packed;  // Y0 Cb Y1 Cr, width x 2 bytes a row
};

// Decodes to raw Y, Cb, Cr planes (no upsampling) and packs them as the camera decoder does.
ReferencePicture ReferenceDecodePacked(const uint8_t* data, size_t length);

// Decodes to 24-bit blue, green, red rows, top-down; false when libjpeg refused the stream.
bool ReferenceDecodeBgr(const uint8_t* data, size_t length, std::vector<uint8_t>& bgr);

// The Huffman tables libjpeg writes by default (its copy of the typical tables): for each of the
// four tables (luminance DC, luminance AC, chrominance DC, chrominance AC) the 16 counts followed
// by the symbols.
std::vector<std::vector<uint8_t>> ReferenceTypicalHuffmanTables();

}  // namespace qrtest
