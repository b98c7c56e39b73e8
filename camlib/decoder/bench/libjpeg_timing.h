// libjpeg-turbo's times on the benchmark's camera frames (native build only): the reference that
// the decoder's figures are set against.
#pragma once

#include <vector>

#include "camera_streams.h"

namespace qrbench {

struct LibjpegTimes {
  double raw = 0;  // ms per frame: decoding to raw Y, Cb, Cr planes
  double bgr = 0;  // ms per frame: decoding to BGR pixels
};

// Times libjpeg-turbo (accurate integer method) on frames (with their Huffman tables), with its SIMD
// code unless JSIMD_FORCENONE=1 was set when the process started.
LibjpegTimes TimeLibjpeg(const std::vector<qrtest::Bytes>& frames, int calls);

// The same without SIMD, timed in a child process of the program self (run with --libjpeg-only,
// which prints the two times). False when that failed.
bool TimeLibjpegWithoutSimd(const char* self, LibjpegTimes& t);

}  // namespace qrbench
