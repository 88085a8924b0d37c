// The inverse model: where the samples cross each level's threshold, as a cubic or
// quartic in the level with a certified error (a Model, model.h), so that the model
// kernel decides for most levels where their samples end without evaluating a
// sample. level_sum.cpp says how level sums use these places.
//
// Level l's samples end at j_l, the first index with v_j <= t_l = (l - 1/2) u.
// For the real integrand g(x) = 4 / (1 + x^2) at the exact points a + t h
// (a >= 0, h > 0), the crossing lies at the real index t*(l) = (X(t_l) - a) / h,
// with X(y) = sqrt(4/y - 1), the inverse of g on x >= 0. Symbols as in model.h:
// L levels, centre l_c = first level + T, s = l - l_c, |s| <= T = L/2. The
// segment's crossings lie from x_near, at its top level, to x_far, at its lowest,
// each as computed and widened by 2^-20 of x.
//
// [δ, as "sampling"] j_l = ⌈t*⌉ as soon as the sample before it lies strictly
// above t_l and the sample at it strictly below: the computed samples never
// increase, so every earlier one lies above and every later one below, and none
// is a tie. Only those two samples decide, and their exact points X_j = a + j h
// lie within h of the crossing X(t_l), which lies in [x_near, x_far]: X_j lies in
// [x_near - h, x_far + h]. A sample differs from g(X_j) by at most 2^-53 (3 g(x_j)
// + 2.6 (|j h| + x_j)) (model.h's [e_sample] and [e_point], not divided by u),
// with |j h| <= x_j for a >= 0. As g falls from x = 0 on, that is at most
//
//   E = 2^-53 (3 G + 5.2 (x_far + h)),  G = g(max(x_near - h, 0)),
//
// where the computed point x_j differs from X_j by less than 2^-52 of it, which
// moves both terms by less than the 2^-40 margin kept on E. Where |g'| >= m
// between X(t_l) and X(t_l) ± δ h, δ = E / (h m), the sample before, at an index
// j <= t* - δ, has g(X_j) >= t_l + δ h m = t_l + E, so v_j > t_l (strictly: E
// covers every rounding strictly); the sample at j >= t* + δ has v_j < t_l alike.
// So where no whole number lies within δ of t*, j_l = ⌈t*⌉, and neither sample
// is a tie. |g'(x)| = 8x / (1 + x^2)^2 rises up to x = 1/√3 and then falls, so m
// is its smaller value at x_near and x_far, which the widening puts more than δ h
// beyond the crossings (the model checks that).
//
// The values the kernel rounds are V_l = t*(l) + 1/2 - base: where V_l lies more
// than δ from every half-integer, it rounds to j_l - base. The polynomial is the
// Taylor polynomial P(s) of (X(y_c' + s u) - a) / h + 1/2 - base at y_c' = g(x_c),
// where x_c is X(y_c), y_c = (l_c - 1/2) u, as computed: the quartic where the
// model kernel alone places the levels' ends (its segments are about four times
// as long), the cubic where they are counted (count_kernel.h takes a cubic). From
// dx/dy = 1/g'(x) = -(1 + x^2)^2 / (8x), each derivative of X is the x-derivative
// of the one before times dx/dy:
//
//   X'     = -(1 + x^2)^2 / (8x),
//   X''    = (3x^2 - 1)(1 + x^2)^3 / (64 x^3),
//   X'''   = -3 (5x^4 - 2x^2 + 1)(1 + x^2)^4 / (512 x^5),
//   X''''  = 3 (35x^6 - 15x^4 + 9x^2 - 5)(1 + x^2)^5 / (4096 x^7),
//   X''''' = -15 (63x^8 - 28x^6 + 18x^4 - 12x^2 + 7)(1 + x^2)^6 / (32768 x^9),
//
// and the coefficients are d_k = X^(k)(y_c') u^k / (k! h) (x = x_c), with
// d0 = (x_c - a) / h. Their "approximation" parts, in indices:
// - [e_centre] x_c, computed as sqrt((4 - y_c) / y_c), lies within dx =
//   1.5 * 2^-53 x_c of X(y_c): 4 - y_c is exact (a multiple of 2^-49 below 4, as
//   every threshold is), the quotient rounds once, moving the root by half as much
//   relatively, and the root once. (4/y_c - 1 would lose about 2^-54 / x_c^2 of
//   x_c to cancellation: near x = 2^-6 at the largest counts, as much as the
//   remainder's target.) So y_c' lies within 2.6 dx of y_c, which moves
//   X(y + s u) by at most 2.6 dx / m;
// - [e_taylor] Lagrange's remainder: the cubic errs at s by X''''(ξ) (s u)^4 / 24
//   for some ξ between y_c' and y_c' + s u, whose crossing lies in [x_near, x_far]
//   (y_c' is within 2^-40 y_c of y_c, which moves x by far less than the
//   widening). There (1 + x^2)^5 <= (1 + x_far^2)^5 and x^7 >= x_near^7; and
//   35x^6 - 15x^4 + 9x^2 - 5, a rising term less another, lies between its value
//   with x_near in the first and x_far in the second and the reverse, so its
//   magnitude is at most the larger of theirs. So the remainder is at most
//   (1 + x_far^2)^5 |35x^6 - ...|max (T u)^4 / (32768 x_near^7 h); as computed,
//   the two differences err by less than 2^-48 of the terms at x_far, which is
//   added, and the rest are products and quotients of positive terms. The
//   quartic errs by X'''''(ξ) (s u)^5 / 120, alike at most (1 + x_far^2)^6
//   |63x^8 - ...|max (T u)^5 / (262144 x_near^9 h), with 63x^8 + 18x^4 + 7 less
//   28x^6 + 12x^2;
// - [e_coeff] the coefficients' roundings: n_k = 2, 8, 17, 25, 33 (with the
//   computed magnitude's own, 3, 9, 18, 26, 34) relative to the magnitudes
//   A0 = |d0| (x_c - a rounds to within 2^-53 of its own magnitude, and so does
//   the quotient), |d1|, A2 (3x^2 + 1 for 3x^2 - 1), A3 (5x^4 + 2x^2 + 1 for the
//   quartic) and A4 (35x^6 + 15x^4 + 9x^2 + 5 for the sextic; (1 + x^2)^5 and x^7
//   each take one product more than the cubic's powers); d0 + 1/2 and its less
//   base are exact (|d0| < 2^50, so 1/2 is a multiple of its spacing).
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

