// Resampling weights for one axis: a triangle filter widened by the reduction factor, so the same
// code interpolates linearly when enlarging and averages every covered pixel when reducing.
// Used by resize and by printing (which scales the picture to printer pixels).
#pragma once
#include <cstdint>
#include <vector>

namespace vic {

struct AxisWeights {
  static constexpr int kOne = 1 << 14;  // the weights of one output sample sum to exactly this
  int taps = 0;                         // weights per output sample (zero-padded)
  std::vector<int32_t> first;           // first input index of each output sample
  std::vector<int16_t> weights;         // taps weights per output sample
  std::vector<int32_t> nearest;         // the input index nearest each output sample's centre
};

// Weights mapping `inputs` samples onto `outputs` samples (both > 0). False when memory is short.
bool makeAxisWeights(int inputs, int outputs, AxisWeights& axis);

}  // namespace vic
