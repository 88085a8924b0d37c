// Benchmarks of the interior-sample sum, side by side in one run. At a few counts:
// the in-order loop; the block sum that divides out every sample, and the one by
// the model (level sums never); the dispatched sum as it was before blocks had
// the model; the dispatched fast sum; and for each kernel set this processor can
// run, its dividing blocks, its dispatched sum and its bound (the same samples
// summed unordered, inexactly). Then a scan of four counts per octave from 2^20 to
// the largest, timing the dividing block sum, the sum before the model and the
// dispatched sum at each, and the in-order loop at some. Ends with tables of both
// and the scan's slowest count for the sums before and with the model.
#include "fast_sum.h"
#include "sample_sum.h"
#include "unordered_bounds.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

using UnorderedSum = double (*)(double a, double h, std::int32_t n);

// The bounds, in the order of built_paths().
#if defined(__x86_64__)
const std::array<UnorderedSum, path_count> bounds = {unordered_sum_avx512, unordered_sum_avx2,
                                                     unordered_sum_baseline};
#else
const std::array<UnorderedSum, path_count> bounds = {unordered_sum_baseline};
#endif

constexpr std::array<std::int32_t, 3> counts = {1000000, 16777217, 2147483647};

// The scan's counts: 2^(20 + q/4), rounded, up to the largest count.
std::vector<std::int32_t> scan_counts() {
  std::vector<std::int32_t> scan;
  for (int q = 80; q <= 124; ++q) {
    scan.push_back(static_cast<std::int32_t>(std::fmin(std::round(std::exp2(q / 4.0)), INT32_MAX)));
  }
  return scan;
}

template <typename Sum> void register_sum(const std::string &name, std::int32_t n, Sum sum) {
  benchmark::RegisterBenchmark((name + "/" + std::to_string(n)).c_str(),
                               [n, sum](benchmark::State &state) {
                                 const double h = interval_width(0.0, 1.0, n);
                                 for (auto _ : state) {
                                   benchmark::DoNotOptimize(sum(h, n));
                                 }
                               })
      ->Unit(benchmark::kMillisecond);
}

// The kernels with their thresholds changed: levels_from and model_from as for
// Kernels' levels_pay_off and model_pays_off (INFINITY: never).
Kernels with(Kernels kernels, double levels_from, double model_from) {
  kernels.levels_pay_off = levels_from;
  kernels.model_pays_off = model_from;
  return kernels;
}

double in_order(double h, std::int32_t n) { return add_samples_in_order(0.0, h, 1, n, 6.0); }
// Blocks that divide out every sample, and no level sums.
double blocks(double h, std::int32_t n) {
  return add_interior_samples(0.0, h, n, 6.0, with(fastest_kernels(), INFINITY, INFINITY));
}
// The dispatched sum as it was before blocks had the model: blocks that divide,
// and level sums from 2 samples a level with the AVX kernels, 5 with the others
// (as measured then).
double before_model(double h, std::int32_t n) {
  static const double levels_from = [] {
    for (const SumPath &path : built_paths()) {
      if (path.runnable) {
        return std::strncmp(path.name, "avx", 3) == 0 ? 2.0 : 5.0;
      }
    }
    return 5.0;
  }();
  return add_interior_samples(0.0, h, n, 6.0, with(fastest_kernels(), levels_from, INFINITY));
}
// Blocks by the model where it pays, and no level sums.
double model_blocks(double h, std::int32_t n) {
  const Kernels kernels = fastest_kernels();
  return add_interior_samples(0.0, h, n, 6.0, with(kernels, INFINITY, kernels.model_pays_off));
}
double dispatched(double h, std::int32_t n) {
  return add_interior_samples(0.0, h, n, 6.0, fastest_kernels());
}

