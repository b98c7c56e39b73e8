#include "scene.h"

#include <memory>
#include <new>
#include <vector>

#include "jpeg_encoder.h"

namespace qrvcam {

namespace {

using Rgb = Light;

inline int clamp255(int v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }

// Triangle wave 0..span..0 with period 2 x span.
int bounce(uint32_t t, int span) {
  if (span <= 0) return 0;
  int p = static_cast<int>(t % static_cast<uint32_t>(2 * span));
  return p < span ? p : 2 * span - p;
}

// a + (b - a) x t / 256, per channel.
Rgb mix(const Rgb& a, const Rgb& b, int t) {
  return {a.r + (b.r - a.r) * t / 256, a.g + (b.g - a.g) * t / 256, a.b + (b.b - a.b) * t / 256};
}

Rgb scaled(const Rgb& c, int t) { return {c.r * t / 256, c.g * t / 256, c.b * t / 256}; }

// The light of a scene at pixel (x, y) of a w x h picture, before the camera touches it.
class View {
 public:
  View(int width, int height) : w_(width), h_(height) {
    // Positions on a 1024 x 1024 grid, whatever the capture size.
    column_.resize(static_cast<size_t>(w_));
    row_.resize(static_cast<size_t>(h_));
    for (int x = 0; x < w_; ++x) column_[x] = x * 1024 / w_;
    for (int y = 0; y < h_; ++y) row_[y] = y * 1024 / h_;
  }
  virtual ~View() = default;
  virtual Rgb at(int x, int y) const = 0;

 protected:
  int w_, h_;
  std::vector<int> column_, row_;
};

class TestPattern : public View {
 public:
  TestPattern(int width, int height, uint32_t frame) : View(width, height) {
    radius_ = h_ / 8 > 2 ? h_ / 8 : 2;
    ballX_ = radius_ + bounce(frame * 3, w_ - 2 * radius_);
    ballY_ = h_ / 3 + bounce(frame * 2, h_ / 3);
    stripeShift_ = static_cast<int>(frame % 64);
  }

  Rgb at(int x, int y) const override {
    int dx = x - ballX_, dy = y - ballY_;
    if (dx * dx + dy * dy < radius_ * radius_) {
      int hx = dx + radius_ / 3, hy = dy + radius_ / 3;  // highlight up and left
      if (4 * (hx * hx + hy * hy) < radius_ * radius_ / 4) return {250, 240, 220};
      return {230, 120, 30};
    }
    const int u = column_[x], v = row_[y];
    if (v < 340) return colourBar(u);
    if (v < 680) return u < 512 ? greyRamp(u) : colourGradient(u - 512, v - 340);
    return fineDetail(x, y, u);
  }

 private:
  static Rgb colourBar(int u) {
    static const Rgb kBars[8] = {{200, 200, 200}, {200, 200, 0}, {0, 200, 200}, {0, 200, 0},
                                 {200, 0, 200},   {200, 0, 0},   {0, 0, 200},   {16, 16, 16}};
    return kBars[u / 128];
  }
  static Rgb greyRamp(int u) {
    int g = u * 255 / 511;
    return {g, g, g};
  }
  static Rgb colourGradient(int u, int v) {
    int r = u * 255 / 511, g = v * 255 / 339;
    return {r, g, 255 - r};
  }
  // One-pixel vertical lines, one-pixel horizontal lines, then diagonal stripes that move.
  Rgb fineDetail(int x, int y, int u) const {
    int on;
    if (u < 341)
      on = x & 1;
    else if (u < 682)
      on = y & 1;
    else
      on = ((x + y + stripeShift_) / 3) & 1;
    int level = on ? 220 : 30;
    return {level, level, level};
  }

  int radius_, ballX_, ballY_, stripeShift_;
};

class FlatField : public View {
 public:
  FlatField(int width, int height, const Rgb& light) : View(width, height), light_(light) {}
  Rgb at(int, int) const override { return light_; }

