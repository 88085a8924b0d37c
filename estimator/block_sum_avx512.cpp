// The vector kernel compiled for AVX-512: eight lanes per vector.
#include "fast_sum.h"
#include "sample_sum.h"

double block_sum_avx512(double a, double h, std::int32_t first, std::int32_t count,
                        double unit) {
  return rounded_sample_sum<Double8, Bits8>(a, h, first, count, unit);
}