// The inverse model serves crossings from this x on. Nearer 0 its segments are
// short, and guesses confirmed by two samples cost less; from 2^-10 on it paid
// on Zen 4 (3 to 8% from N = 1.6e8 up, against 2^-6).
constexpr double inverse_reach = 0x1p-10;

// The Taylor remainder, in indices, that a segment of levels may reach. About 2e
// of the levels are undecided, each costing a few exact samples and a second pass
// over its stretch of 256 levels in the kernel; longer segments cost less to set
// up. Where the remainder limits segments (from about 2^28 samples), 2^-14 was up
// to 7% faster than 2^-12 on Zen 5, and 2^-15 no faster.
constexpr double inverse_remainder_target = 0x1p-14;

// X(y), where the real integrand crosses y, as computed: within 1.5 * 2^-53 of
// itself for a threshold y (see [e_centre]).
inline double crossing(double y) { return std::sqrt((4.0 - y) / y); }

// The largest magnitude of rising(x^2) - falling(x^2) for x from x_near to x_far,
// each term rising with x (see [e_taylor]), with 2^-48 of the terms at x_far for
// the roundings of the differences.
template <typename Rising, typename Falling>
double largest_difference(Rising rising, Falling falling, double near2, double far2) {
  return greater(rising(far2) - falling(near2), falling(far2) - rising(near2)) +
         0x1p-48 * (rising(far2) + falling(far2));
}

// [e_taylor] The bound on the remainder after the given degree (3 or 4), in
// indices, for crossings from x_near to x_far and levels within r of the centre
// (in threshold).
inline double inverse_remainder(int degree, double x_near, double x_far, double r, double h) {
  const double near2 = x_near * x_near;
  const double far2 = x_far * x_far;
  const double q = 1.0 + far2;
  const double q5 = q * q * q * q * q;
  const double x7 = near2 * near2 * near2 * x_near;
  const double r4 = r * r * r * r;
  if (degree == 3) {
    const double most =
        largest_difference([](double x2) { return (35.0 * x2 * x2 + 9.0) * x2; }, // 35x^6 + 9x^2
                           [](double x2) { return 15.0 * x2 * x2 + 5.0; },        // 15x^4 + 5
                           near2, far2);
    return q5 * most / (32768.0 * x7) * r4 / h * (1.0 + 0x1p-40);
  }
  const double most = largest_difference(
      [](double x2) { return (63.0 * x2 * x2 + 18.0) * (x2 * x2) + 7.0; }, // 63x^8 + 18x^4 + 7
      [](double x2) { return (28.0 * x2 * x2 + 12.0) * x2; },              // 28x^6 + 12x^2
      near2, far2);
  return q5 * q * most / (262144.0 * x7 * near2) * (r4 * r) / h * (1.0 + 0x1p-40);
}

