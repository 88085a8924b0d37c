// The unordered, inexact sums that bound each kernel set's speed: one for each
// instruction set, from unordered.cpp.
#ifndef PI_ESTIMATE_UNORDERED_H
#define PI_ESTIMATE_UNORDERED_H

#include <cstdint>

namespace baseline {
double unordered_sum(double a, double h, std::int32_t n);
}
#if defined(__x86_64__)
namespace avx2 {
double unordered_sum(double a, double h, std::int32_t n);
}
namespace avx512 {
double unordered_sum(double a, double h, std::int32_t n);
}
#endif

#endif
