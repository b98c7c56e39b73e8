// Constant tables of baseline JPEG (ITU-T T.81): the zig-zag order, the typical Huffman tables
// (which the camera leaves out of its stream and the image library writes into its files), and the
// typical quantisation tables that the camera's quality setting and the image library's quality
// scale.
#pragma once

#include <cstdint>

namespace qrjpeg {

// Natural (row-major) index of the k-th coefficient in zig-zag order. Sixteen extra entries of 63
// catch a run that overshoots the block in corrupt data.
extern const uint8_t kZigzagToNatural[64 + 16];

// A Huffman table as the interchange format lists it: the number of codes of each length 1..16
// and the symbols in code order.
struct HuffmanSpec {
  uint8_t counts[16];
  const uint8_t* symbols;
  int symbolCount;
};

// The typical tables of ITU-T T.81 Annex K: K.3 luminance DC, K.4 chrominance DC, K.5 luminance
// AC, K.6 chrominance AC.
extern const HuffmanSpec kLuminanceDc;
extern const HuffmanSpec kChrominanceDc;
extern const HuffmanSpec kLuminanceAc;
extern const HuffmanSpec kChrominanceAc;

// Typical quantisation tables K.1 (luminance) and K.2 (chrominance), in natural order.
extern const uint8_t kLuminanceQuant[64];
extern const uint8_t kChrominanceQuant[64];

}  // namespace qrjpeg
