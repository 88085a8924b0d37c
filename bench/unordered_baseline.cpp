// The unordered bound compiled like the baseline kernel: two lanes per vector.
#include "unordered_bounds.h"
#include "unordered_sum.h"

double unordered_sum_baseline(double a, double h, std::int32_t n) {
  return unordered_sum<Double2>(a, h, n);
}
