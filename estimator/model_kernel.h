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

// The model's value at t = i - centre, by Horner's rule, up to the given degree.
template <int degree, typename Real> Real model_at(const Model &model, Real t) {
  Real inner = Real{} + (degree == 4 ? model.c4 : degree == 3 ? model.c3 : model.c2);
  if constexpr (degree == 4) {
    inner = mul_add(inner, t, Real{} + model.c3);
  }
  if constexpr (degree >= 3) {
    inner = mul_add(inner, t, Real{} + model.c2);
  }
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
// s (q3 + s c4))) for t = tau + s, with q_k = p^(k)(tau) / k! (model.h bounds
// their errors, [e_eval]); the terms above the model's degree are 0. c4, the same
// for every chain, is the model's own.
template <typename Vec> struct Shifted { Vec q0, q1, q2, q3; };

template <int degree, typename Vec> Shifted<Vec> shifted_to(const Model &model, Vec tau) {
  const Vec c1 = Vec{} + model.c1;
  const Vec twice_c2 = Vec{} + 2.0 * model.c2;
  const Vec thrice_c3 = Vec{} + 3.0 * model.c3;
  if constexpr (degree == 4) {
    const Vec four_c4 = Vec{} + 4.0 * model.c4;
    return {model_at<degree>(model, tau),
            mul_add(mul_add(mul_add(four_c4, tau, thrice_c3), tau, twice_c2), tau, c1),
            mul_add(mul_add(Vec{} + 6.0 * model.c4, tau, thrice_c3), tau, Vec{} + model.c2),
            mul_add(four_c4, tau, Vec{} + model.c3)};
  } else if constexpr (degree == 3) {
    return {model_at<degree>(model, tau), mul_add(mul_add(thrice_c3, tau, twice_c2), tau, c1),
            mul_add(thrice_c3, tau, Vec{} + model.c2), Vec{} + model.c3};
  } else {
    return {model_at<degree>(model, tau), mul_add(twice_c2, tau, c1), Vec{} + model.c2, Vec{}};
  }
}

template <int degree, typename Vec> Vec shifted_at(const Shifted<Vec> &q, Vec c4, Vec s) {
  Vec inner = degree == 4 ? c4 : degree == 3 ? q.q3 : q.q2;
  if constexpr (degree == 4) {
    inner = mul_add(inner, s, q.q3);
  }
  if constexpr (degree >= 3) {
    inner = mul_add(inner, s, q.q2);
  }
  return mul_add(mul_add(inner, s, q.q1), s, q.q0);
}

// A chain's values by forward differences (model.h, [e_eval]): p the value at its
// current vector, first, second and third its differences there over one step of
// the chain (D = chains * lanes indices, a power of two). Over that step,
// q0 + q1 s + q2 s^2 + q3 s^3 + c4 s^4 has the differences q1 D + q2 D^2 + q3 D^3
// + c4 D^4, 2 q2 D^2 + 6 q3 D^3 + 14 c4 D^4 and 6 q3 D^3 + 36 c4 D^4 at s = 0, and
// the fourth, 24 c4 D^4, the same everywhere and for every chain (fourth_of()).
// Below the quartic, the third is constant too; for the quadratic, the second.
template <typename Vec> struct Differences { Vec p, first, second, third; };

template <int degree, typename Vec> Differences<Vec> differences_of(const Shifted<Vec> &q, Vec c4) {
  constexpr double D = chains * lanes_of<Vec>;
  const Vec step = Vec{} + D;
  if constexpr (degree == 4) {
    return {q.q0, mul_add(mul_add(mul_add(c4, step, q.q3), step, q.q2), step, q.q1) * D,
            mul_add(q.q3, Vec{} + 3.0 * D, mul_add(c4, Vec{} + 7.0 * D * D, q.q2)) * (2.0 * D * D),
            mul_add(c4, Vec{} + 6.0 * D, q.q3) * (6.0 * D * D * D)};
  } else {
    return {q.q0, mul_add(mul_add(q.q3, step, q.q2), step, q.q1) * D,
            mul_add(q.q3, Vec{} + 3.0 * D, q.q2) * (2.0 * D * D), q.q3 * (6.0 * D * D * D)};
  }
}

template <typename Vec> Vec fourth_of(const Model &model) {
  constexpr double D = chains * lanes_of<Vec>;
  return Vec{} + model.c4 * (24.0 * D * D * D * D);
}

// The chain's next vector: each difference adds the next one, each sum rounded
// once (by accumulate(), so that these sums may take the multiply-add pipes; the
// last, a plain addition, the adders'). The kernel keeps the four apart, so that
// they stay in registers.
template <int degree, typename Vec>
void advance(Vec &p, Vec &first, Vec &second, Vec &third, Vec fourth) {
  p = accumulate(p, first);
  first = accumulate(first, second);
  if constexpr (degree == 4) {
    second = accumulate(second, third);
    third = third + fourth;
  } else if constexpr (degree == 3) {
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

template <int degree, typename Vec>
Chains<Vec> chains_from(const Model &model, std::int32_t first) {
  constexpr int lanes = lanes_of<Vec>;
  Vec lane_number{};
  for (int lane = 0; lane < lanes; ++lane) {
    lane_number[lane] = lane;
  }
  Chains<Vec> all; // every field set below: zeroing it first costs a call a few percent
  for (int c = 0; c < chains; ++c) {
    all.tau[c] = lane_number + (static_cast<double>(first + c * lanes) - model.centre);
    all.shifted[c] = shifted_to<degree>(model, all.tau[c]);
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
template <typename Vec, typename Bits, int degree, typename Exact>
Units modelled_units(std::int32_t first, std::int32_t count, const Model &model, Exact exact) {
  constexpr int lanes = lanes_of<Vec>;
  constexpr int stretch = 32; // vectors, a multiple of chains
  static_assert(block_quantum % (chains * lanes) == 0 && stretch % chains == 0,
                "blocks and stretches are whole rounds of chains");
  static_assert(degree >= 2 && degree <= 4, "a quadratic, cubic or quartic");
  if (count % (chains * lanes) != 0) {
    return {0, true};
  }
  // Multiples of 2^-40 below 1, as the limit is: the differences are exact.
  const double apart = std::ceil(2.0 * model.evaluation * 0x1p40) * 0x1p-40;
  const Vec limit = Vec{} + model.limit;
  const Vec recheck = Vec{} + (model.limit - apart);
  const Vec told = Vec{} + (0.5 - apart);
  const Chains<Vec> start = chains_from<degree, Vec>(model, first);
  const auto &tau = start.tau;
  const auto &shifted = start.shifted;
  // The chains' current vectors and their differences, each in an array of its own.
  Vec p_at[chains];
  Vec first_at[chains];
  Vec second_at[chains];
  Vec third_at[chains];
  const Vec c4 = Vec{} + model.c4;
  const Vec fourth = fourth_of<Vec>(model);
  for (int c = 0; c < chains; ++c) {
    const Differences<Vec> d = differences_of<degree>(shifted[c], c4);
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
        advance<degree>(p_at[c], first_at[c], second_at[c], third_at[c], fourth);
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
      Vec p = shifted_at<degree>(shifted[c], c4, s);
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
          again[c] = differences_of<degree>(shifted[c], c4);
          again_at[c] = 0;
        }
        for (; again_at[c] < step; ++again_at[c]) {
          advance<degree>(again[c].p, again[c].first, again[c].second, again[c].third, fourth);
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

// modelled_units() at the model's own degree.
template <typename Vec, typename Bits, typename Exact>
Units modelled_units_of(std::int32_t first, std::int32_t count, const Model &model, Exact exact) {
  switch (model.degree) {
  case 4:
    return modelled_units<Vec, Bits, 4>(first, count, model, exact);
  case 3:
    return modelled_units<Vec, Bits, 3>(first, count, model, exact);
  default:
    return modelled_units<Vec, Bits, 2>(first, count, model, exact);
  }
}

// The model's values at i = first, ..., first + count - 1 (count a multiple of
// block_quantum) as modelled_units evaluates them: into values[0, count) the first
// pass's p̂, into values[count, 2 count) the second pass's p̃. The kernel's own
// arithmetic, for the tests of the model's bound.
template <int degree, typename Vec>
void modelled_values(const Model &model, std::int32_t first, std::int32_t count, double *values) {
  constexpr int lanes = lanes_of<Vec>;
  const Chains<Vec> chain = chains_from<degree, Vec>(model, first);
  const Vec c4 = Vec{} + model.c4;
  const Vec fourth = fourth_of<Vec>(model);
  Differences<Vec> at[chains];
  for (int c = 0; c < chains; ++c) {
    at[c] = differences_of<degree>(chain.shifted[c], c4);
  }
  for (std::int32_t k = 0; k < count / lanes; ++k) {
    const Vec p = shifted_at<degree>(chain.shifted[k % chains], c4, step_of<Vec>(k));
    Differences<Vec> &d = at[k % chains];
    for (int lane = 0; lane < lanes; ++lane) {
      values[k * lanes + lane] = d.p[lane];
      values[count + k * lanes + lane] = p[lane];
    }
    advance<degree>(d.p, d.first, d.second, d.third, fourth);
  }
}

template <typename Vec>
void modelled_values(const Model &model, std::int32_t first, std::int32_t count, double *values) {
  switch (model.degree) {
  case 4:
    modelled_values<4, Vec>(model, first, count, values);
    break;
  case 3:
    modelled_values<3, Vec>(model, first, count, values);
    break;
  default:
    modelled_values<2, Vec>(model, first, count, values);
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
                                      : modelled_units_of<Vec, Bits>(start, length, model, exact);
    all.total += part.total;
    all.tie = all.tie || part.tie;
    done += length;
  }
  return units_sum(all, unit);
}

} // namespace

#endif
