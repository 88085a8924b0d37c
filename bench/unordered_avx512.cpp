// The unordered bound compiled for AVX-512: eight lanes per vector.
#include "unordered_bounds.h"
#include "unordered_sum.h"

using Double8 = double __attribute__((vector_size(8 * sizeof(double))));

double unordered_sum_avx512(double a, double h, std::int32_t n) {
  return unordered_sum<Double8>(a, h, n);
}
