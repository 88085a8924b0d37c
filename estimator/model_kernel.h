// The model kernel: a block's rounded samples, as rounded_units() totals them,
// but with each sample's rounding decided by a polynomial that needs no division.
// Only the samples that the polynomial's error bound cannot place are divided out.
//
// The bound. A block adds each sample v_i = 4 / (1 + x_i*x_i), with the sample
// point x_i = a + i*h rounded as the program computes it, as m_i = round(v_i / u)
// units, u a power of two (block_sum.cpp). The real integrand g(x) = 4 / (1 + x^2)
// at the exact point X_i = a + i*h is smooth, with |g^(k)(x) / k!| <= 4 for every
// x and k: with j^2 = -1, 1/(1 + x^2) = Im(1 / (x - j)), whose k-th derivative
// over k! is (-1)^k Im((x - j)^-(k+1)), and |x - j| >= 1. On a segment of L
// samples, with centre c = first + L/2, t = i - c and |t| <= T = L/2, the model is
//
//   p(t) = c0 + t (c1 + t (c2 + t c3)),  c_k = g^(k)(x_c) h^k / (k! u),
//
// the cubic Taylor polynomial of g(x_c + t h) / u at the computed centre x_c, with
// c0 less a whole number M, its nearest; or the quadratic one (c3 = 0) where that
// is close enough. With every quantity below in units of u, |v_i / u - M - p̂(t)|
// < e for the computed value p̂, e the sum of:
//
// - the sample's roundings: x_i*x_i, 1 + ..., 4 / ... each round once, so v_i is
//   g(x_i) times (1 + d1) / ((1 + d2)(1 + d3)), |d| <= 2^-53: within 3 * 2^-53 G of
//   it (to first order, as everywhere below), with G = 4 / (1 + x^2) at the
//   segment's sample point nearest 0, at least every g(x_i) there;
// - the points: i*h and a + ... round once each, so |x_i - X_i| <= 2^-53 (|i h| +
//   |x_i|), and so for x_c; each moves g by at most 3√3/2 < 2.6 times as much, so
//   by 2.6 * 2^-53 (|h| (first + L) + max |x_i|), the centre by up to 2.6 * 2^-100
//   < 2^-98 more where one below 2^-100 is taken as 0 (so nothing below is
//   subnormal);
// - the Taylor remainder: at most 4 (|h| T)^4, or 4 (|h| T)^3 for the quadratic;
// - the coefficients: each is a product of y = 1/(1 + x_c^2) (three roundings),
//   its powers, x_c, 3 x_c^2 - 1 or 1 - x_c^2, and powers of h (scaling by u and
//   by 2, 4, 8 or 16 is exact), with n_k = 3, 9, 17, 22 roundings in all. Each
//   lies within n_k 2^-53 (to first order) of its exact value relative to A_k,
//   the same product with every term's magnitude: |g| / u, |c1|, 4 (3 x^2 + 1)
//   y^3 h^2 / u and 16 |x| (1 + x^2) y^4 |h|^3 / u. Counted with (n_k + 1) 2^-53,
//   which also covers the computed A_k's own rounding, that is
//   2^-53 (4 A_0 + 10 A_1 T + 18 A_2 T^2 + 23 A_3 T^3);
// - the evaluation: the kernel re-centres the model on each vector's lanes tau
//   (|tau| <= T) as p(tau + s) = q0 + s (q1 + s (q2 + s q3)), with q0 = p(tau),
//   q1 = c1 + tau (2 c2 + tau 3 c3), q2 = c2 + tau 3 c3 and q3 = c3, and steps
//   0 <= s < 2T. Each multiply-add, fused or not, errs by at most 2^-53 of its
//   operands' magnitude per rounding (earlier errors raise those by far less than
//   2^-40). So q0 lies within 2^-50 R of p(tau), with
//   R = |c0| + T (|c1| + T (|c2| + T |c3|)), a bound on |p| too; q1 within
//   2^-50 (|c1| + 2T |c2| + 3T^2 |c3|) and q2 within 2^-51 (|c2| + 3T |c3|), so
//   that over s the q's err by at most 13 2^-50 R; and the evaluation in s, whose
//   terms total at most the sum of |c_k| (3T)^k <= 27 R, by at most 27 2^-50 R
//   more: in all, less than 2^-44 R.
//
// The terms left out above (products of two or more 2^-53s) and the bound's own
// arithmetic, on non-negative terms, add less than 2^-46 of it; e is the sum
// times 1 + 2^-40, rounded up to a power of two (at least 2^-53), so that 1/2 - e
// is an exact double. The bound holds where its arguments do: samples and centre
// finite with |x| <= 2^20, 2^-60 <= |h|, 2^-48 <= u <= 2^10, so that every product
// above is a normal double (and M < 2^51). Elsewhere, or where e > 2^-5, or where L R >= 2^40, the
// segment's samples are all divided out.
//
// The decision. Let n_i be p̂ rounded to a whole number and d_i = p̂ - n_i, exact
// (a multiple of p̂'s spacing, at most 1/2). If |d_i| <= 1/2 - e, then
// v_i / u - M lies strictly between n_i - 1/2 and n_i + 1/2: m_i = M + n_i, and
// v_i is no tie. Else the sample is undecided: it is computed and rounded as in
// rounded_units(), and replaces n_i.
//
// The total. The kernel sums the d_i, not the n_i: Σ n_i = Σ p̂ - Σ d_i is a whole
// number; Σ p̂ lies within L 2^-44 R (the evaluation) of the model's own sum
// P = L c0 + c1 Σt + c2 Σt^2 + c3 Σt^3, whose power sums are exact and whose two
// inexact products and three sums err by at most 2^-50 L R more; summed in lanes,
// Σ d_i errs by less than L^2 2^-55 <= 2^-29. With L R < 2^40 all that is below
// 2^-3, so Σ n_i is the whole number nearest P - Σ d_i as computed, and the m_i
// total L M + Σ n_i (plus the undecided samples' corrections), exactly modulo 2^64.
//
// Like sample_sum.h, everything here has internal linkage, so that each
// instruction-set variant keeps its own copy.
#ifndef PI_ESTIMATE_MODEL_KERNEL_H
#define PI_ESTIMATE_MODEL_KERNEL_H

