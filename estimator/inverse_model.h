// The inverse model: where the samples cross each level's threshold, as a cubic
// in the level with a certified error (a Model, model.h), so that the model
// kernel decides for most levels where their samples end without evaluating a
// sample. level_sum.cpp says how level sums use these places.
//
// Level l's samples end at j_l, the first index with v_j <= t_l = (l - 1/2) u.
// For the real integrand g(x) = 4 / (1 + x^2) at the exact points a + t h
// (a >= 0, h > 0), the crossing lies at the real index t*(l) = (X(t_l) - a) / h,
// with X(y) = sqrt(4/y - 1), the inverse of g on x >= 0. Symbols as in model.h:
// L levels, centre l_c = first level + T, s = l - l_c, |s| <= T = L/2.
//
// [δ, as "sampling"] A sample v_j differs from g at the exact point X_j = a + j h
// by at most E = 2^-53 (3 G + 2.6 (|j h| + x_j)) (model.h's [e_sample] and
// [e_point], not divided by u), with G = g at the segment's nearest crossing and
// |j h| <= x_j for a >= 0. Where |g'| >= m between X_j and X(t_l), an index
// j <= t* - δ, δ = E / (h m), has g(X_j) >= t_l + δ h m > t_l + E, so v_j > t_l;
// and j >= t* + δ gives v_j < t_l. So where no whole number lies within δ of t*,
// j_l = ⌈t*⌉, the sample there lies strictly below t_l (no tie) and the one
// before strictly above. |g'(x)| = 8x / (1 + x^2)^2 rises up to x = 1/√3 and then
// falls, so m is its smaller value at the ends of the segment's crossings,
// widened by 2^-20 of x (more than δ h, which the model checks).
//
// The values the kernel rounds are V_l = t*(l) + 1/2 - base: where V_l lies more
// than δ from every half-integer, it rounds to j_l - base. The polynomial is the
// Taylor cubic P(s) of (X(y_c' + s u) - a) / h + 1/2 - base at y_c' = g(x_c),
// where x_c is X(y_c), y_c = (l_c - 1/2) u, as computed; its coefficients are
//
//   d0 = (x_c - a) / h,  d1 = -(1 + x^2)^2 / (8x) u / h,
//   d2 = (3x^2 - 1)(1 + x^2)^3 / (128 x^3) u^2 / h,
//   d3 = -(5x^4 - 2x^2 + 1)(1 + x^2)^4 / (1024 x^5) u^3 / h  (x = x_c),
//
// that is X^(k)(y_c') u^k / (k! h), from X' = 1/g', X'' = -g''/g'^3 and
// X''' = (3 g''^2 - g' g''') / g'^5. Its "approximation" parts, in indices:
// - [e_centre] x_c lies within dx = 2^-53 ((4/y_c + w) / (2 x_c) + x_c) of X(y_c)
//   (4/y_c, w = 4/y_c - 1 and the square root each round once), so y_c' within
//   2.6 dx of y_c, which moves X(y + s u) by at most 2.6 dx / m;
// - [e_taylor] X is analytic on the disc |y - y_c'| <= ρ = θ min(y_c, 4 - y_c),
//   θ <= 7/8, which avoids the singularities at 0 and 4 (y_c' is within 2^-40 y_c
//   of y_c), and there |X| <= M = sqrt(4 / (y_c (1 - 2^-40) - ρ) + 1). By Cauchy's
//   estimate the cubic's remainder at |s u| <= r = T u is at most
//   M (r/ρ)^4 / (1 - r/ρ), over h; the smallest of θ = 1/2, 3/4, 7/8 is taken;
// - [e_coeff] the coefficients' roundings: n_k = 2, 8, 17, 25 (with the computed
//   magnitude's own, 3, 9, 18, 26) relative to the magnitudes A0 = |d0| (x_c - a
//   rounds to within 2^-53 of its own magnitude, and so does the quotient), |d1|,
//   A2 (3x^2 + 1 for 3x^2 - 1) and A3 (5x^4 + 2x^2 + 1 for the quartic); d0 + 1/2
//   and its less base are exact (|d0| < 2^50, so 1/2 is a multiple of its spacing).
// The evaluation's part is the model kernel's (model.h).
//
// These hold where the levels' thresholds lie strictly between 0 and 4, and every
// quantity above is a normal double: h >= 2^-60, a >= 0, the crossings from
// inverse_reach on (near x = 0, X is singular and levels are few and long).
// Internal linkage, as in vector.h.
#ifndef PI_ESTIMATE_INVERSE_MODEL_H
#define PI_ESTIMATE_INVERSE_MODEL_H

#include "kernels.h"
#include "model.h"
#include "numerics.h"

#include <cmath>
#include <cstdint>

