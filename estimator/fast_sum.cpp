// The fast sum of interior samples: which strategy adds which samples, and which
// kernels this processor runs. Every strategy gives exactly the in-order result;
// block_sum.cpp, model_kernel.h and level_sum.cpp each begin with the argument why.
//
// What each strategy costs decides the choice. The in-order loop waits for every
// addition. Blocks evaluate every sample, 2 to 8 at a time, dividing each out, or
// deciding its rounding with a quadratic or cubic model in a few multiply-adds
// where the model's segments (model_segment()) are long enough to pay; they grow
// with N. Level sums evaluate only a few samples for each multiple of the binade's
// unit u that the rounded samples take, so they win where one such level spans
// many samples: about u / (h |f'(x)|) of them, with f'(x) = -8x / (1 + x^2)^2.
// Over [0, 1] with N intervals that is about N^2 / 2^53 to three times as much,
// whatever the binade: level sums pay off for the largest counts from the first
// binades on.
#include "fast_sum.h"
#include "model_kernel.h"
#include "sample_sum.h"

#include <algorithm>
#include <cmath>

namespace {

// Blocks take stretches of this many samples before the choice is made again.
constexpr std::int32_t blocks_stretch = 1 << 14;

// Where level sums stop early, blocks take at least this many samples.
constexpr std::int32_t handed_to_blocks = 1 << 14;

bool levels_span(double unit, double x, double h, double levels_from);
bool model_pays(const Kernels &kernels, double x, double h, double unit);

} // namespace

Step choose_strategy(double a, double h, std::int32_t n, Reached reached, const Kernels &kernels) {
  const std::int32_t i = reached.at.index;
  const double unit = unit_of(reached.at.sum);
  // Below 16 (the first few samples) and at the end, one sample after the other.
  if (unit == 0.0 || n - i < block_quantum) {
    return {Strategy::in_order, n - i < block_quantum ? n : i + block_quantum};
  }
  const double x = a + static_cast<double>(i) * h;
  const Strategy blocks =
      model_pays(kernels, x, h, unit) ? Strategy::model_blocks : Strategy::division_blocks;
  if (reached.why != Stop::done) { // level sums stopped short: blocks take over for a while
    const std::int32_t end = n - i > handed_to_blocks ? i + handed_to_blocks : n;
    return {blocks, std::max(end, reached.until)};
  }
  // Samples never increase where the sample points are finite, x >= 0 and growing
  // with i: every step of a + i*h and of 4 / (1 + x*x) is then monotone.
  const bool monotone = a >= 0.0 && std::isfinite(a) && h > 0.0 && std::isfinite(h);
  if (monotone && levels_span(unit, x, h, kernels.levels_pay_off)) {
    return {Strategy::levels, n};
  }
  return {blocks, n - i > blocks_stretch ? i + blocks_stretch : n};
}

double add_interior_samples(double a, double h, std::int32_t n, double sum, Kernels kernels) {
  Reached reached{{1, sum}, Stop::done, 1};
  while (reached.at.index < n) {
    const Step step = choose_strategy(a, h, n, reached, kernels);
    const Progress at = reached.at;
    switch (step.strategy) {
    case Strategy::in_order:
      reached = {{step.end, add_samples_in_order(a, h, at.index, step.end, at.sum)},
                 Stop::done,
                 step.end};
      break;
    case Strategy::division_blocks:
      reached = add_blocks(a, h, at, step.end, kernels.block_sum);
      break;
    case Strategy::model_blocks:
      reached = add_blocks(a, h, at, step.end, kernels.model_sum);
      break;
    case Strategy::levels:
      reached = add_levels(a, h, at, step.end, kernels);
      break;
    }
  }
  return reached.at.sum;
}

namespace {

// Whether, at the sample point x with the sum in a binade of this unit, a level
// spans about levels_from samples or more: u / (h |f'(x)|) >= levels_from, without
// dividing by f'(0) = 0.
bool levels_span(double unit, double x, double h, double levels_from) {
  const double d = denominator(x);
  return levels_from < INFINITY && unit * (d * d) >= levels_from * std::fabs(8.0 * x * h);
}

// Whether the model decides samples from the point x on more cheaply than division.
bool model_pays(const Kernels &kernels, double x, double h, double unit) {
  return kernels.model_sum != nullptr && std::fabs(x) <= model_reach &&
         model_segment(h, unit) >= kernels.model_pays_off;
}

} // namespace

// The model needs fused multiply-add to pay: without it (SSE2, 32-bit x86) its
// arithmetic costs about what the division does (measured).
#if defined(__FP_FAST_FMA) || defined(__FMA__)
constexpr BlockSum model_sum_if_fused = model_sum_baseline;
#else
constexpr BlockSum model_sum_if_fused = nullptr;
#endif

std::array<SumPath, path_count> built_paths() {
#if defined(__x86_64__)
  __builtin_cpu_init();
  return {{{"avx512", {block_sum_avx512, model_sum_avx512, level_sum_avx512, 4.0, 256.0},
            static_cast<bool>(__builtin_cpu_supports("avx512f") &&
                              __builtin_cpu_supports("avx512dq"))},
           {"avx2", {block_sum_avx2, model_sum_avx2, level_sum_avx2, 3.0, 256.0},
            static_cast<bool>(__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma"))},
           {"sse2", {block_sum_baseline, model_sum_if_fused, level_sum_baseline, 5.0, 256.0},
            true}}};
#else
  return {{{"generic",
            {block_sum_baseline, model_sum_if_fused, level_sum_baseline, 5.0, 256.0},
            true}}};
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
