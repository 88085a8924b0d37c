// The fast sum of interior samples: which strategy adds which samples, and which
// kernels this processor runs. Both strategies give exactly the in-order result;
// block_sum.cpp and level_sum.cpp each begin with the argument why.
//
// Blocks evaluate every sample, 2 to 8 at a time. Level sums evaluate only a few
// samples for each multiple of the binade's unit u that the rounded samples take,
// so they win where one such level spans many samples: about u / (h |f'(x)|) of
// them, with f'(x) = -8x / (1 + x^2)^2. Over [0, 1] with N intervals that is
// about N^2 / 2^53 to three times as much, whatever the binade: level sums pay off
// for the largest counts from the first binades on, and not at all for small ones.
#include "fast_sum.h"
#include "sample_sum.h"

#include <cmath>

double add_interior_samples(double a, double h, std::int32_t n, double sum, Kernels kernels,
                            double levels_from) {
  // Samples never increase where the sample points are finite, x >= 0 and growing
  // with i: every step of a + i*h and of 4 / (1 + x*x) is then monotone.
  const bool monotone = a >= 0.0 && std::isfinite(a) && h > 0.0 && std::isfinite(h);
  Progress at{1, sum};
  while (at.index < n) {
    at = add_blocks(a, h, at, n, monotone ? levels_from : INFINITY, kernels.block_sum);
    if (at.index < n) {
      at = add_levels(a, h, at, n, levels_from, kernels);
    }
  }
  return at.sum;
}

bool levels_span(double unit, double x, double h, double levels_from) {
  // u / (h |f'(x)|) >= levels_from, without dividing by f'(0) = 0.
  const double d = denominator(x);
  return unit > 0.0 && levels_from < INFINITY &&
         unit * (d * d) >= levels_from * std::fabs(8.0 * x * h);
}

std::array<SumPath, path_count> built_paths() {
#if defined(__x86_64__)
  __builtin_cpu_init();
  return {{{"avx512", {block_sum_avx512, level_sum_avx512, 2.0},
            static_cast<bool>(__builtin_cpu_supports("avx512f"))},
           {"avx2", {block_sum_avx2, level_sum_avx2, 2.0},
            static_cast<bool>(__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma"))},
           {"sse2", {block_sum_baseline, level_sum_baseline, 5.0}, true}}};
#else
  return {{{"generic", {block_sum_baseline, level_sum_baseline, 5.0}, true}}};
#endif
}

Kernels fastest_kernels() {
  for (const SumPath &path : built_paths()) {
    if (path.runnable) {
      return path.kernels;
    }
  }
  return built_paths().back().kernels;
}
