// The integrand 4 / (1 + x*x) and the equal-interval estimator of its integral,
// which writes the labelled estimate to standard output.
#ifndef PI_ESTIMATE_ESTIMATOR_H
#define PI_ESTIMATE_ESTIMATOR_H

#include <cstdint>

// Returns 4 / (1 + x*x).
double f(double x);

// Estimates the integral of f over [a, b] with N equal intervals (N >= 1) as
// h * (f(a) + f(b) + f(a + h) + ... + f(a + (N-1)h)), with h = (b - a) / N and N
// rounded to single precision, and writes "Best estimate = " and the estimate with
// 16 fixed decimals as one flushed line. Standard output is left in fixed notation
// with precision 16.
void trapezoid(double a, double b, std::int32_t N);

#endif
