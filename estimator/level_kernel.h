// The level kernel, written once for every vector width: it locates, many levels
// at a time, the first sample at or below each level's threshold and totals the
// rounded samples from those places. level_sum.cpp says why the total is exact.
//
// Like sample_sum.h, everything here has internal linkage, so that each
// instruction-set variant keeps its own copy.
#ifndef PI_ESTIMATE_LEVEL_KERNEL_H
#define PI_ESTIMATE_LEVEL_KERNEL_H

#include "fast_sum.h"
#include "sample_sum.h"

#include <algorithm>
#include <cstdint>

namespace {

template <typename Vec> constexpr int lanes_of = sizeof(Vec) / sizeof(double);

// The square root of each lane. Nothing reads the errno of a math function, so
// compilers are told that it need not be set, and they use the vector square root.
template <typename Vec> Vec lane_sqrt(Vec x) {
  for (int lane = 0; lane < lanes_of<Vec>; ++lane) {
    x[lane] = __builtin_sqrt(x[lane]);
  }
  return x;
}

template <typename Mask> bool any_lane(Mask mask) {
  std::int64_t any = 0;
  for (int lane = 0; lane < lanes_of<Mask>; ++lane) {
    any |= mask[lane];
  }
  return any != 0;
}

// The first index j in (low, last) with f(a + j*h) <= t, or last if there is
// none, for samples that never increase and f(a + low*h) > t: by bisection.
double bisect(double a, double h, double low, double last, double t) {
  auto below = static_cast<std::int64_t>(low);
  auto high = static_cast<std::int64_t>(last);
  while (high - below > 1) {
    const std::int64_t middle = below + (high - below) / 2;
    if (integrand(a + static_cast<double>(middle) * h) <= t) {
      high = middle;
    } else {
      below = middle;
    }
  }
  return static_cast<double>(high);
}

// Whether j is, for each lane's threshold t, the first index in (first, last]
// with f(a + j*h) <= t or j = last, given f(a + first*h) > t: it is once
// f(a + (j-1)*h) > t and, unless j = last, f(a + j*h) <= t. A lane of off is set
// where j is not; a lane of tie where f(a + j*h) equals t.
template <typename Vec, typename Mask>
void check(double a, double h, Vec last, Vec t, Vec j, Mask &off, Mask &tie) {
  const Vec at = integrand(a + j * h);
  const Vec before = integrand(a + (j - 1.0) * h);
  off = ~(before > t) | (~(at <= t) & (j != last));
  tie = (at == t) & (j != last);
}

// The first indices that check() accepts, from j in (first, last] on: a step or
// two back or on, then bisection for the lanes still off.
template <typename Vec, typename Mask>
Vec correct(double a, double h, Vec first, Vec last, Vec t, Vec j, Mask &tie) {
  Mask off{};
  for (int step = 0;; ++step) {
    check(a, h, last, t, j, off, tie);
    if (!any_lane(off)) {
      return j;
    }
    if (step == 2) {
      break;
    }
    const Mask late = ~(integrand(a + (j - 1.0) * h) > t); // the first is further back
    j = late ? j - 1.0 : (off ? j + 1.0 : j);
  }
  for (int lane = 0; lane < lanes_of<Vec>; ++lane) {
    if (off[lane] != 0) {
      j[lane] = bisect(a, h, first[lane], last[lane], t[lane]);
    }
  }
  check(a, h, last, t, j, off, tie);
  return j;
}

// The level kernel (see LevelSum in fast_sum.h), with Vec a vector of doubles.
// It works on batches of levels, top, top - 1, ..., one per lane, up to 16
// vectors at a time (one, to narrow down a batch with a tie or the binade's top). For each level l with threshold t = (l - 1/2) * unit it locates j_l,
// the first index with f(a + j*h) <= t: it guesses j_l from where the real
// integrand crosses t, 4 / (1 + x^2) = t, and keeps the guess where the exact
// samples show f(a + (j-1)*h) > t > f(a + j*h); elsewhere correct() finds j_l and
// whether f(a + j*h) = t, a tie. The guess never decides the answer. Each batch
// ends where its lowest level's samples end; its rounded samples total, counted
// from where it starts, the samples that reach each of its levels above zero,
// plus the lowest level minus one for every sample in it.
template <typename Vec>
LevelRun level_run(double a, double h, double unit, std::int32_t first, std::int32_t last,
                   double level, double room) {
  using Mask = decltype(Vec{} < Vec{});
  constexpr int lanes = lanes_of<Vec>;
  constexpr int most_chains = 16; // independent vectors in flight, to hide latency
  const double width = 1.0 / h;  // for the guesses only
  const Vec first_index = Vec{} + static_cast<double>(first);
  const Vec last_index = Vec{} + static_cast<double>(last);
  const Vec rounder = Vec{} + 0x1.8p52; // adding and taking it off rounds to a whole number
  Vec offset[most_chains];              // how far below the batch's top each lane's level is
  Vec lowered[most_chains];             // the same for the thresholds
  for (int c = 0; c < most_chains; ++c) {
    for (int lane = 0; lane < lanes; ++lane) {
      offset[c][lane] = c * lanes + lane;
    }
    lowered[c] = offset[c] * unit;
  }

  double start = first; // where the batch's samples start
  double units = 0.0;   // the rounded samples before start, in units
  double top = level;   // the batch's highest level
  int chains = most_chains;
  for (;;) {
    // The guesses, from where the real integrand crosses each threshold t:
    // x^2 = 4/t - 1. With m the top level's threshold and r = (m - t) / m =
    // k * unit / m for the level k below the top, that is w (1 + e), where
    // w = (4 - m) / m and e = 4 / (4 - m) * (r + r^2 + r^3 + ...). While e stays
    // small, x = sqrt(w) (1 + e/2 - e^2/8 + e^3/16), a cubic in k, is close
    // enough; else each lane takes its own square root.
    const double batch = chains * lanes;
    const double m = (top - 0.5) * unit;
    const double inverse = 1.0 / m;
    const double s = unit * inverse;
    const double g = 4.0 / (4.0 - m);
    const double w = (4.0 - m) * inverse;
    const double x_top = __builtin_sqrt(w);
    const bool cubic = g * s * batch < 0x1p-8;
    const double scale = x_top * width;
    const double c0 = (x_top - a) * width + 0.5; // + 0.5: the first index past the crossing
    const double c1 = scale * s * (g / 2.0);
    const double c2 = scale * s * s * (g / 2.0 - g * g / 8.0);
    const double c3 = scale * s * s * s * (g / 2.0 - g * g / 4.0 + g * g * g / 16.0);
    Vec t[most_chains];
    Vec j[most_chains];
    Mask off{};
    for (int c = 0; c < chains; ++c) {
      const Vec k = offset[c];
      Vec guess{};
      if (cubic) {
        guess = c0 + k * (c1 + k * (c2 + k * c3));
      } else {
        const Vec r = k * s;
        guess = (lane_sqrt(w + w * (g * (r * (1.0 + r * (1.0 + r))))) - a) * width + 0.5;
      }
      guess = (guess + rounder) - rounder;
      t[c] = m - lowered[c];
      j[c] = guess < last_index ? guess : last_index; // a NaN guess goes to last
      j[c] = j[c] > first_index ? j[c] : first_index + 1.0;
      const Vec before = integrand(a + (j[c] - 1.0) * h);
      const Vec at = integrand(a + j[c] * h);
      off |= (before <= t[c]) | (at >= t[c]); // also at last, a tie, or a NaN
    }
    Mask tie{};
    if (any_lane(off)) { // rare
      for (int c = 0; c < chains; ++c) {
        Mask tie_here{};
        j[c] = correct(a, h, first_index, last_index, t[c], j[c], tie_here);
        tie |= tie_here;
      }
    }
    // Whole numbers below 2^53 add up exactly in any order; a true total of 2^53
    // or more comes out at least 2^53, since rounding is monotone.
    const double stop = j[chains - 1][lanes - 1];
    Vec counted{}; // for each level above zero, how many samples reach it
    for (int c = 0; c < chains; ++c) {
      counted += top >= batch ? j[c] - start : (t[c] > 0.0 ? j[c] - start : Vec{});
    }
    double total = std::max(top - batch, 0.0) * (stop - start);
    for (int lane = 0; lane < lanes; ++lane) {
      total += counted[lane];
    }
    if (any_lane(tie) || !(units + total < room)) {
      if (chains > 1) { // narrow it down to one vector of levels
        chains = 1;
        continue;
      }
      return {static_cast<std::int32_t>(start), units, static_cast<std::int32_t>(stop)};
    }
    units += total;
    // Where levels are sparse, fewer samples than levels in the batch, most of
    // them hold no sample, and blocks are cheaper.
    if (stop == last || stop - start < batch) {
      return {static_cast<std::int32_t>(stop), units, static_cast<std::int32_t>(stop)};
    }
    top -= batch;
    chains = most_chains;
    start = stop;
  }
}

} // namespace

#endif