 private:
  Rgb light_;
};

// Integer value noise (no floating point, so that every build draws the same picture).
uint32_t hash(int x, int y, uint32_t seed) {
  uint32_t h = static_cast<uint32_t>(x) * 374761393u + static_cast<uint32_t>(y) * 668265263u + seed * 2246822519u;
  h = (h ^ (h >> 13)) * 1274126177u;
  return h ^ (h >> 16);
}

// 0..256, eased at both ends.
int smoothstep256(int f) { return f * f * (768 - 2 * f) / 65536; }

// Smooth noise 0..255 at grid point (u, v) >= 0, with lattice cells of `cell` grid units.
int valueNoise(int u, int v, int cell, uint32_t seed) {
  const int cx = u / cell, cy = v / cell;
  const int sx = smoothstep256((u % cell) * 256 / cell), sy = smoothstep256((v % cell) * 256 / cell);
  const int a = hash(cx, cy, seed) & 255, b = hash(cx + 1, cy, seed) & 255;
  const int c = hash(cx, cy + 1, seed) & 255, d = hash(cx + 1, cy + 1, seed) & 255;
  const int top = a * (256 - sx) + b * sx, bottom = c * (256 - sx) + d * sx;
  return (top * (256 - sy) + bottom * sy) >> 16;
}

// Three octaves from `cell` down, 0..255.
int fractalNoise(int u, int v, int cell, uint32_t seed) {
  return (4 * valueNoise(u, v, cell, seed) + 2 * valueNoise(u, v, cell / 2, seed + 1) +
          valueNoise(u, v, cell / 4, seed + 2)) /
         7;
}

// A summer evening over a lake, drawn on the 1024 x 1024 grid: sky with a low sun and clouds, a
// far mountain range in haze, wooded hills with a few firs, a meadow, and a lake on the left that
// mirrors what lies above it. It does not move.
class Landscape : public View {
 public:
  Landscape(int width, int height) : View(width, height) {
    for (int u = 0; u < 1024; ++u) {
      // Peaks where the noise crosses its middle: sharp crests, rounded valleys.
      const int n = fractalNoise(u + 64, 0, 192, 11);
      const int peak = 256 - 2 * (n > 128 ? n - 128 : 128 - n);
      farRidge_[u] = 500 - peak * 3 / 4;
      nearRidge_[u] = 606 + (fractalNoise(u, 0, 128, 23) - 128) / 2;
    }
  }

  Rgb at(int x, int y) const override {
    const int u = column_[x], v = row_[y];
    if (v >= kShore && u < shoreline(u, v)) return lake(u, v);
    return land(u, v);
  }

 private:
  static constexpr int kShore = 770;
  static constexpr int kSunU = 700, kSunV = 330, kSunRadius = 30;

  // The lake's right edge, widening towards the bottom, with a wandering shore.
  static int shoreline(int u, int v) { return 360 + (v - kShore) * 3 / 2 + (valueNoise(u, v * 2, 64, 29) - 128) / 3; }

  Rgb land(int u, int v) const {
    const Rgb tree = fir(u, v);  // the firs stand in front of everything else
    if (tree.r >= 0) return tree;
    if (v < farRidge_[u]) return sky(u, v);
    if (v < nearRidge_[u]) return mountains(u, v);
    return meadow(u, v);
  }

  Rgb sky(int u, int v) const {
    // Deep blue overhead to a warm haze at the horizon.
    const Rgb zenith = {44, 88, 172}, horizon = {240, 198, 150};
    Rgb c = mix(zenith, horizon, v * 256 / 560 > 256 ? 256 : v * 256 / 560);
    // The sun, round on a 4:3 picture (a grid unit down is 3/4 of one across), and its halo.
    const int du = u - kSunU, dv = (v - kSunV) * 3 / 4, d2 = du * du + dv * dv;
    if (d2 < kSunRadius * kSunRadius) return {255, 246, 214};
    const int glow = 256 - d2 / 120;
    if (glow > 0) c = mix(c, {255, 222, 160}, glow * glow / 320 > 210 ? 210 : glow * glow / 320);
    // Clouds: soft-edged where the noise is high, brighter on the sun's side.
    const int density = (fractalNoise(u, v * 3, 256, 5) - 136) * 5;
    if (density > 0 && v < 440) {
      const int warm = du < 0 ? (du > -300 ? 256 + du * 256 / 300 : 0) : (du < 300 ? 256 - du * 256 / 300 : 0);
      const Rgb cloud = mix({226, 222, 232}, {255, 228, 196}, warm);
      c = mix(c, cloud, density > 220 ? 220 : density);
    }
    return c;
  }

