// The model kernel: it evaluates a model (model.h) in vector lanes, decides each
// value's rounding to a whole number where the model's bound allows, computes the
// undecided values exactly, and totals the roundings. Its first use: a block's
// rounded samples, as the dividing kernel totals them, but with most samples
// decided by the integrand's model, without dividing. Internal linkage, as in
// vector.h.
#ifndef PI_ESTIMATE_MODEL_KERNEL_H
#define PI_ESTIMATE_MODEL_KERNEL_H

#include "division_kernel.h"
#include "model.h"
#include "numerics.h"
#include "vector.h"

#include <cmath>
#include <cstdint>
#if defined(__AVX512DQ__)
#include <immintrin.h>
#endif

namespace {

// The model's value at t = i - centre, by Horner's rule, with or without the
// cubic term.
template <bool cubic, typename Real> Real model_at(const Model &model, Real t) {
  const Real c2 = Real{} + model.c2;
  const Real inner = cubic ? mul_add(Real{} + model.c3, t, c2) : c2;
  return mul_add(mul_add(inner, t, Real{} + model.c1), t, Real{} + model.c0);
}

// p less the whole number nearest it, lane by lane (|p| < 2^51, ties to even):
// exact, since shift + p lies where doubles are whole numbers, so it rounds p, and
// p less a whole number within 1/2 of it is a multiple of p's spacing below 1/2.
template <typename Vec> Vec off_nearest(Vec p) {
  constexpr double shift = 0x1.8p52;
  return p - ((p + shift) - shift);
}

// Notes, lane by lane, whether a distance from the nearest whole number exceeded
// the limit (0 < limit < 1/2): non-negative doubles order as their bits, so the top
// bit of bits(limit) - bits(|d|) is set where |d| > limit.
template <typename Vec, typename Bits> Vec note_distance(Vec noted, Vec distance, Vec limit) {
  return (Vec)((Bits)noted | ((Bits)limit - ((Bits)distance & magnitude_bits)));
}

template <typename Vec, typename Bits> Vec merge_notes(Vec x, Vec y) {
  return (Vec)((Bits)x | (Bits)y);
}

template <typename Vec, typename Bits> bool noted_beyond(Vec noted, Vec /*limit*/) {
  return any_lane((Bits)noted >> 63U);
}

// sum + d, lane by lane.
template <typename Vec> Vec accumulate(Vec sum, Vec d) { return sum + d; }

#if defined(__AVX512DQ__)
// With AVX-512DQ, one instruction each: vreducepd gives p less its nearest whole
// number (imm8 8: round to nearest, no fraction bits kept, no inexact exception),
// exact as above; vrangepd keeps the larger magnitude, so the note is the largest
// |d| (imm8 11: the larger absolute value, sign cleared).
template <> inline Double8 off_nearest(Double8 p) {
  return (Double8)_mm512_reduce_pd((__m512d)p, 8);
}

template <>
inline Double8 note_distance<Double8, Bits8>(Double8 noted, Double8 distance, Double8 /*limit*/) {
  return (Double8)_mm512_range_pd((__m512d)noted, (__m512d)distance, 11);
}

template <> inline Double8 merge_notes<Double8, Bits8>(Double8 x, Double8 y) {
  return (Double8)_mm512_range_pd((__m512d)x, (__m512d)y, 11);
}

template <> inline bool noted_beyond<Double8, Bits8>(Double8 noted, Double8 limit) {
  return any_lane(~(noted <= limit));
}

// d * 1 + sum, fused, rounds once, to sum + d itself. On Zen 5 additions share
// their pipes with vreducepd and vrangepd while the multiply-add pipes have room:
// the kernel ran about 6% faster so, and the whole sum on Zen 4 6 to 15%.
template <> inline Double8 accumulate(Double8 sum, Double8 d) {
  return fused(d, Double8{} + 1.0, sum);
}
#endif

// The model re-centred on one vector's lanes: p(tau + s) = q0 + s (q1 + s (q2 +
// s q3)) for t = tau + s, with q0 = p(tau), q1 = p'(tau), q2 = p''(tau) / 2 and
// q3 = c3 (model.h bounds its error, [e_eval]).
template <typename Vec> struct Shifted { Vec q0, q1, q2, q3; };

template <bool cubic, typename Vec> Shifted<Vec> shifted_to(const Model &model, Vec tau) {
  const Vec c1 = Vec{} + model.c1;
  const Vec twice_c2 = Vec{} + 2.0 * model.c2;
  if constexpr (cubic) {
    const Vec thrice_c3 = Vec{} + 3.0 * model.c3;
    return {model_at<cubic>(model, tau), mul_add(mul_add(thrice_c3, tau, twice_c2), tau, c1),
            mul_add(thrice_c3, tau, Vec{} + model.c2), Vec{} + model.c3};
  }
  return {model_at<cubic>(model, tau), mul_add(twice_c2, tau, c1), Vec{} + model.c2, Vec{}};
}

template <bool cubic, typename Vec> Vec shifted_at(const Shifted<Vec> &q, Vec s) {
  const Vec inner = cubic ? mul_add(q.q3, s, q.q2) : q.q2;
  return mul_add(mul_add(inner, s, q.q1), s, q.q0);
}

// A chain's values by forward differences (model.h, [e_eval]): p the value at its
// current vector, first and second the first and second differences there over
// one step of the chain (chains * lanes indices, a power of two), third the third,
// which is constant. For the quadratic, third is 0 and second constant.
template <typename Vec> struct Differences { Vec p, first, second, third; };

template <typename Vec> Differences<Vec> differences_of(const Shifted<Vec> &q) {
  constexpr double step = chains * lanes_of<Vec>;
  const Vec step_v = Vec{} + step;
  return {q.q0, mul_add(mul_add(q.q3, step_v, q.q2), step_v, q.q1) * step,
          mul_add(q.q3, Vec{} + 3.0 * step, q.q2) * (2.0 * step * step),
          q.q3 * (6.0 * step * step * step)};
}

// The chain's next vector: each difference adds the next one, each sum rounded
// once (by accumulate(), so that these sums may take the multiply-add pipes). The
// kernel keeps the four apart, so that they stay in registers.
template <bool cubic, typename Vec> void advance(Vec &p, Vec &first, Vec &second, Vec third) {
  p = accumulate(p, first);
  first = accumulate(first, second);
  if constexpr (cubic) {
    second = second + third;
  }
}

// The chains of vectors that step through a model's values from index `first` on:
// vector k (counted from first) holds the values at first + k * lanes + lane, in
// chain k % chains, at the step s = step_of(k) from its chain's first vector.
template <typename Vec> struct Chains {
  Vec tau[chains]; // i - centre at the chains' first vectors, exact
  Shifted<Vec> shifted[chains];
};

template <bool cubic, typename Vec>
Chains<Vec> chains_from(const Model &model, std::int32_t first) {
  constexpr int lanes = lanes_of<Vec>;
  Vec lane_number{};
  for (int lane = 0; lane < lanes; ++lane) {
    lane_number[lane] = lane;
  }
  Chains<Vec> all; // every field set below: zeroing it first costs a call a few percent
  for (int c = 0; c < chains; ++c) {
    all.tau[c] = lane_number + (static_cast<double>(first + c * lanes) - model.centre);
    all.shifted[c] = shifted_to<cubic>(model, all.tau[c]);
  }
  return all;
}

template <typename Vec> Vec step_of(std::int32_t k) {
  return Vec{} + static_cast<double>((k - k % chains) * lanes_of<Vec>);
}

// The Units of the values v / u at i = first, ..., first + count - 1, each rounded
// to the nearest whole number, decided by the model where it can (model.h) and
// else by exact(i, guess, undecided), which gives v / u at a vector of indices i,
// at least in its undecided lanes, where the model's whole number is guess. Vec
// and Bits as for rounded_units(); count must be a whole number of vectors for
// every chain (a multiple of chains * lanes, as every multiple of block_quantum
// is): the passes below step through whole rounds of chains, and the model's sum
// counts exactly `count` values. Another count is refused as a tie would be
// (nothing totalled, and the caller adds the values exactly).
//
// Four chains of vectors, each with the model re-centred on its first vector's
// lanes, step through the values in stretches of 32 vectors. For each stretch, a
// first pass steps each chain by its differences to the values p̂ (model.h), sums
// their distances d = p̂ - n̂ from their nearest whole numbers and notes whether one
// exceeded the limit; only then does a second pass find the undecided values and
// compute them, correcting their whole numbers. It evaluates the same values by
// Horner's rule in the chain's re-centred form, p̃ (keeping the differences of
// every stretch's start instead cost more than it saved).
//
// The second pass must correct every value whose n̂ is not its whole number m, by
// m - n̂. p̂ and p̃ lie within e_eval of p, so |p̂ - p̃| <= 2 e_eval <= `apart`. Where
// p̃ lies within limit - apart of its whole number ñ, p̂ lies within the limit of
// it: the first pass decided that value, n̂ = ñ = m. Every other value is computed
// (a few that the first pass decided too): where |p̃ - ñ| < 1/2 - apart,
// |p̂ - ñ| < 1/2, so n̂ = ñ and the correction is m - ñ. Nearer a half-integer (as
// near ties are, which some counts make often), n̂ cannot be told from ñ: there the
// chain steps on to that vector's p̂, from where it last did so or from its start
// (each chain's steps only go on, so all of that costs at most one more pass), and
// the first pass's own test finds the undecided values.
template <typename Vec, typename Bits, bool cubic, typename Exact>
Units modelled_units(std::int32_t first, std::int32_t count, const Model &model, Exact exact) {
  constexpr int lanes = lanes_of<Vec>;
  constexpr int stretch = 32; // vectors, a multiple of chains
  static_assert(block_quantum % (chains * lanes) == 0 && stretch % chains == 0,
                "blocks and stretches are whole rounds of chains");
  if (count % (chains * lanes) != 0) {
    return {0, true};
  }
  // Multiples of 2^-40 below 1, as the limit is: the differences are exact.
  const double apart = std::ceil(2.0 * model.evaluation * 0x1p40) * 0x1p-40;
  const Vec limit = Vec{} + model.limit;
  const Vec recheck = Vec{} + (model.limit - apart);
  const Vec told = Vec{} + (0.5 - apart);
  const Chains<Vec> start = chains_from<cubic, Vec>(model, first);
  const auto &tau = start.tau;
  const auto &shifted = start.shifted;
  // The chains' current vectors and their differences, each in an array of its own.
  Vec p_at[chains];
  Vec first_at[chains];
  Vec second_at[chains];
  Vec third_at[chains];
  for (int c = 0; c < chains; ++c) {
    const Differences<Vec> d = differences_of(shifted[c]);
    p_at[c] = d.p;
    first_at[c] = d.first;
    second_at[c] = d.second;
    third_at[c] = d.third;
  }

  // Where the second pass last stepped each chain to the first pass's values, and
  // at which step (-1: not yet).
  Differences<Vec> again[chains];
  std::int32_t again_at[chains];
  for (std::int32_t &at : again_at) {
    at = -1;
  }

  Vec distances[chains] = {}; // the sums of the d
  Vec corrections{};          // the undecided values' whole numbers less the model's
  Bits ties{};                // nonzero where some undecided value was a tie
  for (std::int32_t done = 0; done < count; done += stretch * lanes) {
    const int vectors = lesser(stretch, (count - done) / lanes); // a multiple of chains
    Vec noted[chains] = {};
    for (int k = 0; k < vectors; k += chains) {
#pragma GCC unroll 4
      for (int c = 0; c < chains; ++c) {
        const Vec distance = off_nearest(p_at[c]);
        noted[c] = note_distance<Vec, Bits>(noted[c], distance, limit);
        distances[c] = accumulate(distances[c], distance);
        advance<cubic>(p_at[c], first_at[c], second_at[c], third_at[c]);
      }
    }
    const Vec all_noted = merge_notes<Vec, Bits>(merge_notes<Vec, Bits>(noted[0], noted[1]),
                                                 merge_notes<Vec, Bits>(noted[2], noted[3]));
    if (!noted_beyond<Vec, Bits>(all_noted, limit)) {
      continue;
    }
    // Some values are undecided: find them again, and compute them.
    for (int k = 0; k < vectors; ++k) {
      const int c = k % chains;
      const Vec s = step_of<Vec>(done / lanes + k);
      Vec p = shifted_at<cubic>(shifted[c], s);
      Vec distance = off_nearest(p);
      Vec magnitude = (Vec)((Bits)distance & magnitude_bits);
      auto undecided = ~(magnitude <= recheck);
      if (!any_lane(undecided)) {
        continue;
      }
      if (any_lane(~(magnitude < told))) {
        // A value too near a half-integer: the first pass's own values, once more.
        const std::int32_t step = (done / lanes + k) / chains;
        if (again_at[c] < 0) {
          again[c] = differences_of(shifted[c]);
          again_at[c] = 0;
        }
        for (; again_at[c] < step; ++again_at[c]) {
          advance<cubic>(again[c].p, again[c].first, again[c].second, again[c].third);
        }
        p = again[c].p;
        distance = off_nearest(p);
        magnitude = (Vec)((Bits)distance & magnitude_bits);
        undecided = ~(magnitude <= limit);
      }
      // v / u rounds to m = v / u - off; m - base and the model's n = p - distance
      // are whole numbers below 2^51. (tau + s) + centre is i, exactly.
      const Vec units = exact((tau[c] + s) + model.centre, (p - distance) + model.base, undecided);
      // A tie leaves off at 1/2 or -1/2, a value that is not finite leaves it NaN.
      const Vec off = off_nearest(units);
      ties |= (Bits)(undecided & ~((off < 0.5) & (off > -0.5)));
      corrections += undecided ? ((units - off) - model.base) - (p - distance) : Vec{};
    }
  }

  Units all{0, false};
  double distance_sum = 0.0;
  double correction_sum = 0.0; // whole numbers below 2^53: exact
  const Vec distances_all = (distances[0] + distances[1]) + (distances[2] + distances[3]);
  for (int lane = 0; lane < lanes; ++lane) {
    all.tie |= ties[lane] != 0;
    distance_sum += distances_all[lane];
    correction_sum += corrections[lane];
  }
  if (all.tie) { // the corrections may be NaN: no total
    return all;
  }
  const double wholes = std::nearbyint(model.total - distance_sum) + correction_sum;
  // Unsigned arithmetic wraps: add the base once for every value. The base is a
  // whole number below 2^51 in magnitude, of either sign: it converts exactly to a
  // signed integer, and that to an unsigned one modulo 2^64.
  const auto base = static_cast<std::uint64_t>(static_cast<std::int64_t>(model.base));
  all.total = static_cast<std::uint64_t>(static_cast<std::int64_t>(wholes)) +
              static_cast<std::uint64_t>(count) * base;
  return all;
}

// The model's values at i = first, ..., first + count - 1 (count a multiple of
// block_quantum) as modelled_units evaluates them: into values[0, count) the first
// pass's p̂, into values[count, 2 count) the second pass's p̃. The kernel's own
// arithmetic, for the tests of the model's bound.
template <bool cubic, typename Vec>
void modelled_values(const Model &model, std::int32_t first, std::int32_t count, double *values) {
  constexpr int lanes = lanes_of<Vec>;
  const Chains<Vec> chain = chains_from<cubic, Vec>(model, first);
  Differences<Vec> at[chains];
  for (int c = 0; c < chains; ++c) {
    at[c] = differences_of(chain.shifted[c]);
  }
  for (std::int32_t k = 0; k < count / lanes; ++k) {
    const Vec p = shifted_at<cubic>(chain.shifted[k % chains], step_of<Vec>(k));
    Differences<Vec> &d = at[k % chains];
    for (int lane = 0; lane < lanes; ++lane) {
      values[k * lanes + lane] = d.p[lane];
      values[count + k * lanes + lane] = p[lane];
    }
    advance<cubic>(d.p, d.first, d.second, d.third);
  }
}

template <typename Vec>
void modelled_values(const Model &model, std::int32_t first, std::int32_t count, double *values) {
  if (model.cubic) {
    modelled_values<true, Vec>(model, first, count, values);
  } else {
    modelled_values<false, Vec>(model, first, count, values);
  }
}

// The model kernel (a BlockSum): the block's rounded samples, segment by segment,
// by the integrand's model where it decides and by division where it does not.
template <typename Vec, typename Bits>
double modelled_sample_sum(double a, double h, std::int32_t first, std::int32_t count,
                           double unit) {
  static_assert(chains == 4, "the kernel merges the notes of four chains");
  const double per_unit = 1.0 / unit;
  const auto exact = [a, h, per_unit](Vec i, Vec /*guess*/, auto /*undecided*/) {
    return integrand(a + i * h) * per_unit;
  };
  const std::int32_t longest = model_segment(h, unit);
  Units all{0, false};
  for (std::int32_t done = 0; done < count;) {
    const std::int32_t start = first + done;
    const std::int32_t length = lesser(longest, count - done);
    const Model model = sample_model(a, h, start, length, unit);
    const Units part = !model.decides ? rounded_units<Vec, Bits>(a, h, start, length, unit)
                       : model.cubic
                           ? modelled_units<Vec, Bits, true>(start, length, model, exact)
                           : modelled_units<Vec, Bits, false>(start, length, model, exact);
    all.total += part.total;
    all.tie = all.tie || part.tie;
    done += length;
  }
  return units_sum(all, unit);
}

} // namespace

#endif
