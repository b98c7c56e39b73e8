#include "test_pictures.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace victest {

namespace {

uint32_t nextRandom(uint32_t& state) {
  state = state * 1664525u + 1013904223u;
  return state >> 8;
}

}  // namespace

vic::Picture colourPicture(int width, int height) {
  vic::Picture p;
  p.allocate(width, height, 24);
  uint32_t state = 7;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      uint8_t* px = p.row(y) + 3 * x;
      px[0] = static_cast<uint8_t>(x * 255 / std::max(1, width - 1));
      px[1] = static_cast<uint8_t>(y * 255 / std::max(1, height - 1));
      px[2] = static_cast<uint8_t>((x / 4 + y / 3) % 2 ? 200 : nextRandom(state));
    }
  }
  return p;
}

vic::Picture palettePicture(int width, int height) {
  vic::Picture p;
  p.allocate(width, height, 8);
  for (int i = 0; i < 256; ++i) {
    p.palette[i] =
        vic::RgbQuad{static_cast<uint8_t>(i * 37), static_cast<uint8_t>(255 - i), static_cast<uint8_t>(i * 11 + 3), 0};
  }
  uint32_t state = 3;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      p.row(y)[x] = static_cast<uint8_t>((x + y) % 5 == 0 ? nextRandom(state) : (x / 3 + 7 * y) & 255);
    }
  }
  return p;
}

vic::Picture greyPicture(int width, int height) {
  vic::Picture p;
  p.allocate(width, height, 8);  // identity grey palette
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) p.row(y)[x] = static_cast<uint8_t>((x * 7 + y * 3) & 255);
  }
  return p;
}

vic::Picture bilevelPicture(int width, int height) {
  vic::Picture p;
  p.allocate(width, height, 1);
  uint32_t state = 11;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      bool on;
      if (y % 7 == 0)
        on = x % 2;  // the worst case: a change at every pixel
      else if (y % 7 == 1)
        on = (nextRandom(state) & 3) == 0;
      else if (y % 7 == 2)
        on = false;  // all white
      else
        on = ((x + 3 * y) / 9) % 2;  // diagonal bands
      if (on) p.row(y)[x / 8] |= static_cast<uint8_t>(0x80 >> (x & 7));
    }
  }
  return p;
}

vic::Picture smoothPicture(int width, int height) {
  vic::Picture p;
  p.allocate(width, height, 24);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      uint8_t* px = p.row(y) + 3 * x;
      double fx = double(x) / width, fy = double(y) / height;
      px[2] = static_cast<uint8_t>(40 + 170 * fx);
      px[1] = static_cast<uint8_t>(60 + 120 * fy);
      px[0] = static_cast<uint8_t>(128 + 90 * std::sin(6.0 * fx + 4.0 * fy));
    }
  }
  return p;
}

std::vector<uint8_t> rgbOf(const vic::Picture& picture) {
  std::vector<uint8_t> rgb;
  rgb.reserve(static_cast<std::size_t>(picture.width) * picture.height * 3);
  for (int y = 0; y < picture.height; ++y) {
    const uint8_t* row = picture.row(y);
    for (int x = 0; x < picture.width; ++x) {
      if (picture.bits == 24) {
        rgb.insert(rgb.end(), {row[3 * x + 2], row[3 * x + 1], row[3 * x]});
      } else {
        int index = picture.bits == 1 ? (row[x / 8] >> (7 - (x & 7)) & 1) : row[x];
        const vic::RgbQuad& e = picture.palette[index];
        rgb.insert(rgb.end(), {e.rgbRed, e.rgbGreen, e.rgbBlue});
      }
    }
  }
  return rgb;
}

bool readPnm(const std::string& path, RgbImage& image) {
  std::vector<uint8_t> bytes = readBytes(path);
  std::size_t at = 0;
  auto token = [&]() {
    std::string t;
    while (at < bytes.size()) {
      char c = static_cast<char>(bytes[at]);
      if (c == '#') {
        while (at < bytes.size() && bytes[at] != '\n') ++at;
      } else if (std::isspace(static_cast<unsigned char>(c))) {
        ++at;
        if (!t.empty()) return t;
      } else {
        t += c;
        ++at;
      }
    }
    return t;
  };
  std::string magic = token();
  if (magic != "P6" && magic != "P5") return false;
  image.width = std::atoi(token().c_str());
  image.height = std::atoi(token().c_str());
  int maximum = std::atoi(token().c_str());
  if (maximum != 255 || image.width <= 0 || image.height <= 0) return false;
  std::size_t channels = magic == "P6" ? 3 : 1;
  std::size_t count = static_cast<std::size_t>(image.width) * image.height;
  if (bytes.size() < at + count * channels) return false;
  image.rgb.clear();
  for (std::size_t i = 0; i < count; ++i) {
    for (int c = 0; c < 3; ++c) image.rgb.push_back(bytes[at + i * channels + (channels == 3 ? c : 0)]);
  }
  return true;
}

bool writePpm(const std::string& path, const vic::Picture& picture) {
  std::string header = "P6\n" + std::to_string(picture.width) + " " + std::to_string(picture.height) + "\n255\n";
  std::vector<uint8_t> bytes(header.begin(), header.end());
  std::vector<uint8_t> rgb = rgbOf(picture);
  bytes.insert(bytes.end(), rgb.begin(), rgb.end());
  return writeBytes(path, bytes);
}

namespace {

// Removes the scratch directories when the test program ends; VIC32_KEEP_SCRATCH keeps them for a
// look at what the tools made.
struct ScratchDirectories {
  std::vector<std::filesystem::path> paths;
  ~ScratchDirectories() {
    if (std::getenv("VIC32_KEEP_SCRATCH")) return;
    std::error_code ignored;
    for (const auto& path : paths) std::filesystem::remove_all(path, ignored);
  }
};
ScratchDirectories scratchDirectories;

}  // namespace

std::string scratchDirectory(const std::string& name) {
  std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("vic32_" + name + "_" + std::to_string(::getpid()));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  scratchDirectories.paths.push_back(dir);
  return dir.string();
}

int run(const std::string& command, std::string* output) {
  std::FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return -1;
  std::string text;
  char buffer[4096];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, got);
  int status = ::pclose(pipe);
  if (output) *output = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool writeBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream file(path, std::ios::binary);
  file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(file);
}

std::vector<uint8_t> readBytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

Difference compareRgb(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  Difference d;
  if (a.size() != b.size() || a.empty()) {
    d.largest = 256;
    return d;
  }
  long long sum = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    int delta = std::abs(int(a[i]) - int(b[i]));
    d.largest = std::max(d.largest, delta);
    sum += delta;
  }
  d.mean = double(sum) / a.size();
  return d;
}

}  // namespace victest
