// Pictures with known content for the codec tests, and the plumbing to hand files to the
// reference tools (ImageMagick, libtiff, giflib, libjpeg-turbo, Ghostscript) and read back what
// they make.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "../formats/formats.h"

namespace victest {

// Deterministic content: colour ramps with texture (24 bits), a palette picture with distinct
// colours (8 bits), a grey ramp (8 bits, identity grey palette), runs and dots (1 bit).
vic::Picture colourPicture(int width, int height);
vic::Picture palettePicture(int width, int height);
vic::Picture greyPicture(int width, int height);
vic::Picture bilevelPicture(int width, int height);
// A smooth colour picture (no texture), for lossy comparisons.
vic::Picture smoothPicture(int width, int height);

// Red, green, blue per pixel, top row first: what each picture looks like.
std::vector<uint8_t> rgbOf(const vic::Picture& picture);

struct RgbImage {
  int width = 0, height = 0;
  std::vector<uint8_t> rgb;
};
// Reads a binary PPM (P6) or PGM (P5) file as RGB.
bool readPnm(const std::string& path, RgbImage& image);
// Writes an RGB image as PPM.
bool writePpm(const std::string& path, const vic::Picture& picture);

// A fresh directory for one test's files.
std::string scratchDirectory(const std::string& name);
// Runs a shell command; returns its exit status (and output in `output` when given).
int run(const std::string& command, std::string* output = nullptr);
bool writeBytes(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> readBytes(const std::string& path);

// Largest and mean absolute difference of two RGB buffers of the same length.
struct Difference {
  int largest = 0;
  double mean = 0;
};
Difference compareRgb(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b);

}  // namespace victest
