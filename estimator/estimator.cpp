// The integrand and the equal-interval estimator.
#include "estimator.h"

#include "fast_sum.h"
#include "numerics.h"
#include "tuning.h"

#include <iostream>

double f(double x) { return integrand(x); }

void trapezoid(double a, double b, std::int32_t N) {
  const double h = interval_width(a, b, N);
  double sum = f(a) + f(b);
  std::cout.precision(16);
  std::cout.setf(std::ios_base::fixed, std::ios_base::floatfield);
  const KernelSet kernels = fastest_kernels();
  sum = add_interior_samples(a, h, N, sum, kernels, tuning_for(kernels.name, this_processor()));
  const double estimate = sum * h;
  std::cout << "Best estimate = " << estimate << '\n' << std::flush;
}
