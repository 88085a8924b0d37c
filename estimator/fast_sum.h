// The fast sum of interior samples: exactly the result of the in-order loop, by
// strategies that one function, choose_strategy() in fast_sum.cpp, picks stretch
// by stretch: the in-order loop; blocks of samples evaluated in vector lanes, each
// sample divided out or its rounding decided by a model; and level sums that count
// how many samples round to each multiple of the binade's unit. Below are the
// vector kernels behind them, one set for each instruction set.
#ifndef PI_ESTIMATE_FAST_SUM_H
#define PI_ESTIMATE_FAST_SUM_H

#include <array>
#include <cstddef>
#include <cstdint>

struct Kernels;

// A block kernel: the sum of f(a + i*h), i = first, ..., first + count - 1, each
// sample rounded to a multiple of unit, or NaN where a sample lies halfway between
// two multiples. count is a multiple of block_quantum below 2^14; unit is a power
// of two, at least 2^-48. Division kernels divide out every sample; model kernels
// decide most samples' rounding without dividing (model_kernel.h).
using BlockSum = double (*)(double a, double h, std::int32_t first, std::int32_t count,
                            double unit);

constexpr std::int32_t block_quantum = 64;

// sum + f(a + h) + f(a + 2h) + ... + f(a + (n-1)h), bit for bit what adding the
// samples one after the other in that order gives, with the kernels given.
double add_interior_samples(double a, double h, std::int32_t n, double sum, Kernels kernels);

// How far the samples have been added: all before `index`, into `sum`.
struct Progress {
  std::int32_t index;
  double sum;
};

// Why a strategy stopped where it did.
enum class Stop {
  done,       // it added the whole stretch it was given
  tie_or_top, // level sums: a batch of levels, ending at `until`, holds a tie or
              // reaches the binade's top
  sparse,     // level sums: from here on a level spans too few samples to pay
};

struct Reached {
  Progress at;
  Stop why;
  std::int32_t until;
};

enum class Strategy { in_order, division_blocks, model_blocks, levels };

// A strategy, and where its stretch ends.
struct Step {
  Strategy strategy;
  std::int32_t end;
};

// Which strategy adds the samples from reached.at on, and how far.
Step choose_strategy(double a, double h, std::int32_t n, Reached reached, const Kernels &kernels);

// The strategies. Each adds the samples from at.index up to end, exactly as in
// order, or stops early and says why. add_blocks needs a sum where unit_of is
// positive; add_levels also needs samples that never increase.
Reached add_blocks(double a, double h, Progress at, std::int32_t end, BlockSum kernel);
Reached add_levels(double a, double h, Progress at, std::int32_t end, Kernels kernels);

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

// The kernels of one instruction set, and where each pays off (measured): level
// sums where a level spans levels_pay_off samples or more, the model where its
// segments (model_segment()) are model_pays_off samples long or longer. A threshold
// of 0 uses a strategy wherever it applies, infinity never. model_sum is null where
// the model does not pay at all.
struct Kernels {
  BlockSum block_sum;
  BlockSum model_sum;
  LevelSum level_sum;
  double levels_pay_off;
  double model_pays_off;
};

double block_sum_baseline(double a, double h, std::int32_t first, std::int32_t count,
                          double unit);
double model_sum_baseline(double a, double h, std::int32_t first, std::int32_t count,
                          double unit);
LevelRun level_sum_baseline(double a, double h, double unit, std::int32_t first,
                            std::int32_t last, double level, double room, double spread);
#if defined(__x86_64__)
double block_sum_avx2(double a, double h, std::int32_t first, std::int32_t count,
                      double unit);
double model_sum_avx2(double a, double h, std::int32_t first, std::int32_t count,
                      double unit);
LevelRun level_sum_avx2(double a, double h, double unit, std::int32_t first,
                        std::int32_t last, double level, double room, double spread);
double block_sum_avx512(double a, double h, std::int32_t first, std::int32_t count,
                        double unit);
double model_sum_avx512(double a, double h, std::int32_t first, std::int32_t count,
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

#endif
