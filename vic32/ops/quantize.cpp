#include "quantize.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <new>

namespace vic {

namespace {

uint32_t colourKey(int red, int green, int blue) {
  return static_cast<uint32_t>(red) << 16 | static_cast<uint32_t>(green) << 8 | static_cast<uint32_t>(blue);
}

}  // namespace

bool collectExactColours(const Image& image, int limit, Palette& palette, bool& failed) {
  failed = false;
  const uint32_t kEmpty = 0xFFFFFFFFu;
  std::vector<uint32_t> table;
  std::vector<uint8_t> bgr;
  if (!tryAllocate(table, 1024, kEmpty) || !tryAllocate(bgr, static_cast<size_t>(image.width()) * 3)) {
    failed = true;
    return false;
  }
  int found = 0;
  uint32_t keys[256];
  uint32_t last = kEmpty;
  for (int y = 0; y < image.height(); ++y) {
    rowToBgr(image, y, bgr.data());
    for (int x = 0; x < image.width(); ++x) {
      uint32_t key = colourKey(bgr[3 * x + 2], bgr[3 * x + 1], bgr[3 * x]);
      if (key == last) continue;
      last = key;
      uint32_t slot = (key * 2654435761u) >> 22;
      while (table[slot] != kEmpty && table[slot] != key) slot = (slot + 1) & 1023;
      if (table[slot] == key) continue;
      if (found == limit) return false;
      table[slot] = key;
      keys[found++] = key;
    }
  }
  std::sort(keys, keys + found);
  for (int i = 0; i < found; ++i)
    palette.entries[i] = RgbQuad{uint8_t(keys[i]), uint8_t(keys[i] >> 8), uint8_t(keys[i] >> 16), 0};
  palette.count = found;
  return true;
}

namespace {

// One cell of the 5-bit-per-channel histogram.
struct Bin {
  double count = 0;
  double sum[3] = {0, 0, 0};  // red, green, blue sums of the pixels in the cell
  double squares = 0;         // sum of red^2 + green^2 + blue^2
  int coordinate[3] = {0, 0, 0};
};

struct Box {
  int begin = 0, end = 0;  // range of the bin list
  double error = 0;        // squared error against the box mean
};

double squaredErrorOf(const std::vector<Bin>& bins, const std::vector<int>& order, int begin, int end) {
  double count = 0, sum[3] = {0, 0, 0}, squares = 0;
  for (int i = begin; i < end; ++i) {
    const Bin& bin = bins[order[i]];
    count += bin.count;
    squares += bin.squares;
    for (int c = 0; c < 3; ++c) sum[c] += bin.sum[c];
  }
  if (count == 0) return 0;
  return squares - (sum[0] * sum[0] + sum[1] * sum[1] + sum[2] * sum[2]) / count;
}

// The split of the box along `axis` that leaves the least squared error, i.e. maximises
// |S_left|^2 / n_left + |S_right|^2 / n_right over the 31 cuts between the axis's 32 cell
// coordinates. Returns that score (negative when every bin shares one coordinate) and the cut:
// bins with a coordinate below it go left.
double bestCutAlong(const std::vector<Bin>& bins, const std::vector<int>& order, const Box& box, int axis, int& cut) {
  double count[32] = {}, sum[32][3] = {};
  for (int i = box.begin; i < box.end; ++i) {
    const Bin& bin = bins[order[i]];
    int at = bin.coordinate[axis];
    count[at] += bin.count;
    for (int c = 0; c < 3; ++c) sum[at][c] += bin.sum[c];
  }
  double total = 0, totalSum[3] = {0, 0, 0};
  for (int at = 0; at < 32; ++at) {
    total += count[at];
    for (int c = 0; c < 3; ++c) totalSum[c] += sum[at][c];
  }
  double left = 0, leftSum[3] = {0, 0, 0}, best = -1;
  for (int at = 0; at < 31; ++at) {
    left += count[at];
    for (int c = 0; c < 3; ++c) leftSum[c] += sum[at][c];
    double right = total - left;
    if (left == 0 || right == 0) continue;
    double score = 0;
    for (int c = 0; c < 3; ++c) {
      double r = totalSum[c] - leftSum[c];
      score += leftSum[c] * leftSum[c] / left + r * r / right;
    }
    if (score > best) {
      best = score;
      cut = at + 1;
    }
  }
  return best;
}

}  // namespace

bool medianCutPalette(const Image& image, int colours, Palette& palette) {
  std::vector<Bin> bins;
  std::vector<uint8_t> bgr;
  std::vector<int> order;
  std::vector<Box> boxes;
  try {
    bins.resize(1 << 15);
    bgr.resize(static_cast<size_t>(image.width()) * 3);
    boxes.reserve(colours);
  } catch (const std::bad_alloc&) {
    return false;
  }
  for (int y = 0; y < image.height(); ++y) {
    rowToBgr(image, y, bgr.data());
    for (int x = 0; x < image.width(); ++x) {
      int b = bgr[3 * x], g = bgr[3 * x + 1], r = bgr[3 * x + 2];
      Bin& bin = bins[(r >> 3) << 10 | (g >> 3) << 5 | (b >> 3)];
      bin.count += 1;
      bin.sum[0] += r;
      bin.sum[1] += g;
      bin.sum[2] += b;
      bin.squares += r * r + g * g + b * b;
    }
  }
  try {
    for (int i = 0; i < (1 << 15); ++i) {
      if (bins[i].count == 0) continue;
      bins[i].coordinate[0] = i >> 10;
      bins[i].coordinate[1] = (i >> 5) & 31;
      bins[i].coordinate[2] = i & 31;
      order.push_back(i);
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  boxes.push_back(
      Box{0, static_cast<int>(order.size()), squaredErrorOf(bins, order, 0, static_cast<int>(order.size()))});
  while (static_cast<int>(boxes.size()) < colours) {
    int worst = -1;
    for (int i = 0; i < static_cast<int>(boxes.size()); ++i)
      if (boxes[i].end - boxes[i].begin > 1 && (worst < 0 || boxes[i].error > boxes[worst].error)) worst = i;
    if (worst < 0) break;  // every box is a single cell
    Box box = boxes[worst];
    int bestAxis = -1, bestCut = 0;
    double bestScore = -1;
    for (int axis = 0; axis < 3; ++axis) {
      int cut = 0;
      double score = bestCutAlong(bins, order, box, axis, cut);
      if (score > bestScore) {
        bestScore = score;
        bestAxis = axis;
        bestCut = cut;
      }
    }
    if (bestAxis < 0) break;  // distinct cells always differ along some axis
    int split = static_cast<int>(std::partition(order.begin() + box.begin, order.begin() + box.end,
                                                [&](int b) { return bins[b].coordinate[bestAxis] < bestCut; }) -
                                 order.begin());
    boxes[worst] = Box{box.begin, split, squaredErrorOf(bins, order, box.begin, split)};
    boxes.push_back(Box{split, box.end, squaredErrorOf(bins, order, split, box.end)});
  }
  palette.count = 0;
  for (const Box& box : boxes) {
    double count = 0, sum[3] = {0, 0, 0};
    for (int i = box.begin; i < box.end; ++i) {
      count += bins[order[i]].count;
      for (int c = 0; c < 3; ++c) sum[c] += bins[order[i]].sum[c];
    }
    if (count == 0) continue;
    RgbQuad& e = palette.entries[palette.count++];
    e.rgbRed = clampByte(static_cast<int>(std::lround(sum[0] / count)));
    e.rgbGreen = clampByte(static_cast<int>(std::lround(sum[1] / count)));
    e.rgbBlue = clampByte(static_cast<int>(std::lround(sum[2] / count)));
    e.rgbReserved = 0;
  }
  return true;
}

NearestColour::NearestColour(const Palette& palette) : cache_(1 << 16, 0xFFFFFFFFu) {
  for (int i = 0; i < palette.count; ++i) {
    const RgbQuad& e = palette.entries[i];
    bySum_.push_back(Entry{e.rgbRed, e.rgbGreen, e.rgbBlue, static_cast<uint8_t>(i),
                           static_cast<int16_t>(e.rgbRed + e.rgbGreen + e.rgbBlue)});
  }
  std::stable_sort(bySum_.begin(), bySum_.end(), [](const Entry& a, const Entry& b) { return a.sum < b.sum; });
}

int NearestColour::operator()(int red, int green, int blue) {
  uint32_t key = colourKey(red, green, blue);
  uint32_t slot = (key * 2654435761u) >> 16;
  uint32_t cached = cache_[slot];
  if ((cached & 0xFFFFFF) == key && cached != 0xFFFFFFFFu) return static_cast<int>(cached >> 24);
  int index = search(red, green, blue);
  cache_[slot] = key | static_cast<uint32_t>(index) << 24;
  return index;
}

// Walks outwards from the entries whose red + green + blue equals the colour's. That sum is the
// distance along the grey axis times the square root of 3, so once the sum difference squared
// exceeds 3 times the best squared distance found, nothing further that way can be nearer.
// Pictures spread mostly along that axis (light and shade), which makes the walk short.
int NearestColour::search(int red, int green, int blue) const {
  if (bySum_.empty()) return 0;
  const int n = static_cast<int>(bySum_.size());
  const int sum = red + green + blue;
  int start = static_cast<int>(
      std::lower_bound(bySum_.begin(), bySum_.end(), sum, [](const Entry& e, int s) { return e.sum < s; }) -
      bySum_.begin());
  int best = 1 << 20, bestIndex = bySum_[std::min(start, n - 1)].index;
  auto consider = [&](const Entry& e) {
    int dr = e.red - red, dg = e.green - green, db = e.blue - blue;
    int d = dr * dr + dg * dg + db * db;
    if (d < best || (d == best && e.index < bestIndex)) {
      best = d;
      bestIndex = e.index;
    }
  };
  for (int i = start; i < n; ++i) {
    int ds = bySum_[i].sum - sum;
    if (ds * ds > 3 * best) break;
    consider(bySum_[i]);
  }
  for (int i = start - 1; i >= 0; --i) {
    int ds = sum - bySum_[i].sum;
    if (ds * ds > 3 * best) break;
    consider(bySum_[i]);
  }
  return bestIndex;
}

namespace {

// Grey level k of the 46 display greys.
int greyStep(int k) { return (k * 255 + 22) / 45; }

Palette makeRainbowPalette() {
  Palette p;
  for (int r = 0; r < 6; ++r)
    for (int g = 0; g < 6; ++g)
      for (int b = 0; b < 6; ++b)
        p.entries[r * 36 + g * 6 + b] = RgbQuad{uint8_t(b * 51), uint8_t(g * 51), uint8_t(r * 51), 0};
  // 46 grey levels k * 255 / 45; those at multiples of 51 (k a multiple of 9) are already cube
  // entries, the other 40 follow the cube.
  int next = 216;
  for (int k = 0; k <= 45; ++k) {
    if (k % 9 == 0) continue;
    uint8_t level = static_cast<uint8_t>(greyStep(k));
    p.entries[next++] = RgbQuad{level, level, level, 0};
  }
  p.count = 256;
  return p;
}

}  // namespace

const Palette& rainbowDisplayPalette() {
  static const Palette palette = makeRainbowPalette();
  return palette;
}

const RainbowNearest& rainbowNearest() {
  static const RainbowNearest table;
  return table;
}

RainbowNearest::RainbowNearest() {
  for (int v = 0; v < 256; ++v) {
    int level = (v + 25) / 51;
    cubeIndex_[v] = static_cast<uint8_t>(level);
    cubeError_[v] = (v - level * 51) * (v - level * 51);
  }
  // The nearest grey to (r, g, b) is the grey nearest their mean, the sum / 3.
  for (int sum = 0; sum <= 765; ++sum) {
    int bestK = 0;
    for (int k = 1; k <= 45; ++k)
      if (std::abs(3 * greyStep(k) - sum) < std::abs(3 * greyStep(bestK) - sum)) bestK = k;
    greyLevel_[sum] = static_cast<uint8_t>(greyStep(bestK));
    greyIndex_[sum] = static_cast<uint8_t>(bestK % 9 == 0 ? (bestK / 9) * (36 + 6 + 1) : 216 + bestK - bestK / 9 - 1);
  }
}

const Palette& sixteenColourPalette() {
  static const Palette palette = [] {
    static const uint8_t rgb[16][3] = {{0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0},
                                       {0, 0, 128},     {128, 0, 128}, {0, 128, 128}, {192, 192, 192},
                                       {128, 128, 128}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
                                       {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};
    Palette p;
    for (int i = 0; i < 16; ++i) p.entries[i] = RgbQuad{rgb[i][2], rgb[i][1], rgb[i][0], 0};
    p.count = 16;
    return p;
  }();
  return palette;
}

}  // namespace vic
