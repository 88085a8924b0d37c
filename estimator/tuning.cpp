// The tuning table and the processor's vendor. See tuning.h.
#include "tuning.h"

#include <algorithm>
#include <cmath>
#include <cstring>

std::array<TuningEntry, tuning_entries> tuning_table() {
  return {{
      {"avx512", "intel", {256.0, 4.0},
       "Intel Xeon (KVM, AVX-512 with FP16 and AMX), 2026-12-08"},
      {"avx512", "amd", {2048.0, 3.0}, "AMD EPYC Zen 5 (family 26) and Zen 4 (family 25), 2026-12-09"},
      {"avx2", "intel", {256.0, 3.0}, "Intel Xeon (KVM), 2026-12-08"},
      {"avx2", "amd", {2048.0, 3.0}, "AMD EPYC Zen 4 (family 25), 2026-12-09"},
      // Without fused multiply-add the model costs more than division (Intel Xeon).
      {"sse2", "", {INFINITY, 5.0}, "Intel Xeon (KVM) and AMD EPYC Zen 4, 2026-12"},
      // Processors that fuse (ARM, POWER, IBM Z, RISC-V): not measured on one;
      // the AVX2 figures, the safest of them.
      {"generic", "", {2048.0, 5.0}, "not measured: the safest AVX2 figures"},
  }};
}

const char *processor_vendor() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_cpu_init();
  if (__builtin_cpu_is("intel")) {
    return "intel";
  }
  if (__builtin_cpu_is("amd")) {
    return "amd";
  }
#endif
  return "";
}

Tuning tuning_for(const char *kernel_set, const char *vendor) {
  Tuning safest{0.0, 0.0};
  bool found = false;
  for (const TuningEntry &entry : tuning_table()) {
    if (std::strcmp(entry.kernel_set, kernel_set) != 0) {
      continue;
    }
    if (std::strcmp(entry.vendor, vendor) == 0) {
      return entry.tuning;
    }
    found = true;
    safest.model_from_segment = std::max(safest.model_from_segment, entry.tuning.model_from_segment);
    safest.levels_from_span = std::max(safest.levels_from_span, entry.tuning.levels_from_span);
  }
  return found ? safest : Tuning{INFINITY, INFINITY}; // an unknown set: dividing blocks only
}
