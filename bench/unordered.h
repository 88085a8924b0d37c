// The unordered, inexact sums that bound each kernel set's speed: one for each
// instruction set, from unordered.cpp.
#ifndef PI_ESTIMATE_UNORDERED_H
#define PI_ESTIMATE_UNORDERED_H

#include "kernel_sets.h"

#include <cstdint>

#define PI_ESTIMATE_DECLARE_UNORDERED(set, runs)                                                   \
  namespace set {                                                                                  \
  double unordered_sum(double a, double h, std::int32_t n);                                        \
  }
PI_ESTIMATE_KERNEL_SETS(PI_ESTIMATE_DECLARE_UNORDERED)
#undef PI_ESTIMATE_DECLARE_UNORDERED

#endif
