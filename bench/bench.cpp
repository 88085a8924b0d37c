// Benchmarks of the interior-sample sum, side by side in one run.
//
// At a few counts: the in-order loop; the block sum that divides out every sample,
// and the one by the model where it pays (level sums never); the dispatched sum
// with the thresholds measured on an Intel Xeon (as they were before the table
// had other processors); the dispatched sum with this processor's tuning; and for
// each kernel set this processor can run, its dividing blocks, its dispatched sum
// and its bound (the same samples summed unordered, inexactly).
//
// A scan of four counts per octave from 2^20 to the largest, timing the dividing
// block sum, the sum with the Xeon's thresholds and the dispatched sum at each,
// and the in-order loop at some.
//
// The tune_ runs find where each strategy starts to pay on this processor, for
// each kernel set it can run: the model kernel against the dividing one on blocks
// whose model segments are 256 to 8192 samples long, and level sums against blocks
// where a level spans 2 to 8 samples. They end with the tuning entry to enter in
// estimator/tuning.cpp: run them with --benchmark_filter=tune_.
#include "fast_sum.h"
#include "model.h"
#include "numerics.h"
#include "tuning.h"
#include "unordered.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace {

using UnorderedSum = double (*)(double a, double h, std::int32_t n);

// The bounds, in the order of built_paths().
#if defined(__x86_64__)
const std::array<UnorderedSum, path_count> bounds = {avx512::unordered_sum, avx2::unordered_sum,
                                                     baseline::unordered_sum};
#else
const std::array<UnorderedSum, path_count> bounds = {baseline::unordered_sum};
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

void register_run(const std::string &name, const std::function<double()> &run) {
  benchmark::RegisterBenchmark(name.c_str(),
                               [run](benchmark::State &state) {
                                 for (auto _ : state) {
                                   benchmark::DoNotOptimize(run());
                                 }
                               })
      ->Unit(benchmark::kMillisecond);
}

// The sum over [0, 1] with n intervals by `sum`, as the run "name/n".
void register_sum(const std::string &name, std::int32_t n,
                  const std::function<double(double h, std::int32_t n)> &sum) {
  const double h = interval_width(0.0, 1.0, n);
  register_run(name + "/" + std::to_string(n), [sum, h, n] { return sum(h, n); });
}

// The kernels with the given tuning, as a sum over [0, 1].
std::function<double(double, std::int32_t)> tuned(KernelSet kernels, Tuning tuning) {
  return [kernels, tuning](double h, std::int32_t n) {
    return add_interior_samples(0.0, h, n, 6.0, kernels, tuning);
  };
}

double in_order(double h, std::int32_t n) { return add_samples_in_order(0.0, h, 1, n, 6.0); }

constexpr Tuning dividing_only{INFINITY, INFINITY};

// The segment lengths and level spans whose crossovers the tune_ runs look for.
constexpr std::array<double, 6> segment_lengths = {256, 512, 1024, 2048, 4096, 8192};
constexpr std::array<double, 6> level_spans = {2, 3, 4, 5, 6, 8};

// Where a block of samples over [0, 1] starts at x = 1/2 with n intervals: the
// running sum there, about f's integral over [0, 1/2] (1.8546) over h, and its unit.
struct Place {
  std::int32_t n, first;
  double h, sum, unit;
};

Place place_at_half(std::int32_t n) {
  Place place{n, n / 2, interval_width(0.0, 1.0, n), 0.0, 0.0};
  place.sum = 1.8546 / place.h;
  place.unit = unit_of(place.sum);
  place.sum = 1.5 * place.unit * 0x1p52; // the binade's middle, with room for a stretch
  return place;
}

// The first count, up an eighth of an octave at a time, at which `reached` holds.
template <typename Reached> Place first_place(Reached reached) {
  for (double n = 0x1p16; n < 0x1p31; n *= std::exp2(0.125)) {
    const Place place = place_at_half(static_cast<std::int32_t>(n));
    if (reached(place)) {
      return place;
    }
  }
  return place_at_half(INT32_MAX);
}

