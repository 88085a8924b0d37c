// The block strategy: samples evaluated many lanes at a time, in blocks whose
// rounded total adds to the running sum exactly as the samples one by one would.
//
// While the running sum s lies in one binade [2^k, 2^(k+1)), every double there is
// a multiple of u = 2^(k-52), so adding a sample v >= 0 gives s plus v rounded to a
// multiple of u, as long as the result stays below 2^(k+1). That rounding does not
// depend on s, except for a tie (v exactly halfway between two multiples), where
// round-half-even looks at the last bit of s. Hence, for a block of samples with
// no tie whose rounded total T keeps s + T below 2^(k+1), adding the samples one
// by one gives exactly s + T; the kernels compute T in any order, exactly (see
// rounded_units in division_kernel.h, and model.h). A block that holds a tie or
// would leave the binade is added one sample at a time instead. So is everything
// while s < 16, where a sample (at most 4) is not small enough next to the binade
// for the kernels' rounding.
#include "fast_sum.h"
#include "numerics.h"

#include <algorithm>

namespace {

// The length of the next block for a sum whose binade ends at top, at most `most`
// samples: as many whole quanta as surely keep the sum below top (each sample adds
// at most 4), and at least one quantum.
std::int32_t block_length(double sum, double top, std::int32_t most) {
  const double fit = std::min((top - sum) / 4.0, static_cast<double>(most));
  return std::max(block_quantum, static_cast<std::int32_t>(fit) / block_quantum * block_quantum);
}

// The blocks from at.index up to end, each totalled by kernel(a, h, first, count, unit).
template <typename Kernel>
Reached add_blocks_by(double a, double h, Progress at, std::int32_t end, Kernel kernel,
                      std::int32_t most = longest_block) {
  std::int32_t i = at.index;
  double sum = at.sum;
  // Blocks shrink around a tie, to redo little of the work in order, and grow back.
  std::int32_t longest = most;
  while (end - i >= block_quantum) {
    const double unit = unit_of(sum);
    if (unit > 0.0) {
      const double top = unit * 0x1p53;
      const std::int32_t count = block_length(sum, top, std::min(longest, end - i));
      const double next = sum + kernel(a, h, i, count, unit);
      if (next < top) { // false too when the kernel met a tie (NaN)
        sum = next;
        i += count;
        longest = std::min(2 * longest, most);
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
  return {{end, add_samples_in_order(a, h, i, end, sum)}, Stop::done, end};
}

} // namespace

Reached add_blocks(double a, double h, Progress at, std::int32_t end, BlockSum kernel) {
  return add_blocks_by(a, h, at, end, kernel);
}

Reached add_counted_blocks(double a, double h, Progress at, std::int32_t end, CountSum kernel,
                           int depths) {
  return add_blocks_by(
      a, h, at, end,
      [kernel, depths](double a_, double h_, std::int32_t first, std::int32_t count, double unit) {
        return kernel(a_, h_, first, count, unit, depths, nullptr);
      },
      longest_count);
}
