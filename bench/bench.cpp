// Benchmarks of the interior-sample sum, side by side in one run.
//
// At a few counts: the in-order loop; the block sum that divides out every sample,
// and the one by the model where it pays (level sums never); the dispatched sum
// as before the processor table and the inverse model (the Intel Xeon's
// thresholds, levels' ends by guess and confirmation only); the dispatched sum
// with this processor's tuning; and for
// each kernel set this processor can run, its dividing blocks, its dispatched sum
// and its bound (the same samples summed unordered, inexactly).
//
// A scan of four counts per octave from 2^20 to the largest, timing for each
// kernel set this processor can run its dividing block sum and its dispatched
// sum at each, the sum as before for the widest, and the in-order loop at some.
//
// With --entries=R it runs none of these, but compares, over the scan's counts
// and for each kernel set, the sum as dispatched with each entry of the tuning
// table forced on the set, in R rounds, and says how far the dispatched sum is
// from the fastest entry at each count.
//
// The tune_ runs find where each strategy starts to pay on this processor, for
// each kernel set it can run: the whole sum with each threshold forced, at the
// counts where it matters. For each threshold the report gives its largest time
// over the best at any count, and picks the threshold where that is smallest;
// then it prints the tuning entry to enter in estimator/tuning.cpp. Run them
// alone, with --benchmark_filter=tune_; they run in rounds (--tune_rounds=R,
// 3 by default), each threshold at one count before the next count.
#include "fast_sum.h"
#include "model.h"
#include "numerics.h"
#include "tuning.h"
#include "unordered.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <chrono>
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
#define PI_ESTIMATE_BOUND(set, runs) set::unordered_sum,
const std::array<UnorderedSum, path_count> bounds = {PI_ESTIMATE_KERNEL_SETS(PI_ESTIMATE_BOUND)};
#undef PI_ESTIMATE_BOUND

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
  benchmark::RegisterBenchmark(name.c_str(), [run](benchmark::State &state) {
    for (auto _ : state) {
      benchmark::DoNotOptimize(run());
    }
  })->Unit(benchmark::kMillisecond);
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

// Blocks by the model from segments of `from` samples, every other strategy never.
Tuning model_from(double from) {
  Tuning tuning = dividing_only();
  tuning.model_from_segment = from;
  return tuning;
}

// The thresholds that the tune_ runs try, each at the counts where it matters:
// the model from segments of 256 to 16384 samples (beyond 8192: a remainder as
// small as segments that long would have), or never, from N = 2^19 to
// 2^24.5; level sums from 1.25 to 6 samples a level, or never, from N = 2^26 to
// 2^29.5; the inverse model from segments of 64 to 4096 levels, or never, from
// N = 2^26 to the largest; counted blocks from a fortieth of a sample a level to
// a half, or never, and their second depth from where a level spans 0 to half a
// sample, or never, from N = 2^23 to 2^28 (every half octave); the levels' ends
// counted to 0, 1 or 2 depths, and one depth less from where a level spans 3 to 8
// samples, or never, from N = 2^26 to the largest.
constexpr std::array<double, 9> model_thresholds = {256,  512,   1024,  2048,    4096,
                                                    8192, 12288, 16384, INFINITY};
constexpr std::array<double, 7> level_thresholds = {1.25, 1.5, 2, 3, 4, 6, INFINITY};
constexpr std::array<double, 5> inverse_thresholds = {64, 256, 1024, 4096, INFINITY};
constexpr std::array<double, 6> count_thresholds = {0.025, 0.05, 0.1, 0.2, 0.5, INFINITY};
constexpr std::array<double, 6> deeper_thresholds = {0, 0.1, 0.2, 0.3, 0.5, INFINITY};
constexpr std::array<double, 3> ends_depths = {0, 1, 2};
constexpr std::array<double, 6> shallower_thresholds = {3, 4, 5, 6, 8, INFINITY};

std::string threshold_name(double threshold) {
  char name[16];
  std::snprintf(name, sizeof name, "%g", threshold);
  return std::isinf(threshold) ? "never" : name;
}

