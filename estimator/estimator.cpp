// The integrand and the equal-interval estimator. Built with PI_ESTIMATE_PLAIN_LOOP
// it adds the samples with the plain in-order loop, for the whole-process
// benchmark; the printed digits are the same.
#include "estimator.h"

#include "numerics.h"
#if !defined(PI_ESTIMATE_PLAIN_LOOP)
#include "fast_sum.h"
#include "tuning.h"
#endif

#include <iostream>

double f(double x) { return integrand(x); }

void trapezoid(double a, double b, std::int32_t N) {
  const double h = interval_width(a, b, N);
  double sum = f(a) + f(b);
  std::cout.precision(16);
  std::cout.setf(std::ios_base::fixed, std::ios_base::floatfield);
#if defined(PI_ESTIMATE_PLAIN_LOOP)
  sum = add_samples_in_order(a, h, 1, N, sum);
#else
  const KernelSet kernels = fastest_kernels();
  sum = add_interior_samples(a, h, N, sum, kernels, tuning_for(kernels.name, this_processor()));
#endif
  const double estimate = sum * h;
  std::cout << "Best estimate = " << estimate << '\n' << std::flush;
}
