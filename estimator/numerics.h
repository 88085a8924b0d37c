// The scalar numerics that the estimator and every kernel share: the integrand's
// formula, the interval width, the spacing of doubles and the binade's unit, and
// the in-order sum of interior samples that every faster strategy must equal.
// Internal linkage, as in vector.h.
#ifndef PI_ESTIMATE_NUMERICS_H
#define PI_ESTIMATE_NUMERICS_H

#include <cstdint>

namespace {

// The smaller and the larger of two values, as std::min and std::max give them.
// Here, not from <algorithm>: a template of the standard library instantiated in
// kernels.cpp, compiled for wider instruction sets, is a weak symbol that the
// linker may pick for every caller, unless the compiler inlines each use (it
// does not without optimization); these have internal linkage, like the rest.
template <typename T> T lesser(T x, T y) { return y < x ? y : x; }
template <typename T> T greater(T x, T y) { return x < y ? y : x; }

// The width of one of N equal intervals of [a, b]. The count enters rounded to
// single precision: for N above 2^24 the divisor is the nearest float, not N.
inline double interval_width(double a, double b, std::int32_t N) {
  return (b - a) / static_cast<double>(static_cast<float>(N));
}

// 4 / (1 + x*x) for a double or for a vector of doubles, lane by lane: the same
// three correctly rounded operations either way. The level kernel also uses the
// numerator and denominator on their own.
constexpr double numerator = 4.0;
template <typename Real> inline Real denominator(Real x) { return 1.0 + x * x; }
template <typename Real> inline Real integrand(Real x) { return numerator / denominator(x); }

// Adds the samples f(a + i*h) for i = first, ..., last - 1 to sum, one after the
// other. Each sample point is computed afresh from i; repeated addition of h would
// accumulate rounding errors.
inline double add_samples_in_order(double a, double h, std::int32_t first, std::int32_t last,
                                   double sum) {
  for (std::int32_t i = first; i < last; ++i) {
    const double x = a + static_cast<double>(i) * h;
    sum = sum + integrand(x);
  }
  return sum;
}

// For a normal double y with |y| in [2^k, 2^(k+1)), 2^(k-52): the gap from |y| to
// the next double up, and at least the gap to the next one down.
inline double spacing_at(double y) {
  std::uint64_t bits = 0;
  __builtin_memcpy(&bits, &y, sizeof bits);
  bits &= 0x7ff0000000000000U; // 2^k: |y| with its significand cleared
  __builtin_memcpy(&y, &bits, sizeof bits);
  return y * 0x1p-52;
}

// The unit of the binade [2^k, 2^(k+1)) that holds sum, 2^(k-52): the spacing of
// the doubles there. It is 0 outside [16, 2^1000), where neither fast strategy
// applies: below 16 a sample (up to 4) is too large next to the binade, and a NaN
// sum has no binade.
inline double unit_of(double sum) { return sum >= 16.0 && sum < 0x1p1000 ? spacing_at(sum) : 0.0; }

} // namespace

#endif
