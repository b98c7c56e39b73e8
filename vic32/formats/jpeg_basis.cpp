#include "jpeg_basis.h"

#include <cmath>

namespace vic::jpeg {

namespace {

struct Basis {
  float values[8][8];
  Basis() {
    const double pi = 3.14159265358979323846;
    for (int x = 0; x < 8; ++x) {
      for (int u = 0; u < 8; ++u) {
        double c = u == 0 ? std::sqrt(0.5) : 1.0;
        values[x][u] = static_cast<float>(c / 2 * std::cos((2 * x + 1) * u * pi / 16));
      }
    }
  }
};

const Basis basis;

}  // namespace

const float (&kBasis)[8][8] = basis.values;

}  // namespace vic::jpeg
