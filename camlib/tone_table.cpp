#include "tone_table.h"

#include <algorithm>
#include <cmath>

namespace camlib {

namespace {

// The curves follow y = 255 * (x / 255)^p between these rows, which they pass through exactly
// (the camera's shadows fall off faster than a pure power curve, hence the low first rows).
struct CurveRow {
  int x;
  int y[4];  // T0, T1, T2, T3
};
constexpr CurveRow kCurveRows[] = {
    {0, {0, 0, 0, 0}},           {1, {3, 4, 8, 10}},          {16, {35, 66, 93, 111}},     {64, {102, 132, 155, 168}},
    {128, {163, 183, 199, 206}}, {192, {213, 222, 230, 232}}, {255, {255, 255, 255, 255}},
};
constexpr double kExponents[4] = {0.65, 0.48, 0.36, 0.31};

ToneCurve makeCurve(int which) {
  ToneCurve curve{};
  const double p = kExponents[which];
  auto shape = [p](int x) { return std::pow(x / 255.0, p); };
  const int rowCount = sizeof(kCurveRows) / sizeof(kCurveRows[0]);
  for (int r = 0; r + 1 < rowCount; ++r) {
    const CurveRow& a = kCurveRows[r];
    const CurveRow& b = kCurveRows[r + 1];
    const double from = shape(a.x), to = shape(b.x);
    for (int x = a.x; x <= b.x; ++x) {
      const double t = (shape(x) - from) / (to - from);  // 0 at a.x, 1 at b.x, rising
      curve[x] = a.y[which] + static_cast<std::int32_t>(std::lround((b.y[which] - a.y[which]) * t));
    }
  }
  return curve;
}

std::int32_t blend(std::int32_t from, std::int32_t to, std::int32_t weight) {
  return from + ((to - from) * weight) / 64;
}

}  // namespace

std::int32_t baseToneCurve(std::int32_t x, std::int32_t blcLevel) {
  const std::int32_t h = std::clamp(blcLevel, 0, 255) / 2;
  const std::int32_t y = x < 64 ? ((h + 64) * 4 * x) / 256 : ((192 - h) * x) / 192 + (h * 344) / 256;
  return std::min(y, 255);
}

const ToneCurve& gammaCurve(int which) {
  static const ToneCurve curves[4] = {makeCurve(0), makeCurve(1), makeCurve(2), makeCurve(3)};
  return curves[std::clamp(which, 0, 3)];
}

ToneTable buildToneTable(std::int32_t gamma, std::int32_t blcLevel) {
  const ToneCurve& t0 = gammaCurve(0);
  const ToneCurve& t1 = gammaCurve(1);
  const ToneCurve& t2 = gammaCurve(2);
  const ToneCurve& t3 = gammaCurve(3);
  ToneTable table{};
  for (int x = 0; x < 256; ++x) {
    const std::int32_t v = std::clamp(baseToneCurve(x, blcLevel), 0, 255);
    std::int32_t entry;
    if (gamma <= 0)
      entry = v;
    else if (gamma <= 64)
      entry = blend(v, t0[v], gamma);
    else if (gamma <= 128)
      entry = blend(t0[v], t1[v], gamma - 64);
    else if (gamma <= 192)
      entry = blend(t1[v], t2[v], gamma - 128);
    else
      entry = blend(t2[v], t3[v], std::min(gamma, 255) - 192);
    table[x] = static_cast<std::uint8_t>(entry & 0xFF);
  }
  return table;
}

}  // namespace camlib
