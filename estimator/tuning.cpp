// The tuning table and the processor's family. See tuning.h.
#include "tuning.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

// Measured in December 2026 on virtual machines (KVM), one core, by the whole
// sum over [0, 1] with each threshold forced (the benchmark's tune_ runs). The
// inverse model in level sums was measured on the AMD EPYC Zen 4 and Zen 5 only;
// elsewhere its entry is 256, where it paid on Zen 4 with either kernel set, and
// the span from which level sums pay was measured without it (with it they pay
// earlier: on Zen 4 and Zen 5 with AVX-512, from 1.5 samples a level, not 3).
// Zen 5 divides fast: the model pays there only where the longest segments keep
// well within the remainder's target (about a fifth of it, as segments of 12288
// would), from about N = 10^7. Counted blocks, and level sums' ends counted, were
// measured on Zen 5 and Zen 4 only; elsewhere never. On Zen 5 they pay from a
// twentieth of a sample a level, one depth down (two cost more); on Zen 4, which
// divides more slowly, from a fortieth, and two depths down where a level spans a
// fifth of a sample or more (below, the second costs about 5%), with either
// kernel set; with AVX-512 its level sums count their ends one depth less where a
// level spans 5 samples or more (from N = 2.3e8 to 7.6e8, 2 to 6% faster).
std::array<TuningEntry, tuning_entries> tuning_table() {
  return {{
      {"avx512",
       {"intel", 0},
       {256.0, 4.0, 256.0, INFINITY, INFINITY, 0, INFINITY},
       "Intel Xeon, AVX-512 with FP16 and AMX"},
      {"avx512",
       {"amd", 25},
       {512.0, 1.5, 64.0, 0.025, 0.2, 2, 5.0},
       "AMD EPYC Zen 4 (family 25, model 17)"},
      {"avx512",
       {"amd", 26},
       {12288.0, 1.5, 64.0, 0.05, INFINITY, 1, INFINITY},
       "AMD EPYC Zen 5 (family 26, model 2)"},
      {"avx2", {"intel", 0}, {256.0, 3.0, 256.0, INFINITY, INFINITY, 0, INFINITY}, "Intel Xeon"},
      // Family 25 is Zen 3 too, which has no AVX-512; it was not measured.
      {"avx2",
       {"amd", 25},
       {8192.0, 2.0, 256.0, 0.025, 0.2, 2, INFINITY},
       "AMD EPYC Zen 4 (family 25, model 17)"},
      // Without fused multiply-add the model costs more than division.
      {"sse2",
       {"", 0},
       {INFINITY, 5.0, INFINITY, INFINITY, INFINITY, 0, INFINITY},
       "Intel Xeon; AMD EPYC Zen 4 agrees"},
      // Processors that fuse (ARM, POWER, IBM Z, RISC-V): not measured on one;
      // the model from where it paid with AVX-512 on every processor measured.
      {"generic", {"", 0}, {2048.0, 5.0, 256.0, INFINITY, INFINITY, 0, INFINITY}, "not measured"},
      // Others, without fused multiply-add: as SSE2.
      {"unfused",
       {"", 0},
       {INFINITY, 5.0, INFINITY, INFINITY, INFINITY, 0, INFINITY},
       "not measured"},
  }};
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

} // namespace

Tuning tuning_for(const char *kernel_set, Processor processor) {
  Tuning safest{0.0, 0.0, 0.0, 0.0, 0.0, std::numeric_limits<int>::max(), 0.0};
  bool found = false;
  for (const TuningEntry &entry : tuning_table()) {
    if (std::strcmp(entry.kernel_set, kernel_set) != 0) {
      continue;
    }
    if (names(entry.processor, processor)) {
      return entry.tuning;
    }
    found = true;
    safest.model_from_segment =
        std::max(safest.model_from_segment, entry.tuning.model_from_segment);
    safest.levels_from_span = std::max(safest.levels_from_span, entry.tuning.levels_from_span);
    safest.levels_model_from_segment =
        std::max(safest.levels_model_from_segment, entry.tuning.levels_model_from_segment);
    safest.count_from_span = std::max(safest.count_from_span, entry.tuning.count_from_span);
    safest.count_deeper_from_span =
        std::max(safest.count_deeper_from_span, entry.tuning.count_deeper_from_span);
    safest.levels_depth = std::min(safest.levels_depth, entry.tuning.levels_depth);
    safest.ends_shallower_from_span =
        std::max(safest.ends_shallower_from_span, entry.tuning.ends_shallower_from_span);
  }
  return found ? safest
               : Tuning{INFINITY, INFINITY, INFINITY, INFINITY,
                        INFINITY, 0,        INFINITY}; // an unknown set: dividing blocks only
}
