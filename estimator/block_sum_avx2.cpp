// The vector kernel compiled for AVX2: four lanes per vector.
#include "fast_sum.h"
#include "sample_sum.h"

using Double4 = double __attribute__((vector_size(4 * sizeof(double))));
using Bits4 = std::uint64_t __attribute__((vector_size(4 * sizeof(std::uint64_t))));

double block_sum_avx2(double a, double h, std::int32_t first, std::int32_t count,
                      double unit) {
  return rounded_sample_sum<Double4, Bits4>(a, h, first, count, unit);
}
