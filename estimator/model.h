// The model: a polynomial that places values without computing them, and its
// certified error. A model of L values v_i / u, i = first, ..., first + L - 1,
// is p(t) = c0 + t (c1 + t (c2 + t (c3 + t c4))) at t = i - centre, of degree 2,
// 3 or 4 (the coefficients above it 0), with a whole number
// `base` taken off, and a bound e on |v_i / u - base - p̂(t)| for the value p̂
// that model_kernel.h computes. certified() turns a polynomial and the first two
// parts of its bound (how the values and the function they come from differ, and
// how the polynomial approximates that function) into a model with the rest: the
// evaluation's error, the decision limit and the polynomial's sum. sample_model()
// builds the integrand's model; another function's model needs only its own
// coefficients and those two parts.
//
// Symbols, here and in the code: u the unit, a power of two; L the segment's
// length, a multiple of 64 up to 2^15; T = L/2, so that |t| <= T; R = |c0| +
// T (|c1| + T (|c2| + T (|c3| + T |c4|))), a bound on |p|. Every bound counts a
// rounding as at most 2^-53 of its result, to first order; the terms left out
// (products of two or more 2^-53s) and the bound's own arithmetic, on non-negative
// terms, add less than 2^-46 of it, so e is the sum of the parts times 1 + 2^-40,
// rounded up to a whole number of 2^-40s (at least one), which also makes 1/2 - e
// an exact double: both are multiples of 2^-40 below 1. (Rounding up to a power of
// two would leave up to twice as many values undecided.)
//
// [e_eval] The evaluation. The kernel steps through the values in chains: a chain
// holds one vector's lanes tau (|tau| <= T) and moves by D = chains * lanes >= 8
// indices a step, a power of two, to n <= 2T/D steps. It re-centres the model on
// its lanes, p(tau + s) = q0 + s (q1 + s (q2 + s q3)) with q0 = p(tau), q1 = c1 +
// tau (2 c2 + tau 3 c3), q2 = c2 + tau 3 c3 and q3 = c3. Each multiply-add, fused
// or not, errs by at most 2 * 2^-53 of its operands' magnitude (earlier errors
// raise those by far less than 2^-40), and scaling by a power of two is exact. So
// q0 lies within 6 * 2^-53 R of p(tau), q1 within 2^-50 S1 with S1 = |c1| + 2T |c2|
// + 3T^2 |c3| >= |p'|, and q2 within 2^-51 (|c2| + 3T |c3|). Note T S1 <= 3R.
//
// The first pass, p̂, takes p's forward differences over a step, A = D (q1 + D (q2
// + D q3)), B = 2D^2 (q2 + 3D q3) and C = 6D^3 q3, and then each step adds A to p,
// B to A and C to B, each sum rounded once. Using D <= 2T, A lies within
// 15.7 * 2^-52 D S1, B within 10 * 2^-52 D^2 (|c2| + 3T |c3|) and C within
// 2^-53 |C|; after n steps these and q0's error have moved p by at most n, n^2/2,
// n^3/6 and 1 times as much, in all less than 2^-44.5 R. The sums' roundings add at
// most 2^-53 of |p| <= R per step, of |A| <= D S1 per step and pair of steps, and
// of |B| <= D^2 S2 per three, S2 = 2 |c2| + 6T |c3| >= |p''| (T^2 S2 <= 6R):
// n R + (n^2/2) D S1 + (n^3/6) D^2 S2 <= 16 T R / D, times 2^-53, <= 2^-52 T R.
//
// The second pass, p̃, evaluates p(tau + s) by Horner's rule in s (0 <= s < 2T): the
// q's err by at most 13 * 2^-50 R over s, and the evaluation, whose terms total at
// most the sum of |c_k| (3T)^k <= 27 R, by at most 3 * 2 * 2^-53 * 27 R < 27 * 2^-50
// R more: 40 * 2^-50 R < 2^-44 R in all. (model_at(), Horner's rule in t, errs by
// at most 8 * 2^-53 R, with c4's multiply-add.) So e_eval = 2^-52 (T + 256) R
// bounds every evaluation.
//
// [e_eval, quartic] The quartic adds q4 = c4 and a fourth difference, E = 24 D^4
// c4, that each step adds to C. Every quantity computed before the first step, a
// q or a difference, is a sum of terms |c_k| |tau|^j D^m times whole numbers, and
// lies within 12 * 2^-53 of the same sum taken over the terms' magnitudes: at
// most 8 roundings in the q's (four multiply-adds, or three and the rounded 3 c3
// or 6 c4) and 4 more in a difference (multiply-adds whose products by 3D, 6D or
// 7D^2 round, by D not, then scaling by 2D^2 or 6D^3, which rounds). Forward
// differences carry these to p(tau + nD) = Σ_j C(n, j) Δ^j, and the same sum over
// the magnitudes is Σ |c_k| (|tau| + nD)^k <= Σ |c_k| (3T)^k <= 81 R: so they move
// p̂ by at most 12 * 81 * 2^-53 R < 2^-43 R. The steps' roundings add 2^-53 of |p|
// <= R per step, of |A| <= D S1 per step and pair, of |B| <= D^2 S2 per three and
// of |C| <= D^3 S3 per four, now with S1 = |c1| + 2T |c2| + 3T^2 |c3| + 4T^3 |c4|,
// S2 = 2 |c2| + 6T |c3| + 12T^2 |c4| and S3 = 6 |c3| + 24T |c4| >= |p'''|: with
// n <= 2T/D, D >= 8, n R + (n^2/2) D S1 + (n^3/6) D^2 S2 + (n^4/24) D^3 S3 <=
// T/4 (R + T S1 + (2/3) T^2 S2 + (1/3) T^3 S3), times 2^-53 (these S are kept,
// not bounded by R: for the inverse model, T S1 is near R and T^2 S2 far below).
// The second pass's q's err by 8 * 81 * 2^-53 R over s and its four multiply-adds
// by 8 * 81 * 2^-53 R more, below 2^-42 R in all. So e_eval = 2^-53 T/4 (R + T S1
// + (2/3) T^2 S2 + (1/3) T^3 S3) + 2^-42 R bounds every evaluation.
//
// The decision. Let n_i be p̂ rounded to a whole number and d_i = p̂ - n_i, exact
// (a multiple of p̂'s spacing, at most 1/2). If |d_i| <= 1/2 - e, then
// v_i / u - base lies strictly between n_i - 1/2 and n_i + 1/2: v_i rounds to
// base + n_i units and is no tie. Else the value is undecided and computed.
//
// The total. The kernel sums the d_i, not the n_i: Σ n_i = Σ p̂ - Σ d_i is a whole
// number. Σ p̂ lies within L e_eval of the polynomial's own sum
// P = L c0 + c1 Σt + c2 Σt^2 + c3 Σt^3 + c4 Σt^4 over t = -T, ..., T - 1, whose
// power sums (-T, (T - 1) T (2T - 1) / 3 + T^2, -T^3) are exact whole numbers
// below 2^53, but for Σt^4 (up to 2^69), which rounds three times. P as computed
// has up to five products, each inexact where L is not a power of two, and four
// sums. The products' magnitudes, L |c0|, T |c1|, Σt^2 |c2| <= (L/3 + 1) T^2 |c2|,
// T^3 |c3| and Σt^4 |c4| <= L T^4 |c4|, total at most L R; so the products err by
// at most 4 * 2^-53 L R together and each sum by 2^-53 L R: P errs by less than
// 2^-49 L R. Summed in lanes, Σ d_i errs by less than L^2 2^-55 <= 2^-25, and
// P - Σ d_i by 2^-53 (L R + L) more. The model decides only where L e_eval < 2^-4
// and L R < 2^40 (below the quartic, where L (T + 256) R < 2^48); then all of that
// is below 2^-3, so Σ n_i is the whole number nearest P - Σ d_i as computed.
//
// Internal linkage, as in vector.h.
#ifndef PI_ESTIMATE_MODEL_H
#define PI_ESTIMATE_MODEL_H