  Rgb mountains(int u, int v) const {
    const int depth = v - farRidge_[u];  // from the crest down into the haze of the valley
    if (farRidge_[u] < 360 && depth < (360 - farRidge_[u]) / 2) return {226, 226, 236};  // snow on the peaks
    const Rgb crest = {96, 100, 140}, valley = {160, 156, 176};
    Rgb c = mix(crest, valley, depth > 160 ? 256 : depth * 256 / 160);
    // Rock and gullies: a faint texture.
    return scaled(c, 232 + fractalNoise(u * 2, v, 64, 7) / 10);
  }

  // Dark firs standing on the hills; {-1, ...} where there is none.
  Rgb fir(int u, int v) const {
    static const int kTrees[][2] = {{540, 130}, {575, 170}, {612, 120}, {820, 190}, {868, 150}, {930, 210}};
    for (const auto& t : kTrees) {
      const int base = nearRidge_[t[0]] + 40, top = base - t[1];
      if (v < top || v > base + 10) continue;
      if (v > base) {  // the trunk
        if (u > t[0] - 4 && u < t[0] + 4) return {60, 44, 30};
        continue;
      }
      const int half = (v - top) / 7 + 2 + ((v - top) % 24) / 8;  // widening, in tiers of branches
      if (u > t[0] - half && u < t[0] + half) return scaled({34, 74, 44}, 150 + (u - t[0]) * 60 / (half + 1));
    }
    return {-1, 0, 0};
  }

  Rgb meadow(int u, int v) const {
    // Far hills blue-green and dark, the near meadow bright and yellowish, with a grassy texture.
    const int near = (v - 600) * 256 / 424;  // 0 at the far hills
    Rgb c = mix({44, 86, 62}, {118, 156, 58}, near < 0 ? 0 : (near > 256 ? 256 : near));
    const int grass = fractalNoise(u * 4, v, 32, 13);
    c = scaled(c, 200 + grass / 4);
    // Evening light from the sun's side.
    if (u > 600) c = mix(c, {200, 170, 90}, (u - 600) / 12);
    return c;
  }

  Rgb lake(int u, int v) const {
    // The mirror image of what lies above the shore, darker and bluer, broken by ripples.
    const int ripple = (valueNoise(u, v * 8, 32, 17) - 128) / 8;
    int mirrored = 2 * kShore - v + ripple;
    if (mirrored < 0) mirrored = 0;
    if (mirrored >= kShore) mirrored = kShore - 1;
    const Rgb reflected = land(u, mirrored);
    const Rgb water = {30, 62, 96};
    return mix(scaled(reflected, 215), water, 90 + (v - kShore) / 4);
  }

