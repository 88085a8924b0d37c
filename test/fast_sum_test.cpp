// The fast sum against the in-order loop, bit for bit, on every vector kernel
// this processor can run; the kernels' detection of ties; and the model's error
// bound.
#include "estimator.h"
#include "fast_sum.h"
#include "model_kernel.h"
#include "sample_sum.h"

#include <gtest/gtest.h>

#include <algorithm>
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
    // As the program chooses; level sums and the model wherever they apply (even
    // where they cost more); blocks that divide, and blocks by the model wherever
    // it applies, without level sums.
    const struct {
      const char *name;
      double levels_from;
      double model_from;
    } strategies[] = {{"dispatched", kernels.levels_pay_off, kernels.model_pays_off},
                      {"levels", 0.0, 0.0},
                      {"division", INFINITY, INFINITY},
                      {"model", INFINITY, 0.0}};
    for (const auto &strategy : strategies) {
      Kernels chosen = kernels;
      chosen.levels_pay_off = strategy.levels_from;
      chosen.model_pays_off = strategy.model_from;
      const double fast = add_interior_samples(a, h, n, start, chosen);
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
// samples: near 0, and where f is small and flat. Over the short intervals of
// power-of-two length the samples fall on few doubles, so the model meets many
// samples that it cannot place (and ties) at counts that are powers of two.
TEST_P(FastSum, MatchesTheInOrderLoopOverOtherIntervals) {
  const double bounds[][2] = {
      {-1.0, 1.0},       {1.0, 0.0},         {0.5, 3.0},     {-2.0, 7.0},
      {0.0, 1e-300},     {0.0, 1e300},       {0.0, INFINITY}, {NAN, 1.0},
      {0.0, 0x1p-13},    {0.25, 0.2500001},  {100.0, 100.00001}, {-0.0, 1.0},
      {0.0, 0x1p-8},     {-0x1p-12, 0x1p-12}, {0x1p-4, 0.0},  {1e6, 1e6 + 1.0}};
  for (const auto &bound : bounds) {
    for (const std::int32_t n : {1000, 65536, 100003, 1 << 20}) {
      expect_identical(bound[0], bound[1], n);
    }
  }
}

// The running sum's unit near sample i, from the integral of f: as a kernel
// would be given it there.
double unit_near(double a, double h, std::int32_t i) {
  const double x = a + static_cast<double>(i) * h;
  return unit_of(f(a) + 4.0 * (std::atan(x) - std::atan(a)) / h);
}

// The model kernel against the division kernel, block by block, where the model
// decides samples: the same total, or both NaN for a tie. The intervals of
// power-of-two length make undecided samples and ties frequent; the model's own
// decisions, replayed here, show that the kernel met ties and had to divide
// samples out where the model decides.
TEST_P(FastSum, ModelKernelMatchesTheDivisionKernel) {
  const Kernels kernels = GetParam().kernels;
  if (kernels.model_sum == nullptr) {
    GTEST_SKIP() << "no model kernel on this path";
  }
  const struct {
    double a, b;
    std::int32_t n;
  } cases[] = {{0.0, 0x1p-16, 1 << 16}, {0.0, 0x1p-8, 1 << 20}, {-0x1p-12, 0x1p-12, 1 << 18},
               {0.0, 1.0, 1 << 20},     {0.0, 1.0, 16777217}, {-1.0, 3.0, 5000011}};
  long ties = 0;
  long undecided = 0;
  for (const auto &c : cases) {
    const double h = interval_width(c.a, c.b, c.n);
    for (std::int32_t first = 1; first <= c.n - 8192; first += c.n / 64 + 7) {
      // Blocks of one to 128 quanta: segments of every length, whole and cut short.
      const std::int32_t count = block_quantum * (1 + first % 128);
      const double unit = unit_near(c.a, h, first);
      const double modelled = kernels.model_sum(c.a, h, first, count, unit);
      const double divided = kernels.block_sum(c.a, h, first, count, unit);
      EXPECT_EQ(bits_of(modelled), bits_of(divided))
          << "a=" << c.a << " b=" << c.b << " N=" << c.n << " first=" << first;
      const Model model = segment_model(c.a, h, first, model_segment(h, unit), unit);
      ties += std::isnan(divided) && model.decides ? 1 : 0;
      for (std::int32_t i = first; model.decides && i < first + model_segment(h, unit); ++i) {
        const double p = model_at<true>(model, static_cast<double>(i) - model.centre);
        undecided += std::fabs(p - std::nearbyint(p)) > model.limit ? 1 : 0;
      }
    }
  }
  std::printf("[          ] %ld blocks with a tie, %ld undecided samples\n", ties, undecided);
  EXPECT_GT(ties, 0);
  EXPECT_GT(undecided, 100);
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
  for (const BlockSum kernel : {GetParam().kernels.block_sum, GetParam().kernels.model_sum}) {
    if (kernel == nullptr) {
      continue;
    }
    for (std::int32_t first = -55; first <= 8; ++first) {
      EXPECT_TRUE(std::isnan(kernel(0.0, 0.125, first, block_quantum, 4.0)))
          << "first=" << first;
      EXPECT_EQ(kernel(0.0, 0.125, first, block_quantum, 2.0), rounded_to_twos(first))
          << "first=" << first;
    }
    EXPECT_TRUE(std::isnan(kernel(NAN, 0.125, 1, block_quantum, 1.0)));
  }
}

INSTANTIATE_TEST_SUITE_P(Kernels, FastSum, testing::ValuesIn(runnable()), path_name);

// The model's value at sample i of the segment from first on, as a kernel with
// this many lanes evaluates it (re-centred on its chain's first vector), with
// multiply-adds fused or not. A quadratic model's c3 is 0, which changes nothing.
double kernel_value(const Model &model, std::int32_t first, std::int32_t i, int lanes,
                    bool fuse) {
  const auto mul_add = [fuse](double x, double y, double z) {
    return fuse ? std::fma(x, y, z) : x * y + z;
  };
  const std::int32_t vector = (i - first) / lanes;
  const std::int32_t chain = vector % 4;
  const double tau = static_cast<double>((i - first) % lanes) +
                     (static_cast<double>(first + chain * lanes) - model.centre);
  const double s = static_cast<double>((vector - chain) * lanes);
  const double q0 =
      mul_add(mul_add(mul_add(model.c3, tau, model.c2), tau, model.c1), tau, model.c0);
  const double q1 = mul_add(mul_add(3.0 * model.c3, tau, 2.0 * model.c2), tau, model.c1);
  const double q2 = mul_add(3.0 * model.c3, tau, model.c2);
  return mul_add(mul_add(mul_add(model.c3, s, q2), s, q1), s, q0);
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
Wide exact_sample(double a, double h, std::int32_t i) {
  const Wide x = plus(times(Wide{static_cast<double>(i), 0.0}, h), a);
  const Wide square = times(x, x.hi); // hi^2 + hi lo; the other hi lo follows
  const Wide one_plus = two_sum(1.0, square.hi);
  const Wide d = two_sum(one_plus.hi, one_plus.lo + (square.lo + x.hi * x.lo));
  const double quotient = 4.0 / d.hi;
  const Wide back = times(d, quotient);
  return two_sum(quotient, ((4.0 - back.hi) - back.lo) / d.hi);
}

Wide exact_polynomial(const Model &model, double t) {
  Wide p{model.c3, 0.0};
  for (const double c : {model.c2, model.c1, model.c0}) {
    p = plus(times(p, t), c);
  }
  return p;
}

double distance(Wide x, Wide y) { return std::fabs((x.hi - y.hi) + (x.lo - y.lo)); }

// The model's error bound itself: over many segments, at counts from 2^20 to the
// largest and over intervals with a >= 0 and a < 0, every sample's v / u lies
// strictly within e of the model's value, as kernels of 2, 4 and 8 lanes compute
// it, fused and not. The largest |v / u - base - p| / e shows how tight the bound
// is; it must stay below 1. So must each of its parts against reference values:
// the sample against g at the exact point, g / u - base against the polynomial
// in exact arithmetic, and the computed value against that polynomial.
TEST(ModelBound, HoldsForEverySampleOfManySegments) {
  std::mt19937 random(20261209);
  std::vector<std::int32_t> counts = {1 << 20, 16777217, 134217728, INT32_MAX};
  std::uniform_int_distribution<std::int32_t> any_count(1 << 20, INT32_MAX);
  for (int k = 0; k < 4; ++k) {
    counts.push_back(any_count(random));
  }
  const double bounds[][2] = {{0.0, 1.0}, {-1.0, 1.0}, {0.5, 3.0},     {-2.0, 7.0},
                              {1.0, 0.0}, {-3.0, -2.0}, {0.0, 0x1p-16}, {0.0, 1e-3}};
  double worst = 0.0;
  double worst_sampling = 0.0;
  double worst_approximation = 0.0;
  double worst_evaluation = 0.0;
  long samples = 0;
  for (const auto &bound : bounds) {
    for (const std::int32_t n : counts) {
      const double h = interval_width(bound[0], bound[1], n);
      std::uniform_int_distribution<std::int32_t> start(1, n - 8192);
      for (int segment = 0; segment < 8; ++segment) {
        const std::int32_t first = start(random);
        const double unit = unit_near(bound[0], h, first);
        const std::int32_t length = model_segment(h, unit);
        const Model model = segment_model(bound[0], h, first, length, unit);
        if (!model.decides) {
          continue;
        }
        for (std::int32_t i = first; i < first + length; ++i) {
          const double v = integrand(bound[0] + static_cast<double>(i) * h);
          const double exact = v / unit - model.base; // exact: v / u is, and so is the rest
          const Wide g = exact_sample(bound[0], h, i);
          const Wide g_units = plus(Wide{g.hi / unit, g.lo / unit}, -model.base);
          const Wide p = exact_polynomial(model, static_cast<double>(i) - model.centre);
          worst_sampling =
              std::max(worst_sampling, distance(Wide{exact, 0.0}, g_units) / model.sampling);
          worst_approximation =
              std::max(worst_approximation, distance(g_units, p) / model.approximation);
          for (const int lanes : {2, 4, 8}) {
            for (const bool fuse : {false, true}) {
              const double computed = kernel_value(model, first, i, lanes, fuse);
              worst = std::max(worst, std::fabs(exact - computed) / model.error);
              worst_evaluation = std::max(
                  worst_evaluation, distance(Wide{computed, 0.0}, p) / model.evaluation);
            }
          }
        }
        samples += length;
      }
    }
  }
  std::printf("[          ] %ld samples: largest error %.3f of the bound; of its parts, "
              "sampling %.3f, approximation %.3f, evaluation %.3g\n",
              samples, worst, worst_sampling, worst_approximation, worst_evaluation);
  EXPECT_GT(samples, 1000000);
  EXPECT_LT(worst, 1.0);
  EXPECT_LT(worst_sampling, 1.0);
  EXPECT_LT(worst_approximation, 1.0);
  EXPECT_LT(worst_evaluation, 1.0);
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

INSTANTIATE_TEST_SUITE_P(Kernels, SlowFastSum, testing::ValuesIn(runnable()), path_name);

} // namespace
