// The integrand's formula and the in-order sum of interior samples, written once
// and shared by the estimator and by every instruction-set variant of the fast sum.
//
// Everything here has internal linkage on purpose: the files that include it are
// compiled for different instruction sets, and each must keep its own copy rather
// than let the linker pick one compiled for a processor that may not be there.
#ifndef PI_ESTIMATE_SAMPLE_SUM_H
#define PI_ESTIMATE_SAMPLE_SUM_H

#include <cstdint>

namespace {

// 4 / (1 + x*x) for a double or for a vector of doubles, lane by lane: the same
// three correctly rounded operations either way.
template <typename Real> inline Real integrand(Real x) {
  return 4.0 / (1.0 + x * x);
}

// Adds the samples f(a + i*h) for i = first, ..., last - 1 to sum, one after the
// other. Each sample point is computed afresh from i; repeated addition of h would
// accumulate rounding errors.
inline double add_samples_in_order(double a, double h, std::int32_t first,
                                   std::int32_t last, double sum) {
  for (std::int32_t i = first; i < last; ++i) {
    const double x = a + static_cast<double>(i) * h;
    sum = sum + integrand(x);
  }
  return sum;
}

} // namespace

#endif
