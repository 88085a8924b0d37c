// The fast sum against the in-order loop, bit for bit, on every kernel set and
// by every strategy; the kernels' detection of ties; which strategy the chooser
// gives most samples; and the model's error bound.
#include "count_kernel.h"
#include "cubic_inverse.h"
#include "estimator.h"
#include "fast_sum.h"
#include "inverse_model.h"
#include "level_kernel.h"
#include "model_kernel.h"
#include "numerics.h"
#include "tuning.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <random>
#include <string>
#include <vector>

// Names a kernel set in test output (found by argument-dependent lookup).
void PrintTo(const SumPath &path, std::ostream *os) { *os << path.kernels.name; }

namespace {

std::uint64_t bits_of(double x) {
  std::uint64_t bits = 0;
  std::memcpy(&bits, &x, sizeof bits);
  return bits;
}

std::vector<SumPath> all_paths() {
  const auto paths = built_paths();
  return {paths.begin(), paths.end()};
}

std::string path_name(const testing::TestParamInfo<SumPath> &info) {
  return info.param.kernels.name;
}

// This processor's tuning for a kernel set.
Tuning tuning_here(const KernelSet &kernels) { return tuning_for(kernels.name, this_processor()); }

// Dividing blocks alone, with the fields that `set` sets by name.
template <typename Set> Tuning forcing(Set set) {
  Tuning tuning = dividing_only();
  set(tuning);
  return tuning;
}

// Level sums wherever they apply, their ends placed by the inverse model or not,
// and counted down to `depth` depths.
Tuning levels_forced(bool by_the_model, int depth) {
  return forcing([by_the_model, depth](Tuning &t) {
    t.model_from_segment = 0;
    t.levels_from_span = 0;
    t.levels_model_from_segment = by_the_model ? 0 : INFINITY;
    t.levels_depth = depth;
  });
}

// Blocks counted wherever the model applies, two depths down from `deeper_from`.
Tuning counted_forced(double deeper_from) {
  return forcing([deeper_from](Tuning &t) {
    t.model_from_segment = 0;
    t.count_from_span = 0;
    t.count_deeper_from_span = deeper_from;
  });
}

class FastSum : public testing::TestWithParam<SumPath> {
protected:
  void SetUp() override {
    if (!GetParam().runnable) {
      GTEST_SKIP() << GetParam().kernels.name << ": this processor cannot run it";
    }
  }

  // Expects the fast sum over [a, b] with n intervals, by every strategy, to equal
  // the in-order one; in the every-count sweeps, by every strategy but the deeper
  // counts (see below).
  static void expect_identical(double a, double b, std::int32_t n, bool sweep = false) {
    const double h = interval_width(a, b, n);
    const double start = f(a) + f(b);
    const double in_order = add_samples_in_order(a, h, 1, n, start);
    const KernelSet kernels = GetParam().kernels;
    // As the program chooses; level sums (placing levels' ends by guess and
    // confirmation, or by the inverse model, its ends counted down to each depth)
    // and the model wherever they apply (even where they cost more); blocks that
    // divide, blocks by the model, and blocks counted down to each depth, wherever
    // they apply, without level sums.
    // The sweeps' small counts test the first samples, block edges and tails; the
    // levels' ends need longer segments than those counts hold to be counted (in
    // both sweeps together, about ten segments at one depth, none at two),
    // and so does a second depth below the samples (never): those are tested from
    // the random counts on and by the kernels' own tests, which show that each
    // depth was reached.
    const struct {
      const char *name;
      Tuning tuning;
      bool in_sweeps;
    } strategies[] = {{"dispatched", tuning_here(kernels), true},
                      {"levels", levels_forced(false, 0), true},
                      {"levels by the model", levels_forced(true, 0), true},
                      {"levels counted, one depth", levels_forced(true, 1), false},
                      {"levels counted, two depths", levels_forced(true, 2), false},
                      {"division", dividing_only(), true},
                      {"model", forcing([](Tuning &t) { t.model_from_segment = 0; }), true},
                      {"counted, one depth", counted_forced(INFINITY), true},
                      {"counted, two depths", counted_forced(0), false}};
    for (const auto &strategy : strategies) {
      if (sweep && !strategy.in_sweeps) {
        continue;
      }
      const double fast = add_interior_samples(a, h, n, start, kernels, strategy.tuning);
      EXPECT_EQ(bits_of(fast), bits_of(in_order))
          << strategy.name << " a=" << a << " b=" << b << " N=" << n << ": " << fast << " vs "
          << in_order;
    }
  }

