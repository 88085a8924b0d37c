// The counting kernel: a block's rounded samples totalled by counting where a
// model's values, less a whole number per index, cross each level, recursively,
// so that most samples, and most levels, are never evaluated. Internal linkage,
// as in vector.h.
//
// Why the total is exact. A certified model (model.h) of whole numbers x_i over
// a range of indices holds reals U_i with round(U_i) = x_i within its error of its
// cubic. Take off a whole number k per index (cubic_inverse.h chooses it, where
// the model's slope keeps clear of every whole number over the range): then
//
//   Σ x_i = k Σ i + Σ w_i,  w_i = x_i - k i,
//
// exactly, as k i is whole. By cubic_inverse.h [monotone], w - o (o a whole
// number) crosses each level ν between its values at the range's ends A and Z
// once, at j_ν, the first index past ν. So, with every sum over the range,
//
//   where w falls:  Σ (w_i - o) = (w_Z - o) n + Σ over ν = w_Z - o + 1, ..., w_A - o of (j_ν - A),
//   where w rises:  Σ (w_i - o) = (w_A - o) n + Σ over ν = w_A - o + 1, ..., w_Z - o of (Z + 1 -
//   j_ν),
//
// n the range's count: each index counts once for every level it lies above the
// lowest (or below the highest). The j_ν are again whole numbers that a certified
// model holds (cubic_inverse.h [δ]), with an index ν of their own, so their sum
// is found the same way, one depth further, or by the model kernel, which
// evaluates every item and decides most roundings without their exact truth.
//
// Level sums (level_sum.cpp) count their levels' ends the same way: there the
// items of depth 0 are the first indices j_l whose samples lie at or below each
// level's threshold, which the inverse model (inverse_model.h) certifies, a whole
// number per level with a slope of a few samples a level.
//
// Where a model cannot decide an item, its truth is found exactly: at the samples'
// depth, the sample itself, or the level's end found from the exact samples
// (crossing.h); one depth further, the first index past the level among the depth
// above's truths, each found the same way, from the model's guess.
// A tie (a sample halfway between two multiples of the unit) can only be such an
// undecided item, or a range's end, where it is computed and seen; then the block
// is added in order. Totals are whole numbers below 2^53 in magnitude, exact in
// 64-bit integers.
#ifndef PI_ESTIMATE_COUNT_KERNEL_H
#define PI_ESTIMATE_COUNT_KERNEL_H

#include "crossing.h"
#include "cubic_inverse.h"
#include "division_kernel.h"
#include "model.h"
#include "model_kernel.h"
#include "numerics.h"
#include "vector.h"

#include <cmath>
#include <cstdint>

