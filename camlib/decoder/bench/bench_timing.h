// Timing and printing of the decoder benchmark, natively and in the Windows build alike.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace qrbench {

// Best of fifteen rounds of the mean time of one call, in milliseconds (the best round is the one
// least disturbed by other work on the machine).
template <typename F>
double TimeMs(F&& f, int calls) {
  using Clock = std::chrono::steady_clock;
  double best = 1e30;
  for (int round = 0; round < 15; ++round) {
    auto t0 = Clock::now();
    for (int i = 0; i < calls; ++i) f(i);
    double ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count() / calls;
    best = std::min(best, ms);
  }
  return best;
}

inline void Row(const char* what, double ours, const char* refName, double ref) {
  std::printf("  %-34s %8.3f ms   %-32s %8.3f ms   ratio %5.2f\n", what, ours, refName, ref, ours / ref);
}

}  // namespace qrbench