// The tune_ runs for one kernel set: each model segment length with both block
// kernels, over 2^17 samples in blocks of the longest length; each level span with
// level sums and with blocks by the model, over 2^20 samples.
void register_tuning(const KernelSet &kernels) {
  const std::string set = kernels.name;
  for (const double length : segment_lengths) {
    const Place at = first_place(
        [length](const Place &p) { return model_segment(p.h, p.unit) >= length; });
    for (const auto &[name, kernel] :
         {std::pair{"tune_divide/", kernels.divide}, std::pair{"tune_model/", kernels.model}}) {
      register_run(name + set + "/" + std::to_string(static_cast<int>(length)), [at, kernel] {
        double total = 0.0;
        for (std::int32_t i = at.first; i < at.first + (1 << 17); i += longest_block) {
          total += kernel(0.0, at.h, i, longest_block, at.unit);
        }
        return total;
      });
    }
  }
  for (const double span : level_spans) {
    const Place at = first_place([span](const Place &p) {
      const double x = 0.5;
      return p.unit * (1.25 * 1.25) >= span * 8.0 * x * p.h; // a level spans `span` samples
    });
    const Progress from{at.first, at.sum};
    const std::int32_t end = at.first + (1 << 20);
    register_run("tune_blocks/" + set + "/" + std::to_string(static_cast<int>(span)),
                 [at, from, end, kernels] {
                   return add_blocks(0.0, at.h, from, end, kernels.model).at.sum;
                 });
    register_run("tune_levels/" + set + "/" + std::to_string(static_cast<int>(span)),
                 [at, from, end, kernels] {
                   Reached reached{from, Stop::done, from.index};
                   // Where level sums stop short, blocks take one quantum past the batch.
                   while (reached.at.index < end) {
                     const std::int32_t past =
                         std::max(reached.until, reached.at.index) + block_quantum;
                     reached = reached.why != Stop::done
                                   ? add_blocks(0.0, at.h, reached.at, std::min(end, past),
                                                kernels.model)
                                   : add_levels(0.0, at.h, reached.at, end, kernels.levels, 0.0);
                   }
                   return reached.at.sum;
                 });
  }
}

// This processor's name, as the kernel reports it.
std::string processor_name() {
  std::ifstream cpuinfo("/proc/cpuinfo");
  std::string line;
  while (std::getline(cpuinfo, line)) {
    if (line.rfind("model name", 0) == 0) {
      return line.substr(line.find(':') + 2);
    }
  }
  return "unknown processor";
}

// The console report, then: each run's speed-up over the in-order loop at the
// same count; the scan's table and its slowest counts; and, from the tune_ runs,
// where each strategy pays and the tuning entry that says so.
class SpeedupReporter : public benchmark::ConsoleReporter {
public:
  void ReportRuns(const std::vector<Run> &runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run &run : runs) {
      if (!run.error_occurred && run.run_type == Run::RT_Iteration) {
        const std::string name = run.benchmark_name();
        const std::size_t slash = name.rfind('/');
        const std::string sum = name.substr(0, slash);
        const auto n = static_cast<std::int32_t>(std::stol(name.substr(slash + 1)));
        ms_[sum][n] = run.GetAdjustedRealTime();
        if (sum.rfind("scan_", 0) != 0 && sum.rfind("tune_", 0) != 0) {
          order_.emplace_back(sum, n);
        }
      }
    }
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    report_counts();
    report_scan();
    report_tuning();
  }

