// The unordered bound compiled for AVX2: four lanes per vector.
#include "unordered_bounds.h"
#include "unordered_sum.h"

double unordered_sum_avx2(double a, double h, std::int32_t n) {
  return unordered_sum<Double4>(a, h, n);
}
