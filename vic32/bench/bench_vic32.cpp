// Times the display and geometry operations on a 640 x 480 24-bit camera-like picture, against
// one memcpy of the picture in the same process and against ImageMagick's `convert` doing the same
// operation (single thread; its time is the command's per-iteration time less that of a command
// that only reads and discards the picture).
//
// Usage: bench_vic32 [work directory for ImageMagick's files]
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "../ops/ops.h"
#include "../ops/quantize.h"
#include "../tests/test_image.h"

namespace {

using victest::Bgr;
using victest::TestImage;
using Clock = std::chrono::steady_clock;

// Median wall time of `runs` calls, in microseconds.
double medianMicros(int runs, const std::function<void()>& call) {
  std::vector<double> times;
  call();  // warm caches and lazily built tables
  for (int i = 0; i < runs; ++i) {
    auto start = Clock::now();
    call();
    times.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
  std::nth_element(times.begin(), times.begin() + runs / 2, times.end());
  return times[runs / 2];
}

// Smooth light and colour gradients, a few hard edges and sensor noise, like a camera frame.
void fillCameraPicture(TestImage& image) {
  std::mt19937 random(42);
  std::normal_distribution<double> noise(0.0, 3.0);
  image.fill([&](int x, int y) {
    double light = 0.55 + 0.45 * std::sin(x / 90.0) * std::cos(y / 70.0);
    bool object = (x - 400) * (x - 400) + (y - 200) * (y - 200) < 90 * 90;
    double r = object ? 200 : 90 + 120.0 * x / 640, g = object ? 60 : 110 + 80.0 * y / 480, b = object ? 40 : 170;
    auto channel = [&](double v) { return static_cast<uint8_t>(std::clamp(v * light + noise(random), 0.0, 255.0)); };
    return Bgr{channel(b), channel(g), channel(r)};
  });
}

bool writePpm(const std::string& path, const TestImage& image) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  std::fprintf(f, "P6\n%d %d\n255\n", image.width(), image.height());
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) {
      Bgr c = image.colour(x, y);
      const uint8_t rgb[3] = {c.r, c.g, c.b};
      std::fwrite(rgb, 1, 3, f);
    }
  return std::fclose(f) == 0;
}

bool writePalettePpm(const std::string& path, const vic::Palette& palette) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  std::fprintf(f, "P6\n%d 1\n255\n", palette.count);
  for (int i = 0; i < palette.count; ++i) {
    const uint8_t rgb[3] = {palette.entries[i].rgbRed, palette.entries[i].rgbGreen, palette.entries[i].rgbBlue};
    std::fwrite(rgb, 1, 3, f);
  }
  return std::fclose(f) == 0;
}

// ImageMagick's time per iteration of `convert input OPTIONS null:` (reading included) in
// microseconds, from its own -bench report for one thread; negative when it cannot be run.
double convertMicros(const std::string& input, const std::string& options) {
  std::string command = "convert -limit thread 1 " + input + " -bench 10 " + options + " null: 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return -1;
  char line[512];
  double ips = -1;
  while (std::fgets(line, sizeof line, pipe)) {
    // "  Performance[1]: 10i 995.777ips ...": the run with one thread.
    const char* run = std::strstr(line, "Performance[1]:");
    const char* at = run ? std::strstr(run, "i ") : nullptr;
    if (at) ips = std::atof(at + 2);
  }
  if (pclose(pipe) != 0 || ips <= 0) return -1;
  return 1e6 / ips;
}

}  // namespace

int main(int argc, char** argv) {
  std::string work = argc > 1 ? argv[1] : "/tmp";
  TestImage picture(640, 480, 24);
  fillCameraPicture(picture);
  const size_t bytes = static_cast<size_t>(picture.d.buffwidth) * picture.height();
  std::vector<uint8_t> copy(bytes);
  const double memcpyMicros = medianMicros(401, [&] { std::memcpy(copy.data(), picture.d.ibuff, bytes); });

  TestImage big(1280, 960, 24), small(160, 120, 24), turned(480, 640, 24), eight(640, 480, 8), display(640, 480, 8);
  struct Row {
    const char* name;
    std::function<int()> call;
    const char* convertOptions;  // null: no counterpart
  };
  const Row rows[] = {
      {"resize to 1280x960", [&] { return vic::resize(&picture.d, &big.d); }, "-filter Triangle -resize 1280x960!"},
      {"resize to 160x120", [&] { return vic::resize(&picture.d, &small.d); }, "-filter Triangle -resize 160x120!"},
      {"rotate90", [&] { return vic::rotate90(0, &picture.d, &turned.d); }, "-rotate 90"},
      {"convertrgbtopal 256", [&] { return vic::convertRgbToPal(256, &picture.d, &eight.d); },
       "-dither FloydSteinberg -colors 256"},
      {"matchcolorimage (rainbow)", [&] { return vic::matchColorImage(&picture.d, &display.d); },
       "-dither None -remap RAINBOW"},
      {"colordither mode 0 (16 colours)", [&] { return vic::colorDither(&picture.d, &eight.d, 0); },
       "-dither FloydSteinberg -remap SIXTEEN"},
      {"colordither mode 256", [&] { return vic::colorDither(&picture.d, &eight.d, 256); },
       "-dither FloydSteinberg -remap RAINBOW"},
  };
  if (vic::rainbowPalette(&display.d) != vic::kOk) return 1;

  const std::string input = work + "/bench_vic32_picture.ppm";
  const std::string rainbow = work + "/bench_vic32_rainbow.ppm", sixteen = work + "/bench_vic32_sixteen.ppm";
  bool haveFiles = writePpm(input, picture) && writePalettePpm(rainbow, vic::rainbowDisplayPalette()) &&
                   writePalettePpm(sixteen, vic::sixteenColourPalette());
  double readOnly = haveFiles ? convertMicros(input, "") : -1;

  std::printf("640 x 480 24-bit picture; memcpy of its %zu bytes: %.1f us (median)\n", bytes, memcpyMicros);
  std::printf("ImageMagick: convert -limit thread 1 ... -bench 10, less reading the picture (%.0f us)\n\n", readOnly);
  std::printf("%-34s %10s %9s %14s %10s\n", "operation", "vic32 us", "x memcpy", "convert us", "x vic32");
  for (const Row& row : rows) {
    int result = vic::kOk;
    double micros = medianMicros(21, [&] { result = row.call(); });
    if (result != vic::kOk) {
      std::printf("%-34s failed with %d\n", row.name, result);
      return 1;
    }
    double im = -1;
    if (row.convertOptions && readOnly > 0) {
      std::string options = row.convertOptions;
      for (auto [key, value] : {std::pair<std::string, std::string>{"RAINBOW", rainbow}, {"SIXTEEN", sixteen}}) {
        size_t at = options.find(key);
        if (at != std::string::npos) options.replace(at, key.size(), value);
      }
      double total = convertMicros(input, options);
      if (total > 0) im = std::max(0.0, total - readOnly);
    }
    if (im > 0)
      std::printf("%-34s %10.0f %9.1f %14.0f %10.1f\n", row.name, micros, micros / memcpyMicros, im, im / micros);
    else
      std::printf("%-34s %10.0f %9.1f %14s %10s\n", row.name, micros, micros / memcpyMicros, "-", "-");
  }
  std::remove(input.c_str());
  std::remove(rainbow.c_str());
  std::remove(sixteen.c_str());
  return 0;
}
