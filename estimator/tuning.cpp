// The tuning table, the rule that fills in what it does not say, and the
// processor's family. See tuning.h.
#include "tuning.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

// Measured in December 2026 on virtual machines (KVM), one core, by the whole
// sum over [0, 1] with each threshold forced (the benchmark's tune_ runs); each
// entry sets by name what was measured on its processor, and leaves the rest
// unmeasured for tuning_for() to fill in. docs/tuning.md has the figures.
std::array<TuningEntry, tuning_entries> tuning_table() {
  return {{
      // Measured before the inverse model, counted blocks and the levels' ends
      // counted, so those are not measured here.
      {"avx512",
       {"intel", 0},
       [] {
         Tuning tuning;
         tuning.model_from_segment = 256;
         tuning.levels_from_span = 4;
         return tuning;
       }(),
       "Intel Xeon, AVX-512 with FP16 and AMX"},
      // Zen 4 divides more slowly than Zen 5, so every value the count saves is
      // worth more: counted blocks pay from a fortieth of a sample a level, two
      // depths down from a fifth; the levels' ends counted two depths down, one
      // less from 5 samples a level (from N = 2.3e8 to 7.6e8, 2 to 6% faster).
      {"avx512",
       {"amd", 25},
       [] {
         Tuning tuning;
         tuning.model_from_segment = 512;
         tuning.levels_from_span = 1.5;
         tuning.levels_model_from_segment = 64;
         tuning.count_from_span = 0.025;
         tuning.count_deeper_from_span = 0.2;
         tuning.levels_depth = 2;
         tuning.ends_shallower_from_span = 5;
         return tuning;
       }(),
       "AMD EPYC Zen 4 (family 25, model 17)"},
      // Zen 5 divides fast: the model pays only where the longest segments keep
      // well within the remainder's target (about a fifth of it, as segments of
      // 12288 would), from about N = 10^7; counted blocks from a twentieth of a
      // sample a level, and a second depth never paid. Measured before the
      // levels' ends went one depth less, so that is not measured here.
      {"avx512",
       {"amd", 26},
       [] {
         Tuning tuning;
         tuning.model_from_segment = 12288;
         tuning.levels_from_span = 1.5;
         tuning.levels_model_from_segment = 64;
         tuning.count_from_span = 0.05;
         tuning.count_deeper_from_span = INFINITY;
         tuning.levels_depth = 1;
         return tuning;
       }(),
       "AMD EPYC Zen 5 (family 26, model 2)"},
      // Measured before the inverse model and counting, as the Xeon's AVX-512.
      {"avx2",
       {"intel", 0},
       [] {
         Tuning tuning;
         tuning.model_from_segment = 256;
         tuning.levels_from_span = 3;
         return tuning;
       }(),
       "Intel Xeon"},
      // Measured again on 2026-12-11 with every sweep. Family 25 is Zen 3 too,
      // which has no AVX-512; it was not measured.
      {"avx2",
       {"amd", 25},
       [] {
         Tuning tuning;
         tuning.model_from_segment = 512;
         tuning.levels_from_span = 1.25;
         tuning.levels_model_from_segment = 64;
         tuning.count_from_span = 0.025;
         tuning.count_deeper_from_span = 0.2;
         tuning.levels_depth = 2;
         tuning.ends_shallower_from_span = 5;
         return tuning;
       }(),
       "AMD EPYC Zen 4 (family 25, model 17)"},
      // Measured on 2026-12-11 with every sweep: the model by forward differences
      // pays without fused multiply-add too, and so does counting.
      {"sse2",
       {"amd", 25},
       [] {
         Tuning tuning;
         tuning.model_from_segment = 512;
         tuning.levels_from_span = 1.25;
         tuning.levels_model_from_segment = 64;
         tuning.count_from_span = 0.025;
         tuning.count_deeper_from_span = 0.1;
         tuning.levels_depth = 2;
         tuning.ends_shallower_from_span = 5;
         return tuning;
       }(),
       "AMD EPYC Zen 4 (family 25, model 17)"},
  }};
}