#include "sample_sum.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#if defined(__AVX512DQ__)
#include <immintrin.h>
#endif

namespace {

// The model serves sample points up to this magnitude (see the bound's arguments
// above); beyond it the segment is divided out.
constexpr double model_reach = 0x1p20;

// Segments are powers of two, from 64 samples (a block's quantum) to 8192 (the
// longest block).
constexpr std::int32_t shortest_segment = 64;
constexpr std::int32_t longest_segment = 8192;

// The Taylor remainder that a segment may reach, in units. An undecided sample
// costs a division, so e, and with it the share of undecided samples (about 2e),
// should stay small; longer segments cost less to set up.
constexpr double remainder_target = 0x1p-12;

// The quadratic saves a multiply-add a sample, but pays only where its remainder
// stays far below the cubic's target (measured).
constexpr double quadratic_target = 0x1p-16;

// The bound 4 (|h| T)^(degree + 1) / u on the Taylor remainder after the given
// degree, in units.
inline double taylor_remainder(int degree, double h, double half_length, double unit) {
  const double reach = std::fabs(h) * half_length;
  double power = 4.0 * reach * reach * reach;
  for (int k = 3; k <= degree; ++k) {
    power *= reach;
  }
  return power / unit;
}

// The segment length for an interval width and unit: the longest power of two,
// from 64 to 8192, whose cubic's Taylor remainder stays within the target, else 64.
inline std::int32_t model_segment(double h, double unit) {
  std::int32_t length = longest_segment;
  while (length > shortest_segment &&
         !(taylor_remainder(3, h, 0.5 * length, unit) <= remainder_target)) {
    length /= 2;
  }
  return length;
}

// The smallest power of two at least z, for a normal z > 0.
inline double power_of_two_at_least(double z) {
  const double below = spacing_at(z) * 0x1p52; // 2^k <= z < 2^(k+1)
  return z > below ? 2.0 * below : below;
}

// A segment's model: p(t) = c0 + t (c1 + t (c2 + t c3)) for t = i - centre
// approximates v_i / u - base within error; a sample is decided where
// |p - round(p)| <= limit. Where the quadratic's remainder is within its own,
// lower target, c3 is 0 and the kernel leaves it out. The error is the sum of three parts
// (see the top of this file), kept apart for the tests: how far the sample lies
// from g at the exact point (the sample's roundings and its point's), how far
// g / u - base lies from p with exact arithmetic (the centre's rounding, the
// Taylor remainder and the coefficients' roundings), and the evaluation's rounding.
struct Model {
  double centre;
  double c0, c1, c2, c3;
  bool cubic;
  double total; // the sum of p over the segment
  double base;
  double sampling, approximation, evaluation;
  double error;
  double limit;
  bool decides;
};

// The model for the samples first, ..., first + length - 1 (see the top of this
// file for the bound).
inline Model segment_model(double a, double h, std::int32_t first, std::int32_t length,
                           double unit) {
  Model model{};
  const double half = 0.5 * length;
  model.centre = static_cast<double>(first) + half;
  const double x_first = a + static_cast<double>(first) * h;
  const double x_last = a + static_cast<double>(first + (length - 1)) * h;
  if (!(unit <= 0x1p10 && std::fabs(h) >= 0x1p-60 && std::fabs(x_first) <= model_reach &&
        std::fabs(x_last) <= model_reach)) {
    return model; // beyond where the bound holds; NaN ends here too
  }
  const double x_far = std::max(std::fabs(x_first), std::fabs(x_last));
  double x = a + model.centre * h;
  if (std::fabs(x) < 0x1p-100) {
    x = 0.0;
  }
  const double per_unit = 1.0 / unit;
  const double x2 = x * x;
  const double y = 1.0 / (1.0 + x2);
  const double y2 = y * y;
  const double y3 = y2 * y;
  const double y4 = y2 * y2;
  const double h2 = h * h * per_unit;
  const double h3 = h * h * h * per_unit;
  const double g0 = 4.0 * y * per_unit;
  model.base = std::nearbyint(g0);
  model.c0 = g0 - model.base; // exact: g0 and its nearest whole number
  model.c1 = -8.0 * x * y2 * (h * per_unit);
  model.c2 = 4.0 * (3.0 * x2 - 1.0) * y3 * h2;
  const double quadratic_remainder = taylor_remainder(2, h, half, unit);
  model.cubic = !(quadratic_remainder <= quadratic_target);
  model.c3 = model.cubic ? 16.0 * x * (1.0 - x2) * y4 * h3 : 0.0;

  const double x_near =
      x_first * x_last <= 0.0 ? 0.0 : std::min(std::fabs(x_first), std::fabs(x_last));
  const double sample = 3.0 * 0x1p-53 * (4.0 / (1.0 + x_near * x_near)) * per_unit;
  const double point =
      2.6 * 0x1p-53 * (std::fabs(h) * (static_cast<double>(first) + length) + x_far) * per_unit;
  const double centre = point + 0x1p-98 * per_unit;
  const double remainder =
      model.cubic ? taylor_remainder(3, h, half, unit) : quadratic_remainder;
  const double a1 = std::fabs(model.c1);
  const double a2 = 4.0 * (3.0 * x2 + 1.0) * y3 * std::fabs(h2);
  const double a3 = model.cubic ? 16.0 * std::fabs(x) * (1.0 + x2) * y4 * std::fabs(h3) : 0.0;
  const double coefficients =
      0x1p-53 * (4.0 * g0 + half * (10.0 * a1 + half * (18.0 * a2 + half * (23.0 * a3))));
  const double magnitude =
      std::fabs(model.c0) +
      half * (a1 + half * (std::fabs(model.c2) + half * std::fabs(model.c3)));
  model.sampling = sample + point;
  model.approximation = centre + remainder + coefficients;
  model.evaluation = 0x1p-44 * magnitude;
  model.error = (model.sampling + model.approximation + model.evaluation) * (1.0 + 0x1p-40);
  model.limit = 0.5 - power_of_two_at_least(std::max(model.error, 0x1p-53));
  model.decides = model.error <= 0x1p-5 && length * magnitude < 0x1p40;
  // t runs from -half to half - 1: the sums of t, t^2 and t^3, exact.
  const double t2_sum = (half - 1.0) * half * (2.0 * half - 1.0) / 3.0 + half * half;
  model.total = length * model.c0 - half * model.c1 + t2_sum * model.c2 -
                half * half * half * model.c3;
  return model;
}

// The model's value at t = i - centre, evaluated as the kernel evaluates it:
// by Horner's rule, with or without the cubic term.
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
  constexpr std::uint64_t magnitude_bits = 0x7fffffffffffffffU;
  return (Vec)((Bits)noted | ((Bits)limit - ((Bits)distance & magnitude_bits)));
}

