// The vector kernels for the baseline instruction set: SSE2 on x86, NEON on
// aarch64, whatever the compiler makes of two-lane vectors elsewhere.
#include "fast_sum.h"
#include "level_kernel.h"
#include "model_kernel.h"
#include "sample_sum.h"

double block_sum_baseline(double a, double h, std::int32_t first, std::int32_t count,
                          double unit) {
  return rounded_sample_sum<Double2, Bits2>(a, h, first, count, unit);
}

double model_sum_baseline(double a, double h, std::int32_t first, std::int32_t count,
                          double unit) {
  return modelled_sample_sum<Double2, Bits2>(a, h, first, count, unit);
}

LevelRun level_sum_baseline(double a, double h, double unit, std::int32_t first,
                            std::int32_t last, double level, double room, double spread) {
  return level_run<Double2>(a, h, unit, first, last, level, room, spread);
}