// generic (ARM, POWER, IBM Z, RISC-V) has two lanes as SSE2 does, and fused
// multiply-add besides, which makes the model and the count cheaper and leaves
// division as it is: SSE2's thresholds are on the safe side for it. unfused runs
// SSE2's kernels exactly, compiled for another processor.
const char *measured_like(const char *kernel_set) {
  const bool two_lanes =
      std::strcmp(kernel_set, "generic") == 0 || std::strcmp(kernel_set, "unfused") == 0;
  return two_lanes ? "sse2" : nullptr;
}

Tuning dividing_only() {
  Tuning tuning;
  tuning.model_from_segment = INFINITY;
  tuning.levels_from_span = INFINITY;
  tuning.levels_model_from_segment = INFINITY;
  tuning.count_from_span = INFINITY;
  tuning.count_deeper_from_span = INFINITY;
  tuning.levels_depth = 0;
  tuning.ends_shallower_from_span = INFINITY;
  return tuning;
}

Processor this_processor() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_cpu_init();
  const char *vendor = __builtin_cpu_is("intel") ? "intel" : __builtin_cpu_is("amd") ? "amd" : "";
  unsigned eax = 0;
  unsigned ebx = 0;
  unsigned ecx = 0;
  unsigned edx = 0;
  if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) {
    return {vendor, 0};
  }
  const unsigned base = (eax >> 8U) & 0xfU;
  const unsigned extended = (eax >> 20U) & 0xffU;
  return {vendor, static_cast<int>(base == 0xfU ? base + extended : base)};
#else
  return {"", 0};
#endif
}

namespace {

bool names(Processor entry, Processor processor) {
  return (entry.vendor[0] == '\0' || std::strcmp(entry.vendor, processor.vendor) == 0) &&
         (entry.family == 0 || entry.family == processor.family);
}

// The safest value of one field measured among a kernel set's entries, by
// `safer`, or unmeasured where no entry measured it.
template <typename Value, typename Safer>
Value safest_measured(const char *kernel_set, Value Tuning::*field, Safer safer) {
  Value safest = unmeasured;
  for (const TuningEntry &entry : tuning_table()) {
    const Value value = entry.tuning.*field;
    if (std::strcmp(entry.kernel_set, kernel_set) == 0 && value != unmeasured) {
      safest = safest == unmeasured ? value : safer(safest, value);
    }
  }
  return safest;
}

} // namespace

Tuning measured_for(const char *kernel_set, Processor processor) {
  for (const TuningEntry &entry : tuning_table()) {
    if (std::strcmp(entry.kernel_set, kernel_set) == 0 && names(entry.processor, processor)) {
      return entry.tuning;
    }
  }
  return Tuning{};
}

Tuning tuning_for(const char *kernel_set, Processor processor) {
  Tuning tuning = measured_for(kernel_set, processor);
  // Each unmeasured value: the set's safest measured, else that of the set whose
  // measurements serve it, else never.
  const char *like = measured_like(kernel_set);
  const auto fill = [&](auto Tuning::*field, auto safer) {
    for (const char *set : {kernel_set, like}) {
      if (tuning.*field == unmeasured && set != nullptr) {
        tuning.*field = safest_measured(set, field, safer);
      }
    }
    if (tuning.*field == unmeasured) {
      tuning.*field = dividing_only().*field;
    }
  };
  const auto higher = [](double x, double y) { return std::max(x, y); };
  const auto fewer = [](int x, int y) { return std::min(x, y); };
  fill(&Tuning::model_from_segment, higher);
  fill(&Tuning::levels_from_span, higher);
  fill(&Tuning::levels_model_from_segment, higher);
  fill(&Tuning::count_from_span, higher);
  fill(&Tuning::count_deeper_from_span, higher);
  fill(&Tuning::levels_depth, fewer);
  fill(&Tuning::ends_shallower_from_span, higher);
  return tuning;
}