template <typename Vec, typename Bits> Vec merge_notes(Vec x, Vec y) {
  return (Vec)((Bits)x | (Bits)y);
}

template <typename Vec, typename Bits> bool noted_beyond(Vec noted, Vec /*limit*/) {
  return any_lane((Bits)noted >> 63U);
}

#if defined(__AVX512DQ__)
// With AVX-512DQ, one instruction each: vreducepd gives p less its nearest whole
// number (imm8 8: round to nearest, no fraction bits kept, no inexact exception),
// exact as above; vrangepd keeps the larger magnitude, so the note is the largest
// |d| (imm8 11: the larger absolute value, sign cleared).
template <> inline Double8 off_nearest(Double8 p) {
  return (Double8)_mm512_reduce_pd((__m512d)p, 8);
}

template <> inline Double8 note_distance<Double8, Bits8>(Double8 noted, Double8 distance,
                                                          Double8 /*limit*/) {
  return (Double8)_mm512_range_pd((__m512d)noted, (__m512d)distance, 11);
}

template <> inline Double8 merge_notes<Double8, Bits8>(Double8 x, Double8 y) {
  return (Double8)_mm512_range_pd((__m512d)x, (__m512d)y, 11);
}

template <> inline bool noted_beyond<Double8, Bits8>(Double8 noted, Double8 limit) {
  return any_lane(~(noted <= limit));
}
#endif

