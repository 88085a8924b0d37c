// The levels of a certified cubic and their certified inverse: where a model's
// values, less k times their index, cross each half-integer, as a Model (model.h)
// of its own, so that the model kernel can total those places as it totals the
// values themselves. count_kernel.h says how the count uses them.
//
// A model (model.h) certifies whole numbers x_i at indices i: reals U_i with
// round(U_i) = x_i and |U_i - base - p(t)| <= e at t = i - centre, where p is its
// cubic with its coefficients as stored, exactly, and e its sampling and
// approximation parts. Take off a whole number k per index: w_i = x_i - k i rounds
// W_i = U_i - k i, and with the whole number o = base - k centre,
//
//   |W_i - o - q(t)| <= e',  q(t) = c0 + q1 t + c2 t^2 + c3 t^3,  q1 = c1 - k,
//
// where e' is e plus q1's rounding, 2^-53 |q1| times the largest |t|. Symbols:
// [tA, tZ] the range's t, widened by one index each way; over it m <= |q'| (the
// least slope), M1 >= |q'| and M2 >= |q''|, all as computed less (or plus) their
// evaluation's error (p' at the ends and where p'' vanishes, p'' at the ends); q'
// keeps one sign there, which k is chosen for: the whole number next to p' over
// the range, on the side nearer its middle.
//
// [monotone] Where m > 2e', W is strictly monotone over the range: W_(i+1) - W_i
// lies within 2e' of q(t + 1) - q(t), whose magnitude is at least m. Then the
// whole numbers w_i - o never cross a level twice: for each level ν between those
// of the range's ends, the first index j_ν where w - o is past ν (below it where
// q falls, at or above it where q rises) splits the range in two, and the count
// needs only the j_ν (count_kernel.h).
//
// [δ, as "sampling"] Let τ(ν) be where q crosses ν - 1/2. An index i with t more
// than δ = e' / m before τ has q(t) at least m δ = e' beyond ν - 1/2 on the side
// where the range starts, so W_i - o lies strictly on that side; one more than δ
// after, strictly on the other. So j_ν - centre, a whole number, lies strictly
// within δ + 1/2 of τ(ν) + 1/2, and some real J_ν with round(J_ν) = j_ν - centre
// lies within δ of τ(ν) + 1/2, not a half-integer (the intervals overlap in an
// open interval). These J_ν are the values the inverse model certifies.
//
// The model: for L levels from ν0 on, with s = ν - ν0 - T in [-T, T - 1], the
// Taylor cubic of τ(y) + 1/2 at the level y_c + r, where y_c = ν0 + T - 1/2 and
// τ_c, found by Newton's method, has q(τ_c) = y_c + r exactly:
//
//   P(s) = τ_c + 1/2 - base + τ1 s + τ2 s^2 + τ3 s^3,
//   τ1 = 1/q',  τ2 = -q'' / (2 q'^3),  τ3 = (3 q''^2 - q' q''') / (6 q'^5)  at τ_c,
//
// with base the whole number nearest τ_c + 1/2 (so c0 = τ_c + 1/2 - base is
// exact, |τ_c| < 2^50). Its "approximation" parts, in indices:
// - [e_centre] the expansion point: P takes s for s - r, which moves it by at most
//   |r| (B1 + 2 B2 R + 3 B3 R^2), R = T + |r|, with B1 = 1/m, B2 = A2 / (2 m^3) and
//   B3 = (3 A2^2 + 6 A1 |c3|) / (6 m^5) bounds on |τ1|, |τ2|, |τ3|, where A1 and A2
//   are the magnitudes of q' and q'' at τ_c (every term's absolute value); |r| is
//   at most the computed residual plus its evaluation's error, 8 * 2^-53 times the
//   magnitude of q(τ_c) and y_c;
// - [e_taylor] Lagrange's remainder: τ'''' = -(15 q''^3 - 10 q' q'' q''') / q'^7 for
//   a cubic q (q'''' = 0), at a crossing between τ_c and τ(y), inside [tA, tZ]; so
//   the remainder at |s - r| <= R is at most (15 M2^3 + 10 M1 M2 6 |c3|) /
//   (24 m^7) R^4;
// - [e_coeff] the coefficients' roundings: q' at τ_c takes five roundings, so it
//   errs by at most ρ m, ρ = 5 * 2^-53 A1 / m of it; q'' by 3 * 2^-53 A2; τ1 = 1/q'
//   by ρ + 2^-53 of itself, and its powers (products, one rounding each) by k
//   times that and k - 1 roundings more; so τ2 = -q'' τ1^3 / 2 errs by at most
//   (3 ρ + 7 * 2^-53) B2, and τ3 = (3 q''^2 - q' q''') τ1^5 / 6, whose numerator
//   errs by (ρ + 10 * 2^-53) times its magnitude, by (6 ρ + 16 * 2^-53) B3: each τk
//   by at most (6 ρ + 16 * 2^-53) Bk, and the polynomial by that times R^k.
// The evaluation's part is the model kernel's (model.h). Each part keeps a 2^-40
// margin for the bound's own arithmetic, as model.h's do.
//
// Internal linkage, as in vector.h.
#ifndef PI_ESTIMATE_CUBIC_INVERSE_H
#define PI_ESTIMATE_CUBIC_INVERSE_H

