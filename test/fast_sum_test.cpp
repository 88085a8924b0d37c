// The fast sum against the in-order loop, bit for bit, on every vector kernel
// this processor can run; and the kernels' detection of ties.
#include "estimator.h"
#include "fast_sum.h"
#include "sample_sum.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

// Names a kernel in test output (found by argument-dependent lookup).
void PrintTo(const SumPath &path, std::ostream *os) { *os << path.name; }

namespace {

std::uint64_t bits_of(double x) {
  std::uint64_t bits = 0;
  std::memcpy(&bits, &x, sizeof bits);
  return bits;
}

std::vector<SumPath> runnable() {
  std::vector<SumPath> paths;
  for (const SumPath &path : built_paths()) {
    if (path.runnable) {
      paths.push_back(path);
    } else {
      std::printf("[ SKIPPED  ] %s: this processor cannot run it\n", path.name);
    }
  }
  return paths;
}

std::string path_name(const testing::TestParamInfo<SumPath> &info) { return info.param.name; }

class FastSum : public testing::TestWithParam<SumPath> {
protected:
  // Expects the fast sum over [a, b] with n intervals, by every strategy, to equal
  // the in-order one.
  static void expect_identical(double a, double b, std::int32_t n) {
    const double h = interval_width(a, b, n);
    const double start = f(a) + f(b);
    const double in_order = add_samples_in_order(a, h, 1, n, start);
    const Kernels kernels = GetParam().kernels;
    // Where level sums take over: as the program chooses, wherever they apply
    // (even where blocks would be cheaper), and never.
    const struct {
      const char *name;
      double levels_from;
    } strategies[] = {
        {"dispatched", kernels.levels_pay_off}, {"levels", 0.0}, {"blocks", INFINITY}};
    for (const auto &strategy : strategies) {
      const double fast = add_interior_samples(a, h, n, start, kernels, strategy.levels_from);
      EXPECT_EQ(bits_of(fast), bits_of(in_order)) << strategy.name << " a=" << a << " b=" << b
                                                  << " N=" << n << ": " << fast << " vs "
                                                  << in_order;
    }
  }

  // Every count from first to last over [0, 1], where levels are sparser than
  // samples at these counts, and over [0, 2^-16], where a level spans many.
  static void expect_identical_for_every_count(std::int32_t first, std::int32_t last) {
    for (std::int32_t n = first; n <= last && !HasFailure(); ++n) {
      expect_identical(0.0, 1.0, n);
      expect_identical(0.0, 0x1p-16, n);
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
// samples: near 0, and where f is small and flat.
TEST_P(FastSum, MatchesTheInOrderLoopOverOtherIntervals) {
  const double bounds[][2] = {{-1.0, 1.0},    {1.0, 0.0},         {0.5, 3.0},
                              {-2.0, 7.0},    {0.0, 1e-300},      {0.0, 1e300},
                              {0.0, INFINITY}, {NAN, 1.0},        {0.0, 0x1p-13},
                              {0.25, 0.2500001}, {100.0, 100.00001}, {-0.0, 1.0}};
  for (const auto &bound : bounds) {
    for (const std::int32_t n : {1000, 65536, 100003}) {
      expect_identical(bound[0], bound[1], n);
    }
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
TEST_P(FastSum, KernelDetectsATieInAnyLane) {
  const BlockSum kernel = GetParam().kernels.block_sum;
  for (std::int32_t first = -55; first <= 8; ++first) {
    EXPECT_TRUE(std::isnan(kernel(0.0, 0.125, first, block_quantum, 4.0))) << "first=" << first;
    EXPECT_EQ(kernel(0.0, 0.125, first, block_quantum, 2.0), rounded_to_twos(first))
        << "first=" << first;
  }
  EXPECT_TRUE(std::isnan(kernel(NAN, 0.125, 1, block_quantum, 1.0)));
}

INSTANTIATE_TEST_SUITE_P(Kernels, FastSum, testing::ValuesIn(runnable()), path_name);

using SlowFastSum = FastSum;

TEST_P(SlowFastSum, MatchesTheInOrderLoopForRandomCountsUpToTheLargest) {
  std::mt19937 random(31);
  std::uniform_int_distribution<std::int32_t> count(1 << 27, INT32_MAX);
  for (int trial = 0; trial < 3; ++trial) {
    expect_identical(0.0, 1.0, count(random));
  }
  expect_identical(0.0, 1.0, INT32_MAX);
}

INSTANTIATE_TEST_SUITE_P(Kernels, SlowFastSum, testing::ValuesIn(runnable()), path_name);

} // namespace