// The tune_ runs for one kernel set: the whole sum over [0, 1] with each model
// threshold (level sums never); then with each level sums threshold and each
// threshold of the inverse model in level sums (the other thresholds as this
// processor's tuning has them), from N = 2^26 up. Each sweep runs in rounds, and
// within a round every threshold at one count before the next count, so that a
// drift of the machine's speed reaches every threshold alike; the report takes
// each threshold's fastest round.
void register_tuning(const KernelSet &kernels, int rounds) {
  const std::string set = kernels.name;
  const Tuning tuning = tuning_for(kernels.name, this_processor());
  const auto sweep = [&](const std::string &name, const auto &thresholds, int from_q, int to_q,
                         const auto &tuning_with) {
    for (int round = 0; round < rounds; ++round) {
      for (int q = from_q; q <= to_q; ++q) {
        const auto n =
            static_cast<std::int32_t>(std::fmin(std::round(std::exp2(q / 2.0)), INT32_MAX));
        for (const double threshold : thresholds) {
          std::string run = "tune_";
          run += name;
          run += "/" + set + "/" + threshold_name(threshold);
          register_sum(run, n, tuned(kernels, tuning_with(threshold)));
        }
      }
    }
  };
  sweep("model", model_thresholds, 38, 49, model_from);
  // This processor's tuning with one threshold set.
  const auto with = [tuning](double Tuning::*threshold) {
    return [tuning, threshold](double from) {
      Tuning set_so = tuning;
      set_so.*threshold = from;
      return set_so;
    };
  };
  sweep("levels", level_thresholds, 52, 59, with(&Tuning::levels_from_span));
  sweep("inverse", inverse_thresholds, 52, 62, with(&Tuning::levels_model_from_segment));
  sweep("count", count_thresholds, 46, 56, with(&Tuning::count_from_span));
  sweep("depth", deeper_thresholds, 46, 56, [tuning](double from) {
    Tuning set_so = tuning;
    set_so.count_from_span = std::isinf(tuning.count_from_span) ? 0.05 : tuning.count_from_span;
    set_so.count_deeper_from_span = from;
    return set_so;
  });
  sweep("ends", ends_depths, 52, 62, [tuning](double depth) {
    Tuning set_so = tuning;
    set_so.levels_depth = static_cast<int>(depth);
    set_so.ends_shallower_from_span = INFINITY;
    return set_so;
  });
  sweep("shallower", shallower_thresholds, 52, 62, with(&Tuning::ends_shallower_from_span));
}

