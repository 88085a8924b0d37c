// The fast, exact sum of interior samples and the choice of vector kernel.
//
// While the running sum s lies in one binade [2^k, 2^(k+1)), every double there is
// a multiple of u = 2^(k-52), so adding a sample v >= 0 gives s plus v rounded to a
// multiple of u, as long as the result stays below 2^(k+1). That rounding does not
// depend on s, except for a tie (v exactly halfway between two multiples), where
// round-half-even looks at the last bit of s. Hence, for a block of samples with
// no tie whose rounded total T keeps s + T below 2^(k+1), adding the samples one
// by one gives exactly s + T; the kernels compute T in any order, exactly (see
// rounded_sample_sum). A block that holds a tie or would leave the binade is added
// one sample at a time instead. So is everything while s < 16, where a sample
// (at most 4) is not small enough next to the binade for the kernel's rounding.
#include "fast_sum.h"
#include "sample_sum.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::int32_t longest_block = 8192;
static_assert(longest_block < (1 << 14), "the kernels total fewer than 2^14 samples exactly");

// The power of two 2^k with 2^k <= s < 2^(k+1), for a positive normal s: s with
// its significand cleared.
double binade_bottom(double s) {
  std::uint64_t bits = 0;
  std::memcpy(&bits, &s, sizeof bits);
  bits &= 0xfff0000000000000U;
  std::memcpy(&s, &bits, sizeof bits);
  return s;
}

// The length of the next block for a sum in [bottom, 2 * bottom), at most `most`
// samples: as many whole quanta as surely keep the sum below 2 * bottom (each
// sample adds at most 4), and at least one quantum.
std::int32_t block_length(double sum, double bottom, std::int32_t most) {
  const double fit = std::min((2.0 * bottom - sum) / 4.0, static_cast<double>(most));
  return std::max(block_quantum, static_cast<std::int32_t>(fit) / block_quantum * block_quantum);
}

} // namespace

std::array<SumPath, path_count> built_paths() {
#if defined(__x86_64__)
  __builtin_cpu_init();
  return {{{"avx512", block_sum_avx512, static_cast<bool>(__builtin_cpu_supports("avx512f"))},
           {"avx2", block_sum_avx2, static_cast<bool>(__builtin_cpu_supports("avx2"))},
           {"sse2", block_sum_baseline, true}}};
#else
  return {{{"generic", block_sum_baseline, true}}};
#endif
}

BlockSum fastest_block_sum() {
  for (const SumPath &path : built_paths()) {
    if (path.runnable) {
      return path.block_sum;
    }
  }
  return block_sum_baseline;
}

double add_interior_samples(double a, double h, std::int32_t n, double sum,
                            BlockSum block_sum) {
  std::int32_t i = 1;
  // Blocks shrink around a tie, to redo little of the work in order, and grow back.
  std::int32_t longest = longest_block;
  while (i < n && n - i >= block_quantum) {
    if (sum >= 16.0 && sum < 0x1p1000) { // where the kernel applies (not for NaN)
      const double bottom = binade_bottom(sum);
      const std::int32_t count = block_length(sum, bottom, std::min(longest, n - i));
      const double next = sum + block_sum(a, h, i, count, bottom * 0x1p-52);
      if (next < 2.0 * bottom) { // false too when the kernel met a tie (NaN)
        sum = next;
        i += count;
        longest = std::min(2 * longest, longest_block);
        continue;
      }
      if (count > block_quantum) {
        longest = count / 2;
        continue;
      }
    }
    sum = add_samples_in_order(a, h, i, i + block_quantum, sum);
    i += block_quantum;
  }
  return add_samples_in_order(a, h, i, n, sum);
}
