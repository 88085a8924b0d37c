// The fast sum of interior samples: which strategy adds which samples, and which
// kernels this processor runs. Every strategy gives exactly the in-order result;
// block_sum.cpp, model.h, count_kernel.h and level_sum.cpp each begin with the
// argument why.
//
// What each strategy costs decides the choice. The in-order loop waits for every
// addition. Blocks evaluate every sample, 2 to 8 at a time, dividing each out, or
// deciding its rounding with a quadratic or cubic model in a few multiply-adds
// where the model's segments (model_segment()) are long enough to pay; they grow
// with N. Counted blocks evaluate, where a level spans a fraction of a sample, only
// about a quarter as many places: where the model's values, less a whole number
// per sample, cross each level. Level sums evaluate only a few samples for each
// multiple of the binade's unit u that the rounded samples take, so they win where
// one such level spans many samples: about u / (h |f'(x)|) of them, with
// f'(x) = -8x / (1 + x^2)^2.
// Over [0, 1] with N intervals that is about N^2 / 2^53 to three times as much,
// whatever the binade: level sums pay off for the largest counts from the first
// binades on. Where each starts to pay depends on the processor (tuning.h).
#include "fast_sum.h"
#include "model.h"
#include "numerics.h"

#include <algorithm>
#include <cmath>

namespace {

// Blocks take stretches of this many samples before the choice is made again;
// where level sums stopped early (at a tie, the binade's top, or where levels
// grew sparse), past where they stopped and this many at least, which lets level
// sums resume sooner at the largest counts (on Zen 4, 2 to 3% faster from
// N = 1e9 after 2^12 than after 2^14, and 1% more from N = 4.5e8 after 2^10).
constexpr std::int32_t stretch_between_choices = 1 << 14;
constexpr std::int32_t stretch_after_levels = 1 << 10;

bool levels_span(double unit, double x, double h, double levels_from_span);
bool counts_pay(double unit, double x, double h, double count_from_span, double levels_from_span);
bool model_pays(double x, double h, double unit, double model_from_segment);

} // namespace

Step choose_strategy(double a, double h, std::int32_t n, Reached reached, Tuning tuning) {
  const std::int32_t i = reached.at.index;
  const double unit = unit_of(reached.at.sum);
  // Below 16 (the first few samples) and at the end, one sample after the other.
  if (unit == 0.0 || n - i < block_quantum) {
    return {Strategy::in_order, n - i < block_quantum ? n : i + block_quantum, 0};
  }
  const double x = a + static_cast<double>(i) * h;
  // Blocks by the model where it pays, counted where a level spans from a fraction
  // of a sample to where level sums pay; else blocks that divide.
  const Strategy blocks = !model_pays(x, h, unit, tuning.model_from_segment)
                              ? Strategy::division_blocks
                          : counts_pay(unit, x, h, tuning.count_from_span, tuning.levels_from_span)
                              ? Strategy::counted_blocks
                              : Strategy::model_blocks;
  // Counted blocks go a second depth down only where a level spans enough samples
  // for it to pay, as measured (tuning.h).
  const int depths = levels_span(unit, x, h, tuning.count_deeper_from_span) ? 2 : 1;
  // Counted blocks take stretches as long as their longest segments.
  const std::int32_t stretch =
      blocks == Strategy::counted_blocks ? longest_count : stretch_between_choices;
  const std::int32_t stretch_end = n - i > stretch ? i + stretch : n;
  if (reached.why != Stop::done) { // level sums stopped short: blocks take over for a while
    const std::int32_t after_levels = n - i > stretch_after_levels ? i + stretch_after_levels : n;
    return {blocks, std::max(after_levels, reached.until), depths};
  }
  // Samples never increase where the sample points are finite, x >= 0 and growing
  // with i: every step of a + i*h and of 4 / (1 + x*x) is then monotone.
  const bool monotone = a >= 0.0 && std::isfinite(a) && h > 0.0 && std::isfinite(h);
  if (monotone && levels_span(unit, x, h, tuning.levels_from_span)) {
    return {Strategy::levels, n, 0};
  }
  return {blocks, stretch_end, depths};
}

double add_interior_samples(double a, double h, std::int32_t n, double sum, KernelSet kernels,
                            // Seven numbers, by value like every parameter here.
                            // cppcheck-suppress passedByValue
                            Tuning tuning, Tally *tally) {
  Reached reached{{1, sum}, Stop::done, 1};
  while (reached.at.index < n) {
    const Step step = choose_strategy(a, h, n, reached, tuning);
    const Progress at = reached.at;
    switch (step.strategy) {
    case Strategy::in_order:
      reached = {
          {step.end, add_samples_in_order(a, h, at.index, step.end, at.sum)}, Stop::done, step.end};
      break;
    case Strategy::division_blocks:
      reached = add_blocks(a, h, at, step.end, kernels.divide);
      break;
    case Strategy::model_blocks:
      reached = add_blocks(a, h, at, step.end, kernels.model);
      break;
    case Strategy::counted_blocks:
      reached = add_counted_blocks(a, h, at, step.end, kernels.count, step.depths);
      break;
    case Strategy::levels:
      reached = add_levels(a, h, at, step.end, kernels.levels, tuning);
      break;
    }
    if (tally != nullptr) {
      (*tally)[static_cast<std::size_t>(step.strategy)] += reached.at.index - at.index;
    }
  }
  return reached.at.sum;
}

namespace {

// Whether, at the sample point x with the sum in a binade of this unit, a level
// spans about levels_from_span samples or more: u / (h |f'(x)|) samples a level,
// asked without dividing by f'(0) = 0.
bool levels_span(double unit, double x, double h, double levels_from_span) {
  const double d = denominator(x);
  return levels_pay(unit * (d * d), std::fabs(8.0 * x * h), levels_from_span);
}

// Whether blocks are counted by levels at the sample point x: where a level spans
// from count_from_span samples up to where level sums pay. Blocks stand in for
// level sums beyond that only for a while, after they stopped (at a tie or the
// binade's top), where the model's slope is near 0 and counting seldom pays.
bool counts_pay(double unit, double x, double h, double count_from_span, double levels_from_span) {
  return levels_span(unit, x, h, count_from_span) && !levels_span(unit, x, h, levels_from_span);
}

// Whether the model decides samples from the point x on more cheaply than division:
// where a segment of model_from_segment samples would keep the Taylor remainder
// within its target. Up to longest_block that is where the model's own segments
// are that long; a longer threshold asks for a remainder that much smaller at the
// longest segments, and so for fewer undecided samples.
bool model_pays(double x, double h, double unit, double model_from_segment) {
  return std::fabs(x) <= model_reach &&
         taylor_remainder(3, h, 0.5 * model_from_segment, unit) <= remainder_target;
}

} // namespace

std::array<SumPath, path_count> built_paths() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_cpu_init();
#endif
#define PI_ESTIMATE_PATH(set, runs) SumPath{set::kernel_set, static_cast<bool>(runs)},
  return {{PI_ESTIMATE_KERNEL_SETS(PI_ESTIMATE_PATH)}};
#undef PI_ESTIMATE_PATH
}

KernelSet fastest_kernels() {
  for (const SumPath &path : built_paths()) {
    if (path.runnable) {
      return path.kernels;
    }
  }
  return built_paths().back().kernels;
}
