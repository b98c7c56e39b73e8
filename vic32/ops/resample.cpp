#include "resample.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace vic {

bool makeAxisWeights(int inputs, int outputs, AxisWeights& axis) {
  double scale = static_cast<double>(inputs) / outputs;
  double width = std::max(1.0, scale);  // the filter's half-width in input samples
  // Only samples strictly inside (centre - width, centre + width) weigh anything.
  int taps = std::min(static_cast<int>(std::ceil(2 * width)), inputs);
  try {
    axis.taps = taps;
    axis.first.assign(outputs, 0);
    axis.weights.assign(static_cast<size_t>(outputs) * taps, 0);
    axis.nearest.assign(outputs, 0);
    std::vector<double> raw(taps);
    for (int o = 0; o < outputs; ++o) {
      double centre = (o + 0.5) * scale - 0.5;
      axis.nearest[o] = std::clamp(static_cast<int>(std::floor(centre + 0.5)), 0, inputs - 1);
      // Samples beyond an edge repeat the edge sample, so their weight folds onto it; the window
      // is slid inside the image first so that `taps` slots always cover it.
      int lo = static_cast<int>(std::floor(centre - width)) + 1;
      int hi = static_cast<int>(std::ceil(centre + width)) - 1;
      int first = std::clamp(lo, 0, inputs - taps);
      std::fill(raw.begin(), raw.end(), 0.0);
      double total = 0;
      for (int i = lo; i <= hi; ++i) {
        double w = 1.0 - std::fabs(i - centre) / width;
        if (w <= 0) continue;
        raw[std::clamp(i, 0, inputs - 1) - first] += w;
        total += w;
      }
      if (total <= 0) {  // cannot happen for a positive width; keep the nearest sample anyway
        raw[axis.nearest[o] - first] = 1;
        total = 1;
      }
      // Round to fixed point, then give the rounding remainder to the largest weight so that a
      // flat picture stays exactly flat.
      int16_t* w = &axis.weights[static_cast<size_t>(o) * taps];
      int sum = 0, largest = 0;
      for (int k = 0; k < taps; ++k) {
        w[k] = static_cast<int16_t>(std::lround(raw[k] / total * AxisWeights::kOne));
        sum += w[k];
        if (w[k] > w[largest]) largest = k;
      }
      w[largest] = static_cast<int16_t>(w[largest] + (AxisWeights::kOne - sum));
      axis.first[o] = first;
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

}  // namespace vic
