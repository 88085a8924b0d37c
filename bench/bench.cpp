// Benchmarks of the interior-sample sum, side by side in one run. At a few counts:
// the in-order loop, the block sum alone (levels never), the dispatched fast sum,
// the fast sum with each kernel this processor can run, and each kernel's bound
// (the same samples summed unordered, inexactly). Then a scan of four counts per
// octave from 2^20 to the largest, timing the block sum and the dispatched sum at
// each and the in-order loop at some. Ends with tables of both and the scan's
// slowest count for the dispatched sum.
#include "fast_sum.h"
#include "sample_sum.h"
#include "unordered_bounds.h"

#include <benchmark/benchmark.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
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

double in_order(double h, std::int32_t n) { return add_samples_in_order(0.0, h, 1, n, 6.0); }
double blocks(double h, std::int32_t n) {
  return add_interior_samples(0.0, h, n, 6.0, fastest_kernels(), INFINITY);
}
double dispatched(double h, std::int32_t n) {
  const Kernels kernels = fastest_kernels();
  return add_interior_samples(0.0, h, n, 6.0, kernels, kernels.levels_pay_off);
}

// The console report, followed by each run's speed-up over the in-order loop at
// the same count, and the scan: the block sum and the dispatched sum at each count.
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
    std::printf("\n%12s %12s %12s %12s %10s\n", "N", "in order", "blocks", "dispatched",
                "speed-up");
    std::int32_t worst = 0;
    for (const auto &[n, ms] : ms_["scan_fast"]) {
      const auto plain = ms_["scan_in_order"].find(n);
      char plain_ms[32] = "";
      if (plain != ms_["scan_in_order"].end()) {
        std::snprintf(plain_ms, sizeof plain_ms, "%.3f", plain->second);
      }
      const double block_ms = ms_["scan_blocks"][n];
      std::printf("%12d %12s %12.3f %12.3f %9.2fx\n", n, plain_ms, block_ms, ms, block_ms / ms);
      if (worst == 0 || ms > ms_["scan_fast"][worst]) {
        worst = n;
      }
    }
    if (worst != 0) {
      std::printf("\nslowest count for the dispatched sum: N = %d, %.3f ms\n", worst,
                  ms_["scan_fast"][worst]);
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
    register_sum("fast", n, dispatched);
    for (std::size_t p = 0; p < paths.size(); ++p) {
      if (!paths[p].runnable) {
        continue;
      }
      const Kernels kernels = paths[p].kernels;
      register_sum(std::string("fast_") + paths[p].name, n, [kernels](double h, std::int32_t m) {
        return add_interior_samples(0.0, h, m, 6.0, kernels, kernels.levels_pay_off);
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
    register_sum("scan_fast", scan[s], dispatched);
  }
  SpeedupReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
