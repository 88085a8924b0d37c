// The unordered, inexact sums that bound each vector kernel's speed.
#ifndef PI_ESTIMATE_UNORDERED_BOUNDS_H
#define PI_ESTIMATE_UNORDERED_BOUNDS_H

#include <cstdint>

double unordered_sum_baseline(double a, double h, std::int32_t n);
#if defined(__x86_64__)
double unordered_sum_avx2(double a, double h, std::int32_t n);
double unordered_sum_avx512(double a, double h, std::int32_t n);
#endif

#endif
