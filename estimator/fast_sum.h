// The fast sum of interior samples: exactly the result of the in-order loop, by
// strategies that one function, choose_strategy() at the top of fast_sum.cpp,
// picks stretch by stretch: the in-order loop; blocks of samples evaluated in
// vector lanes, each sample divided out or its rounding decided by a model, or
// counted by where the model's values cross each level; and level sums that count
// how many samples round to each multiple of the binade's unit. The kernels
// behind them are in kernels.h, the thresholds in tuning.h.
#ifndef PI_ESTIMATE_FAST_SUM_H
#define PI_ESTIMATE_FAST_SUM_H

#include "kernels.h"
#include "tuning.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>

enum class Strategy { in_order, division_blocks, model_blocks, counted_blocks, levels };
constexpr std::size_t strategy_count = 5;

// How many samples each strategy added, indexed by Strategy.
using Tally = std::array<std::int64_t, strategy_count>;

// sum + f(a + h) + f(a + 2h) + ... + f(a + (n-1)h), bit for bit what adding the
// samples one after the other in that order gives, with the kernels given, each
// strategy chosen where the tuning says it pays. Counts into tally, if given, how
// many samples each strategy added.
double add_interior_samples(double a, double h, std::int32_t n, double sum, KernelSet kernels,
                            Tuning tuning, Tally *tally = nullptr);

// How far the samples have been added: all before `index`, into `sum`.
struct Progress {
  std::int32_t index;
  double sum;
};

// Where a strategy stopped, why, and (for level sums) where the batch that
// stopped them ends.
struct Reached {
  Progress at;
  Stop why;
  std::int32_t until;
};

// A strategy, where its stretch ends, and for counted blocks how many depths
// below the samples they may count by levels.
struct Step {
  Strategy strategy;
  std::int32_t end;
  int depths;
};

// Which strategy adds the samples from reached.at on, and how far.
Step choose_strategy(double a, double h, std::int32_t n, Reached reached, Tuning tuning);

// The strategies. Each adds the samples from at.index up to end, exactly as in
// order, or stops early and says why. add_blocks needs a sum where unit_of is
// positive; add_levels also needs samples that never increase.
Reached add_blocks(double a, double h, Progress at, std::int32_t end, BlockSum kernel);
Reached add_counted_blocks(double a, double h, Progress at, std::int32_t end, CountSum kernel,
                           int depths);
Reached add_levels(double a, double h, Progress at, std::int32_t end, LevelSum kernel,
                   Tuning tuning);

// A kernel set built into this program, and whether this processor has the
// instructions it uses.
struct SumPath {
  KernelSet kernels;
  bool runnable;
};

#define PI_ESTIMATE_ONE_EACH(set, runs) 1,
constexpr std::size_t path_count =
    std::initializer_list<int>{PI_ESTIMATE_KERNEL_SETS(PI_ESTIMATE_ONE_EACH)}.size();
#undef PI_ESTIMATE_ONE_EACH

// The kernel sets built into this program, widest first.
std::array<SumPath, path_count> built_paths();

// The widest kernel set that this processor can run.
KernelSet fastest_kernels();

#endif
