// The fast sum of interior samples: exactly the result of the in-order loop, by
// two strategies (blocks of samples evaluated in vector lanes, and level sums
// that count how many samples round to each multiple of the binade's unit), and
// the vector kernels behind them, one set for each instruction set.
#ifndef PI_ESTIMATE_FAST_SUM_H
#define PI_ESTIMATE_FAST_SUM_H

#include <array>
#include <cstddef>
#include <cstdint>

// A block kernel: the sum of f(a + i*h), i = first, ..., first + count - 1, each
// sample rounded to a multiple of unit, or NaN where a sample lies halfway between
// two multiples. count is a multiple of block_quantum; unit is a power of two, at
// least 2^-48.
using BlockSum = double (*)(double a, double h, std::int32_t first, std::int32_t count,
                            double unit);

constexpr std::int32_t block_quantum = 64;

// What a level kernel reached: the samples from its first up to `end` rounded to
// multiples of the unit total `units` units. Where it stopped before a batch of
// levels that holds a tie or reaches the binade's top, `stop` is where that batch
// ends; else it is `end`.
struct LevelRun {
  std::int32_t end;
  double units;
  std::int32_t stop;
};

// A level kernel, for samples that never increase with i. The sample at `first`
// rounds to `level` units and is no tie. It totals the rounded samples from first
// up to `last`, locating where they drop below each level, many levels at a time.
// It stops before a batch of levels that holds a tie or whose total would reach
// `room` units, and after one that spans fewer than `spread` samples per level
// (or fewer than one).
using LevelSum = LevelRun (*)(double a, double h, double unit, std::int32_t first,
                              std::int32_t last, double level, double room, double spread);

// The kernels of one instruction set, and how many samples a level should span,
// at the least, for its level sums to be cheaper than its blocks (measured).
struct Kernels {
  BlockSum block_sum;
  LevelSum level_sum;
  double levels_pay_off;
};

double block_sum_baseline(double a, double h, std::int32_t first, std::int32_t count,
                          double unit);
LevelRun level_sum_baseline(double a, double h, double unit, std::int32_t first,
                            std::int32_t last, double level, double room, double spread);
#if defined(__x86_64__)
double block_sum_avx2(double a, double h, std::int32_t first, std::int32_t count,
                      double unit);
LevelRun level_sum_avx2(double a, double h, double unit, std::int32_t first,
                        std::int32_t last, double level, double room, double spread);
double block_sum_avx512(double a, double h, std::int32_t first, std::int32_t count,
                        double unit);
LevelRun level_sum_avx512(double a, double h, double unit, std::int32_t first,
                          std::int32_t last, double level, double room, double spread);
#endif

struct SumPath {
  const char *name;
  Kernels kernels;
  bool runnable; // whether this processor has the instructions it uses
};

#if defined(__x86_64__)
constexpr std::size_t path_count = 3;
#else
constexpr std::size_t path_count = 1;
#endif

// The kernels built into this program, widest first.
std::array<SumPath, path_count> built_paths();

// The widest kernels that this processor can run.
Kernels fastest_kernels();

// How far the samples have been added: all before `index`, into `sum`.
struct Progress {
  std::int32_t index;
  double sum;
};

// sum + f(a + h) + f(a + 2h) + ... + f(a + (n-1)h), bit for bit what adding the
// samples one after the other in that order gives. Level sums take over where the
// samples never increase and a level spans about levels_from samples or more:
// kernels.levels_pay_off for speed, 0 to use them wherever they apply, infinity
// never.
double add_interior_samples(double a, double h, std::int32_t n, double sum, Kernels kernels,
                            double levels_from);

// Whether, at the sample point x with the sum in a binade of this unit, a level
// spans about levels_from samples or more.
bool levels_span(double unit, double x, double h, double levels_from);

// The two strategies. Both add the samples from at.index on, exactly as in order.
// add_blocks stops at last, or where levels_span(..., levels_from) holds.
// add_levels stops at last, or after it has handed a stretch of samples where
// level sums did not serve (a tie, the binade's top, levels spanning fewer than
// levels_from samples) to add_blocks; it needs samples that never increase and a
// sum where unit_of is positive.
Progress add_blocks(double a, double h, Progress at, std::int32_t last, double levels_from,
                    BlockSum block_sum);
Progress add_levels(double a, double h, Progress at, std::int32_t last, double levels_from,
                    Kernels kernels);

#endif