// The console report, followed by each run's speed-up over the in-order loop at
// the same count, and the scan: the dividing block sum, the sum before the model
// and the dispatched sum at each count, and the slowest counts.
class SpeedupReporter : public benchmark::ConsoleReporter {
public:
  void ReportRuns(const std::vector<Run> &runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run &run : runs) {
      if (!run.error_occurred && run.run_type == Run::RT_Iteration) {
        const std::string name = run.benchmark_name();
        const std::string sum = name.substr(0, name.find('/'));
        const auto n = static_cast<std::int32_t>(std::stol(name.substr(name.find('/') + 1)));
        ms_[sum][n] = run.GetAdjustedRealTime();
        if (sum.rfind("scan_", 0) != 0) {
          order_.emplace_back(sum, n);
        }
      }
    }
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\n%-36s %12s %10s\n", "sum/N", "time (ms)", "speed-up");
    for (const auto &[sum, n] : order_) {
      const double ms = ms_[sum][n];
      const double ratio = ms_["in_order"].count(n) != 0 ? ms_["in_order"][n] / ms : 0.0;
      std::printf("%-36s %12.3f %9.2fx\n", (sum + "/" + std::to_string(n)).c_str(), ms, ratio);
    }
    std::printf("\n%12s %12s %12s %12s %12s %10s\n", "N", "in order", "blocks",
                "before", "dispatched", "speed-up");
    for (const auto &[n, ms] : ms_["scan_fast"]) {
      const auto plain = ms_["scan_in_order"].find(n);
      char plain_ms[32] = "";
      if (plain != ms_["scan_in_order"].end()) {
        std::snprintf(plain_ms, sizeof plain_ms, "%.3f", plain->second);
      }
      const double block_ms = ms_["scan_blocks"][n];
      std::printf("%12d %12s %12.3f %12.3f %12.3f %9.2fx\n", n, plain_ms, block_ms,
                  ms_["scan_before"][n], ms, block_ms / ms);
    }
    for (const std::string sum : {"before", "fast"}) {
      const auto &times = ms_["scan_" + sum];
      const auto worst =
          std::max_element(times.begin(), times.end(),
                           [](const auto &x, const auto &y) { return x.second < y.second; });
      if (worst != times.end()) {
        std::printf("slowest count for %s: N = %d, %.3f ms\n", sum.c_str(), worst->first,
                    worst->second);
      }
    }
  }

private:
  std::map<std::string, std::map<std::int32_t, double>> ms_;
  std::vector<std::pair<std::string, std::int32_t>> order_;
};

} // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  const auto paths = built_paths();
  for (const std::int32_t n : counts) {
    register_sum("in_order", n, in_order);
    register_sum("blocks", n, blocks);
    register_sum("model", n, model_blocks);
    register_sum("before", n, before_model);
    register_sum("fast", n, dispatched);
    for (std::size_t p = 0; p < paths.size(); ++p) {
      if (!paths[p].runnable) {
        continue;
      }
      const Kernels kernels = paths[p].kernels;
      const Kernels dividing = with(kernels, INFINITY, INFINITY);
      register_sum(std::string("blocks_") + paths[p].name, n,
                   [dividing](double h, std::int32_t m) {
                     return add_interior_samples(0.0, h, m, 6.0, dividing);
                   });
      register_sum(std::string("fast_") + paths[p].name, n, [kernels](double h, std::int32_t m) {
        return add_interior_samples(0.0, h, m, 6.0, kernels);
      });
      const UnorderedSum bound = bounds[p];
      register_sum(std::string("unordered_") + paths[p].name, n,
                   [bound](double h, std::int32_t m) { return bound(0.0, h, m); });
    }
  }
  const std::vector<std::int32_t> scan = scan_counts();
  for (std::size_t s = 0; s < scan.size(); ++s) {
    if (s % 8 == 0 && scan[s] < (1 << 30)) { // every other octave, where it takes under a second
      register_sum("scan_in_order", scan[s], in_order);
    }
    register_sum("scan_blocks", scan[s], blocks);
    register_sum("scan_before", scan[s], before_model);
    register_sum("scan_fast", scan[s], dispatched);
  }
  SpeedupReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
