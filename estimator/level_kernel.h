// The level kernel, written once for every vector width: it locates, many levels
// at a time, the first sample at or below each level's threshold, by the inverse
// model where it serves (whose places the count may total by their own levels,
// count_kernel.h) and else by guess and confirmation, and totals the rounded
// samples from those places. level_sum.cpp says why the total is exact.
// Internal linkage, as in vector.h.
#ifndef PI_ESTIMATE_LEVEL_KERNEL_H
#define PI_ESTIMATE_LEVEL_KERNEL_H

#include "count_kernel.h"
#include "crossing.h"
#include "inverse_model.h"
#include "kernels.h"
#include "model_kernel.h"
#include "numerics.h"
#include "vector.h"

#include <cstdint>

namespace {

// Whether the sample v = 4 / d, with d = 1 + x*x, lies above a threshold t, and
// whether it lies below, for many lanes at once. The tests are given a double just
// above t (over) and one just below (under), t plus and minus tests_margin(m) for
// the batch's top threshold m. They are sufficient, not necessary: a lane they
// cannot place goes to correct(), which looks at the samples themselves.
#if defined(__FP_FAST_FMA) || defined(__FMA__)
// With fused multiply-add they need no division. fma(-d, T, 4) is 4 - d*T rounded
// once, so it has the sign of 4 - d*T, even where it is not exact (d >= 1 and
// |T| >= 2^-50 make a nonzero 4 - d*T at least 2^-154, far from the subnormals).
// Rounding to nearest is monotone and leaves doubles as they are, so a result >= 0
// shows 4 / d >= T, hence v >= T, and a result <= 0 shows v <= T. That places v
// above t when T = over > t and below t when T = under < t.
//
// The margin is the spacing of the doubles next to the top threshold m < 4,
// 2^(p-52) <= 2^-51 for |m| in [2^p, 2^(p+1)): at least the spacing on either side
// of every threshold t in (0, m]. Thresholds are multiples of unit/2 >= 2^-49, and
// so of the margin. The kernel subtracts multiples of unit from m + margin and
// m - margin, which are doubles; for t in (0, m] that gives t + margin and
// t - margin exactly, as multiples of the margin below 2^53 margins. Where t < 0
// (a level below zero), v > t anyway, and neither test can claim v < t. Only a
// sample within a margin of t, next to unit >= 2^-48, stays unplaced.
template <typename Vec> auto above(Vec d, Vec over) {
  return fused(-d, over, Vec{} + numerator) >= 0.0;
}

template <typename Vec> auto below(Vec d, Vec under) {
  return fused(-d, under, Vec{} + numerator) <= 0.0;
}

inline double tests_margin(double m) { return spacing_at(m); }
#else
// Without it they divide, and over and under are t itself.
template <typename Vec> auto above(Vec d, Vec over) { return numerator / d > over; }

template <typename Vec> auto below(Vec d, Vec under) { return numerator / d < under; }

inline double tests_margin(double /*m*/) { return 0.0; }
#endif

// How the level kernel guesses, for the levels k = 0, 1, 2, ... below a batch's
// top level, where the real integrand crosses their thresholds t, as an index: from
// x^2 = 4/t - 1. With m the top level's threshold and r = (m - t) / m = k * unit / m,
// that is w (1 + e), where w = (4 - m) / m and e = 4 / (4 - m) * (r + r^2 + ...).
// While e stays small, x = sqrt(w) (1 + e/2 - e^2/8 + e^3/16) is close enough: a
// cubic in k, c0 + k (c1 + k (c2 + k c3)). Else each lane takes its own square root.
struct Guesses {
  double m; // the top level's threshold
  bool cubic;
  double c0, c1, c2, c3;
  double s, g, w;
};

inline Guesses guesses_below(double top, double a, double width, double unit, double levels) {
  Guesses guess{};
  guess.m = (top - 0.5) * unit;
  const double inverse = 1.0 / guess.m;
  guess.s = unit * inverse;
  guess.g = 4.0 / (4.0 - guess.m);
  guess.w = (4.0 - guess.m) * inverse;
  const double g = guess.g;
  const double s = guess.s;
  const double x_top = __builtin_sqrt(guess.w);
  const double scale = x_top * width;
  guess.cubic = g * s * levels < 0x1p-8;
  guess.c0 = (x_top - a) * width + 0.5; // + 0.5: the first index past the crossing
  guess.c1 = scale * s * (g / 2.0);
  guess.c2 = scale * s * s * (g / 2.0 - g * g / 8.0);
  guess.c3 = scale * s * s * s * (g / 2.0 - g * g / 4.0 + g * g * g / 16.0);
  return guess;
}

// The longest segment of levels whose ends are counted (count_kernel.h).
constexpr std::int32_t longest_counted_levels = 1 << 14;

// Whether level sums go on after a batch or segment of `levels` levels whose
// samples number `samples`: where they pay, and where there are at least as many
// samples as levels (with fewer, most levels hold no sample, whatever the
// threshold; blocks are cheaper from there).
inline bool levels_go_on(double samples, double levels, double levels_from_span) {
  return samples >= levels && levels_pay(samples, levels, levels_from_span);
}

// A segment of levels counted by the inverse model (inverse_model.h): how many
// levels, the rounded samples they add from start on, in units, and where the
// lowest level's samples end. No levels where the model does not decide them,
// holds a tie or reaches last, nor where they might not fit in the room left;
// then `fitting` is a shorter segment's length worth trying at once (else 0).
struct LevelsByModel {
  double levels, total, stop;
  bool counted; // whether the levels' ends were counted by levels
  std::int32_t fitting;
};

// The next segment of levels from top down, by the inverse model, at most
// `longest` and at least `shortest` levels long. Each level l's samples end at
// j_l; the samples from start to the lowest level's end total, in units,
// (top - L) (stop - start) plus the sum of j_l - start, at most top (stop - start):
// where that might reach the room left, a shorter segment is tried instead (near
// the binade's top). The sum of the j_l is counted (count_kernel.h) down to
// `depth` depths below them: at none, the model kernel decides each j_l or finds
// it from its guess.
template <typename Vec, typename Bits>
LevelsByModel levels_by_model(double a, double h, double unit, double first, double last,
                              double top, double start, double room, std::int32_t longest,
                              double shortest, std::int32_t likely, int depth, CountTally *tally) {
  // Counting takes the cubic (count_kernel.h); the model kernel alone, with eight
  // lanes, the quartic, whose segments are about four times as long. Its extra
  // addition a vector pays where additions share the multiply-add pipes (AVX-512,
  // model_kernel.h); with four lanes, on Zen 4, it cost 3 to 4% more from
  // N = 5e8 to 1e9.
  const int degree = depth > 0 || lanes_of<Vec> < 8 ? 3 : 4;
  const InverseSegment segment =
      inverse_segment(degree, a, h, unit, top, longest, shortest, likely);
  const Model &model = segment.model;
  if (segment.levels == 0 || !model.decides) {
    return {0.0, 0.0, 0.0, false, 0};
  }
  const std::int32_t L = segment.levels;
  const double lowest = top - (L - 1);
  // Where the lowest level's samples end: where the model says, if it decides
  // (model_at errs by no more than the kernel's evaluation; the sample at first
  // lies above every level here, so that end is past first), else found from there.
  const double p = model_at<4>(model, -model.centre);
  const double nearest = std::nearbyint(p);
  double stop = nearest + model.base;
  if (!(std::fabs(p - nearest) <= model.limit)) {
    stop = samples_end(a, h, first, last, (lowest - 0.5) * unit, stop);
  }
  if (!(stop < last)) { // beyond the stretch, or a tie
    return {0.0, 0.0, 0.0, false, 0};
  }
  if (!(top * (stop - start) < room)) {
    const std::int32_t half = L / 2;
    return {0.0, 0.0, 0.0, false, half >= block_quantum && half >= shortest ? half : 0};
  }
  Total ends{};
  if (depth > 0) { // else the model kernel directly: the count's set-up would cost more
    ends = counted_level_ends<Vec, Bits>(a, h, unit, first, last, lowest, model, L, depth, tally);
  } else {
    const auto exact = [a, h, unit, first, last, lowest](Vec i, Vec guess, auto undecided) {
      for (int lane = 0; lane < lanes_of<Vec>; ++lane) {
        if (undecided[lane] != 0) {
          guess[lane] =
              samples_end(a, h, first, last, (lowest + i[lane] - 0.5) * unit, guess[lane]);
        }
      }
      return guess;
    };
    const Units units = modelled_units_of<Vec, Bits>(0, L, model, exact);
    ends = {static_cast<std::int64_t>(units.total), units.tie ? Counted::tie : Counted::whole};
  }
  if (ends.how != Counted::whole) {
    return {0.0, 0.0, 0.0, false, 0};
  }
  // Whole numbers: exact below 2^53, and at least 2^53 above, which the room rejects.
  const double total = (top - L) * (stop - start) + (static_cast<double>(ends.total) - L * start);
  return {static_cast<double>(L), total, stop, ends.by_levels, 0};
}

// The guesses j of where each level's samples end, for the levels `offset` below
// the batch's top, for `vectors` vectors of them: from the cubic in the offset, or
// from each lane's square root.
template <typename Vec>
void guess_ends(const Guesses &now, double a, double width, const Vec *offset, int vectors,
                Vec *j) {
  if (now.cubic) {
    const Vec c0 = Vec{} + now.c0;
    const Vec c1 = Vec{} + now.c1;
    const Vec c2 = Vec{} + now.c2;
    const Vec c3 = Vec{} + now.c3;
    for (int c = 0; c < vectors; ++c) {
      const Vec k = offset[c];
      j[c] = mul_add(k, mul_add(k, mul_add(k, c3, c2), c1), c0);
    }
  } else {
    for (int c = 0; c < vectors; ++c) {
      const Vec r = offset[c] * now.s;
      const Vec x2 = now.w + now.w * (now.g * (r * (1.0 + r * (1.0 + r))));
      const Vec x = each_lane(x2, [](double y) { return __builtin_sqrt(y); });
      j[c] = (x - a) * width + 0.5;
    }
  }
}

// Where each level's samples end, for the thresholds m - lowered, from the guesses
// j, rounded and kept within (first, last]: kept where the two samples next to
// them confirm them (above() and below()), else found by correct(). The lanes
// where a sample equals its threshold, a tie, are set in the result.
template <typename Vec>
auto confirm_ends(double a, double h, double m, const Vec *lowered, int vectors, Vec first_index,
                  Vec last_index, Vec *j) {
  using Mask = decltype(Vec{} < Vec{});
  // Doubles just above and just below every threshold t = m - lowered here.
  const double margin = tests_margin(m);
  const Vec after_first = first_index + 1.0;
  Mask off{};
  for (int c = 0; c < vectors; ++c) {
    const Vec guess = each_lane(j[c], [](double y) { return __builtin_rint(y); });
    j[c] = guess < last_index ? guess : last_index; // a NaN guess goes to last
    j[c] = j[c] > after_first ? j[c] : after_first;
    const Vec before = denominator(a + (j[c] - 1.0) * h);
    const Vec at = denominator(a + j[c] * h);
    // Off also at last, or at a tie.
    off |= ~above(before, (m + margin) - lowered[c]) | ~below(at, (m - margin) - lowered[c]);
  }
  Mask tie{};
  if (any_lane(off)) { // rare
    for (int c = 0; c < vectors; ++c) {
      Mask tie_here{};
      j[c] = correct(a, h, first_index, last_index, m - lowered[c], j[c], tie_here);
      tie |= tie_here;
    }
  }
  return tie;
}

// The batch's rounded samples, in units, from start to where its lowest level's
// samples end, given where each level's end j lies: the samples that reach each of
// its levels above zero, plus the lowest level minus one for every sample. Whole
// numbers below 2^53 add up exactly in any order; a true total of 2^53 or more
// comes out at least 2^53, since rounding is monotone.
template <typename Vec>
double batch_total(const Vec *j, int vectors, double top, double start, double m,
                   const Vec *lowered) {
  constexpr int lanes = lanes_of<Vec>;
  const double batch = vectors * lanes;
  const double stop = j[vectors - 1][lanes - 1];
  Vec reached{}; // where the samples that reach each level above zero end
  for (int c = 0; c < vectors; ++c) {
    reached += top >= batch ? j[c] : (m - lowered[c] > 0.0 ? j[c] : Vec{});
  }
  double counted = -lesser(top, batch) * start; // how many samples reach them
  for (int lane = 0; lane < lanes; ++lane) {
    counted += reached[lane];
  }
  return greater(top - batch, 0.0) * (stop - start) + counted;
}

// Where blocks take over to after a batch of one vector of levels failed, whose
// levels end at j: one past its first tie (the tie's own end), else where the
// batch ends (it would reach the room).
template <typename Vec, typename Mask> double blocks_until(Mask tie, Vec j, double stop) {
  constexpr int lanes = lanes_of<Vec>;
  double until = stop;
  for (int lane = lanes - 1; lane >= 0; --lane) { // the first tie last
    until = tie[lane] != 0 ? j[lane] + 1.0 : until;
  }
  return until;
}

// The level kernel (see LevelSum in kernels.h), with Vec a vector of doubles.
// It works on batches of levels, top, top - 1, ..., one per lane, 32 vectors at a
// time (fewer, halved until one, to narrow down a batch with a tie or the binade's
// top: the first part passes, and the rest holds what failed). For each
// level l with threshold t = (l - 1/2) * unit it locates j_l, the first index with
// f(a + j*h) <= t: it guesses j_l from where the real integrand crosses t, and
// keeps the guess where the exact samples show f(a + (j-1)*h) > t > f(a + j*h);
// elsewhere correct() finds j_l and whether f(a + j*h) = t, a tie. The guess never
// decides the answer. Each batch ends where its lowest level's samples end; its
// rounded samples total, counted from where it starts, the samples that reach each
// of its levels above zero, plus the lowest level minus one for every sample in it.
template <typename Vec>
LevelRun level_run(double a, double h, double unit, std::int32_t first, std::int32_t last,
                   double level, double room, Tuning tuning, CountTally *tally) {
  using Mask = decltype(Vec{} < Vec{});
  constexpr int lanes = lanes_of<Vec>;
  constexpr int most_chains = 32; // independent vectors, to hide latency
  constexpr double most_levels = most_chains * lanes;
  const double width = 1.0 / h; // for the guesses only
  const Vec first_index = Vec{} + static_cast<double>(first);
  const Vec last_index = Vec{} + static_cast<double>(last);
  Vec offset[most_chains];  // how far below the batch's top each lane's level is
  Vec lowered[most_chains]; // the same for the thresholds
  for (int c = 0; c < most_chains; ++c) {
    for (int lane = 0; lane < lanes; ++lane) {
      offset[c][lane] = c * lanes + lane;
    }
    lowered[c] = offset[c] * unit;
  }

  double start = first; // where the batch's samples start
  double units = 0.0;   // the rounded samples before start, in units
  double top = level;   // the batch's highest level
  int batch_chains = most_chains;
  int fails_within = 0; // vectors from start that hold a tie or reach the room (0: none known)
  Guesses now{};        // the guesses below top, worked out once a batch needs them
  bool guessed = false; // (at the start and after a segment by the model)
  int model_rests = 0;  // batches to go before the inverse model is tried again
  std::int32_t segment = longest_block; // the inverse model's last segment, in levels
  int count_rests = 0;                  // segments to go before their ends are counted again
  int count_rest = 8;                   // how long the next rest lasts
  double span = 0.0;                    // samples a level over the model's last segment
  for (;;) {
    if (batch_chains == most_chains && model_rests-- <= 0) {
      const bool counting = count_rests-- <= 0;
      // Where levels span many samples, the ends' own levels curve fast and the
      // deepest count pays less than its set-ups cost.
      const int depth =
          counting ? tuning.levels_depth - (span >= tuning.ends_shallower_from_span ? 1 : 0) : 0;
      const LevelsByModel step = levels_by_model<Vec, BitsOf<Vec>>(
          a, h, unit, first, last, top, start, room - units,
          lesser(2 * segment, depth > 0 ? longest_counted_levels : longest_block),
          tuning.levels_model_from_segment, segment, greater(depth, 0), tally);
      if (step.levels > 0 && units + step.total < room) {
        // Where counting did not pay, it will not for the next few segments either,
        // nor, where it fails again and again, for ever longer.
        if (counting) {
          count_rests = step.counted ? 0 : count_rest;
          count_rest = step.counted ? 8 : lesser(2 * count_rest, 256);
        }
        units += step.total;
        span = (step.stop - start) / step.levels;
        segment = static_cast<std::int32_t>(step.levels);
        const auto end = static_cast<std::int32_t>(step.stop);
        if (!levels_go_on(step.stop - start, step.levels, tuning.levels_from_span)) {
          return {end, units, Stop::sparse, end};
        }
        top -= step.levels;
        start = step.stop;
        guessed = false;
        continue;
      }
      if (step.fitting > 0) { // at most that long, at once
        segment = step.fitting / 2;
        model_rests = 0;
        continue;
      }
      model_rests = 8; // it does not serve here: not for the next few batches either
      segment = longest_block;
    }
    // The next batch's guesses, worked out while this batch's vectors run.
    if (!guessed) {
      now = guesses_below(top, a, width, unit, most_levels);
      guessed = true;
    }
    const Guesses next = guesses_below(top - most_levels, a, width, unit, most_levels);
    const double batch = batch_chains * lanes;
    Vec j[most_chains]; // the guesses, then where each level's samples end
    guess_ends(now, a, width, offset, batch_chains, j);
    const Mask tie = confirm_ends(a, h, now.m, lowered, batch_chains, first_index, last_index, j);
    const double stop = j[batch_chains - 1][lanes - 1];
    const double total = batch_total(j, batch_chains, top, start, now.m, lowered);
    if (any_lane(tie) || !(units + total < room)) {
      if (batch_chains > 1) { // narrow it down: its first half
        fails_within = batch_chains;
        batch_chains /= 2;
        continue;
      }
      return {static_cast<std::int32_t>(start), units, Stop::tie_or_top,
              static_cast<std::int32_t>(blocks_until(tie, j[0], stop))};
    }
    units += total;
    const auto end = static_cast<std::int32_t>(stop);
    if (stop == last) {
      return {end, units, Stop::done, end};
    }
    if (!levels_go_on(stop - start, batch, tuning.levels_from_span)) {
      return {end, units, Stop::sparse, end};
    }
    top -= batch;
    // A batch of levels holds a tie or reaches the room once an earlier part does:
    // after a narrowed batch passed, the first half of the rest that failed.
    fails_within = greater(fails_within - batch_chains, 0);
    now = batch_chains == most_chains ? next : guesses_below(top, a, width, unit, most_levels);
    batch_chains = fails_within > 0 ? greater(fails_within / 2, 1) : most_chains;
    start = stop;
  }
}

} // namespace

#endif