  int farRidge_[1024], nearRidge_[1024];
};

std::unique_ptr<View> makeView(uint32_t scene, int width, int height, uint32_t frame) {
  Light light;
  if (FlatFieldLight(scene, &light)) return std::unique_ptr<View>(new FlatField(width, height, light));
  if (scene == kSceneLandscape) return std::unique_ptr<View>(new Landscape(width, height));
  if (scene == kSceneTestPattern) return std::unique_ptr<View>(new TestPattern(width, height, frame));
  return nullptr;
}

struct Statistics {
  uint64_t luma = 0, red = 0, green = 0, blue = 0;
  uint32_t samples = 0;
};

// Exposure and the colour balances as one factor per channel, scaled by 2^16 and capped at 128
// (beyond which every lit pixel saturates anyway). The scene is lit a little warm (red x 17/16,
// blue x 14/16) so that white balance has work to do.
struct Processing {
  int32_t red, green, blue;
  int32_t saturation;  // x 2^16, 1 at register value 125
  const uint8_t* tone;
  bool mirror, flip;
};

int32_t factor(int64_t numerator, int64_t denominator) {
  const int64_t f = (numerator << 16) / denominator;
  return static_cast<int32_t>(f > (int64_t{128} << 16) ? (int64_t{128} << 16) : f);
}

Processing processingFrom(const SceneRegisters& regs) {
  Processing p;
  const int64_t exposure = int64_t{regs.reg[kRegShutter]} * (regs.reg[kRegGain] + 64);  // x 256 x 128
  p.green = factor(exposure, 256 * 128);
  p.red = factor(exposure * 17 * (regs.reg[kRegRedBalance] + 3), int64_t{16} * 256 * 128 * 128);
  p.blue = factor(exposure * 14 * (regs.reg[kRegBlueBalance] + 3), int64_t{16} * 256 * 128 * 128);
  p.saturation = static_cast<int32_t>((int64_t{regs.reg[kRegChromaSaturation]} << 16) / 125);
  p.tone = regs.tone;
  p.mirror = regs.reg[kRegMirror] != 0;
  p.flip = regs.reg[kRegFlip] != 0;
  return p;
}

inline int scaleChannel(int v, int32_t f) {
  const int64_t s = (int64_t{v} * f) >> 16;
  return static_cast<int>(s > 255 ? 255 : s);
}

Rgb expose(const Rgb& light, const Processing& p) {
  return {scaleChannel(light.r, p.red), scaleChannel(light.g, p.green), scaleChannel(light.b, p.blue)};
}

struct Ycc {
  int y, cb, cr;
};

Ycc toYcc(const Rgb& c, const Processing& p) {
  int y = (77 * c.r + 150 * c.g + 29 * c.b + 128) >> 8;
  int cb = (-43 * c.r - 85 * c.g + 128 * c.b + 128) >> 8;
  int cr = (128 * c.r - 107 * c.g - 21 * c.b + 128) >> 8;
  auto saturate = [&](int c) { return clamp255(128 + static_cast<int>((int64_t{c} * p.saturation) >> 16)); };
  return {clamp255(y), saturate(cb), saturate(cr)};
}

void moveRegister(SceneFeedback* fb, uint8_t reg, int value) {
  if (fb && fb->count < 4) fb->moved[fb->count++] = {reg, static_cast<uint16_t>(value)};
}

// Automatic exposure aims at a mean luminance of 100..120: gain first, then the shutter.
void autoExposure(const SceneRegisters& regs, const Statistics& s, SceneFeedback* fb) {
  if (regs.reg[kRegExposureMode] == 0 || s.samples == 0) return;
  int mean = static_cast<int>(s.luma / s.samples);
  int gain = regs.reg[kRegGain], shutter = regs.reg[kRegShutter];
  int step = mean < 100 ? 1 : (mean > 120 ? -1 : 0);
  if (step == 0) return;
  if ((step > 0 && gain < 255) || (step < 0 && gain > 0)) {
    gain = clamp255(gain + 2 * step);
    moveRegister(fb, kRegGain, gain);
  } else {
    int next = shutter + 16 * step;
    next = next < 16 ? 16 : (next > 1023 ? 1023 : next);
    if (next != shutter) moveRegister(fb, kRegShutter, next);
  }
}

// Automatic white balance brings the red and blue means to the green mean, one step a frame.
void autoWhiteBalance(const SceneRegisters& regs, const Statistics& s, SceneFeedback* fb) {
  if (regs.reg[kRegAutoWhiteBalance] == 0 || s.green == 0) return;
  auto nudge = [&](uint64_t channel, int reg) {
    int value = regs.reg[reg];
    int next = value;
    if (channel * 100 > s.green * 103 && value > 0)
      next = value - 1;
    else if (channel * 100 < s.green * 97 && value < 255)
      next = value + 1;
    if (next != value) moveRegister(fb, static_cast<uint8_t>(reg), next);
  };
  nudge(s.red, kRegRedBalance);
  nudge(s.blue, kRegBlueBalance);
}

bool sizeOk(int width, int height) {
  return width >= 2 && width <= kMaxCaptureWidth && width % 2 == 0 && height >= 1 && height <= kMaxCaptureHeight;
}

bool renderInto(const SceneRegisters& regs, uint32_t frameNumber, uint8_t* out, SceneFeedback* moved,
                uint32_t sceneNumber) {
  const int w = regs.reg[kRegCaptureWidth], h = regs.reg[kRegCaptureHeight];
  if (moved) moved->count = 0;
  if (!sizeOk(w, h) || !out) return false;
  const std::unique_ptr<View> view = makeView(sceneNumber, w, h, frameNumber);
  if (!view) return false;
  const View& scene = *view;
  const Processing p = processingFrom(regs);
  Statistics stats;
  for (int y = 0; y < h; ++y) {
    const int sy = p.flip ? h - 1 - y : y;
    uint8_t* row = out + static_cast<size_t>(y) * w * 2;
    for (int x = 0; x < w; x += 2) {
      Ycc pair[2];
      for (int i = 0; i < 2; ++i) {
        const int sx = p.mirror ? w - 1 - (x + i) : x + i;
        Rgb linear = expose(scene.at(sx, sy), p);
        stats.red += linear.r;
        stats.green += linear.g;
        stats.blue += linear.b;
        Rgb toned = {p.tone[linear.r], p.tone[linear.g], p.tone[linear.b]};
        pair[i] = toYcc(toned, p);
        stats.luma += pair[i].y;
        ++stats.samples;
      }
      row[2 * x + 0] = static_cast<uint8_t>(pair[0].y);
      row[2 * x + 1] = static_cast<uint8_t>((pair[0].cb + pair[1].cb + 1) >> 1);
      row[2 * x + 2] = static_cast<uint8_t>(pair[1].y);
      row[2 * x + 3] = static_cast<uint8_t>((pair[0].cr + pair[1].cr + 1) >> 1);
    }
  }
  autoExposure(regs, stats, moved);
  autoWhiteBalance(regs, stats, moved);
  return true;
}

size_t encodeInto(const SceneRegisters& regs, uint32_t frameNumber, uint8_t* out, size_t capacity, SceneFeedback* moved,
                  uint32_t scene) {
  const int w = regs.reg[kRegCaptureWidth], h = regs.reg[kRegCaptureHeight];
  if (moved) moved->count = 0;
  if (!sizeOk(w, h) || scene >= kSceneCount) return 0;
  const size_t rawBytes = static_cast<size_t>(w) * h * 2;
  const bool compressed = regs.reg[kRegFrameKind] == kFrameKindCompressed;
  if (!compressed && capacity >= rawBytes) {
    renderInto(regs, frameNumber, out, moved, scene);
    return rawBytes;
  }
  std::vector<uint8_t> picture(rawBytes);
  renderInto(regs, frameNumber, picture.data(), moved, scene);
  if (!compressed) {
    for (size_t i = 0; i < capacity; ++i) out[i] = picture[i];
    return rawBytes;
  }
  ByteSink sink(out, out ? capacity : 0);
  return encodeFrame(picture.data(), w, h, regs.quant, sink);
}

}  // namespace

bool FlatFieldLight(uint32_t scene, Light* light) {
  // clang-format off
  static const Light kFields[] = {
      {128, 128, 128},  // kSceneFlatGrey
      {200, 200, 200},  // kSceneFlatWhite
      {180, 40, 40},    // kSceneFlatRed
      {40, 180, 40},    // kSceneFlatGreen
      {40, 40, 180},    // kSceneFlatBlue
      {0, 0, 0},        // kSceneFlatBlack
  };
  // clang-format on
  static_assert(sizeof kFields / sizeof kFields[0] == kSceneCount - kSceneFlatGrey, "one light per flat field");
  if (scene < kSceneFlatGrey || scene >= kSceneCount) return false;
  if (light) *light = kFields[scene - kSceneFlatGrey];
  return true;
}

// Nothing may escape into the device DLL's callers: running out of memory gives no frame.
bool renderPicture(const SceneRegisters& regs, uint32_t frameNumber, uint8_t* out, SceneFeedback* moved,
                   uint32_t scene) {
  try {
    return renderInto(regs, frameNumber, out, moved, scene);
  } catch (const std::bad_alloc&) {
    if (moved) moved->count = 0;
    return false;
  }
}

size_t renderFrame(const SceneRegisters& regs, uint32_t frameNumber, uint8_t* out, size_t capacity,
                   SceneFeedback* moved, uint32_t scene) {
  try {
    return encodeInto(regs, frameNumber, out, capacity, moved, scene);
  } catch (const std::bad_alloc&) {
    if (moved) moved->count = 0;
    return 0;
  }
}

}  // namespace qrvcam
