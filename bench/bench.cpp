// Benchmarks of the interior-sample sum at a few counts, side by side in one run:
// the in-order loop, the dispatched fast sum, each vector kernel this processor
// can run, and each kernel's bound (the same samples summed unordered, inexactly).
// Ends with a table of speed-ups over the in-order loop.
#include "fast_sum.h"
#include "sample_sum.h"
#include "unordered_bounds.h"

#include <benchmark/benchmark.h>

#include <array>
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

// The console report, followed by each run's speed-up over the in-order loop at
// the same count.
class SpeedupReporter : public benchmark::ConsoleReporter {
public:
  void ReportRuns(const std::vector<Run> &runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run &run : runs) {
      if (!run.error_occurred && run.run_type == Run::RT_Iteration) {
        seconds_[run.benchmark_name()] = run.GetAdjustedRealTime();
        order_.push_back(run.benchmark_name());
      }
    }
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\n%-36s %12s %10s\n", "sum/N", "time (ms)", "speed-up");
    for (const std::string &name : order_) {
      const std::string n = name.substr(name.find('/'));
      const auto plain = seconds_.find("in_order" + n);
      const double ratio = plain == seconds_.end() ? 0.0 : plain->second / seconds_[name];
      std::printf("%-36s %12.3f %9.2fx\n", name.c_str(), seconds_[name], ratio);
    }
  }

private:
  std::map<std::string, double> seconds_;
  std::vector<std::string> order_;
};

} // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  const auto paths = built_paths();
  for (const std::int32_t n : counts) {
    register_sum("in_order", n, [](double h, std::int32_t m) {
      return add_samples_in_order(0.0, h, 1, m, 6.0);
    });
    register_sum("fast", n, [](double h, std::int32_t m) {
      return add_interior_samples(0.0, h, m, 6.0, fastest_kernels());
    });
    for (std::size_t p = 0; p < paths.size(); ++p) {
      if (!paths[p].runnable) {
        continue;
      }
      const Kernels kernels = paths[p].kernels;
      register_sum(std::string("fast_") + paths[p].name, n, [kernels](double h, std::int32_t m) {
        return add_interior_samples(0.0, h, m, 6.0, kernels);
      });
      const UnorderedSum bound = bounds[p];
      register_sum(std::string("unordered_") + paths[p].name, n,
                   [bound](double h, std::int32_t m) { return bound(0.0, h, m); });
    }
  }
  SpeedupReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