// The model re-centred on one vector's lanes: p(tau + s) = q0 + s (q1 + s (q2 +
// s q3)) for t = tau + s, with q0 = p(tau), q1 = p'(tau), q2 = p''(tau) / 2 and
// q3 = c3 (see the top of this file for its error).
template <typename Vec> struct Shifted {
  Vec q0, q1, q2, q3;
};

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

// The rounded samples' Units over one segment, decided by its model where it can
// (see the top of this file). Vec, Bits and count as for rounded_units().
//
// Four chains of vectors, each with the model re-centred on its first vector's
// lanes, step through the segment in stretches of 32 vectors. For each stretch, a
// first pass sums the distances d = p - n of the model's values from their
// nearest whole numbers and notes whether one exceeded the limit; only then does
// a second pass find the undecided samples and divide them out, correcting their
// whole numbers.
template <typename Vec, typename Bits, bool cubic>
Units modelled_units(double a, double h, std::int32_t first, std::int32_t count, double unit,
                     const Model &model) {
  constexpr int lanes = lanes_of<Vec>;
  constexpr int chains = 4;   // independent vectors in flight, to hide latency
  constexpr int stretch = 32; // vectors
  constexpr std::uint64_t magnitude_bits = 0x7fffffffffffffffU;
  const double per_unit = 1.0 / unit;
  const Vec limit = Vec{} + model.limit;
  Vec lane_number{};
  for (int lane = 0; lane < lanes; ++lane) {
    lane_number[lane] = lane;
  }
  Vec tau[chains]; // i - centre at the chains' first vectors, exact
  Shifted<Vec> shifted[chains];
  for (int c = 0; c < chains; ++c) {
    tau[c] = lane_number + (static_cast<double>(first + c * lanes) - model.centre);
    shifted[c] = shifted_to<cubic>(model, tau[c]);
  }

  Vec distances[chains] = {}; // the sums of the d
  Vec corrections{};          // the undecided samples' whole numbers less the model's
  Bits ties{};                // nonzero where some undecided sample was a tie
  for (std::int32_t done = 0; done < count; done += stretch * lanes) {
    const int vectors = std::min(stretch, (count - done) / lanes); // a multiple of chains
    Vec noted[chains] = {};
    for (int k = 0; k < vectors; k += chains) {
      const Vec s = Vec{} + static_cast<double>(done + k * lanes);
#pragma GCC unroll 4
      for (int c = 0; c < chains; ++c) {
        const Vec distance = off_nearest(shifted_at<cubic>(shifted[c], s));
        noted[c] = note_distance<Vec, Bits>(noted[c], distance, limit);
        distances[c] += distance;
      }
    }
    const Vec all_noted = merge_notes<Vec, Bits>(merge_notes<Vec, Bits>(noted[0], noted[1]),
                                                 merge_notes<Vec, Bits>(noted[2], noted[3]));
    if (!noted_beyond<Vec, Bits>(all_noted, limit)) {
      continue;
    }
    // Some samples are undecided: divide those out.
    for (int k = 0; k < vectors; ++k) {
      const int c = k % chains;
      const Vec s = Vec{} + static_cast<double>(done + (k - c) * lanes);
      const Vec p = shifted_at<cubic>(shifted[c], s);
      const Vec distance = off_nearest(p);
      const auto undecided = ~((Vec)((Bits)distance & magnitude_bits) <= limit);
      if (any_lane(undecided)) {
        // v / u (scaling by a power of two is exact) rounds to m = v / u - off;
        // m - base and the model's n = p - distance are whole numbers below 2^51.
        const Vec units = integrand(a + ((tau[c] + s) + model.centre) * h) * per_unit;
        const Vec off = off_nearest(units);
        ties |= (Bits)(undecided & ((off == 0.5) | (off == -0.5) | (units != units)));
        corrections += undecided ? ((units - off) - model.base) - (p - distance) : Vec{};
      }
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
  const double wholes = std::nearbyint(model.total - distance_sum) + correction_sum;
  // Unsigned arithmetic wraps: add the base once for every sample.
  all.total = static_cast<std::uint64_t>(static_cast<std::int64_t>(wholes)) +
              static_cast<std::uint64_t>(count) * static_cast<std::uint64_t>(model.base);
  return all;
}

// The model kernel (a BlockSum): the block's rounded samples, segment by segment,
// by the model where it decides and by division where it does not.
template <typename Vec, typename Bits>
double modelled_sample_sum(double a, double h, std::int32_t first, std::int32_t count,
                           double unit) {
  const std::int32_t longest = model_segment(h, unit);
  Units all{0, false};
  for (std::int32_t done = 0; done < count;) {
    const std::int32_t start = first + done;
    const std::int32_t length = std::min(longest, count - done);
    const Model model = segment_model(a, h, start, length, unit);
    const Units part =
        !model.decides ? rounded_units<Vec, Bits>(a, h, start, length, unit)
        : model.cubic  ? modelled_units<Vec, Bits, true>(a, h, start, length, unit, model)
                       : modelled_units<Vec, Bits, false>(a, h, start, length, unit, model);
    all.total += part.total;
    all.tie = all.tie || part.tie;
    done += length;
  }
  return units_sum(all, unit);
}

} // namespace

#endif
