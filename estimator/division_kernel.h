// The dividing block kernel: a block's samples, each divided out and rounded to a
// multiple of the binade's unit, totalled exactly in integer lanes, with every tie
// noticed. Internal linkage, as in vector.h.
#ifndef PI_ESTIMATE_DIVISION_KERNEL_H
#define PI_ESTIMATE_DIVISION_KERNEL_H

#include "kernels.h"
#include "numerics.h"
#include "vector.h"

#include <cstdint>

namespace {

// The samples f(a + i*h), i = first, ..., first + count - 1, each rounded to the
// nearest multiple of a unit, totalled in units; and whether some sample lay
// exactly halfway between two multiples (or was NaN), which the total cannot show.
struct Units {
  std::uint64_t total;
  bool tie;
};

// The sum that Units stand for: total * unit, or NaN where a sample was a tie. A
// total of 2^53 units or more converts to at least 2^53 units, a sum that the
// caller rejects as leaving the binade.
inline double units_sum(Units units, double unit) {
  return units.tie ? __builtin_nan("") : static_cast<double>(units.total) * unit;
}

// The rounded samples' Units, dividing for every sample. Vec is a vector of
// doubles and Bits a vector of as many 64-bit unsigned integers; first and count
// as the block kernels' contract says (kernels.h).
//
// Why this is exact: shift = 1.5 * 2^52 * unit lies in the binade where doubles
// are spaced by unit, and so does shift + v for every sample (0 <= v <= 4 <
// 2^51 * unit). So v + shift is shift + v rounded to a multiple of unit, and as
// integers bits(v + shift) - bits(shift) is that multiple, counted in units: at
// most 2^50, so the integer total of fewer than 2^14 of them is exact (a block
// holds at most longest_block samples). Rounding
// to nearest picks the even neighbour only for a tie, so adding v to shift (an
// even multiple) and to shift + unit (an odd one) gives counts one apart, exactly
// as the shifts, unless v is a tie; a NaN gives equal results and is caught too.
template <typename Vec, typename Bits>
Units rounded_units(double a, double h, std::int32_t first, std::int32_t count, double unit) {
  constexpr int lanes = lanes_of<Vec>;
  static_assert(longest_block < (1 << 14) && block_quantum % (chains * 8) == 0,
                "blocks are whole numbers of chains' vectors, totalled exactly");
  const double even_shift = 0x1.8p52 * unit;
  const double odd_shift = even_shift + unit;
  std::uint64_t shift_bits = 0;
  __builtin_memcpy(&shift_bits, &even_shift, sizeof shift_bits);

  Vec lane_number{};
  for (int lane = 0; lane < lanes; ++lane) {
    lane_number[lane] = lane;
  }
  Vec index[chains]; // i as a double, exact below 2^53
  for (int c = 0; c < chains; ++c) {
    index[c] = static_cast<double>(first + c * lanes) + lane_number;
  }
  Bits units{}; // the rounded samples, in units, plus one shift each
  Bits ties{};  // nonzero where some sample was a tie
  for (std::int32_t done = 0; done < count; done += chains * lanes) {
    for (int c = 0; c < chains; ++c) {
      const Vec v = integrand(a + index[c] * h);
      const Bits even = (Bits)(v + even_shift);
      const Bits odd = (Bits)(v + odd_shift);
      ties |= (odd - even) ^ 1U;
      units += even;
      index[c] += static_cast<double>(chains * lanes);
    }
  }

  Units all{0, false};
  for (int lane = 0; lane < lanes; ++lane) {
    all.tie |= ties[lane] != 0;
    all.total += units[lane];
  }
  // Unsigned arithmetic wraps, so the shifts can be taken off once at the end.
  all.total -= static_cast<std::uint64_t>(count) * shift_bits;
  return all;
}

// The sum of the rounded samples (see rounded_units), or NaN for a tie.
template <typename Vec, typename Bits>
double rounded_sample_sum(double a, double h, std::int32_t first, std::int32_t count, double unit) {
  return units_sum(rounded_units<Vec, Bits>(a, h, first, count, unit), unit);
}

} // namespace

#endif