namespace {

// The inverse model serves crossings from this x on.
constexpr double inverse_reach = 0x1p-6;

// The Taylor remainder, in indices, that a segment of levels may reach.
constexpr double inverse_remainder_target = 0x1p-12;

// [e_taylor] The Cauchy bound on the cubic's remainder, in indices, for levels
// within r of y_c (in threshold), with h the interval width.
inline double inverse_remainder(double y_c, double r, double h) {
  const double room = lesser(y_c, 4.0 - y_c);
  double best = INFINITY;
  const double thetas[] = {0.5, 0.75, 0.875};
  for (const double theta : thetas) {
    const double rho = theta * room;
    if (!(r < 0.5 * rho)) {
      continue;
    }
    const double M = std::sqrt(4.0 / (y_c * (1.0 - 0x1p-40) - rho) + 1.0);
    const double q = r / rho;
    best = lesser(best, M * (q * q * q * q) / (1.0 - q) / h);
  }
  return best * (1.0 + 0x1p-40);
}

// The levels a segment of the inverse model holds for levels from `top` down: a
// power of two, from block_quantum to longest_block and at most top, whose
// remainder stays within the target, tried from twice `previous` (the last
// segment's) down; 0 where even the shortest does not serve. Segments change
// slowly from one to the next, so this takes one or two tries.
inline std::int32_t inverse_segment(double top, double u, double h, std::int32_t previous) {
  for (std::int32_t L = lesser(2 * previous, longest_block); L >= block_quantum; L /= 2) {
    if (L <= top) {
      const double y_c = (top - 0.5 * L + 0.5) * u;
      if (inverse_remainder(y_c, 0.5 * L * u, h) <= inverse_remainder_target) {
        return L;
      }
    }
  }
  return 0;
}

// The inverse model for the L levels from `lowest` up (see above), with t = l -
// lowest - T: the kernel's index i is l - lowest.
inline Model level_model(double a, double h, double u, double lowest, std::int32_t L) {
  Model model{};
  const double T = 0.5 * L;
  model.centre = T;
  const double y_c = (lowest + T - 0.5) * u;
  const double y_low = (lowest - 0.5) * u;            // the farthest crossing's threshold
  const double y_high = (lowest + (L - 1) - 0.5) * u; // the nearest crossing's
  const double x_near = std::sqrt(4.0 / y_high - 1.0) * (1.0 - 0x1p-20);
  const double x_far = std::sqrt(4.0 / y_low - 1.0) * (1.0 + 0x1p-20);
  const bool holds = a >= 0.0 && a <= model_reach && h >= 0x1p-60 && h <= 1.0 && y_low > 0.0 &&
                     y_high < 4.0 && x_near >= inverse_reach && x_far <= model_reach &&
                     u >= 0x1p-48 && u <= 0x1p-4;
  if (!holds) {
    return model; // NaN ends here too
  }
  const double w = 4.0 / y_c - 1.0;
  const double x_c = std::sqrt(w);
  const double x2 = x_c * x_c;
  const double q = 1.0 + x2;
  const double q2 = q * q;
  const double q3 = q2 * q;
  const double q4 = q2 * q2;
  const double x3 = x2 * x_c;
  const double x5 = x3 * x2;
  const double d0 = (x_c - a) / h;
  model.base = std::nearbyint(d0 + 0.5);
  model.c0 = (d0 + 0.5) - model.base; // exact: see above
  model.c1 = -q2 / (8.0 * x_c) * (u / h);
  model.c2 = (3.0 * x2 - 1.0) * q3 / (128.0 * x3) * (u * u / h);
  model.c3 = -((5.0 * x2 * x2 - 2.0 * x2) + 1.0) * q4 / (1024.0 * x5) * (u * u * u / h);
  model.cubic = true;

  const auto slope = [](double x) { return 8.0 * x / ((1.0 + x * x) * (1.0 + x * x)); }; // |g'|
  const double m = lesser(slope(x_near), slope(x_far)) * (1.0 - 0x1p-40);
  const double G = 4.0 / (1.0 + x_near * x_near);
  const double E = 0x1p-53 * (3.0 * G + 5.2 * (x_far + 2.0 * h)) * (1.0 + 0x1p-40);
  const double delta = E / (h * m) * (1.0 + 0x1p-40);
  const double dx = 0x1p-53 * ((4.0 / y_c + w) / (2.0 * x_c) + x_c) * (1.0 + 0x1p-40);
  const double e_centre = 2.6 * dx / (h * m) * (1.0 + 0x1p-40);
  const double e_taylor = inverse_remainder(y_c, T * u, h);
  const double A0 = std::fabs(d0);
  const double A2 = (3.0 * x2 + 1.0) * q3 / (128.0 * x3) * (u * u / h);
  const double A3 = ((5.0 * x2 * x2 + 2.0 * x2) + 1.0) * q4 / (1024.0 * x5) * (u * u * u / h);
  const double e_coeff =
      0x1p-53 * (3.0 * A0 + T * (9.0 * std::fabs(model.c1) + T * (18.0 * A2 + T * (26.0 * A3))));
  // The widening covers δ, and d0 + 1/2 is exact.
  const bool within = delta * h <= 0x1p-21 * x_near && std::fabs(d0) < 0x1p50;
  return certified(model, L, delta, e_centre + e_taylor + e_coeff, within);
}

} // namespace

#endif