private:
  void report_counts() {
    if (order_.empty()) {
      return;
    }
    std::printf("\n%-36s %12s %10s\n", "sum/N", "time (ms)", "speed-up");
    for (const auto &[sum, n] : order_) {
      const double ms = ms_[sum][n];
      const double ratio = ms_["in_order"].count(n) != 0 ? ms_["in_order"][n] / ms : 0.0;
      std::printf("%-36s %12.3f %9.2fx\n", (sum + "/" + std::to_string(n)).c_str(), ms, ratio);
    }
  }

  void report_scan() {
    if (ms_["scan_fast"].empty()) {
      return;
    }
    std::printf("\n%12s %12s %12s %12s %12s %10s %10s\n", "N", "in order", "blocks", "xeon tuned",
                "dispatched", "vs blocks", "vs xeon");
    for (const auto &[n, ms] : ms_["scan_fast"]) {
      const auto plain = ms_["scan_in_order"].find(n);
      char plain_ms[32] = "";
      if (plain != ms_["scan_in_order"].end()) {
        std::snprintf(plain_ms, sizeof plain_ms, "%.3f", plain->second);
      }
      const double block_ms = ms_["scan_blocks"][n];
      const double xeon_ms = ms_["scan_xeon"][n];
      std::printf("%12d %12s %12.3f %12.3f %12.3f %9.2fx %9.2fx\n", n, plain_ms, block_ms, xeon_ms,
                  ms, block_ms / ms, xeon_ms / ms);
    }
    for (const std::string sum : {"xeon", "fast"}) {
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

  // The smallest threshold from which the faster run wins at every larger one
  // too (infinity where it never does), and the table of both.
  double crossover(const std::string &slower, const std::string &faster, const char *what) {
    double from = INFINITY;
    bool wins = true; // at every threshold seen so far, from the largest down
    std::printf("%s: %s against %s (ms)\n", what, faster.c_str(), slower.c_str());
    const auto &base = ms_[slower];
    for (auto it = base.rbegin(); it != base.rend(); ++it) {
      const double ms = ms_[faster][it->first];
      std::printf("  %6d: %9.3f %9.3f\n", it->first, ms, it->second);
      wins = wins && ms <= it->second;
      from = wins ? it->first : from;
    }
    return from;
  }

  void report_tuning() {
    for (const SumPath &path : built_paths()) {
      const std::string set = path.kernels.name;
      if (ms_["tune_model/" + set].empty()) {
        continue;
      }
      std::printf("\n");
      const double model_from =
          crossover("tune_divide/" + set, "tune_model/" + set, "segment length");
      const double levels_from =
          crossover("tune_blocks/" + set, "tune_levels/" + set, "samples per level");
      std::printf("tuning entry: {\"%s\", \"%s\", {%g, %g}, \"%s\"},\n", set.c_str(),
                  processor_vendor(), model_from, levels_from, processor_name().c_str());
    }
  }

  std::map<std::string, std::map<std::int32_t, double>> ms_;
  std::vector<std::pair<std::string, std::int32_t>> order_;
};

} // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  const auto paths = built_paths();
  const KernelSet fastest = fastest_kernels();
  const Tuning tuning = tuning_for(fastest.name, processor_vendor());
  const Tuning xeon = tuning_for(fastest.name, "intel");
  for (const std::int32_t n : counts) {
    register_sum("in_order", n, in_order);
    register_sum("blocks", n, tuned(fastest, dividing_only));
    register_sum("model", n, tuned(fastest, {tuning.model_from_segment, INFINITY}));
    register_sum("xeon", n, tuned(fastest, xeon));
    register_sum("fast", n, tuned(fastest, tuning));
    for (std::size_t p = 0; p < paths.size(); ++p) {
      if (!paths[p].runnable) {
        continue;
      }
      const KernelSet kernels = paths[p].kernels;
      const std::string set = kernels.name;
      register_sum("blocks_" + set, n, tuned(kernels, dividing_only));
      register_sum("fast_" + set, n, tuned(kernels, tuning_for(kernels.name, processor_vendor())));
      const UnorderedSum bound = bounds[p];
      register_sum("unordered_" + set, n,
                   [bound](double h, std::int32_t m) { return bound(0.0, h, m); });
    }
  }
  const std::vector<std::int32_t> scan = scan_counts();
  for (std::size_t s = 0; s < scan.size(); ++s) {
    if (s % 8 == 0 && scan[s] < (1 << 30)) { // every other octave, where it takes under a second
      register_sum("scan_in_order", scan[s], in_order);
    }
    register_sum("scan_blocks", scan[s], tuned(fastest, dividing_only));
    register_sum("scan_xeon", scan[s], tuned(fastest, xeon));
    register_sum("scan_fast", scan[s], tuned(fastest, tuning));
  }
  for (const SumPath &path : paths) {
    if (path.runnable) {
      register_tuning(path.kernels);
    }
  }
  SpeedupReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
