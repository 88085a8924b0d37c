// The level strategy: the rounded samples counted level by level, evaluating only
// a few of them for each level.
//
// Where the sample points x_i = a + i*h are finite, x >= 0 and growing with i,
// each step of v_i = 4 / (1 + x_i*x_i) is a monotone function followed by rounding
// to nearest, itself monotone: the computed samples never increase with i, exactly.
// As block_sum.cpp explains, while the running sum s stays in its binade, with
// unit u, adding v_i adds m_i * u, where m_i is v_i / u rounded to nearest, unless
// v_i is a tie. The m_i never increase either, so over samples [i0, J) whose
// levels m_i all lie between b and n
//
//   m_i0 + ... + m_(J-1) = b * (J - i0) + sum over l = b+1, ..., n of (j_l - i0),
//
// where j_l, the first index with v_j <= (l - 1/2) u, marks the end of the samples
// that round to l or more. The kernel locates every j_l exactly, in one of two
// ways. By guess and confirmation: a guess from the inverse of the real integrand,
// confirmed by two exact samples (v_(j-1) above the threshold, v_j not;
// level_kernel.h shows how it places them without dividing), stepped or bisected
// where the guess was off; that result rests on the exact samples and on
// monotonicity alone, never on the guess. Or by the inverse model, whose certified
// bound decides j_l where it can (inverse_model.h), the other levels being placed
// from exact samples as before; their sum may also be counted by the j_l's own
// levels (count_kernel.h), which rests on the same bound. A tie (v_j equal to a
// threshold) can only be such a boundary sample, where either way sees it: the
// inverse model decides only levels whose boundary samples lie strictly on either
// side. Totals are whole numbers of units, exact in doubles below 2^53, and the
// sum stays in its binade while s / u plus the total stays below 2^53. With
// s >= 16, u >= 2^-48, so every level (at most 4 / u + 1) and threshold is an
// exact double. The kernel stops before a batch of levels that holds a tie or
// would reach the binade's top, and where levels turn out too sparse to pay off;
// blocks take those stretches, adding the tie and the crossing sample in order.
#include "fast_sum.h"
#include "numerics.h"

#include <cmath>

Reached add_levels(double a, double h, Progress at, std::int32_t end, LevelSum kernel,
                   Tuning tuning) {
  const double unit = unit_of(at.sum);
  // The first sample's level; dividing by a power of two is exact.
  const double units = integrand(a + static_cast<double>(at.index) * h) / unit;
  const double level = std::nearbyint(units);
  if (std::fabs(units - level) == 0.5) { // a tie: the sum's last bit decides
    const std::int32_t next = at.index + 1;
    return {{next, add_samples_in_order(a, h, at.index, next, at.sum)}, Stop::done, next};
  }
  const LevelRun run =
      kernel(a, h, unit, at.index, end, level, 0x1p53 - at.sum / unit, tuning, nullptr);
  return {{run.end, at.sum + run.units * unit}, run.why, run.until};
}