#include "kernels.h"
#include "numerics.h"

#include <cmath>
#include <cstdint>

// A segment's model (see the top of this file). A plain aggregate with external
// linkage, unlike the functions here, so that a kernel set can take one
// (kernels.h). The kernel leaves out the coefficients above the degree. The
// bound's parts are kept apart for the tests.
struct Model {
  double centre;
  double base;
  double c0, c1, c2, c3, c4;
  int degree;   // 2, 3 or 4: the higher coefficients are 0
  double total; // P, the sum of p over t = -T, ..., T - 1
  double sampling, approximation, evaluation;
  double error; // e
  double limit; // 1/2 - e
  bool decides; // whether the bound holds and e <= 2^-5, L e_eval < 2^-4, L R < 2^40
};

namespace {

// P, the sum of the model's polynomial over t = -T, ..., T - 1 (see the top).
inline double model_total(const Model &model, std::int32_t L) {
  const double T = 0.5 * L;
  const double t2_sum = (T - 1.0) * T * (2.0 * T - 1.0) / 3.0 + T * T;
  const double sum = L * model.c0 - T * model.c1 + t2_sum * model.c2 - T * T * T * model.c3;
  if (model.degree < 4) {
    return sum;
  }
  // 2 (1^4 + ... + (T-1)^4) + T^4, with n (n+1) (2n+1) (3n^2 + 3n - 1) / 30 the sum
  // of the fourth powers up to n = T - 1.
  const double n = T - 1.0;
  const double t4_sum =
      n * (n + 1.0) * (2.0 * n + 1.0) * ((3.0 * n * n + 3.0 * n) - 1.0) / 15.0 + T * T * T * T;
  return sum + t4_sum * model.c4;
}

// The model with the evaluation's part of its bound, the decision limit and the
// polynomial's sum, given its polynomial (centre, base, c0 to c3, cubic) and the
// other two parts of its bound, for L values; `holds` says whether their
// arguments do. Where the model does not decide, every value is computed.
inline Model certified(Model model, std::int32_t L, double sampling, double approximation,
                       bool holds) {
  const double T = 0.5 * L;
  const double a1 = std::fabs(model.c1);
  const double a2 = std::fabs(model.c2);
  const double a3 = std::fabs(model.c3);
  const double a4 = std::fabs(model.c4);
  const double R = std::fabs(model.c0) + T * (a1 + T * (a2 + T * (a3 + T * a4)));
  model.sampling = sampling;
  model.approximation = approximation;
  if (model.degree < 4) { // [e_eval]
    model.evaluation = 0x1p-52 * (T + 256.0) * R;
  } else { // [e_eval, quartic]
    const double S1 = a1 + T * (2.0 * a2 + T * (3.0 * a3 + T * 4.0 * a4));
    const double S2 = 2.0 * a2 + T * (6.0 * a3 + T * 12.0 * a4);
    const double S3 = 6.0 * a3 + T * 24.0 * a4;
    model.evaluation =
        0x1p-53 * T * (R / 4.0 + T * (S1 / 4.0 + T * (S2 / 6.0 + T * (S3 / 12.0)))) + 0x1p-42 * R;
  }
  model.error = (model.sampling + model.approximation + model.evaluation) * (1.0 + 0x1p-40);
  model.limit = 0.5 - std::ceil(greater(model.error, 0x1p-40) * 0x1p40) * 0x1p-40; // exact
  // L e_eval < 2^-4 and L R < 2^40; below the quartic, as L (T + 256) R < 2^48.
  const bool short_enough = model.degree < 4 ? L * (T + 256.0) * R < 0x1p48
                                             : L * model.evaluation < 0x1p-4 && L * R < 0x1p40;
  model.decides = holds && model.error <= 0x1p-5 && short_enough;
  model.total = model_total(model, L);
  return model;
}

// The integrand's model. For a block of samples v_i = 4 / (1 + x_i*x_i), with
// x_i = a + i*h as the program computes it, the values are v_i / u, and the
// function they come from is g(x) / u at the exact points X_i = a + i h, with
// g(x) = 4 / (1 + x^2). g is smooth, with |g^(k)(x) / k!| <= 4 for every x and k:
// with j^2 = -1, 1/(1 + x^2) = Im(1 / (x - j)), whose k-th derivative over k! is
// (-1)^k Im((x - j)^-(k+1)), and |x - j| >= 1; and |g'| <= 3√3/2 < 2.6. The model
// is the cubic Taylor polynomial of g(x_c + t h) / u at the computed centre
// x_c = a + centre * h, centre = first + T, with c0 less its nearest whole number,
// base; or the quadratic one where its remainder is within quadratic_target:
//
//   c_k = g^(k)(x_c) h^k / (k! u).
//
// Its parts, in units of u (X is the largest |x_i| of the segment, at one of its
// ends, since rounding is monotone; |x_c| <= X too):
//
// sampling, how far v_i / u lies from g(X_i) / u:
// - [e_sample] the sample's roundings: x_i*x_i, 1 + ..., 4 / ... each round once,
//   so v_i is g(x_i) (1 + d1) / ((1 + d2)(1 + d3)), |d| <= 2^-53: within
//   3 * 2^-53 G / u of g(x_i), with G = g at the segment's point nearest 0, at
//   least every g(x_i) there;
// - [e_point] the sample's point: i*h and a + ... round once each, so
//   |x_i - X_i| <= 2^-53 (|i h| + |x_i|) <= 2^-53 (|h| (|first| + L) + X), and g
//   moves by at most 2.6 times as much;
//
// approximation, how far g(X_i) / u - base lies from p(t) in exact arithmetic:
// - [e_centre] the centre: X_i = X_c + t h exactly, and x_c lies within the same
//   2^-53 (|h| (|first| + L) + X) of X_c as a point, moving g by 2.6 times as much;
//   2.6 * 2^-100 < 2^-98 more where an x_c below 2^-100 is taken as 0 (so nothing
//   below is subnormal);
// - [e_taylor] the Taylor remainder: at most 4 (|h| T)^4 / u, or 4 (|h| T)^3 / u
//   for the quadratic;
// - [e_coeff] the coefficients: each is a product of y = 1/(1 + x_c^2) (three
//   roundings), its powers, x_c, 3 x_c^2 - 1 or 1 - x_c^2, and powers of h
//   (scaling by u and by 2, 4, 8 or 16 is exact), with n_k = 3, 9, 17, 22
//   roundings in all. Each lies within n_k 2^-53 of its exact value relative to
//   A_k, the same product with every term's magnitude: A0 = |g| / u, A1 = |c1|,
//   A2 = 4 (3 x^2 + 1) y^3 h^2 / u and A3 = 16 |x| (1 + x^2) y^4 |h|^3 / u.
//   Counted with (n_k + 1) 2^-53, which also covers the computed A_k's own
//   rounding, that is 2^-53 (4 A0 + 10 A1 T + 18 A2 T^2 + 23 A3 T^3).
//
// These hold where every product above is a normal double (and base < 2^51):
// samples and centre finite with |x| <= model_reach, 2^-60 <= |h| and
// 2^-48 <= u <= 2^10.

// The model serves sample points up to this magnitude; beyond it the segment is
// divided out.
constexpr double model_reach = 0x1p20;

// The Taylor remainder that a segment may reach, in units. An undecided sample
// costs a division, so e, and with it the share of undecided samples (about 2e),
// should stay small; longer segments cost less to set up.
constexpr double remainder_target = 0x1p-12;

// The quadratic saves a multiply-add a sample, but pays only where its remainder
// stays far below the cubic's target (measured).
constexpr double quadratic_target = 0x1p-16;

// [e_taylor] 4 (|h| T)^(degree + 1) / u, the bound on the Taylor remainder after
// the given degree (2 or 3), in units.
inline double taylor_remainder(int degree, double h, double T, double u) {
  const double reach = std::fabs(h) * T;
  const double power = 4.0 * reach * reach * reach;
  return (degree == 3 ? power * reach : power) / u;
}

// The segment length for an interval width and unit: the longest power of two,
// from block_quantum to `longest` (at most longest_count), whose cubic's Taylor
// remainder stays within the target, else block_quantum.
inline std::int32_t model_segment(double h, double u, std::int32_t longest = longest_block) {
  std::int32_t L = longest;
  while (L > block_quantum && !(taylor_remainder(3, h, 0.5 * L, u) <= remainder_target)) {
    L /= 2;
  }
  return L;
}

// The integrand's model for the samples first, ..., first + L - 1 (see above).
inline Model sample_model(double a, double h, std::int32_t first, std::int32_t L, double u) {
  Model model{};
  const double T = 0.5 * L;
  model.centre = static_cast<double>(first) + T;
  const double x_first = a + static_cast<double>(first) * h;
  const double x_last = a + static_cast<double>(first + (L - 1)) * h;
  const bool holds = u >= 0x1p-48 && u <= 0x1p10 && std::fabs(h) >= 0x1p-60 &&
                     std::fabs(x_first) <= model_reach && std::fabs(x_last) <= model_reach;
  if (!holds) {
    return model; // beyond where the bound holds; NaN ends here too
  }
  const double X = greater(std::fabs(x_first), std::fabs(x_last));
  double x_c = a + model.centre * h;
  if (std::fabs(x_c) < 0x1p-100) {
    x_c = 0.0;
  }
  const double per_unit = 1.0 / u;
  const double x2 = x_c * x_c;
  const double y = 1.0 / (1.0 + x2);
  const double y2 = y * y;
  const double y3 = y2 * y;
  const double y4 = y2 * y2;
  const double h2 = h * h * per_unit;
  const double h3 = h * h * h * per_unit;
  const double g0 = 4.0 * y * per_unit;
  model.base = std::nearbyint(g0);
  model.c0 = g0 - model.base; // exact: g0 and its nearest whole number
  model.c1 = -8.0 * x_c * y2 * (h * per_unit);
  model.c2 = 4.0 * (3.0 * x2 - 1.0) * y3 * h2;
  const double quadratic_remainder = taylor_remainder(2, h, T, u);
  const bool cubic = !(quadratic_remainder <= quadratic_target);
  model.degree = cubic ? 3 : 2;
  model.c3 = cubic ? 16.0 * x_c * (1.0 - x2) * y4 * h3 : 0.0;

  const double x_near =
      x_first * x_last <= 0.0 ? 0.0 : lesser(std::fabs(x_first), std::fabs(x_last));
  const double G = 4.0 / (1.0 + x_near * x_near);
  const double e_sample = 3.0 * 0x1p-53 * G * per_unit;
  const double point_error =
      0x1p-53 * (std::fabs(h) * (std::fabs(static_cast<double>(first)) + L) + X);
  const double e_point = 2.6 * point_error * per_unit;
  const double e_centre = e_point + 0x1p-98 * per_unit;
  const double e_taylor = cubic ? taylor_remainder(3, h, T, u) : quadratic_remainder;
  const double A0 = g0;
  const double A1 = std::fabs(model.c1);
  const double A2 = 4.0 * (3.0 * x2 + 1.0) * y3 * std::fabs(h2);
  const double A3 = cubic ? 16.0 * std::fabs(x_c) * (1.0 + x2) * y4 * std::fabs(h3) : 0.0;
  const double e_coeff = 0x1p-53 * (4.0 * A0 + T * (10.0 * A1 + T * (18.0 * A2 + T * (23.0 * A3))));
  return certified(model, L, e_sample + e_point, e_centre + e_taylor + e_coeff, holds);
}

} // namespace

#endif