#include "kernels.h"
#include "model.h"
#include "numerics.h"

#include <cmath>
#include <cstdint>

namespace {

// The Taylor remainder, in indices, that a segment of levels may reach (see the
// inverse model's, inverse_model.h, for why it is small).
constexpr double cubic_inverse_target = 0x1p-12;

// The expansion point's residual |r| that the bound allows: Newton's method from
// a guess within a few hundredths of an index leaves far less.
constexpr double largest_residual = 0x1p-30;

// The levels of w_i = x_i - k i over a range of a model's indices (see above).
struct Levels {
  double k;              // the whole number taken off per index
  double offset;         // o = base - k centre: levels ν are w - o
  double c0, q1, c2, c3; // q(t)
  double e;              // e', how far W - o may lie from q
  double m, M1, M2;      // least |q'|, largest |q'| and |q''| over the range
  double t_most;         // the largest |t| there
  bool rising;           // whether q rises
  bool holds;            // q' keeps its sign, m > 2e', and all is finite
};

// The magnitude of q' at t, |q1| + |t| (2 |c2| + 3 |c3| |t|).
inline double slope_magnitude(double q1, double c2, double c3, double t) {
  return std::fabs(q1) + std::fabs(t) * (2.0 * std::fabs(c2) + 3.0 * std::fabs(c3) * std::fabs(t));
}

// The levels of the model's truths over its indices [first, first + count), less
// k per index, k the whole number that keeps q' of one sign and smallest over the
// range. holds is false where the model's slope reaches a whole number there.
inline Levels levels_of(const Model &model, double first, double count) {
  Levels lv{};
  const double t_first = first - model.centre - 1.0;
  const double t_last = first + count - model.centre; // the last index's t, plus one
  const auto slope = [&model](double t) {
    return model.c1 + t * (2.0 * model.c2 + 3.0 * model.c3 * t);
  };
  const auto curvature = [&model](double t) { return 2.0 * model.c2 + 6.0 * model.c3 * t; };
  // p' over the range: at its ends, and where p'' vanishes if that lies inside.
  double low = lesser(slope(t_first), slope(t_last));
  double high = greater(slope(t_first), slope(t_last));
  const double vertex = model.c3 != 0.0 ? -model.c2 / (3.0 * model.c3) : t_first;
  if (vertex > t_first && vertex < t_last) {
    low = lesser(low, slope(vertex));
    high = greater(high, slope(vertex));
  }
  const double largest_t = greater(std::fabs(t_first), std::fabs(t_last));
  const double slope_error =
      6.0 * 0x1p-53 * slope_magnitude(model.c1, model.c2, model.c3, largest_t);
  low -= slope_error;
  high += slope_error;
  const double floor_low = std::floor(low);
  if (!(std::floor(high) == floor_low && high < floor_low + 1.0)) {
    return lv; // p' reaches a whole number: no k keeps q' of one sign (or NaN)
  }
  // The nearer of the two whole numbers around the slope: fewer levels.
  lv.rising = (low + high) * 0.5 - floor_low < 0.5;
  lv.k = lv.rising ? floor_low : floor_low + 1.0;
  lv.m = lv.rising ? low - lv.k : lv.k - high;
  lv.M1 = greater(std::fabs(low - lv.k), std::fabs(high - lv.k));
  lv.t_most = largest_t;
  lv.M2 = greater(std::fabs(curvature(t_first)), std::fabs(curvature(t_last))) +
          4.0 * 0x1p-53 * (2.0 * std::fabs(model.c2) + 6.0 * std::fabs(model.c3) * largest_t);
  lv.offset = model.base - lv.k * model.centre; // whole numbers below 2^53: exact
  lv.c0 = model.c0;
  lv.q1 = model.c1 - lv.k;
  lv.c2 = model.c2;
  lv.c3 = model.c3;
  lv.e = (model.sampling + model.approximation + 0x1p-53 * std::fabs(lv.q1) * largest_t) *
         (1.0 + 0x1p-40);
  lv.holds = lv.m > 2.0 * lv.e * (1.0 + 0x1p-40) && std::fabs(lv.offset) < 0x1p52 &&
             std::fabs(lv.M2) < __builtin_inf(); // NaN fails
  return lv;
}

// q(t), by Horner's rule.
inline double q_at(const Levels &lv, double t) {
  return lv.c0 + t * (lv.q1 + t * (lv.c2 + t * lv.c3));
}

// The fourth derivative's bound over the range, (15 M2^3 + 60 M1 M2 |c3|) / m^7,
// over 24: the remainder at |s - r| <= R is at most this times R^4.
inline double remainder_factor(const Levels &lv) {
  const double m2 = lv.m * lv.m;
  const double m7 = m2 * m2 * m2 * lv.m;
  return (15.0 * lv.M2 * lv.M2 * lv.M2 + 60.0 * lv.M1 * lv.M2 * std::fabs(lv.c3)) / (24.0 * m7);
}

// The longest segment of levels, a multiple of block_quantum up to longest_block,
// whose remainder stays within the target (0 for none).
inline std::int32_t levels_segment(const Levels &lv) {
  const double factor = remainder_factor(lv);
  for (std::int32_t L = longest_block; L >= block_quantum; L /= 2) {
    const double reach = 0.5 * L + largest_residual;
    if (factor * reach * reach * reach * reach <= cubic_inverse_target) { // NaN fails
      return L;
    }
  }
  return 0;
}

// What every inverse model of L levels over one range shares: its bound, whose
// parts hold for every segment there (the coefficients' magnitudes and the
// expansion point's residual at their largest over the range, |r| at most
// largest_residual), and so its decision limit.
inline Model inverse_bound(const Levels &lv, std::int32_t L) {
  const double T = 0.5 * L;
  const double reach = T + largest_residual; // R
  const double m = lv.m;
  const double m2 = m * m;
  // A1 and A2 at their largest over the range's t, which holds every τ_c.
  const double A1 = slope_magnitude(lv.q1, lv.c2, lv.c3, lv.t_most);
  const double A2 = 2.0 * std::fabs(lv.c2) + 6.0 * std::fabs(lv.c3) * lv.t_most;
  Model bound{};
  bound.degree = 3;
  bound.c0 = 0.5;
  bound.c1 = 1.0 / m;                                                             // B1
  bound.c2 = A2 / (2.0 * m2 * m);                                                 // B2
  bound.c3 = (3.0 * A2 * A2 + 6.0 * A1 * std::fabs(lv.c3)) / (6.0 * m2 * m2 * m); // B3
  const double slope = bound.c1 + reach * (2.0 * bound.c2 + 3.0 * bound.c3 * reach);
  const double e_centre = largest_residual * slope;
  const double e_taylor = remainder_factor(lv) * reach * reach * reach * reach;
  const double rho = 5.0 * 0x1p-53 * A1 / m;
  const double e_coeff =
      (6.0 * rho + 16.0 * 0x1p-53) * reach * (bound.c1 + reach * (bound.c2 + reach * bound.c3));
  return certified(bound, L, lv.e / m * (1.0 + 0x1p-40),
                   (e_centre + e_taylor + e_coeff) * (1.0 + 0x1p-40), lv.holds);
}

// The inverse model for the L levels from ν0 on (see above), with the kernel's
// index i = ν - ν0 (centre T), and the bound that the range's segments of L levels
// share; from a guess t of τ_c. Its values are the levels' ends j_ν less the
// levelled model's centre. Where Newton's method leaves |r| beyond
// largest_residual, it does not decide.
inline Model inverse_of_levels(const Levels &lv, const Model &bound, double nu0, std::int32_t L,
                               double t) {
  Model model = bound;
  const double T = 0.5 * L;
  model.centre = T;
  const double y_c = nu0 + T - 0.5;
  // Newton's method with the slope at the guess, which barely changes over the
  // guess's error: one division, and each step shrinks the error many times over.
  const double step_per_unit = 1.0 / (lv.q1 + t * (2.0 * lv.c2 + 3.0 * lv.c3 * t));
  for (int step = 0; step < 6; ++step) { // until the correction is negligible
    const double correction = (q_at(lv, t) - y_c) * step_per_unit;
    t -= correction;
    if (!(std::fabs(correction) > 0x1p-36)) {
      break;
    }
  }
  const double A0 =
      std::fabs(lv.c0) +
      std::fabs(t) *
          (std::fabs(lv.q1) + std::fabs(t) * (std::fabs(lv.c2) + std::fabs(t) * std::fabs(lv.c3)));
  const double r = std::fabs(q_at(lv, t) - y_c) + 8.0 * 0x1p-53 * (A0 + std::fabs(y_c));
  const double d1 = lv.q1 + t * (2.0 * lv.c2 + 3.0 * lv.c3 * t);
  const double d2 = 2.0 * lv.c2 + 6.0 * lv.c3 * t;
  const double d3 = 6.0 * lv.c3;
  const double half = t + 0.5; // exact: |t| < 2^50
  model.base = std::nearbyint(half);
  model.c0 = half - model.base;
  model.c1 = 1.0 / d1;
  const double c1_cubed = model.c1 * model.c1 * model.c1;
  model.c2 = -0.5 * d2 * c1_cubed;
  model.c3 = (3.0 * d2 * d2 - d1 * d3) * (c1_cubed * model.c1 * model.c1) / 6.0;
  model.total = model_total(model, L);
  model.decides = bound.decides && r <= largest_residual && std::fabs(t) < 0x1p50 &&
                  std::fabs(model.c3) < __builtin_inf();
  return model;
}

} // namespace

#endif