// The inverse model of the given degree (3 or 4) for the L levels from `lowest`
// up (see above), with t = l - lowest - T: the kernel's index i is l - lowest.
// x_near and x_far are the segment's widened crossings, and e_taylor their
// remainder bound.
inline Model level_model(int degree, double a, double h, double u, double lowest, std::int32_t L,
                         double x_near, double x_far, double e_taylor) {
  Model model{};
  const double T = 0.5 * L;
  model.centre = T;
  const double y_c = (lowest + T - 0.5) * u;
  const double y_low = (lowest - 0.5) * u;            // the farthest crossing's threshold
  const double y_high = (lowest + (L - 1) - 0.5) * u; // the nearest crossing's
  const bool holds = a >= 0.0 && a <= model_reach && h >= 0x1p-60 && h <= 1.0 && y_low > 0.0 &&
                     y_high < 4.0 && x_near >= inverse_reach && x_far <= model_reach &&
                     u >= 0x1p-48 && u <= 0x1p-4;
  if (!holds) {
    return model; // NaN ends here too
  }
  const double x_c = crossing(y_c);
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
  model.degree = degree;
  const double q5 = q4 * q;
  const double x7 = x5 * x2;
  const double u4 = (u * u) * (u * u); // exact: a power of two
  if (degree == 4) {
    model.c4 = (((35.0 * x2 - 15.0) * x2 + 9.0) * x2 - 5.0) * q5 / (32768.0 * x7) * (u4 / h);
  }

  const auto slope = [](double x) { return 8.0 * x / ((1.0 + x * x) * (1.0 + x * x)); }; // |g'|
  const double m = lesser(slope(x_near), slope(x_far)) * (1.0 - 0x1p-40);
  const double x_before = greater(x_near - h, 0.0); // where the samples before may lie
  const double G = 4.0 / (1.0 + x_before * x_before);
  const double E = 0x1p-53 * (3.0 * G + 5.2 * (x_far + h)) * (1.0 + 0x1p-40);
  const double delta = E / (h * m) * (1.0 + 0x1p-40);
  const double dx = 1.5 * 0x1p-53 * x_c * (1.0 + 0x1p-40);
  const double e_centre = 2.6 * dx / (h * m) * (1.0 + 0x1p-40);
  const double A0 = std::fabs(d0);
  const double A2 = (3.0 * x2 + 1.0) * q3 / (128.0 * x3) * (u * u / h);
  const double A3 = ((5.0 * x2 * x2 + 2.0 * x2) + 1.0) * q4 / (1024.0 * x5) * (u * u * u / h);
  const double A4 =
      degree == 4 ? (((35.0 * x2 + 15.0) * x2 + 9.0) * x2 + 5.0) * q5 / (32768.0 * x7) * (u4 / h)
                  : 0.0;
  const double e_coeff =
      0x1p-53 * (3.0 * A0 + T * (9.0 * std::fabs(model.c1) +
                                 T * (18.0 * A2 + T * (26.0 * A3 + T * 34.0 * A4))));
  // The widening covers δ, and d0 + 1/2 is exact.
  const bool within = delta * h <= 0x1p-21 * x_near && std::fabs(d0) < 0x1p50;
  return certified(model, L, delta, e_centre + e_taylor + e_coeff, within);
}

// A segment of the inverse model: how many levels it holds (0 for none) and
// their model.
struct InverseSegment {
  std::int32_t levels;
  Model model;
};

// The longest segment of levels from `top` down whose remainder stays within the
// target: a power of two up to `longest` (one of block_quantum to longest_block),
// at least `shortest` and block_quantum long and at most top.
//
// The lengths that keep within the target and within top are closed downwards:
// the remainder as computed at 2L is at least 16 times its value at L, 32 for the
// quartic (r^4 or r^5 grows by exactly that, and every other factor, rounded
// monotonely, only grows as the far crossing moves out). So the search may start
// anywhere: from `likely` (a power of two up to longest; segments change slowly,
// so the last one's length), up while the next length keeps within the target,
// else down until one does. Going up is tried only where the remainder is within
// a sixteenth (a 32nd) of the target: mostly it is not, and the choice takes one
// try.
inline InverseSegment inverse_segment(int degree, double a, double h, double u, double top,
                                      std::int32_t longest, double shortest, std::int32_t likely) {
  const double x_near = crossing((top - 0.5) * u) * (1.0 - 0x1p-20);
  const auto remainder = [degree, h, u, top, x_near](std::int32_t L, double &x_far) {
    x_far = crossing((top - L + 0.5) * u) * (1.0 + 0x1p-20);
    return inverse_remainder(degree, x_near, x_far, 0.5 * L * u, h);
  };
  const auto fits = [top](std::int32_t L, double e) {
    return L <= top && e <= inverse_remainder_target; // NaN fails
  };
  std::int32_t L = lesser(greater(likely, block_quantum), longest);
  double x_far = 0.0;
  double e_taylor = remainder(L, x_far);
  if (fits(L, e_taylor)) {
    while (L < longest && e_taylor <= inverse_remainder_target / (degree == 4 ? 32.0 : 16.0)) {
      double x_far_longer = 0.0;
      const double e_longer = remainder(2 * L, x_far_longer);
      if (!fits(2 * L, e_longer)) {
        break;
      }
      L *= 2;
      x_far = x_far_longer;
      e_taylor = e_longer;
    }
  } else {
    do {
      L /= 2;
      e_taylor = remainder(L, x_far);
    } while (L >= block_quantum && !fits(L, e_taylor));
  }
  if (L < block_quantum || !(L >= shortest)) { // NaN fails
    return {0, Model{}};
  }
  return {L, level_model(degree, a, h, u, top - (L - 1), L, x_near, x_far, e_taylor)};
}

} // namespace

#endif