namespace {

// The most depths that a count goes below the samples or the levels' ends: each
// depth keeps about a quarter of the items, so a third would hold a few hundred of
// a block's, fewer than its setups cost.
constexpr int deepest_count = 2;

// A segment is counted by levels only where they number at most this share of
// its items (most hold about a quarter): each level costs about what an item
// does, and its model's setup comes on top.
constexpr double levels_share = 0.6;

// Each segment one depth down costs about what this many items do: its model's
// setup, the kernel's call, and the range's last few levels, evaluated apart.
constexpr double segment_items = 256.0;

// A depth of a count: its current segment, the items first, ..., first + count - 1
// as the kernel indexes them, and their model; the level that item 0 stands for
// (below depth 0, of the depth above, less its offset; at depth 0 of level sums,
// the samples' level); and how the next depth counts this one's levels.
struct Depth {
  Model model;
  double first;
  std::int32_t count;
  double origin;
  Levels levels;
};

// A count in progress: the samples' points and unit, what depth 0 holds, and a
// segment at each depth. Depth 0 holds either the samples' roundings in units
// (blocks), or, for level sums, the levels' ends: for level l = origin + i, the
// first index in (first_sample, last_sample] whose sample lies at or below
// (l - 1/2) unit, which the inverse model (inverse_model.h) holds.
struct Count {
  double a, h, per_unit;
  bool of_levels;
  double first_sample, last_sample, unit;
  int deepest; // the depths that may be counted by levels: 0 to deepest - 1
  CountTally *tally;
  Depth depth[deepest_count + 1];
};

// How a count of a segment ended.
enum class Counted { whole, tie, not_counted };

struct Total {
  std::int64_t total; // the sum of the segment's truths
  Counted how;
  bool by_levels = false; // whether its first depth was counted by levels
};

// The truth of item i at depth d: at depth 0 the sample's rounding in units or the
// level's end among the samples, and below, the first index past its level among
// the truths of the depth above; NaN where a tie decides it.
inline double truth(const Count &count, int d, double i);

// The truth of item i at depth d, which its model left undecided, with the model's
// whole number as the guess: the level's end found among the truths of the depth
// above, or among the samples, as counted in the tally.
inline double undecided_truth(const Count &count, int d, double i, double guess);

// The first index of depth d's current segment whose truth less k per index is
// past level ν, found from the index guess; as an index less the model's centre.
inline double level_end(const Count &count, int d, double nu, double guess) {
  const Depth &D = count.depth[d];
  const Levels &lv = D.levels;
  const double low = D.first + 1.0;
  const double high = D.first + D.count - 1.0;
  const auto past = [&count, d, &lv, nu](double i, bool &tie) {
    const double w = truth(count, d, i) - lv.k * i - lv.offset;
    tie = tie || w != w;
    return lv.rising ? w >= nu : w < nu;
  };
  bool tie = false;
  double j = greater(low, lesser(std::nearbyint(guess), high)); // a NaN guess gives low
  bool found = false;
  for (int step = 0; step < 4 && !found && !tie; ++step) {
    if (j > low && past(j - 1.0, tie)) {
      j -= 1.0;
    } else if (j < high && !past(j, tie)) {
      j += 1.0;
    } else {
      found = true;
    }
  }
  if (!found && !tie) { // bisection: past(lo) is false (lo < low), past(hi) true
    double lo = low - 1.0;
    double hi = high;
    while (hi - lo > 1.0 && !tie) {
      const double middle = std::floor(0.5 * (lo + hi));
      (past(middle, tie) ? hi : lo) = middle;
    }
    j = hi;
  }
  return tie ? __builtin_nan("") : j - D.model.centre;
}

inline double undecided_truth(const Count &count, int d, double i, double guess) {
  const double level = count.depth[d].origin + i;
  const double end = d == 0
                         ? samples_end(count.a, count.h, count.first_sample, count.last_sample,
                                       (level - 0.5) * count.unit, guess)
                         : level_end(count, d - 1, level, guess + count.depth[d - 1].model.centre);
  if (count.tally != nullptr) {
    ++count.tally->undecided[d];
    count.tally->ties[d] += end != end ? 1 : 0;
  }
  return end;
}

inline double truth(const Count &count, int d, double i) {
  if (d == 0 && !count.of_levels) {
    const double units = integrand(count.a + i * count.h) * count.per_unit;
    const double nearest = std::nearbyint(units);
    if (std::fabs(units - nearest) < 0.5) {
      return nearest;
    }
    if (count.tally != nullptr) {
      ++count.tally->ties[0];
    }
    return __builtin_nan("");
  }
  const Model &model = count.depth[d].model;
  const double p = model_at<3>(model, i - model.centre);
  const double nearest = std::nearbyint(p) + model.base;
  return std::fabs(p - std::nearbyint(p)) <= model.limit ? nearest
                                                         : undecided_truth(count, d, i, nearest);
}

// The sum of depth d's truths over its current segment: by the model kernel, or
// by levels where they pay (count_levels, below).
template <typename Vec, typename Bits> Total count_segment(Count &count, int d);

// The model kernel over depth d's current segment.
template <typename Vec, typename Bits> Total count_each(Count &count, int d) {
  const Depth &D = count.depth[d];
  const auto exact = [&count, d](Vec i, Vec guess, auto undecided) {
    if (d == 0 && !count.of_levels) {
      const Vec units = integrand(count.a + i * count.h) * count.per_unit;
      if (count.tally != nullptr) {
        for (int lane = 0; lane < lanes_of<Vec>; ++lane) {
          const double off = units[lane] - std::nearbyint(units[lane]);
          count.tally->undecided[0] += undecided[lane] != 0 ? 1 : 0;
          count.tally->ties[0] += undecided[lane] != 0 && !(std::fabs(off) < 0.5) ? 1 : 0;
        }
      }
      return units;
    }
    for (int lane = 0; lane < lanes_of<Vec>; ++lane) {
      if (undecided[lane] != 0) {
        guess[lane] = undecided_truth(count, d, i[lane], guess[lane]);
      }
    }
    return guess;
  };
  if (count.tally != nullptr) {
    count.tally->items[d] += D.count;
  }
  const auto first = static_cast<std::int32_t>(D.first);
  const Units units = modelled_units_of<Vec, Bits>(first, D.count, D.model, exact);
  return {static_cast<std::int64_t>(units.total), units.tie ? Counted::tie : Counted::whole};
}

// The sum of depth d's truths from item `from` to block_quantum - 1 of its current
// segment, a vector at a time: the model decides most of them, as in the model
// kernel; the others take their truth.
template <typename Vec, typename Bits>
Total last_levels(const Count &count, int d, std::int32_t from) {
  constexpr int lanes = lanes_of<Vec>;
  const Model &model = count.depth[d].model;
  const Vec limit = Vec{} + model.limit;
  Vec lane_number{};
  for (int lane = 0; lane < lanes; ++lane) {
    lane_number[lane] = lane;
  }
  Vec sum{}; // whole numbers below 2^31 in magnitude, at most 64 of them: exact
  for (std::int32_t start = from / lanes * lanes; start < block_quantum; start += lanes) {
    const Vec i = lane_number + static_cast<double>(start);
    const Vec p = model_at<3>(model, i - model.centre);
    const Vec distance = off_nearest(p);
    Vec j = (p - distance) + model.base; // exact, as in the model kernel
    const auto in = i >= static_cast<double>(from);
    const auto undecided = in & ~((Vec)((Bits)distance & magnitude_bits) <= limit);
    if (any_lane(undecided)) {
      for (int lane = 0; lane < lanes; ++lane) {
        if (undecided[lane] != 0) {
          j[lane] = undecided_truth(count, d, i[lane], j[lane]);
          if (j[lane] != j[lane]) {
            return {0, Counted::tie};
          }
        }
      }
    }
    sum += in ? j : Vec{};
  }
  double total = 0.0;
  for (int lane = 0; lane < lanes; ++lane) {
    total += sum[lane];
  }
  return {static_cast<std::int64_t>(total), Counted::whole};
}

// The sum of the truths j_ν (less the centre of depth d's model) for the levels
// from lo to hi of depth d's current segment, one depth down (see the top).
template <typename Vec, typename Bits>
Total count_ends(Count &count, int d, double lo, double hi, std::int32_t longest) {
  const Levels &lv = count.depth[d].levels;
  Depth &below = count.depth[d + 1];
  below.first = 0.0;
  std::int64_t sum = 0;
  double nu = lo;
  // Where the next segment's centre level crosses, guessed from the last model
  // (else from q's linear part), for Newton's method to refine.
  const auto guess = [&below, &lv](double centre_level, bool first) {
    if (first) {
      return (centre_level - lv.c0) / lv.q1;
    }
    const Model &last = below.model;
    return model_at<3>(last, centre_level + 0.5 - below.origin - last.centre) + last.base - 0.5;
  };
  // Segments as long as the remainder allows, then one a multiple of
  // block_quantum long; the last few levels apart (last_levels), with a model over
  // the last block_quantum levels.
  Model bound = inverse_bound(lv, longest);
  std::int32_t bound_length = longest;
  while (hi - nu + 1.0 >= block_quantum) {
    const double left = hi - nu + 1.0;
    const std::int32_t L =
        left >= longest ? longest : static_cast<std::int32_t>(left) / block_quantum * block_quantum;
    if (L != bound_length) {
      bound = inverse_bound(lv, L);
      bound_length = L;
    }
    below.model = inverse_of_levels(lv, bound, nu, L, guess(nu + 0.5 * L - 0.5, nu == lo));
    below.count = L;
    below.origin = nu;
    if (!below.model.decides) {
      return {0, Counted::not_counted};
    }
    const Total part = count_segment<Vec, Bits>(count, d + 1);
    if (part.how != Counted::whole) {
      return part;
    }
    sum += part.total;
    nu += L;
  }
  if (nu <= hi) {
    const double last = hi - block_quantum + 1.0;
    if (last < lo) {
      return {0, Counted::not_counted}; // too few levels for a model
    }
    if (bound_length != block_quantum) {
      bound = inverse_bound(lv, block_quantum);
    }
    below.model = inverse_of_levels(lv, bound, last, block_quantum,
                                    guess(last + 0.5 * block_quantum - 0.5, nu == lo));
    below.count = block_quantum;
    below.origin = last;
    if (!below.model.decides) {
      return {0, Counted::not_counted};
    }
    const Total tail = last_levels<Vec, Bits>(count, d + 1, static_cast<std::int32_t>(nu - last));
    if (tail.how != Counted::whole) {
      return tail;
    }
    sum += tail.total;
  }
  return {sum, Counted::whole};
}

// The sum of depth d's truths over its current segment by levels (see the top),
// where the model's slope keeps clear of whole numbers and the levels number at
// most levels_share of the items; else not counted.
template <typename Vec, typename Bits> Total count_levels(Count &count, int d) {
  Depth &D = count.depth[d];
  D.levels = levels_of(D.model, D.first, D.count);
  const Levels &lv = D.levels;
  const double n = D.count;
  const double A = D.first;
  const double Z = D.first + n - 1.0;
  // The levels, about |q(Z) - q(A)| of them.
  const double span = std::fabs(q_at(lv, Z - D.model.centre) - q_at(lv, A - D.model.centre));
  if (!lv.holds || !(span <= levels_share * n)) {
    return {0, Counted::not_counted};
  }
  const std::int32_t longest = levels_segment(lv);
  if (longest == 0 || !(span + segment_items * std::ceil(span / longest) <= levels_share * n)) {
    return {0, Counted::not_counted};
  }
  const double x_A = truth(count, d, A);
  const double x_Z = truth(count, d, Z);
  if (x_A != x_A || x_Z != x_Z) {
    return {0, Counted::tie};
  }
  // Whole numbers below 2^53: exact.
  const double nu_A = (x_A - lv.k * A) - lv.offset;
  const double nu_Z = (x_Z - lv.k * Z) - lv.offset;
  const double lowest = lv.rising ? nu_A : nu_Z;
  const double highest = lv.rising ? nu_Z : nu_A;
  const Total ends = count_ends<Vec, Bits>(count, d, lowest + 1.0, highest, longest);
  if (ends.how != Counted::whole) {
    return ends;
  }
  // The sum of j_ν (as indices) over the levels, then of w - o, then of x.
  const auto levels = static_cast<std::int64_t>(highest - lowest);
  const std::int64_t ends_sum = ends.total + levels * static_cast<std::int64_t>(D.model.centre);
  const auto count_of = static_cast<std::int64_t>(D.count);
  const auto first = static_cast<std::int64_t>(A);
  const std::int64_t w_sum =
      lv.rising
          ? static_cast<std::int64_t>(nu_A) * count_of + levels * (first + count_of) - ends_sum
          : static_cast<std::int64_t>(nu_Z) * count_of + ends_sum - levels * first;
  const std::int64_t index_sum = count_of * first + count_of * (count_of - 1) / 2;
  return {static_cast<std::int64_t>(lv.k) * index_sum +
              static_cast<std::int64_t>(lv.offset) * count_of + w_sum,
          Counted::whole, true};
}

template <typename Vec, typename Bits> Total count_segment(Count &count, int d) {
  if (d < count.deepest) {
    const Total by_levels = count_levels<Vec, Bits>(count, d);
    if (by_levels.how != Counted::not_counted) {
      return by_levels;
    }
  }
  return count_each<Vec, Bits>(count, d);
}

// The longest segment of samples under one model in counted blocks: longest_count
// only where the samples' slope, in units, changes by less than 2^-6 over one
// (|g''| <= 8): there the levels' models keep about as long and as sure over it,
// and the setups halve (4 to 12% faster from N = 4.7e7 to 1.1e8 on Zen 4); where
// it bends more, their bound over the longer range leaves many more levels
// undecided (up to 15% slower from N = 2.4e7).
inline std::int32_t counted_segment(double h, double unit) {
  const bool bends_little = 8.0 * h * h / unit * longest_count < 0x1p-6;
  return model_segment(h, unit, bends_little ? longest_count : longest_count / 2);
}

// The counting kernel (a BlockSum): the block's rounded samples, segment by
// segment, counted where the integrand's model decides and by division where it
// does not; `deepest` depths below the samples may be counted by levels.
template <typename Vec, typename Bits>
double counted_sample_sum(double a, double h, std::int32_t first, std::int32_t count, double unit,
                          int deepest, CountTally *tally) {
  Count state{};
  state.tally = tally;
  state.a = a;
  state.h = h;
  state.per_unit = 1.0 / unit;
  state.deepest = lesser(deepest, deepest_count);
  const std::int32_t longest = counted_segment(h, unit);
  std::uint64_t total = 0;
  for (std::int32_t done = 0; done < count;) {
    const std::int32_t start = first + done;
    const std::int32_t length = lesser(longest, count - done);
    Depth &samples = state.depth[0];
    samples.model = sample_model(a, h, start, length, unit);
    samples.first = start;
    samples.count = length;
    if (!samples.model.decides) {
      for (std::int32_t part = 0; part < length; part += longest_block) {
        const Units units = rounded_units<Vec, Bits>(a, h, start + part,
                                                     lesser(longest_block, length - part), unit);
        if (units.tie) {
          return __builtin_nan("");
        }
        total += units.total;
      }
    } else {
      const Total part = count_segment<Vec, Bits>(state, 0);
      if (part.how != Counted::whole) {
        return __builtin_nan("");
      }
      total += static_cast<std::uint64_t>(part.total);
    }
    done += length;
  }
  return units_sum({total, false}, unit);
}

// The sum of the levels' ends j_l, l = lowest, ..., lowest + L - 1, among the
// samples (first, last], which the inverse model `model` holds, for level sums:
// by the model kernel, or counted by levels down to `deepest` depths below them.
// Not counted for a quartic model.
template <typename Vec, typename Bits>
Total counted_level_ends(double a, double h, double unit, double first, double last, double lowest,
                         const Model &model, std::int32_t L, int deepest, CountTally *tally) {
  if (model.degree > 3) { // the levels below rest on a cubic (cubic_inverse.h)
    return {0, Counted::not_counted};
  }
  Count state; // each field set before it is read: zeroing it all costs more
  state.tally = tally;
  state.a = a;
  state.h = h;
  state.per_unit = 0.0; // for samples only
  state.of_levels = true;
  state.first_sample = first;
  state.last_sample = last;
  state.unit = unit;
  state.deepest = lesser(deepest, deepest_count);
  state.depth[0] = {model, 0.0, L, lowest, Levels{}};
  return count_segment<Vec, Bits>(state, 0);
}

} // namespace

#endif