// The name of a table entry in the --entries comparison: its kernel set and
// processor.
std::string entry_name(const TuningEntry &entry) {
  return std::string(entry.kernel_set) + "-" +
         (entry.processor.vendor[0] == '\0' ? "any" : entry.processor.vendor) +
         (entry.processor.family == 0 ? "" : std::to_string(entry.processor.family));
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

// The fastest of several calls of run (three at least, and 40 ms), in ms.
double fastest_call_ms(const std::function<double()> &run) {
  double fastest = INFINITY;
  double total = 0.0;
  for (int calls = 0; calls < 3 || (total < 0.04 && calls < 100); ++calls) {
    const auto start = std::chrono::steady_clock::now();
    benchmark::DoNotOptimize(run());
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    fastest = std::min(fastest, took.count());
    total += took.count();
  }
  return 1e3 * fastest;
}

// For each kernel set this processor runs, over the scan's counts: the sum as
// dispatched and with each entry of the tuning table forced on the set (as
// tuning_for() fills it in for the entry's own set and processor), in rounds,
// every tuning at one count before the next count, each time the fastest call
// of its round and then of all rounds (Google Benchmark's mean of iterations
// strays here by up to a fifth at one count, this by a few percent). Prints at
// each count the dispatched sum over the fastest entry, and the largest ratio.
void compare_entries(int rounds) {
  std::vector<std::pair<std::string, Tuning>> entries;
  for (const TuningEntry &entry : tuning_table()) {
    entries.emplace_back(entry_name(entry), tuning_for(entry.kernel_set, entry.processor));
  }
  for (const SumPath &path : built_paths()) {
    if (!path.runnable) {
      continue;
    }
    const KernelSet kernels = path.kernels;
    const Tuning dispatched = tuning_for(kernels.name, this_processor());
    std::map<std::int32_t, double> dispatched_ms;
    std::map<std::int32_t, std::vector<double>> entry_ms;
    for (int round = 0; round < rounds; ++round) {
      for (const std::int32_t n : scan_counts()) {
        const double h = interval_width(0.0, 1.0, n);
        const auto sum = [&](const Tuning &tuning) {
          return fastest_call_ms(
              [&] { return add_interior_samples(0.0, h, n, 6.0, kernels, tuning); });
        };
        const auto keep = [round](double &best, double ms) {
          best = round == 0 ? ms : std::min(best, ms);
        };
        keep(dispatched_ms[n], sum(dispatched));
        entry_ms[n].resize(entries.size());
        for (std::size_t e = 0; e < entries.size(); ++e) {
          keep(entry_ms[n][e], sum(entries[e].second));
        }
      }
    }
    std::printf("\n%s on %s: the dispatched sum against the fastest entry forced on the set, "
                "fastest call of %d rounds, ms\n%12s %12s %12s %-16s %8s\n",
                kernels.name, processor_name().c_str(), rounds, "N", "dispatched", "fastest",
                "entry", "ratio");
    double worst = 0.0;
    for (const auto &[n, ms] : dispatched_ms) {
      const auto &times = entry_ms[n];
      const auto fastest = std::min_element(times.begin(), times.end()) - times.begin();
      worst = std::max(worst, ms / times[fastest]);
      std::printf("%12d %12.3f %12.3f %-16s %8.3f\n", n, ms, times[fastest],
                  entries[fastest].first.c_str(), ms / times[fastest]);
    }
    std::printf("largest ratio: %.3f\n", worst);
  }
}

// The console report, then: each run's speed-up over the in-order loop at the
// same count; the scan's table and its slowest counts; and, from the tune_ runs,
// where each strategy pays and the tuning entry that says so.
class SpeedupReporter : public benchmark::ConsoleReporter {
public:
  void ReportRuns(const std::vector<Run> &runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run &run : runs) {
      // Each run's time, or with repetitions their median.
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      if (!run.error_occurred && (run.run_type == Run::RT_Iteration || median)) {
        const std::string name = run.run_name.str();
        const std::size_t slash = name.rfind('/');
        const std::string sum = name.substr(0, slash);
        const auto n = static_cast<std::int32_t>(std::stol(name.substr(slash + 1)));
        const bool first = ms_[sum].count(n) == 0;
        const double ms = run.GetAdjustedRealTime();
        // A tune_ run comes once a round: keep its fastest.
        const bool tune = sum.rfind("tune_", 0) == 0;
        ms_[sum][n] = first || !tune ? ms : std::min(ms_[sum][n], ms);
        if (first && sum.rfind("scan_", 0) != 0 && !tune) {
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

  // For each kernel set that was scanned, its table and its slowest count (from
  // 2^24 up, where a person would wait), and the sum as before for the fastest.
  void report_scan() {
    for (const SumPath &path : built_paths()) {
      const std::string set = path.kernels.name;
      const auto &fast = ms_["scan_fast_" + set];
      if (fast.empty()) {
        continue;
      }
      const auto &before = ms_["scan_before_" + set];
      std::printf("\nscan, %s\n%12s %12s %12s %12s %10s", set.c_str(), "N", "in order", "blocks",
                  "dispatched", "vs blocks");
      if (!before.empty()) {
        std::printf(" %12s %10s", "before", "vs before");
      }
      std::printf("\n");
      for (const auto &[n, ms] : fast) {
        const auto plain = ms_["scan_in_order"].find(n);
        char plain_ms[32] = "";
        if (plain != ms_["scan_in_order"].end()) {
          std::snprintf(plain_ms, sizeof plain_ms, "%.3f", plain->second);
        }
        const double block_ms = ms_["scan_blocks_" + set][n];
        std::printf("%12d %12s %12.3f %12.3f %9.2fx", n, plain_ms, block_ms, ms, block_ms / ms);
        if (before.count(n) != 0) {
          std::printf(" %12.3f %9.2fx", before.at(n), before.at(n) / ms);
        }
        std::printf("\n");
      }
      for (const auto *times : {&fast, &before}) {
        const auto from = times->lower_bound(1 << 24);
        const auto worst = std::max_element(
            from, times->end(), [](const auto &x, const auto &y) { return x.second < y.second; });
        if (worst != times->end()) {
          std::printf("slowest count from 2^24 %s: N = %d, %.3f ms\n",
                      times == &fast ? "dispatched" : "before", worst->first, worst->second);
        }
      }
    }
  }

  // The table of a tuning sweep (ms, and each time over the best at its count)
  // and the threshold whose largest such ratio is smallest.
  template <std::size_t size>
  double best_threshold(const std::string &sweep, const std::array<double, size> &thresholds) {
    std::map<std::int32_t, double> best;
    for (const double threshold : thresholds) {
      for (const auto &[n, ms] : ms_[sweep + "/" + threshold_name(threshold)]) {
        best[n] = best.count(n) == 0 ? ms : std::min(best[n], ms);
      }
    }
    std::printf("\n%s, ms (and over the best at each count)\n%12s", sweep.c_str(), "N");
    for (const double threshold : thresholds) {
      std::printf(" %14s", threshold_name(threshold).c_str());
    }
    std::map<double, double> worst; // each threshold's largest ratio to the best
    for (const auto &[n, fastest] : best) {
      std::printf("\n%12d", n);
      for (const double threshold : thresholds) {
        const double ms = ms_[sweep + "/" + threshold_name(threshold)][n];
        worst[threshold] = std::max(worst[threshold], ms / fastest);
        std::printf(" %7.3f (%.2f)", ms, ms / fastest);
      }
    }
    std::printf("\n%12s", "worst");
    double chosen = thresholds.back(); // "never" where a sweep has it
    for (const double threshold : thresholds) {
      std::printf(" %14.2f", worst[threshold]);
      chosen = worst[threshold] < worst[chosen] ? threshold : chosen;
    }
    std::printf("\n");
    return chosen;
  }

  void report_tuning() {
    for (const SumPath &path : built_paths()) {
      const std::string set = path.kernels.name;
      // Each sweep that ran gives its threshold; the others stay as this processor's
      // entry has them, measured or not.
      const Tuning now = measured_for(path.kernels.name, this_processor());
      const auto swept = [this, &set](const std::string &sweep, const char *threshold = "never") {
        std::string name = "tune_";
        name += sweep;
        name += "/";
        name += set;
        name += "/";
        name += threshold;
        return !ms_[name].empty();
      };
      if (!swept("model") && !swept("levels") && !swept("inverse") && !swept("count") &&
          !swept("depth") && !swept("ends", "0") && !swept("shallower")) {
        continue;
      }
      const double model_from = swept("model")
                                    ? best_threshold("tune_model/" + set, model_thresholds)
                                    : now.model_from_segment;
      const double levels_from = swept("levels")
                                     ? best_threshold("tune_levels/" + set, level_thresholds)
                                     : now.levels_from_span;
      const double inverse_from = swept("inverse")
                                      ? best_threshold("tune_inverse/" + set, inverse_thresholds)
                                      : now.levels_model_from_segment;
      const double count_from = swept("count")
                                    ? best_threshold("tune_count/" + set, count_thresholds)
                                    : now.count_from_span;
      const double deeper_from = swept("depth")
                                     ? best_threshold("tune_depth/" + set, deeper_thresholds)
                                     : now.count_deeper_from_span;
      const double ends_depth =
          swept("ends", "0") ? best_threshold("tune_ends/" + set, ends_depths) : now.levels_depth;
      const double shallower_from =
          swept("shallower") ? best_threshold("tune_shallower/" + set, shallower_thresholds)
                             : now.ends_shallower_from_span;
      const Processor processor = this_processor();
      // As C++ to paste into the table: "never" is INFINITY there.
      const auto number = [](double threshold) {
        const std::string name = threshold_name(threshold);
        return name == "never" ? std::string("INFINITY") : name;
      };
      // The table takes the first entry that names a processor: this one goes in
      // place of this processor's entry, or before an entry that names any family.
      std::printf("tuning entry (in place of this processor's, or before one for any family):\n    "
                  "  {\"%s\", {\"%s\", %d},\n       [] {\n"
                  "         Tuning tuning;\n",
                  set.c_str(), processor.vendor, processor.family);
      const std::pair<const char *, double> fields[] = {
          {"model_from_segment", model_from},          {"levels_from_span", levels_from},
          {"levels_model_from_segment", inverse_from}, {"count_from_span", count_from},
          {"count_deeper_from_span", deeper_from},     {"levels_depth", ends_depth},
          {"ends_shallower_from_span", shallower_from}};
      // Only what was measured: a field that neither a sweep nor this processor's
      // entry measured stays out of the entry.
      for (const auto &[field, value] : fields) {
        if (value != unmeasured) {
          std::printf("         tuning.%s = %s;\n", field, number(value).c_str());
        }
      }
      std::printf("         return tuning;\n       }(),\n       \"%s\"},\n",
                  processor_name().c_str());
    }
  }

  std::map<std::string, std::map<std::int32_t, double>> ms_;
  std::vector<std::pair<std::string, std::int32_t>> order_;
};

} // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  // --tune_rounds=R: how many rounds each tuning sweep runs (3 by default).
  // --entries=R: the entries compared with the dispatched sum, in R rounds, alone.
  int rounds = 3;
  for (int k = 1; k < argc; ++k) {
    const std::string arg = argv[k];
    if (arg.rfind("--tune_rounds=", 0) == 0) {
      rounds = std::max(1, std::stoi(arg.substr(14)));
    } else if (arg.rfind("--entries=", 0) == 0) {
      compare_entries(std::max(1, std::stoi(arg.substr(10))));
      return 0;
    } else {
      std::fprintf(stderr, "unknown argument: %s\n", argv[k]);
      return 1;
    }
  }
  const auto paths = built_paths();
  const KernelSet fastest = fastest_kernels();
  const Tuning tuning = tuning_for(fastest.name, this_processor());
  // As the sum was before the processor table and the inverse model: the Intel
  // Xeon's model and level sums (as the table has them for the set), levels' ends
  // by guess and confirmation only, nothing counted.
  const Tuning xeon = tuning_for(fastest.name, {"intel", 0});
  Tuning before = dividing_only();
  before.model_from_segment = xeon.model_from_segment;
  before.levels_from_span = xeon.levels_from_span;
  for (const std::int32_t n : counts) {
    register_sum("in_order", n, in_order);
    register_sum("blocks", n, tuned(fastest, dividing_only()));
    register_sum("model", n, tuned(fastest, model_from(tuning.model_from_segment)));
    register_sum("before", n, tuned(fastest, before));
    register_sum("fast", n, tuned(fastest, tuning));
    for (std::size_t p = 0; p < paths.size(); ++p) {
      if (!paths[p].runnable) {
        continue;
      }
      const KernelSet kernels = paths[p].kernels;
      const std::string set = kernels.name;
      register_sum("blocks_" + set, n, tuned(kernels, dividing_only()));
      register_sum("fast_" + set, n, tuned(kernels, tuning_for(kernels.name, this_processor())));
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
    register_sum("scan_before_" + std::string(fastest.name), scan[s], tuned(fastest, before));
    for (const SumPath &path : paths) {
      if (path.runnable) {
        const std::string set = path.kernels.name;
        register_sum("scan_blocks_" + set, scan[s], tuned(path.kernels, dividing_only()));
        register_sum("scan_fast_" + set, scan[s],
                     tuned(path.kernels, tuning_for(path.kernels.name, this_processor())));
      }
    }
  }
  for (const SumPath &path : paths) {
    if (path.runnable) {
      register_tuning(path.kernels, rounds);
    }
  }
  SpeedupReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