  // Every count from first to last over [0, 1], where levels are sparser than
  // samples at these counts, and over [0, 2^-16], where a level spans many.
  static void expect_identical_for_every_count(std::int32_t first, std::int32_t last) {
    for (std::int32_t n = first; n <= last && !HasFailure(); ++n) {
      expect_identical(0.0, 1.0, n, true);
      expect_identical(0.0, 0x1p-16, n, true);
    }
  }
};

// The first part is quick enough to run under emulation too.
TEST_P(FastSum, MatchesTheInOrderLoopForEveryCountUpTo3000) {
  expect_identical_for_every_count(1, 3000);
}

TEST_P(FastSum, MatchesTheInOrderLoopForEveryCountFrom3001To30000) {
  expect_identical_for_every_count(3001, 30000);
}

TEST_P(FastSum, MatchesTheInOrderLoopForRandomCountsUpTo2To27) {
  std::mt19937 random(20261208);
  std::uniform_int_distribution<std::int32_t> count(30000, 1 << 27);
  for (int trial = 0; trial < 12; ++trial) {
    expect_identical(0.0, 1.0, count(random));
  }
}

// Around 2^24 the count starts to be rounded in the width; around (2^k - 3) / pi
// the final sum ends just below or just above 2^k.
TEST_P(FastSum, MatchesTheInOrderLoopAtRoundingAndBinadeEdges) {
  for (std::int32_t n = (1 << 24) - 3; n <= (1 << 24) + 3; ++n) {
    expect_identical(0.0, 1.0, n);
  }
  for (int k = 8; k <= 28; ++k) {
    const auto middle = static_cast<std::int32_t>((std::ldexp(1.0, k) - 3.0) / 3.141592653589793);
    for (std::int32_t n = middle - 2; n <= middle + 2; ++n) {
      expect_identical(0.0, 1.0, n);
    }
  }
}

// Some where the samples do not fall as i grows, some where a level spans many
// samples: near 0, and where f is small and flat. Over the short intervals of
// power-of-two length the samples fall on few doubles, so the model meets many
// samples that it cannot place (and ties) at counts that are powers of two.
TEST_P(FastSum, MatchesTheInOrderLoopOverOtherIntervals) {
  const double bounds[][2] = {
      {-1.0, 1.0},    {1.0, 0.0},          {0.5, 3.0},         {-2.0, 7.0},
      {0.0, 1e-300},  {0.0, 1e300},        {0.0, INFINITY},    {NAN, 1.0},
      {0.0, 0x1p-13}, {0.25, 0.2500001},   {100.0, 100.00001}, {-0.0, 1.0},
      {0.0, 0x1p-8},  {-0x1p-12, 0x1p-12}, {0x1p-4, 0.0},      {1e6, 1e6 + 1.0}};
  for (const auto &bound : bounds) {
    for (const std::int32_t n : {1000, 65536, 100003, 1 << 20}) {
      expect_identical(bound[0], bound[1], n);
    }
  }
}

// About the running sum near sample i, from the integral of f.
double sum_near(double a, double h, std::int32_t i) {
  const double x = a + static_cast<double>(i) * h;
  return f(a) + 4.0 * (std::atan(x) - std::atan(a)) / h;
}

// The running sum's unit near sample i: as a kernel would be given it there.
double unit_near(double a, double h, std::int32_t i) { return unit_of(sum_near(a, h, i)); }

// How steeply f falls at x >= 0: |f'(x)| = 8x / (1 + x^2)^2.
double fall_of(double x) { return 8.0 * x / ((1.0 + x * x) * (1.0 + x * x)); }

// A block for a block kernel: sample points a + i*h from `first` on, rounded to
// multiples of unit.
struct Block {
  double a, h;
  std::int32_t first, count;
  double unit;
};

// Blocks whose sample indices are negative, as the kernels' contract allows: a
// far from 0, h a power of two of either sign (so that the points and many samples
// are exact, and ties frequent), sample points in [-2, 2], and units 2^-k for k
// from `coarsest` to `finest`.
std::vector<Block> negative_index_blocks(std::mt19937 &random, int how_many, int coarsest,
                                         int finest) {
  std::vector<Block> blocks;
  std::uniform_real_distribution<double> offset(4.0, 40.0);
  std::uniform_real_distribution<double> point(-2.0, 2.0);
  std::uniform_int_distribution<int> scale(18, 30);
  std::uniform_int_distribution<int> fine(coarsest, finest);
  std::uniform_int_distribution<int> quanta(1, 8);
  for (int k = 0; k < how_many; ++k) {
    const double sign = k % 2 == 0 ? 1.0 : -1.0; // h > 0 with a > 0, or h < 0 with a < 0
    const double a = sign * offset(random);
    const double h = sign * std::ldexp(1.0, -scale(random));
    const auto first = static_cast<std::int32_t>(std::fmax((point(random) - a) / h, -2e9));
    blocks.push_back({a, h, first, block_quantum * quanta(random), std::ldexp(1.0, -fine(random))});
  }
  return blocks;
}

// The model kernel against the division kernel, block by block: the same total,
// or both NaN for a tie. First where the model decides samples over whole sums,
// with blocks of one to 128 quanta, so segments of every length, whole and cut
// short; the intervals of power-of-two length make undecided samples and ties
// frequent. Then blocks with negative indices. The model's own decisions, replayed
// here, show that the kernel met ties and had to divide samples out where the
// model decides.
TEST_P(FastSum, ModelKernelMatchesTheDivisionKernel) {
  const KernelSet kernels = GetParam().kernels;
  const struct {
    double a, b;
    std::int32_t n;
  } sums[] = {{0.0, 0x1p-16, 1 << 16}, {0.0, 0x1p-8, 1 << 20}, {-0x1p-12, 0x1p-12, 1 << 18},
              {0.0, 1.0, 1 << 20},     {0.0, 1.0, 16777217},   {-1.0, 3.0, 5000011}};
  std::vector<Block> blocks;
  for (const auto &sum : sums) {
    const double h = interval_width(sum.a, sum.b, sum.n);
    for (std::int32_t first = 1; first <= sum.n - 8192; first += sum.n / 64 + 7) {
      blocks.push_back(
          {sum.a, h, first, block_quantum * (1 + first % 128), unit_near(sum.a, h, first)});
    }
  }
  const std::size_t from_sums = blocks.size();
  // With units where the model decides; the first block is one that a point term
  // of the wrong sign once made the model decide wrongly.
  blocks.push_back({0x1.c4ee50fd0fe82p+4, 0x1p-26, -1801113701, 64, 0x1p-43});
  std::mt19937 random(20261210);
  for (const Block &block : negative_index_blocks(random, 300, 38, 45)) {
    blocks.push_back(block);
  }
  long ties[2] = {0, 0};      // blocks with a tie where the model decides: whole sums, negative
  long undecided[2] = {0, 0}; // undecided samples there
  for (std::size_t k = 0; k < blocks.size(); ++k) {
    const Block &b = blocks[k];
    const double modelled = kernels.model(b.a, b.h, b.first, b.count, b.unit);
    const double divided = kernels.divide(b.a, b.h, b.first, b.count, b.unit);
    EXPECT_EQ(bits_of(modelled), bits_of(divided))
        << "a=" << b.a << " h=" << b.h << " first=" << b.first << " count=" << b.count
        << " unit=" << b.unit;
    const std::int32_t length = std::min(b.count, model_segment(b.h, b.unit));
    const Model model = sample_model(b.a, b.h, b.first, length, b.unit);
    const int kind = k < from_sums ? 0 : 1;
    ties[kind] += std::isnan(divided) && model.decides ? 1 : 0;
    for (std::int32_t i = b.first; model.decides && i < b.first + length; ++i) {
      const double p = model_at<3>(model, static_cast<double>(i) - model.centre);
      undecided[kind] += std::fabs(p - std::nearbyint(p)) > model.limit ? 1 : 0;
    }
  }
  std::printf("[          ] where the model decides: %ld and %ld blocks with a tie, %ld and %ld "
              "undecided samples (whole sums, negative indices)\n",
              ties[0], ties[1], undecided[0], undecided[1]);
  EXPECT_GT(ties[0], 0);
  EXPECT_GT(undecided[0], 100);
  EXPECT_GT(ties[1], 0);
  EXPECT_GT(undecided[1], 100);
}

// What a count down to `deepest` depths met, printed: at every depth it must have
// totalled items, and met undecided items and ties among them.
void expect_every_depth_met(const CountTally &tally, int deepest, const char *what) {
  std::printf("[          ] %s down %d depths: items, undecided items and ties by depth:", what,
              deepest);
  for (int d = 0; d <= deepest; ++d) {
    std::printf(" %lld, %lld, %lld;", static_cast<long long>(tally.items[d]),
                static_cast<long long>(tally.undecided[d]), static_cast<long long>(tally.ties[d]));
    EXPECT_GT(tally.items[d], 0) << what << ", depth " << d << " of " << deepest;
    EXPECT_GT(tally.undecided[d], 0) << what << ", depth " << d << " of " << deepest;
    EXPECT_GT(tally.ties[d], 0) << what << ", depth " << d << " of " << deepest;
  }
  std::printf("\n");
}

// The counting kernel against the division kernel, block by block, counted down
// to one depth and to two: the same total, or both NaN for a tie. The blocks
// come from whole sums where a level spans a tenth of a sample to one sample, and
// from intervals of power-of-two length, where samples fall on few doubles, so
// that undecided items, and ties among them, are frequent. What the kernel met
// shows that every depth was counted, and met undecided items and ties.
TEST_P(FastSum, CountKernelMatchesTheDivisionKernel) {
  const KernelSet kernels = GetParam().kernels;
  const struct {
    double a, b;
    std::int32_t n;
  } sums[] = {{0.0, 1.0, 1 << 26},
              {0.0, 1.0, 112863206},
              {0.0, 1.0, 1 << 27},
              {0.0, 0x1p-8, 1 << 20},
              {0.25, 0.25 + 0x1p-12, 1 << 18},
              {0.5, 0.5 + 0x1p-12, 1 << 18},
              {0.125, 0.125 + 0x1p-12, 1 << 22},
              {-0x1p-10, 0x1p-10, 1 << 21}};
  // Each block as long as the sum's binade leaves room for (at most 4 a sample),
  // as blocks are (block_sum.cpp), up to longest_count.
  std::vector<Block> blocks;
  for (const auto &sum : sums) {
    const double h = interval_width(sum.a, sum.b, sum.n);
    for (std::int32_t first = 1; first <= sum.n - longest_count; first += sum.n / 48 + 5) {
      const double unit = unit_near(sum.a, h, first);
      const double room = (0x1p53 * unit - sum_near(sum.a, h, first)) / 4.0;
      const auto count =
          static_cast<std::int32_t>(std::fmin(room, longest_count)) / block_quantum * block_quantum;
      if (count > 0) {
        blocks.push_back({sum.a, h, first, count, unit});
      }
    }
  }
  for (int deepest = 1; deepest <= 2; ++deepest) {
    CountTally tally{};
    for (const Block &b : blocks) {
      const double counted = kernels.count(b.a, b.h, b.first, b.count, b.unit, deepest, &tally);
      double divided = 0.0; // whole multiples of the unit: exact, or NaN for a tie
      for (std::int32_t part = 0; part < b.count; part += longest_block) {
        divided += kernels.divide(b.a, b.h, b.first + part, std::min(longest_block, b.count - part),
                                  b.unit);
      }
      EXPECT_EQ(bits_of(counted), bits_of(divided))
          << "depths " << deepest << ": a=" << b.a << " h=" << b.h << " first=" << b.first
          << " unit=" << b.unit;
    }
    expect_every_depth_met(tally, deepest, "blocks counted");
  }
}

// The model kernel's total for a model of its own, not the integrand's: values
// base + 1/8 + t/4 at t = i - centre, all exact and none a tie, with a base of
// either sign; and a count that is not whole rounds of its chains, which the
// kernel must refuse rather than total values past the end.
TEST(ModelKernel, TotalsValuesOfEitherSignInWholeRoundsOfChains) {
  const auto exact = [](Double2 /*i*/, Double2 guess, auto /*undecided*/) { return guess; };
  for (const double base : {-1000.0, 0.0, 0x1p30, -0x1p30}) {
    const std::int32_t L = longest_block;
    Model model{};
    model.centre = 0.5 * L;
    model.base = base;
    model.c0 = 0.125;
    model.c1 = 0.25;
    model = certified(model, L, 0x1p-50, 0x1p-50, true);
    ASSERT_TRUE(model.decides);
    double expected = 0.0; // whole numbers below 2^53: exact
    for (std::int32_t i = 0; i < L; ++i) {
      expected += std::nearbyint(base + 0.125 + 0.25 * (i - model.centre));
    }
    const Units all = modelled_units_of<Double2, Bits2>(0, L, model, exact);
    EXPECT_FALSE(all.tie) << "base " << base;
    EXPECT_EQ(static_cast<std::int64_t>(all.total), static_cast<std::int64_t>(expected))
        << "base " << base;
    EXPECT_TRUE((modelled_units_of<Double2, Bits2>(0, 36, model, exact).tie)) << "base " << base;
  }
}

// The samples f(i/8), i = first, ..., first + 63, rounded one by one to multiples
// of 2 and summed.
double rounded_to_twos(std::int32_t first) {
  double sum = 0.0;
  for (std::int32_t i = first; i < first + block_quantum; ++i) {
    sum += 2.0 * std::nearbyint(f(i * 0.125) / 2.0);
  }
  return sum;
}

// f(i/8) is 256 / (64 + i^2), never an odd whole number; at i = 8 it is 2, a tie
// when rounded to a multiple of 4. The first index moves i = 8 through every lane.
// The model kernel cannot place these samples and must divide them all out.
TEST_P(FastSum, KernelDetectsATieInAnyLane) {
  for (const BlockSum kernel : {GetParam().kernels.divide, GetParam().kernels.model}) {
    for (std::int32_t first = -55; first <= 8; ++first) {
      EXPECT_TRUE(std::isnan(kernel(0.0, 0.125, first, block_quantum, 4.0))) << "first=" << first;
      EXPECT_EQ(kernel(0.0, 0.125, first, block_quantum, 2.0), rounded_to_twos(first))
          << "first=" << first;
    }
    EXPECT_TRUE(std::isnan(kernel(NAN, 0.125, 1, block_quantum, 1.0)));
  }
}

// Each strategy on its own, from a given place, against the in-order loop up to
// where it stopped: where level sums start on a tie (f(1) = 2 is half the unit 4,
// and the sum's last bit decides), and where the sum reaches its binade's top
// within the stretch, with levels that span many samples.
TEST_P(FastSum, EachStrategyMatchesTheInOrderLoopFromItsStart) {
  const KernelSet kernels = GetParam().kernels;
  const struct {
    const char *name;
    double a, h;
    Progress at;
    std::int32_t end;
  } cases[] = {
      {"tie at the first sample", 0.0, 0.125, {8, 0x1p54 + 4.0}, 200},
      {"top within the stretch", 0.0, 0x1p-30, {1 << 29, 0x1p40 - 0x1p24}, (1 << 29) + (1 << 23)}};
  const struct {
    const char *name;
    Reached (*add)(const KernelSet &kernels, double a, double h, Progress at, std::int32_t end);
  } strategies[] = {
      {"division", [](const KernelSet &k, double a, double h, Progress at,
                      std::int32_t end) { return add_blocks(a, h, at, end, k.divide); }},
      {"model", [](const KernelSet &k, double a, double h, Progress at,
                   std::int32_t end) { return add_blocks(a, h, at, end, k.model); }},
      {"levels",
       [](const KernelSet &k, double a, double h, Progress at, std::int32_t end) {
         return add_levels(a, h, at, end, k.levels, levels_forced(false, 0));
       }},
      {"levels by the model",
       [](const KernelSet &k, double a, double h, Progress at, std::int32_t end) {
         return add_levels(a, h, at, end, k.levels, levels_forced(true, 0));
       }},
      {"counted", [](const KernelSet &k, double a, double h, Progress at, std::int32_t end) {
         return add_counted_blocks(a, h, at, end, k.count, 2);
       }}};
  for (const auto &c : cases) {
    for (const auto &strategy : strategies) {
      const Reached reached = strategy.add(kernels, c.a, c.h, c.at, c.end);
      EXPECT_GT(reached.at.index, c.at.index) << strategy.name << ", " << c.name;
      EXPECT_LE(reached.at.index, c.end) << strategy.name << ", " << c.name;
      const double in_order =
          add_samples_in_order(c.a, c.h, c.at.index, reached.at.index, c.at.sum);
      EXPECT_EQ(bits_of(reached.at.sum), bits_of(in_order))
          << strategy.name << ", " << c.name << ": up to " << reached.at.index;
    }
  }
}

// Which strategy adds most samples over [0, 1], for each kernel set with each
// entry of the tuning table (and the safest, for a processor that none names): a
// chooser that never picks the model, or level sums, fails this.
TEST_P(FastSum, EachStrategyTakesTheCountsWhereItPays) {
  const KernelSet kernels = GetParam().kernels;
  const auto division = Strategy::division_blocks;
  const auto model = Strategy::model_blocks;
  const auto counted = Strategy::counted_blocks;
  const auto levels = Strategy::levels;
  const struct {
    const char *kernel_set;
    Processor processor;
    Strategy at_2_20, at_2_24, at_2_25, at_largest;
  } expected[] = {// Each row as tuning_for() fills it in: the Xeons count with the safest
                  // measured elsewhere, with AVX-512 from a twentieth of a sample a
                  // level (N = 2^25), with AVX2 from a fortieth (N = 2^24).
                  {"avx512", {"intel", 6}, model, model, counted, levels},
                  {"avx512", {"amd", 25}, model, counted, counted, levels},
                  {"avx512", {"amd", 26}, division, model, counted, levels},
                  {"avx512", {"amd", 27}, division, model, counted, levels}, // the safest
                  {"avx2", {"intel", 6}, model, counted, counted, levels},
                  {"avx2", {"amd", 25}, model, counted, counted, levels},
                  {"avx2", {"amd", 26}, model, counted, counted, levels}, // Zen 5: the safest
                  {"sse2", {"amd", 25}, model, counted, counted, levels},
                  {"sse2", {"intel", 6}, model, counted, counted, levels},
                  {"generic", {"", 0}, model, counted, counted, levels}, // as SSE2
                  {"unfused", {"", 0}, model, counted, counted, levels}};
  int checked = 0;
  for (const auto &row : expected) {
    if (std::strcmp(row.kernel_set, kernels.name) != 0) {
      continue;
    }
    const Tuning tuning = tuning_for(row.kernel_set, row.processor);
    const std::pair<std::int32_t, Strategy> counts[] = {{1 << 20, row.at_2_20},
                                                        {1 << 24, row.at_2_24},
                                                        {1 << 25, row.at_2_25},
                                                        {INT32_MAX, row.at_largest}};
    for (const auto &[n, most] : counts) {
      Tally tally{};
      add_interior_samples(0.0, interval_width(0.0, 1.0, n), n, 6.0, kernels, tuning, &tally);
      const auto busiest = std::max_element(tally.begin(), tally.end()) - tally.begin();
      EXPECT_EQ(busiest, static_cast<std::ptrdiff_t>(most))
          << row.processor.vendor << " family " << row.processor.family << ", N=" << n
          << ": samples by strategy " << tally[0] << ", " << tally[1] << ", " << tally[2] << ", "
          << tally[3] << ", " << tally[4];
      EXPECT_EQ(std::accumulate(tally.begin(), tally.end(), std::int64_t{0}), n - 1);
      ++checked;
    }
  }
  EXPECT_GT(checked, 0) << "no expectations for " << kernels.name;
}

// Every value that the tuning hands a sum was measured: on the processor's own
// entry where it was measured there, else the safest measured for the kernel set
// (the highest threshold, the fewest depths), else the safest of the set that
// measured_like() names. An unmeasured value read as "never" fails this.
TEST(Tuning, EveryValueWasMeasuredForTheSetOrTheSetLikeIt) {
  const struct {
    const char *name;
    double (*of)(const Tuning &);
    bool fewer_is_safer;
  } fields[] = {
      {"model_from_segment", [](const Tuning &t) { return t.model_from_segment; }, false},
      {"levels_from_span", [](const Tuning &t) { return t.levels_from_span; }, false},
      {"levels_model_from_segment", [](const Tuning &t) { return t.levels_model_from_segment; },
       false},
      {"count_from_span", [](const Tuning &t) { return t.count_from_span; }, false},
      {"count_deeper_from_span", [](const Tuning &t) { return t.count_deeper_from_span; }, false},
      {"levels_depth", [](const Tuning &t) { return static_cast<double>(t.levels_depth); }, true},
      {"ends_shallower_from_span", [](const Tuning &t) { return t.ends_shallower_from_span; },
       false}};
  std::vector<Processor> processors = {{"amd", 27}, {"intel", 6}, {"", 0}}; // none named
  for (const TuningEntry &entry : tuning_table()) {
    processors.push_back(entry.processor);
  }
  int borrowed = 0; // values taken from another entry or set
  for (const char *set : {"avx512", "avx2", "sse2", "generic", "unfused"}) {
    for (const Processor processor : processors) {
      const Tuning tuning = tuning_for(set, processor);
      const Tuning own = measured_for(set, processor);
      for (const auto &field : fields) {
        const double value = field.of(tuning);
        if (field.of(own) != unmeasured) {
          EXPECT_EQ(value, field.of(own)) << set << " " << processor.vendor << processor.family;
          continue;
        }
        // The safest that the set, else the set like it, measured.
        const auto safest_in = [&field](const char *from) {
          double safest = unmeasured;
          for (const TuningEntry &entry : tuning_table()) {
            const double measured = field.of(entry.tuning);
            if (from == nullptr || std::strcmp(entry.kernel_set, from) != 0 ||
                measured == unmeasured) {
              continue;
            }
            safest = safest == unmeasured   ? measured
                     : field.fewer_is_safer ? std::min(safest, measured)
                                            : std::max(safest, measured);
          }
          return safest;
        };
        const double own_safest = safest_in(set);
        const double safest = own_safest != unmeasured ? own_safest : safest_in(measured_like(set));
        EXPECT_NE(safest, unmeasured) << "nothing measured for " << set << " " << field.name;
        EXPECT_EQ(value, safest) << set << " on " << processor.vendor << " family "
                                 << processor.family << ": " << field.name;
        ++borrowed;
      }
    }
  }
  EXPECT_GT(borrowed, 0);
  // A set that nothing was measured for, nor like it: dividing blocks alone.
  for (const auto &field : fields) {
    EXPECT_EQ(field.of(tuning_for("unknown", {"amd", 25})), field.of(dividing_only()))
        << field.name;
  }
}

// Counted blocks go a second depth down where a level spans count_deeper_from_span
// samples or more, one depth where it spans less: at a few points of N = 2^25, with
// the threshold a tenth below and above the span there.
TEST(Chooser, CountsASecondDepthDownWhereALevelSpansEnough) {
  const std::int32_t n = 1 << 25;
  const double h = interval_width(0.0, 1.0, n);
  for (const std::int32_t i : {n / 8, n / 2, n - n / 8}) {
    const double x = static_cast<double>(i) * h;
    const double sum = sum_near(0.0, h, i);
    const double slope = fall_of(x);
    const double span = unit_of(sum) / (h * slope); // samples a level
    const struct {
      double threshold;
      int depths;
    } cases[] = {{0.9 * span, 2}, {1.1 * span, 1}};
    for (const auto &[threshold, depths] : cases) {
      const Tuning tuning = counted_forced(threshold);
      const Step step = choose_strategy(0.0, h, n, {{i, sum}, Stop::done, i}, tuning);
      EXPECT_EQ(step.strategy, Strategy::counted_blocks) << "i=" << i;
      EXPECT_EQ(step.depths, depths) << "i=" << i << ", a level spans " << span;
      EXPECT_EQ(step.end, i + longest_count) << "i=" << i; // as long as their segments
    }
  }
}

// Counted blocks take their longest segments where the samples' slope bends little
// over one (the middle of [0, 1] from N = 4.7e7, as measured), else half as long.
TEST(Chooser, CountedBlocksTakeTheLongestSegmentsWhereTheSlopeBendsLittle) {
  const struct {
    std::int32_t n;
    std::int32_t length; // at x = 1/2
  } cases[] = {{28215802, longest_count / 2},
               {33554432, longest_count / 2},
               {47453133, longest_count},
               {112863206, longest_count}};
  for (const auto &[n, length] : cases) {
    const double h = interval_width(0.0, 1.0, n);
    EXPECT_EQ(counted_segment(h, unit_near(0.0, h, n / 2)), length) << "n=" << n;
  }
}

// Where level sums stopped short (a tie, the binade's top), blocks take the
// samples past where they stopped, and 1024 at least, but never beyond the last
// sample: near the largest count too, where i + 1024 would not fit in 32 bits.
TEST(Chooser, BlocksTakeOverPastWhereLevelSumsStopped) {
  const Tuning tuning = forcing([](Tuning &t) {
    t.model_from_segment = 0;
    t.levels_from_span = 2;
    t.levels_model_from_segment = 64;
  });
  const struct {
    std::int32_t n, i, until, end;
  } cases[] = {{1 << 30, 1 << 29, (1 << 29) + 100, (1 << 29) + 1024},
               {1 << 30, 1 << 29, (1 << 29) + 10000, (1 << 29) + 10000},
               {INT32_MAX, INT32_MAX - 1000, INT32_MAX - 900, INT32_MAX},
               {INT32_MAX, INT32_MAX - 5000, INT32_MAX - 4500, INT32_MAX - 3976}};
  for (const auto &[n, i, until, end] : cases) {
    const double h = interval_width(0.0, 1.0, n);
    const Step step =
        choose_strategy(0.0, h, n, {{i, sum_near(0.0, h, i)}, Stop::tie_or_top, until}, tuning);
    EXPECT_NE(step.strategy, Strategy::levels) << "n=" << n << " i=" << i;
    EXPECT_EQ(step.end, end) << "n=" << n << " i=" << i;
  }
}

// A stretch of samples for a level kernel, which never increase: a >= 0, h > 0,
// from `first` to `last`, with the sum's unit.
struct Stretch {
  double a, h;
  std::int32_t first, last;
  double unit;
};

// Stretches where the inverse model serves: 16 of 2^20 samples from sample points
// from 1/32 to 2 on, and 4 from near the model's reach, levels of 2 to 64
// samples, and h as small as 2^-44, so that samples fall on a threshold (ties)
// now and then.
std::vector<Stretch> inverse_stretches() {
  std::mt19937 random(20261211);
  std::uniform_real_distribution<double> point(0.03125, 2.0);
  std::uniform_real_distribution<double> near_reach(std::log2(inverse_reach), -5.0);
  std::uniform_real_distribution<double> scale(30.0, 44.0);
  std::uniform_real_distribution<double> span(1.0, 6.0);
  std::uniform_real_distribution<double> part(0.1, 0.9);
  std::vector<Stretch> stretches;
  for (int k = 0; k < 20; ++k) {
    const double x = k < 16 ? point(random) : std::exp2(near_reach(random)); // the first point
    const double h = std::exp2(-scale(random));
    const auto first = static_cast<std::int32_t>(std::fmin(part(random) * x / h, 2e9));
    const double a = x - first * h;
    const double slope = fall_of(x);
    // A unit for which a level spans about 2^span samples, from 2^-48 to 2^-6.
    const double unit = std::fmax(
        std::fmin(std::exp2(std::round(std::log2(std::exp2(span(random)) * h * slope))), 0x1p-6),
        0x1p-48);
    stretches.push_back({a, h, first, first + (1 << 20), unit});
  }
  // And four whose first segment ends at a level that the model leaves undecided
  // and whose nearest whole number lies before that level's samples end (one
  // past it would total the same): found by trying one top level after
  // another, with levels of 16 / |f'(x)| samples (6.2 or more), then twice as
  // many, and segments as long as the remainder allows (so that the lowest
  // level's error nears the bound). Two levels qualify at each width, both near
  // the last top tried.
  // Four for each degree of the inverse model: the quartic where the ends are
  // not counted, the cubic where they are.
  const double unit = 0x1p-17;
  for (const int degree : {3, 4}) {
    const std::size_t enough = stretches.size() + 4;
    for (int halving = 0; halving < 4; ++halving) {
      const double h = std::ldexp(0x1p-21, -halving);
      for (double top = std::floor(f(0.1) / unit); stretches.size() < enough && top * unit > 2.0;
           top -= 1.0) {
        const InverseSegment segment =
            inverse_segment(degree, 0.0, h, unit, top, longest_block, block_quantum, longest_block);
        const Model &model = segment.model;
        const double p = model_at<4>(model, -model.centre);
        if (segment.levels == 0 || !model.decides ||
            std::fabs(p - std::nearbyint(p)) <= model.limit) {
          continue;
        }
        const double t_lowest = (top - (segment.levels - 1) - 0.5) * unit;
        const double guess = std::nearbyint(p) + model.base;
        // Where the stretch starts: the first sample at or below top's upper threshold.
        const double first = samples_end(0.0, h, 0.0, INT32_MAX, (top + 0.5) * unit, guess);
        const double units_first = f(first * h) / unit;
        if (samples_end(0.0, h, 0.0, INT32_MAX, t_lowest, guess) > guess &&
            std::nearbyint(units_first) == top && std::fabs(units_first - top) != 0.5) {
          const auto start = static_cast<std::int32_t>(first);
          stretches.push_back({0.0, h, start, start + (1 << 20), unit});
        }
      }
    }
  }
  // And one with far fewer samples than levels (about a thousandth of a sample a
  // level), which level sums must leave before its end whatever the threshold.
  stretches.push_back({0.0, 0x1p-10, 100, 1000, 0x1p-20});
  return stretches;
}

// The level kernel with levels' ends placed by the inverse model and without:
// where each run stops, its total must be the samples from first on, rounded to
// multiples of the unit one by one, with no tie among them. The inverse models'
// own decisions, replayed for each stretch's first segment (cubic and quartic),
// show that undecided levels and ties were met, and segments whose end the model
// could not place;
// and the levels' ends counted down to each depth, that every depth was counted,
// and met undecided items and ties (and none the depth that one less leaves out).
TEST_P(FastSum, LevelKernelMatchesTheRoundedSamplesWithTheInverseModel) {
  const KernelSet kernels = GetParam().kernels;
  // By the inverse model's degree, 3 and 4:
  long undecided[2] = {};
  long ties[2] = {};
  long by_model[2] = {};        // stretches whose first segment the inverse model decides
  long misplaced_ends[2] = {};  // first segments whose lowest level the model leaves
                                // undecided and its nearest whole number puts too early
  long reached = 0;             // samples that the runs with the inverse model totalled
  long stops_short = 0;         // runs that stopped at a tie or the room
  CountTally tally_of[3] = {};  // what counting the ends met, by how deep it went
  CountTally tally_shallower{}; // and two depths asked for, one less everywhere
  for (const Stretch &s : inverse_stretches()) {
    const double units_first = f(s.a + s.first * s.h) / s.unit;
    const double level = std::nearbyint(units_first);
    if (std::fabs(units_first - level) == 0.5) {
      continue;
    }
    // With the inverse model and without; and each for one step only (levels
    // never pay after it), so that where that step's samples end must be exact,
    // and the run must end before the stretch does. So must a run over fewer
    // samples than the levels it crosses, whatever the threshold.
    const bool fewer_samples_than_levels =
        s.last - s.first < level - f(s.a + s.last * s.h) / s.unit;
    // The last counts two depths down, but one less wherever a level spans any
    // samples: never the second.
    const struct {
      double inverse_from, levels_from_span;
      int depth;             // how far the inverse model's ends are counted
      double shallower_from; // and one depth less from this span on
    } runs[] = {
        {0.0, 0.0, 0, INFINITY},      {0.0, 0.0, 1, INFINITY},         {0.0, 0.0, 2, INFINITY},
        {INFINITY, 0.0, 0, INFINITY}, {0.0, 0x1p30, 0, INFINITY},      {0.0, 0x1p30, 1, INFINITY},
        {0.0, 0x1p30, 2, INFINITY},   {INFINITY, 0x1p30, 0, INFINITY}, {0.0, 0.0, 2, 0.0}};
    for (const auto [inverse_from, levels_from_span, depth, shallower_from] : runs) {
      const LevelRun run =
          kernels.levels(s.a, s.h, s.unit, s.first, s.last, level, 0x1p51,
                         forcing([inverse_from = inverse_from, levels_from_span = levels_from_span,
                                  depth = depth, shallower_from = shallower_from](Tuning &t) {
                           t.model_from_segment = 0;
                           t.levels_from_span = levels_from_span;
                           t.levels_model_from_segment = inverse_from;
                           t.levels_depth = depth;
                           t.ends_shallower_from_span = shallower_from;
                         }),
                         std::isinf(shallower_from) ? &tally_of[depth] : &tally_shallower);
      if (levels_from_span > 1.0 || fewer_samples_than_levels) {
        EXPECT_NE(run.why, Stop::done) << "inverse from " << inverse_from << ", levels from "
                                       << levels_from_span << ", first=" << s.first;
      }
      double rounded = 0.0;
      bool tie = false;
      for (std::int32_t i = s.first; i < run.end; ++i) {
        const double units = f(s.a + i * s.h) / s.unit;
        rounded += std::nearbyint(units);
        tie = tie || std::fabs(units - std::nearbyint(units)) == 0.5;
      }
      EXPECT_EQ(run.units, rounded) << "inverse from " << inverse_from << ", a=" << s.a
                                    << " h=" << s.h << " first=" << s.first << " unit=" << s.unit;
      EXPECT_FALSE(tie) << "a=" << s.a << " h=" << s.h << " first=" << s.first;
      if (run.why == Stop::tie_or_top) {
        // Narrowed down to one vector of levels (at most 8), which holds a tie,
        // the last sample that blocks must take, or whose samples would reach the
        // room.
        ++stops_short;
        std::int32_t first_tie = -1;
        double held = run.units; // to where that vector's samples end
        for (std::int32_t i = run.end; i < run.until; ++i) {
          const double units = f(s.a + i * s.h) / s.unit;
          const bool tie_here = std::fabs(units - std::nearbyint(units)) == 0.5;
          first_tie = first_tie < 0 && tie_here ? i : first_tie;
          held += std::nearbyint(units);
        }
        EXPECT_TRUE(first_tie == run.until - 1 || (first_tie < 0 && held >= 0x1p51))
            << "first=" << s.first << ", stopped at " << run.end << " until " << run.until;
        EXPECT_LE(std::nearbyint(f(s.a + run.end * s.h) / s.unit) -
                      std::nearbyint(f(s.a + (run.until - 1) * s.h) / s.unit),
                  8.0)
            << "first=" << s.first << ", stopped at " << run.end << " until " << run.until;
      }
      reached +=
          inverse_from == 0.0 && levels_from_span == 0.0 && depth == 0 ? run.end - s.first : 0;
    }
    for (const int degree : {3, 4}) {
      const auto k = static_cast<std::size_t>(degree - 3);
      const InverseSegment segment = inverse_segment(degree, s.a, s.h, s.unit, level, longest_block,
                                                     block_quantum, longest_block);
      const std::int32_t L = segment.levels;
      const Model &model = segment.model;
      if (L == 0 || !model.decides) {
        continue;
      }
      ++by_model[k];
      for (std::int32_t i = 0; i < L; ++i) {
        const double p = model_at<4>(model, i - model.centre);
        const bool open = std::fabs(p - std::nearbyint(p)) > model.limit;
        const double guess = std::nearbyint(p) + model.base;
        const double t = (level - (L - 1) + i - 0.5) * s.unit;
        const double end = samples_end(s.a, s.h, s.first, s.last, t, guess);
        undecided[k] += open ? 1 : 0;
        ties[k] += std::isnan(end) ? 1 : 0;
        misplaced_ends[k] += i == 0 && open && end > guess ? 1 : 0;
      }
    }
  }
  std::printf("[          ] %ld samples totalled with the inverse model; %ld runs stopped at a tie "
              "or the room\n",
              reached, stops_short);
  EXPECT_GT(stops_short, 0);
  for (std::size_t k = 0; k < 2; ++k) {
    std::printf("[          ] degree %zu: %ld stretches, %ld undecided levels, %ld ties, %ld "
                "segments ending at a level the model puts too early\n",
                k + 3, by_model[k], undecided[k], ties[k], misplaced_ends[k]);
    EXPECT_GT(by_model[k], 8) << "degree " << k + 3;
    EXPECT_GT(undecided[k], 0) << "degree " << k + 3;
    EXPECT_GT(ties[k], 0) << "degree " << k + 3;
    EXPECT_GE(misplaced_ends[k], 4) << "degree " << k + 3;
  }
  for (int deepest = 1; deepest <= 2; ++deepest) {
    expect_every_depth_met(tally_of[deepest], deepest, "levels' ends counted");
  }
  expect_every_depth_met(tally_shallower, 1, "levels' ends counted one depth less");
  EXPECT_EQ(tally_shallower.items[2], 0);
}

INSTANTIATE_TEST_SUITE_P(Kernels, FastSum, testing::ValuesIn(all_paths()), path_name);

// The model's values at first, ..., first + count - 1 as each kernel set that
// this processor runs computes them, in each of the model kernel's two passes:
// the kernels' own arithmetic.
std::vector<std::vector<double>> kernel_values(const Model &model, std::int32_t first,
                                               std::int32_t count) {
  std::vector<std::vector<double>> values;
  for (const SumPath &path : built_paths()) {
    if (path.runnable) {
      std::vector<double> both(2 * static_cast<std::size_t>(count));
      path.kernels.values(model, first, count, both.data());
      values.emplace_back(both.begin(), both.begin() + count);
      values.emplace_back(both.begin() + count, both.end());
    }
  }
  return values;
}

// Double-double numbers, hi + lo, for reference values good to about 2^-100.
struct Wide {
  double hi, lo;
};

Wide two_sum(double x, double y) {
  const double sum = x + y;
  const double y_part = sum - x;
  return {sum, (x - (sum - y_part)) + (y - y_part)};
}

Wide plus(Wide x, double y) {
  const Wide sum = two_sum(x.hi, y);
  return two_sum(sum.hi, sum.lo + x.lo);
}

Wide times(Wide x, double y) {
  const double product = x.hi * y;
  return two_sum(product, std::fma(x.hi, y, -product) + x.lo * y);
}

// 4 / (1 + X^2) at the exact point X = a + i h, and the model's polynomial at t,
// each with its arithmetic exact to about 2^-100.
Wide exact_sample(double a, double h, double i) {
  const Wide x = plus(times(Wide{i, 0.0}, h), a);
  const Wide square = times(x, x.hi); // hi^2 + hi lo; the other hi lo follows
  const Wide one_plus = two_sum(1.0, square.hi);
  const Wide d = two_sum(one_plus.hi, one_plus.lo + (square.lo + x.hi * x.lo));
  const double quotient = 4.0 / d.hi;
  const Wide back = times(d, quotient);
  return two_sum(quotient, ((4.0 - back.hi) - back.lo) / d.hi);
}

Wide exact_polynomial(const Model &model, double t) {
  Wide p{model.c4, 0.0};
  for (const double c : {model.c3, model.c2, model.c1, model.c0}) {
    p = plus(times(p, t), c);
  }
  return p;
}

double distance(Wide x, Wide y) { return std::fabs((x.hi - y.hi) + (x.lo - y.lo)); }

// The bound test's segments are blocks as long as model_segment() makes them, up
// to their count if it is longer than longest_block (longest_count, as counted
// blocks take), else up to longest_block.

// Segments over whole sums: intervals with a >= 0 and a < 0, counts from 2^20 to
// the largest, each segment's unit as the sum would have it there.
std::vector<Block> whole_sum_segments(std::mt19937 &random) {
  std::vector<std::int32_t> counts = {1 << 20, 16777217, 134217728, INT32_MAX};
  std::uniform_int_distribution<std::int32_t> any_count(1 << 20, INT32_MAX);
  for (int k = 0; k < 4; ++k) {
    counts.push_back(any_count(random));
  }
  const double bounds[][2] = {{0.0, 1.0}, {-1.0, 1.0},  {0.5, 3.0},     {-2.0, 7.0},
                              {1.0, 0.0}, {-3.0, -2.0}, {0.0, 0x1p-16}, {0.0, 1e-3}};
  std::vector<Block> segments;
  for (const auto &bound : bounds) {
    for (const std::int32_t n : counts) {
      const double h = interval_width(bound[0], bound[1], n);
      std::uniform_int_distribution<std::int32_t> start(1, n - longest_count);
      for (int k = 0; k < 6; ++k) {
        const std::int32_t first = start(random);
        const std::int32_t longest = k % 2 == 0 ? longest_block : longest_count;
        segments.push_back({bound[0], h, first, longest, unit_near(bound[0], h, first)});
      }
    }
  }
  return segments;
}

// Segments of the longest length centred within 64 samples of x = 0, where the
// Taylor remainder 4 (h T)^4 / u is nearly reached and nearly the target, so the
// bound is at its tightest; h of either sign. The first was found by a review.
std::vector<Block> near_zero_segments(std::mt19937 &random) {
  std::vector<Block> segments = {
      {0x1.ff6272f5fddddp-2, -0x1.ffffad5c463e7p-21, 520483, longest_block, 0x1p-18}};
  std::uniform_int_distribution<int> fine(12, 30);
  std::uniform_real_distribution<double> below(0.9, 1.0);
  std::uniform_int_distribution<std::int32_t> centre(10000, 1 << 30);
  std::uniform_real_distribution<double> off(-64.0, 64.0);
  for (int k = 0; k < 40; ++k) {
    const double unit = std::ldexp(1.0, -fine(random));
    const double reach = std::pow(0x1p-14 * unit, 0.25); // |h| T for the target remainder
    const std::int32_t longest = k % 4 < 2 ? longest_block : longest_count;
    const double h = (k % 2 == 0 ? 1.0 : -1.0) * reach / (0.5 * longest) * below(random);
    const std::int32_t c = centre(random);
    segments.push_back({(off(random) - c) * h, h, c - longest / 2, longest, unit});
  }
  return segments;
}

// Segments where the evaluation's part of the bound, 2^-52 (T + 256) R, is the
// largest: a large unit (a sum near 2^50 or beyond), so that the sample's and the
// coefficients' roundings are small in units, and a short reach |h| T, so that
// the Taylor remainder is too.
std::vector<Block> evaluation_segments(std::mt19937 &random) {
  std::vector<Block> segments;
  std::uniform_int_distribution<int> coarse(-3, 10);
  std::uniform_real_distribution<double> scale(22.0, 34.0);
  std::uniform_real_distribution<double> a(-2.0, 2.0);
  std::uniform_int_distribution<std::int32_t> start(1, 1 << 20);
  for (int k = 0; k < 60; ++k) { // the part is largest in about half of them
    const double h = (k % 2 == 0 ? 1.0 : -1.0) * std::exp2(-scale(random));
    segments.push_back(
        {a(random), h, start(random), longest_block, std::ldexp(1.0, coarse(random))});
  }
  return segments;
}

// The model's error bound itself, in each regime: every sample's v / u lies
// strictly within e of the model's value, as each kernel set that this processor
// runs computes it. The largest |v / u - base - p| / e shows how tight the bound
// is; it must stay below 1. So must each of its parts against reference values:
// the sample against g at the exact point, g / u - base against the polynomial
// in exact arithmetic, and the computed value against that polynomial. Near
// x = 0 the bound must be nearly reached, or the test does not visit where it is
// tightest.
TEST(ModelBound, HoldsForEverySampleOfManySegments) {
  std::mt19937 random(20261209);
  const struct {
    const char *name;
    std::vector<Block> segments;
  } regimes[] = {{"whole sums", whole_sum_segments(random)},
                 {"centred near 0", near_zero_segments(random)},
                 {"negative indices", negative_index_blocks(random, 40, 30, 40)},
                 {"evaluation largest", evaluation_segments(random)}};
  double worst_near_zero = 0.0;
  for (const auto &regime : regimes) {
    double worst = 0.0;
    double worst_sampling = 0.0;
    double worst_approximation = 0.0;
    double worst_evaluation = 0.0;
    long samples = 0;
    long evaluation_largest = 0; // segments where the evaluation's part is the largest
    long not_positive = 0;       // segments with a part of the bound not above 0
    long limit_too_wide = 0;     // segments whose decision limit leaves less than e
    for (const Block &segment : regime.segments) {
      const double a = segment.a;
      const double h = segment.h;
      const double unit = segment.unit;
      const std::int32_t length = model_segment(h, unit, std::max(segment.count, longest_block));
      const Model model = sample_model(a, h, segment.first, length, unit);
      if (!model.decides) {
        continue;
      }
      evaluation_largest += model.evaluation > model.sampling + model.approximation ? 1 : 0;
      // A bound or part below 0 would make every ratio below pass; and the decision
      // must leave at least the whole bound on either side of a half-integer.
      not_positive +=
          model.sampling > 0.0 && model.approximation > 0.0 && model.evaluation > 0.0 ? 0 : 1;
      limit_too_wide += model.limit <= 0.5 - model.error ? 0 : 1;
      const auto computed_values = kernel_values(model, segment.first, length);
      for (std::int32_t i = segment.first; i < segment.first + length; ++i) {
        const double v = integrand(a + static_cast<double>(i) * h);
        const double exact = v / unit - model.base; // exact: v / u is, and so is the rest
        const Wide g = exact_sample(a, h, i);
        const Wide g_units = plus(Wide{g.hi / unit, g.lo / unit}, -model.base);
        const Wide p = exact_polynomial(model, static_cast<double>(i) - model.centre);
        worst_sampling =
            std::max(worst_sampling, distance(Wide{exact, 0.0}, g_units) / model.sampling);
        worst_approximation =
            std::max(worst_approximation, distance(g_units, p) / model.approximation);
        for (const auto &values : computed_values) {
          const double computed = values[static_cast<std::size_t>(i - segment.first)];
          worst = std::max(worst, std::fabs(exact - computed) / model.error);
          worst_evaluation =
              std::max(worst_evaluation, distance(Wide{computed, 0.0}, p) / model.evaluation);
        }
      }
      samples += length;
    }
    std::printf("[          ] %s: %ld samples, largest error %.6f of the bound; of its parts, "
                "sampling %.3f, approximation %.6f, evaluation %.3g; %ld segments where the "
                "evaluation's part is the largest\n",
                regime.name, samples, worst, worst_sampling, worst_approximation, worst_evaluation,
                evaluation_largest);
    EXPECT_GT(samples, 100000) << regime.name;
    EXPECT_EQ(not_positive, 0) << regime.name;
    EXPECT_EQ(limit_too_wide, 0) << regime.name;
    EXPECT_LT(worst, 1.0) << regime.name;
    EXPECT_LT(worst_sampling, 1.0) << regime.name;
    EXPECT_LT(worst_approximation, 1.0) << regime.name;
    EXPECT_LT(worst_evaluation, 1.0) << regime.name;
    if (std::strcmp(regime.name, "evaluation largest") == 0) {
      EXPECT_GT(evaluation_largest, 10);
    }
    if (std::strcmp(regime.name, "centred near 0") == 0) {
      worst_near_zero = worst;
    }
  }
  EXPECT_GT(worst_near_zero, 0.99);
}

// The model kernel's total (two lanes) over values that are the model's polynomial
// in exact arithmetic, rounded to doubles (base 0), against their own roundings.
void expect_totals_its_polynomial(const Model &model, std::int32_t L, const std::string &what) {
  const auto truth = [&model](double i) {
    const Wide q = exact_polynomial(model, i - model.centre);
    return q.hi + q.lo;
  };
  const auto exact = [&truth](Double2 i, Double2 /*guess*/, auto /*undecided*/) {
    return Double2{truth(i[0]), truth(i[1])};
  };
  double expected = 0.0; // whole numbers below 2^53: exact
  for (std::int32_t i = 0; i < L; ++i) {
    expected += std::nearbyint(truth(i));
  }
  const Units all = modelled_units_of<Double2, Bits2>(0, L, model, exact);
  ASSERT_FALSE(all.tie) << what;
  EXPECT_EQ(static_cast<std::int64_t>(all.total), static_cast<std::int64_t>(expected)) << what;
}

// The model kernel's two passes may round a value apart: p̂ (by differences) and p̃
// (by Horner's rule) on either side of a half-integer. There the total must take
// the first pass's whole number, which only that pass's own value gives. Models
// that decide, with |p| near 2^28 or 2^26 (so that the passes' values differ in
// their last bits), whose polynomial, in exact arithmetic, lies just above a
// half-integer at one index (its value there, rounded to a double, is within
// 2^-25 of it, inside the sampling part). Cubics and quartics, in turn. Two lanes: the shortest
// step between a chain's vectors, so the most steps.
TEST(ModelKernel, TakesTheFirstPassWholeNumberWhereThePassesRoundApart) {
  constexpr std::int32_t L = 1024;
  std::mt19937 random(20261210);
  std::uniform_real_distribution<double> unit_interval(-1.0, 1.0);
  std::uniform_int_distribution<std::int32_t> any_index(0, L - 1);
  long apart[2] = {}; // values whose two passes round to different whole numbers, by degree
  std::vector<double> values(2 * static_cast<std::size_t>(L));
  for (int trial = 0; trial < 64; ++trial) {
    Model model{};
    model.centre = 0.5 * L;
    model.degree = trial % 2 == 0 ? 3 : 4;
    // The quartic's bound is wider: |p| near 2^26, so that its model decides.
    const double slope = model.degree == 3 ? 0x1p18 : 0x1p16;
    model.c1 =
        std::copysign(slope, unit_interval(random)) * (1.0 + std::fabs(unit_interval(random)));
    model.c2 = 0x1p-2 * unit_interval(random);
    model.c3 = 0x1p-12 * unit_interval(random);
    model.c4 = model.degree == 4 ? 0x1p-20 * unit_interval(random) : 0.0;
    const double t = any_index(random) - model.centre;
    const Wide p = exact_polynomial(model, t); // c0 = 0 so far
    const double above = std::nextafter(std::nearbyint(p.hi) + 0.5, __builtin_inf());
    model.c0 = (above - p.hi) - p.lo; // below 1 in magnitude: p at t is above, to 2^-53
    model = certified(model, L, 0x1p-18, 0x1p-18, true);
    ASSERT_TRUE(model.decides) << "trial " << trial;
    modelled_values<Double2>(model, 0, L, values.data());
    const double *first_pass = values.data();
    const double *second_pass = values.data() + L;
    for (std::int32_t i = 0; i < L; ++i) {
      apart[model.degree - 3] +=
          std::nearbyint(first_pass[i]) != std::nearbyint(second_pass[i]) ? 1 : 0;
    }
    expect_totals_its_polynomial(model, L, "trial " + std::to_string(trial));
  }
  std::printf("[          ] %ld and %ld values whose passes round apart (cubics, quartics)\n",
              apart[0], apart[1]);
  EXPECT_GT(apart[0], 4);
  EXPECT_GT(apart[1], 4);
}

// The first pass's drift, where every step's sum rounds the same way: a linear
// model whose step D c1 is (2^20 + 1/2 - 2^-12) spacings of p's binade [2^k,
// 2^(k+1)), D = 8 (two lanes), over the longest segment, as a cubic and as a
// quartic (whose bound keeps the slope's own terms, four times tighter here). Its
// total is right where the model decides; in the higher binades the drift (up to
// 2^-11 a value) would spoil it, and only the model's length condition refuses
// them (their error is within 2^-5). The quartic's bound is more than half
// reached: its steps' part is attained, only its constant part leaves room.
TEST(ModelKernel, DecidesOnlyWhereTheFirstPassDriftKeepsTheTotal) {
  constexpr std::int32_t L = longest_count;
  const struct {
    int binade, degree;
    bool decides;
  } rows[] = {{18, 3, true}, {20, 3, false}, {30, 3, false}, {20, 4, true},
              {21, 4, true}, {22, 4, false}, {30, 4, false}};
  std::vector<double> values(2 * static_cast<std::size_t>(L));
  double worst_quartic = 0.0; // the first pass's error over the evaluation's part
  for (const auto &row : rows) {
    const std::string what =
        "binade " + std::to_string(row.binade) + ", degree " + std::to_string(row.degree);
    Model model{};
    model.centre = 0.5 * L;
    model.c0 = std::ldexp(1.0 + 0x1p-4, row.binade) + 0.375;
    model.c1 = (0x1p20 + 0.5 - 0x1p-12) * std::ldexp(1.0, row.binade - 52) / 8.0;
    model.degree = row.degree;
    model = certified(model, L, 0x1p-30, 0x1p-30, true);
    EXPECT_LE(model.error, 0x1p-5) << what;
    EXPECT_EQ(model.decides, row.decides) << what;
    if (!model.decides) {
      continue;
    }
    expect_totals_its_polynomial(model, L, what);
    modelled_values<Double2>(model, 0, L, values.data());
    double worst = 0.0;
    for (std::int32_t i = 0; i < L; ++i) {
      const Wide p = exact_polynomial(model, i - model.centre);
      worst = std::max(worst, distance(p, Wide{values[static_cast<std::size_t>(i)], 0.0}) /
                                  model.evaluation);
    }
    EXPECT_LT(worst, 1.0) << what;
    worst_quartic = row.degree == 4 ? std::max(worst_quartic, worst) : worst_quartic;
  }
  std::printf("[          ] quartic: first pass's error %.3f of its evaluation part\n",
              worst_quartic);
  EXPECT_GT(worst_quartic, 0.4);
}

// X(y) = sqrt(4/y - 1), where g crosses y, to about 2^-100.
Wide exact_inverse(double y) {
  const double q = 4.0 / y;
  const double q_rest = std::fma(-q, y, 4.0) / y; // 4/y = q + q_rest, to 2^-106 of it
  const Wide w = plus(two_sum(q, -1.0), q_rest);
  const double root = std::sqrt(w.hi);
  return two_sum(root, (std::fma(-root, root, w.hi) + w.lo) / (2.0 * root));
}

// The inverse model's bound itself, over segments of levels where it decides:
// at counts up to the largest over [0, 1], where its parts are largest
// (crossings near the model's reach, x from 2^-10 to 2^-5, and h as small as 2^-44 with
// a > 0), and at small counts, where the sample before a crossing may lie an
// interval h before the nearest crossing, far beyond its 2^-20 widening. For each level, the
// polynomial as the kernels compute it lies within the approximation and evaluation parts of V = t*
// + 1/2 - base, with t* the real crossing index from reference values; and the samples next to the
// crossing lie within δ indices of where the real integrand would put them
// (their error over the local slope). The largest ratios show how tight the
// parts are; each must stay below 1, and the first come close to it.
TEST(InverseModelBound, HoldsForEveryLevelOfManySegments) {
  std::mt19937 random(20261212);
  std::uniform_real_distribution<double> point(0.02, 1.0);
  std::uniform_real_distribution<double> near_reach(std::log2(inverse_reach), -5.0);
  std::uniform_real_distribution<double> scale(36.0, 44.0);
  std::uniform_int_distribution<int> fine(20, 34);
  struct Place {
    double a, h, x; // levels from the one at the sample point x down
    double unit;
    bool coarse; // h far beyond 2^-20 x
  };
  std::vector<Place> places;
  for (const std::int32_t n : {1000, 30011, 1 << 20}) {
    for (int k = 0; k < 6; ++k) {
      places.push_back({0.0, 1.0 / n, point(random), std::ldexp(1.0, -fine(random)), true});
    }
  }
  for (const std::int32_t n : {1 << 27, 189812531, INT32_MAX, 1 << 30}) {
    for (int k = 0; k < 8; ++k) { // two near the reach
      const double h = interval_width(0.0, 1.0, n);
      const double x = k < 6 ? point(random) : std::exp2(near_reach(random));
      places.push_back({0.0, h, x, unit_near(0.0, h, static_cast<std::int32_t>(x / h)), false});
    }
  }
  for (int k = 0; k < 16; ++k) { // sample indices below 2^31, as the program's
    const double x = k % 2 == 0 ? std::exp2(near_reach(random)) : point(random);
    const double h = std::exp2(-scale(random));
    const double first = std::floor(std::fmin(0.5 * x / h, 2e9));
    places.push_back({x - first * h, h, x, std::ldexp(1.0, -fine(random)), false});
  }
  // By degree, 3 and 4: against the approximation and evaluation parts, and the
  // kernels' values against the polynomial's own, against the evaluation part.
  double worst_approximation[2] = {0.0, 0.0};
  double worst_evaluation[2] = {0.0, 0.0};
  double worst_sampling[2] = {0.0, 0.0}; // fine intervals, coarse
  long levels[2] = {0, 0};
  long not_positive = 0;
  long counted_quartics = 0;
  for (const Place &place : places) {
    const std::size_t kind = place.coarse ? 1 : 0;
    const double a = place.a;
    const double h = place.h;
    const double unit = place.unit;
    const double top = std::nearbyint(f(place.x) / unit);
    for (const int degree : {3, 4}) {
      const auto d = static_cast<std::size_t>(degree - 3);
      const InverseSegment segment =
          inverse_segment(degree, a, h, unit, top, longest_block, block_quantum, longest_block);
      const std::int32_t L = segment.levels;
      const double lowest = top - (L - 1);
      const Model &model = segment.model;
      if (L == 0 || !model.decides) {
        continue;
      }
      not_positive +=
          model.sampling > 0.0 && model.approximation > 0.0 && model.evaluation > 0.0 ? 0 : 1;
      // The count's levels rest on a cubic: a quartic's ends are left to the kernel.
      if (degree == 4) {
        const Total ends = counted_level_ends<Double2, Bits2>(a, h, unit, 0.0, INT32_MAX, lowest,
                                                              model, L, 2, nullptr);
        counted_quartics += ends.how != Counted::not_counted ? 1 : 0;
      }
      const auto computed_values = kernel_values(model, 0, L);
      for (std::int32_t i = 0; i < L; ++i) {
        const Wide x = exact_inverse((lowest + i - 0.5) * unit);
        const Wide from_a = plus(x, -a);
        const double index = from_a.hi / h;
        const Wide crossing = two_sum(index, (std::fma(-index, h, from_a.hi) + from_a.lo) / h);
        const Wide V = plus(crossing, 0.5 - model.base);
        const Wide p = exact_polynomial(model, i - model.centre);
        for (const auto &values : computed_values) {
          const Wide computed{values[static_cast<std::size_t>(i)], 0.0};
          worst_approximation[d] =
              std::max(worst_approximation[d],
                       distance(V, computed) / (model.approximation + model.evaluation));
          worst_evaluation[d] =
              std::max(worst_evaluation[d], distance(p, computed) / model.evaluation);
        }
        const double j = std::ceil(crossing.hi);
        for (const double k : {j - 1.0, j}) {
          const double sample_point = a + k * h;
          const Wide g = exact_sample(a, h, k);
          const double slope = fall_of(sample_point);
          const double shift = distance(Wide{integrand(sample_point), 0.0}, g) / (slope * h);
          worst_sampling[kind] = std::max(worst_sampling[kind], shift / model.sampling);
        }
        levels[kind] += degree == 4 ? 1 : 0;
      }
    }
  }
  std::printf("[          ] %ld and %ld quartic levels (fine and coarse intervals); sample shift "
              "%.3g and %.3g of δ\n",
              levels[0], levels[1], worst_sampling[0], worst_sampling[1]);
  EXPECT_GT(levels[0], 100000);
  EXPECT_GT(levels[1], 50000);
  EXPECT_EQ(not_positive, 0);
  EXPECT_EQ(counted_quartics, 0);
  EXPECT_LT(worst_sampling[0], 1.0);
  EXPECT_LT(worst_sampling[1], 1.0);
  for (std::size_t d = 0; d < 2; ++d) {
    std::printf("[          ] degree %zu: largest error %.3g of the approximation and evaluation "
                "parts, %.3g of the evaluation part\n",
                d + 3, worst_approximation[d], worst_evaluation[d]);
    EXPECT_LT(worst_approximation[d], 1.0) << "degree " << d + 3;
    EXPECT_LT(worst_evaluation[d], 1.0) << "degree " << d + 3;
    // At the largest counts the remainder is the largest part, and at a segment's
    // ends nearly reached: else the test does not visit where the bound is tightest.
    EXPECT_GT(worst_approximation[d], 0.9) << "degree " << d + 3;
  }
}

// The inverse model's segment, searched up or down from any likely length, is the
// one that trying the longest first and halving would choose, with the same
// model: over counts and units where segments are the longest, shorter or none,
// for every longest and likely length (and none) and three shortest (and NaN);
// cubics and quartics in turn.
TEST(InverseModelBound, SegmentIsTheLongestWithinTheTarget) {
  std::mt19937 random(20261213);
  std::uniform_real_distribution<double> log_x(std::log2(inverse_reach), 0.0);
  std::uniform_real_distribution<double> scale(20.0, 44.0);
  std::uniform_int_distribution<int> fine(16, 40);
  long lengths[2] = {0, 0}; // choices of the longest and of a shorter segment
  long none = 0;
  for (int k = 0; k < 4000; ++k) {
    const double h = std::exp2(-scale(random));
    const double unit = std::ldexp(1.0, -fine(random));
    const double top = std::nearbyint(f(std::exp2(log_x(random))) / unit);
    const double x_near = crossing((top - 0.5) * unit) * (1.0 - 0x1p-20);
    const int degree = 3 + k % 2;
    for (std::int32_t longest = block_quantum; longest <= longest_block; longest *= 2) {
      for (const double shortest : {64.0, 256.0, std::nan("")}) {
        std::int32_t expected = 0;
        Model model{};
        for (std::int32_t L = longest; L >= block_quantum && L >= shortest; L /= 2) {
          const double x_far = crossing((top - (L - 1) - 0.5) * unit) * (1.0 + 0x1p-20);
          const double e = inverse_remainder(degree, x_near, x_far, 0.5 * L * unit, h);
          if (L <= top && e <= inverse_remainder_target) {
            expected = L;
            model = level_model(degree, 0.0, h, unit, top - (L - 1), L, x_near, x_far, e);
            break;
          }
        }
        for (std::int32_t likely = 0; likely <= longest_block;
             likely = likely == 0 ? block_quantum : 2 * likely) {
          const InverseSegment chosen =
              inverse_segment(degree, 0.0, h, unit, top, longest, shortest, likely);
          // The same length, and the same model: its remainder and far crossing.
          EXPECT_TRUE(chosen.levels == expected && chosen.model.c3 == model.c3 &&
                      chosen.model.c4 == model.c4 && chosen.model.degree == model.degree &&
                      chosen.model.approximation == model.approximation &&
                      chosen.model.sampling == model.sampling &&
                      chosen.model.decides == model.decides)
              << "degree " << degree << " h=" << h << " unit=" << unit << " top=" << top
              << " longest=" << longest << " shortest=" << shortest << " likely=" << likely << ": "
              << chosen.levels << " levels, not " << expected;
        }
        ++(expected == 0 ? none : lengths[expected == longest ? 0 : 1]);
      }
    }
  }
  std::printf("[          ] segments: %ld the longest, %ld shorter, %ld none\n", lengths[0],
              lengths[1], none);
  EXPECT_GT(lengths[0], 1000);
  EXPECT_GT(lengths[1], 1000);
  EXPECT_GT(none, 1000);
}

// The real t where a levelled cubic q crosses y, to about 2^-100: Newton's method
// in double, then twice with q evaluated in double-double.
Wide exact_crossing(const Levels &lv, double y, double t) {
  for (int step = 0; step < 8; ++step) {
    t -= (q_at(lv, t) - y) / (lv.q1 + t * (2.0 * lv.c2 + 3.0 * lv.c3 * t));
  }
  Wide root{t, 0.0};
  for (int step = 0; step < 2; ++step) {
    Wide q{lv.c3, 0.0};
    for (const double c : {lv.c2, lv.q1, lv.c0}) {
      q = plus(times(q, root.hi), c);
      q = plus(q, 0.0);
    }
    // q at hi + lo: the lo part moves it by q'(hi) lo, to first order.
    const double slope = lv.q1 + root.hi * (2.0 * lv.c2 + 3.0 * lv.c3 * root.hi);
    const Wide residual = plus(plus(q, slope * root.lo), -y);
    root = plus(root, -(residual.hi + residual.lo) / slope);
  }
  return root;
}

// What the inverse bound test found at each depth: the largest error over the
// approximation and evaluation parts, the largest excess of a level's end over δ,
// and the levels measured.
struct InverseFound {
  double worst[2], worst_end[2];
  long levels[2];
};

// Measures the inverse models of depth d's current segment's levels: the first
// and the last segment of levels that fit in its range (where its least slope and
// largest curvature are reached), and then, below each, the next depth's.
void measure_inverse(Count &count, int d, InverseFound &found) {
  Depth &D = count.depth[d];
  D.levels = levels_of(D.model, D.first, D.count);
  const Levels &lv = D.levels;
  const std::int32_t L = levels_segment(lv);
  if (d >= 2 || !D.model.decides || !lv.holds || L == 0) {
    return;
  }
  const double t_A = D.first - D.model.centre;
  const double t_Z = t_A + D.count - 1.0;
  const double lowest = std::ceil(lesser(q_at(lv, t_A), q_at(lv, t_Z)) + 1.0);
  const double highest = std::floor(greater(q_at(lv, t_A), q_at(lv, t_Z)) - 1.0);
  const Model bound = inverse_bound(lv, L);
  for (const double nu0 : {lowest, highest - (L - 1)}) {
    if (nu0 < lowest || nu0 + (L - 1) > highest) {
      continue;
    }
    Depth &below = count.depth[d + 1];
    below.model = inverse_of_levels(lv, bound, nu0, L, (nu0 + 0.5 * L - lv.c0) / lv.q1);
    below.first = 0.0;
    below.count = L;
    below.origin = nu0;
    const Model &model = below.model;
    if (!model.decides) {
      continue;
    }
    for (const auto &values : kernel_values(model, 0, L)) {
      for (std::int32_t i = 0; i < L; ++i) {
        const double value = values[static_cast<std::size_t>(i)];
        const Wide tau = exact_crossing(lv, nu0 + i - 0.5, value + model.base - 0.5);
        const Wide target = plus(plus(tau, 0.5), -model.base);
        found.worst[d] = std::max(found.worst[d], distance(target, Wide{value, 0.0}) /
                                                      (model.approximation + model.evaluation));
      }
    }
    for (std::int32_t i = 0; i < L; ++i) {
      const double p = model_at<3>(model, i - model.centre);
      const Wide tau = exact_crossing(lv, nu0 + i - 0.5, p + model.base - 0.5);
      // The level's true end, from the truths of depth d, less its centre.
      const double end = level_end(count, d, nu0 + i, std::nearbyint(tau.hi) + D.model.centre);
      const double beyond = std::fabs(end - (tau.hi + 0.5) - tau.lo) - 0.5;
      found.worst_end[d] = std::max(found.worst_end[d], beyond / model.sampling);
      ++found.levels[d];
    }
    measure_inverse(count, d + 1, found);
  }
}

// The inverse of a levelled cubic's bound itself, at the first depth below the
// samples (levels of the integrand's model over whole sums) and at the second
// (levels of those levels' models), and likewise below the levels' ends of level
// sums (levels of the inverse model's segments): for each level, the model's value
// as the kernels compute it lies within the approximation and evaluation parts of
// τ + 1/2 - base, τ the real crossing; and the level's true end, from the truths
// above, within δ + 1/2 of τ + 1/2. Where the remainder is the largest part and
// nearly reached, the first must come close to the bound.
TEST(CubicInverseBound, HoldsForEveryLevelAtBothDepths) {
  std::mt19937 random(20261209);
  InverseFound found[2] = {}; // below the samples, below the levels' ends
  for (const std::int32_t n : {1 << 25, 1 << 26, 112863206, 1 << 27, 189812531, 1 << 28, 1 << 29}) {
    const double h = interval_width(0.0, 1.0, n);
    std::uniform_int_distribution<std::int32_t> start(n / 8, n - longest_count);
    for (int k = 0; k < 10; ++k) {
      Count count{};
      count.a = 0.0;
      count.h = h;
      const std::int32_t first = start(random) / block_quantum * block_quantum + 1;
      const double unit = unit_near(0.0, h, first);
      count.per_unit = 1.0 / unit;
      count.deepest = 2;
      Depth &samples = count.depth[0];
      samples.count = counted_segment(h, unit);
      samples.model = sample_model(0.0, h, first, samples.count, unit);
      samples.first = first;
      measure_inverse(count, 0, found[0]);
    }
  }
  std::uniform_real_distribution<double> point(0.05, 0.95);
  for (const std::int32_t n : {1 << 27, 159612677, 1 << 28, 300000000, 1 << 29, 1000000000}) {
    const double h = interval_width(0.0, 1.0, n);
    for (int k = 0; k < 40; ++k) {
      // Levels from the one at the sample point x down, from a sample above them all.
      const auto first = static_cast<std::int32_t>(point(random) / h);
      const double unit = unit_near(0.0, h, first);
      const double top = std::nearbyint(f((first + 1) * h) / unit);
      const InverseSegment segment =
          inverse_segment(3, 0.0, h, unit, top, longest_block, block_quantum, longest_block);
      Count count{};
      count.a = 0.0;
      count.h = h;
      count.of_levels = true;
      count.first_sample = first;
      count.last_sample = n;
      count.unit = unit;
      count.deepest = 2;
      count.depth[0] = {segment.model, 0.0, segment.levels, top - (segment.levels - 1), Levels{}};
      if (segment.levels > 0) {
        measure_inverse(count, 0, found[1]);
      }
    }
  }
  for (int kind = 0; kind < 2; ++kind) {
    const InverseFound &at = found[kind];
    std::printf("[          ] below the %s: %ld and %ld levels at depths 1 and 2: largest error "
                "%.4f and %.4f of the approximation and evaluation parts; level ends %.3g and "
                "%.3g of δ beyond 1/2\n",
                kind == 0 ? "samples" : "levels' ends", at.levels[0], at.levels[1], at.worst[0],
                at.worst[1], at.worst_end[0], at.worst_end[1]);
    for (int d = 0; d < 2; ++d) {
      EXPECT_GT(at.levels[d], 2000) << kind << ", depth " << d + 1;
      EXPECT_LT(at.worst[d], 1.0) << kind << ", depth " << d + 1;
      EXPECT_LT(at.worst_end[d], 1.0) << kind << ", depth " << d + 1;
      EXPECT_GT(at.worst[d], 0.9) << kind << ", depth " << d + 1;
    }
  }
}

using SlowFastSum = FastSum;

TEST_P(SlowFastSum, MatchesTheInOrderLoopForRandomCountsUpToTheLargest) {
  std::mt19937 random(31);
  std::uniform_int_distribution<std::int32_t> count(1 << 27, INT32_MAX);
  for (int trial = 0; trial < 3; ++trial) {
    expect_identical(0.0, 1.0, count(random));
  }
  expect_identical(0.0, 1.0, INT32_MAX);
}

INSTANTIATE_TEST_SUITE_P(Kernels, SlowFastSum, testing::ValuesIn(all_paths()), path_name);

} // namespace
