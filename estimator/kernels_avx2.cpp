// The vector kernels compiled for AVX2: four lanes per vector.
#include "fast_sum.h"
#include "level_kernel.h"
#include "model_kernel.h"
#include "sample_sum.h"

double block_sum_avx2(double a, double h, std::int32_t first, std::int32_t count,
                      double unit) {
  return rounded_sample_sum<Double4, Bits4>(a, h, first, count, unit);
}

double model_sum_avx2(double a, double h, std::int32_t first, std::int32_t count,
                      double unit) {
  return modelled_sample_sum<Double4, Bits4>(a, h, first, count, unit);
}

LevelRun level_sum_avx2(double a, double h, double unit, std::int32_t first,
                        std::int32_t last, double level, double room, double spread) {
  return level_run<Double4>(a, h, unit, first, last, level, room, spread);
}
