// The fast sum of interior samples: blocks of samples evaluated many lanes at a
// time, yet added with exactly the result of the in-order loop, and the vector
// kernels behind it, one for each instruction set.
#ifndef PI_ESTIMATE_FAST_SUM_H
#define PI_ESTIMATE_FAST_SUM_H

#include <array>
#include <cstddef>
#include <cstdint>

// A vector kernel: the sum of f(a + i*h), i = first, ..., first + count - 1, each
// sample rounded to a multiple of unit, or NaN where a sample lies halfway between
// two multiples. count is a multiple of block_quantum; unit is a power of two, at
// least 2^-48.
using BlockSum = double (*)(double a, double h, std::int32_t first, std::int32_t count,
                            double unit);

constexpr std::int32_t block_quantum = 64;

double block_sum_baseline(double a, double h, std::int32_t first, std::int32_t count,
                          double unit);
#if defined(__x86_64__)
double block_sum_avx2(double a, double h, std::int32_t first, std::int32_t count,
                      double unit);
double block_sum_avx512(double a, double h, std::int32_t first, std::int32_t count,
                        double unit);
#endif

struct SumPath {
  const char *name;
  BlockSum block_sum;
  bool runnable; // whether this processor has the instructions it uses
};

#if defined(__x86_64__)
constexpr std::size_t path_count = 3;
#else
constexpr std::size_t path_count = 1;
#endif

// The kernels built into this program, widest first.
std::array<SumPath, path_count> built_paths();

// The widest kernel that this processor can run.
BlockSum fastest_block_sum();

// sum + f(a + h) + f(a + 2h) + ... + f(a + (n-1)h), bit for bit what adding the
// samples one after the other in that order gives.
double add_interior_samples(double a, double h, std::int32_t n, double sum,
                            BlockSum block_sum);

#endif
