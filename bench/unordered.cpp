// The bound for the exact fast sum: the same samples summed in vector lanes in
// any order, so inexactly. It costs what evaluating the integrand costs. Compiled
// once for each instruction set, like the kernels (PI_ESTIMATE_KERNEL_SET names it).
#include "unordered.h"

#include "numerics.h"
#include "vector.h"

#include <cstdint>

namespace {

#if defined(__AVX512F__)
using Vec = Double8;
#elif defined(__AVX2__)
using Vec = Double4;
#else
using Vec = Double2;
#endif

} // namespace

namespace PI_ESTIMATE_KERNEL_SET {

// f(a + h) + ... + f(a + (n-1)h) in lane order.
double unordered_sum(double a, double h, std::int32_t n) {
  constexpr int lanes = lanes_of<Vec>;
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
  Vec all{};
  for (int c = 0; c < chains; ++c) {
    all += total[c];
  }
  double sum = 0.0;
  for (int lane = 0; lane < lanes; ++lane) {
    sum += all[lane];
  }
  return add_samples_in_order(a, h, i, n, sum);
}

} // namespace PI_ESTIMATE_KERNEL_SET
