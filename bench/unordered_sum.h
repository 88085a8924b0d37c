// The bound for the exact fast sum: the same samples summed in vector lanes in
// any order, so inexactly. It costs what evaluating the integrand costs.
#ifndef PI_ESTIMATE_UNORDERED_SUM_H
#define PI_ESTIMATE_UNORDERED_SUM_H

#include "sample_sum.h"

#include <cstdint>

namespace {

// f(a + h) + ... + f(a + (n-1)h) in lane order; Vec is a vector of doubles.
template <typename Vec> double unordered_sum(double a, double h, std::int32_t n) {
  constexpr int lanes = sizeof(Vec) / sizeof(double);
  constexpr int chains = 4;
  Vec index[chains];
  Vec total[chains];
  for (int c = 0; c < chains; ++c) {
    for (int lane = 0; lane < lanes; ++lane) {
      index[c][lane] = static_cast<double>(1 + c * lanes + lane);
    }
    total[c] = Vec{};
  }
  std::int32_t i = 1;
  for (; n - i >= chains * lanes; i += chains * lanes) {
    for (int c = 0; c < chains; ++c) {
      total[c] += integrand(a + index[c] * h);
      index[c] += static_cast<double>(chains * lanes);
    }
  }
  const Vec all = (total[0] + total[1]) + (total[2] + total[3]);
  double sum = 0.0;
  for (int lane = 0; lane < lanes; ++lane) {
    sum += all[lane];
  }
  return add_samples_in_order(a, h, i, n, sum);
}

} // namespace

#endif
