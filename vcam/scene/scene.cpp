#include "scene.h"

#include <new>
#include <vector>

#include "jpeg_encoder.h"

namespace qrvcam {

namespace {

struct Rgb {
  int r, g, b;
};

inline int clamp255(int v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }

// Triangle wave 0..span..0 with period 2 x span.
int bounce(uint32_t t, int span) {
  if (span <= 0) return 0;
  int p = static_cast<int>(t % static_cast<uint32_t>(2 * span));
  return p < span ? p : 2 * span - p;
}

// The scene's light at pixel (x, y) of a w x h picture, before the camera touches it.
class Scene {
 public:
  Scene(int width, int height, uint32_t frame) : w_(width), h_(height) {
    radius_ = h_ / 8 > 2 ? h_ / 8 : 2;
    ballX_ = radius_ + bounce(frame * 3, w_ - 2 * radius_);
    ballY_ = h_ / 3 + bounce(frame * 2, h_ / 3);
    stripeShift_ = static_cast<int>(frame % 64);
    // Positions on a 1024 x 1024 grid, whatever the capture size.
    column_.resize(static_cast<size_t>(w_));
    row_.resize(static_cast<size_t>(h_));
    for (int x = 0; x < w_; ++x) column_[x] = x * 1024 / w_;
    for (int y = 0; y < h_; ++y) row_[y] = y * 1024 / h_;
  }

  Rgb at(int x, int y) const {
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

  int w_, h_;
  int radius_, ballX_, ballY_, stripeShift_;
  std::vector<int> column_, row_;
};

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

bool renderInto(const SceneRegisters& regs, uint32_t frameNumber, uint8_t* out, SceneFeedback* moved) {
  const int w = regs.reg[kRegCaptureWidth], h = regs.reg[kRegCaptureHeight];
  if (moved) moved->count = 0;
  if (!sizeOk(w, h) || !out) return false;

  const Scene scene(w, h, frameNumber);
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

size_t encodeInto(const SceneRegisters& regs, uint32_t frameNumber, uint8_t* out, size_t capacity,
                  SceneFeedback* moved) {
  const int w = regs.reg[kRegCaptureWidth], h = regs.reg[kRegCaptureHeight];
  if (moved) moved->count = 0;
  if (!sizeOk(w, h)) return 0;
  const size_t rawBytes = static_cast<size_t>(w) * h * 2;
  const bool compressed = regs.reg[kRegFrameKind] == kFrameKindCompressed;
  if (!compressed && capacity >= rawBytes) {
    renderInto(regs, frameNumber, out, moved);
    return rawBytes;
  }
  std::vector<uint8_t> picture(rawBytes);
  renderInto(regs, frameNumber, picture.data(), moved);
  if (!compressed) {
    for (size_t i = 0; i < capacity; ++i) out[i] = picture[i];
    return rawBytes;
  }
  ByteSink sink(out, out ? capacity : 0);
  return encodeFrame(picture.data(), w, h, regs.quant, sink);
}

}  // namespace

// Nothing may escape into the device DLL's callers: running out of memory gives no frame.
bool renderPicture(const SceneRegisters& regs, uint32_t frameNumber, uint8_t* out, SceneFeedback* moved) {
  try {
    return renderInto(regs, frameNumber, out, moved);
  } catch (const std::bad_alloc&) {
    if (moved) moved->count = 0;
    return false;
  }
}

size_t renderFrame(const SceneRegisters& regs, uint32_t frameNumber, uint8_t* out, size_t capacity,
                   SceneFeedback* moved) {
  try {
    return encodeInto(regs, frameNumber, out, capacity, moved);
  } catch (const std::bad_alloc&) {
    if (moved) moved->count = 0;
    return 0;
  }
}

}  // namespace qrvcam
