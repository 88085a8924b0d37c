// The integrand's formula, the in-order sum of interior samples, the dividing
// vector kernel of the fast sum and the lane helpers that the kernels share,
// written once and shared by the estimator and by every instruction-set variant
// of the kernels.
//
// Everything here has internal linkage on purpose: the files that include it are
// compiled for different instruction sets, and each must keep its own copy rather
// than let the linker pick one compiled for a processor that may not be there.
#ifndef PI_ESTIMATE_SAMPLE_SUM_H
#define PI_ESTIMATE_SAMPLE_SUM_H

#include <cstdint>
#if defined(__AVX__)
#include <immintrin.h>
#endif

namespace {

// Vectors of 2, 4 and 8 doubles (SSE2 or NEON, AVX2, AVX-512 registers), and of as
// many 64-bit unsigned integers, for the kernels.
using Double2 = double __attribute__((vector_size(2 * sizeof(double))));
using Double4 = double __attribute__((vector_size(4 * sizeof(double))));
using Double8 = double __attribute__((vector_size(8 * sizeof(double))));
using Bits2 = std::uint64_t __attribute__((vector_size(2 * sizeof(std::uint64_t))));
using Bits4 = std::uint64_t __attribute__((vector_size(4 * sizeof(std::uint64_t))));
using Bits8 = std::uint64_t __attribute__((vector_size(8 * sizeof(std::uint64_t))));

template <typename Vec> constexpr int lanes_of = sizeof(Vec) / sizeof(double);

// Whether any lane of a vector of 64-bit integers (a comparison's result, say) is
// nonzero. On x86 one test instruction says so; elsewhere the compiler reduces.
template <typename Mask> bool any_lane(Mask mask) {
#if defined(__AVX512F__)
  if constexpr (sizeof(Mask) == 64) {
    return _mm512_test_epi64_mask((__m512i)mask, (__m512i)mask) != 0;
  }
#endif
#if defined(__AVX__)
  if constexpr (sizeof(Mask) == 32) {
    return _mm256_testz_si256((__m256i)mask, (__m256i)mask) == 0;
  }
#endif
  std::int64_t any = 0;
  for (int lane = 0; lane < lanes_of<Mask>; ++lane) {
    any |= mask[lane];
  }
  return any != 0;
}

// x * y + z, lane by lane: fused, with one rounding, where the processor has the
// instruction, else a product and a sum, each rounded. Callers whose exactness
// rests on the single rounding use fused(), which exists only where it is cheap.
#if defined(__FP_FAST_FMA) || defined(__FMA__)
template <typename Real> Real fused(Real x, Real y, Real z) {
  if constexpr (sizeof(Real) == sizeof(double)) {
    return __builtin_fma(x, y, z);
  } else {
    for (int lane = 0; lane < lanes_of<Real>; ++lane) {
      x[lane] = __builtin_fma(x[lane], y[lane], z[lane]);
    }
    return x;
  }
}
#if defined(__FMA__)
// On x86 the lane loop above is not always turned into one instruction.
inline Double2 fused(Double2 x, Double2 y, Double2 z) {
  return (Double2)_mm_fmadd_pd((__m128d)x, (__m128d)y, (__m128d)z);
}
inline Double4 fused(Double4 x, Double4 y, Double4 z) {
  return (Double4)_mm256_fmadd_pd((__m256d)x, (__m256d)y, (__m256d)z);
}
#endif
#if defined(__AVX512F__)
inline Double8 fused(Double8 x, Double8 y, Double8 z) {
  return (Double8)_mm512_fmadd_pd((__m512d)x, (__m512d)y, (__m512d)z);
}
#endif
template <typename Real> Real mul_add(Real x, Real y, Real z) { return fused(x, y, z); }
#else
template <typename Real> Real mul_add(Real x, Real y, Real z) { return x * y + z; }
#endif

// The width of one of N equal intervals of [a, b]. The count enters rounded to
// single precision: for N above 2^24 the divisor is the nearest float, not N.
inline double interval_width(double a, double b, std::int32_t N) {
  return (b - a) / static_cast<double>(static_cast<float>(N));
}

// For a normal double y with |y| in [2^k, 2^(k+1)), 2^(k-52): the gap from |y| to
// the next double up, and at least the gap to the next one down.
inline double spacing_at(double y) {
  std::uint64_t bits = 0;
  __builtin_memcpy(&bits, &y, sizeof bits);
  bits &= 0x7ff0000000000000U; // 2^k: |y| with its significand cleared
  __builtin_memcpy(&y, &bits, sizeof bits);
  return y * 0x1p-52;
}

// The unit of the binade [2^k, 2^(k+1)) that holds sum, 2^(k-52): the spacing of
// the doubles there. It is 0 outside [16, 2^1000), where neither fast strategy
// applies: below 16 a sample (up to 4) is too large next to the binade, and a NaN
// sum has no binade.
inline double unit_of(double sum) {
  return sum >= 16.0 && sum < 0x1p1000 ? spacing_at(sum) : 0.0;
}

// 4 / (1 + x*x) for a double or for a vector of doubles, lane by lane: the same
// three correctly rounded operations either way. The level kernel also uses the
// numerator and denominator on their own.
constexpr double numerator = 4.0;
template <typename Real> inline Real denominator(Real x) { return 1.0 + x * x; }
template <typename Real> inline Real integrand(Real x) { return numerator / denominator(x); }

// Adds the samples f(a + i*h) for i = first, ..., last - 1 to sum, one after the
// other. Each sample point is computed afresh from i; repeated addition of h would
// accumulate rounding errors.
inline double add_samples_in_order(double a, double h, std::int32_t first,
                                   std::int32_t last, double sum) {
  for (std::int32_t i = first; i < last; ++i) {
    const double x = a + static_cast<double>(i) * h;
    sum = sum + integrand(x);
  }
  return sum;
}

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
// doubles and Bits a vector of as many 64-bit unsigned integers; count is a
// multiple of four vectors and below 2^14; unit is a power of two of at least
// 2^-48.
//
// Why this is exact: shift = 1.5 * 2^52 * unit lies in the binade where doubles
// are spaced by unit, and so does shift + v for every sample (0 <= v <= 4 <
// 2^51 * unit). So v + shift is shift + v rounded to a multiple of unit, and as
// integers bits(v + shift) - bits(shift) is that multiple, counted in units: at
// most 2^50, so the integer total of fewer than 2^14 of them is exact. Rounding
// to nearest picks the even neighbour only for a tie, so adding v to shift (an
// even multiple) and to shift + unit (an odd one) gives counts one apart, exactly
// as the shifts, unless v is a tie; a NaN gives equal results and is caught too.
template <typename Vec, typename Bits>
Units rounded_units(double a, double h, std::int32_t first, std::int32_t count, double unit) {
  constexpr int lanes = sizeof(Vec) / sizeof(double);
  constexpr int chains = 4; // independent vectors in flight, to hide latency
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
double rounded_sample_sum(double a, double h, std::int32_t first, std::int32_t count,
                          double unit) {
  return units_sum(rounded_units<Vec, Bits>(a, h, first, count, unit), unit);
}

} // namespace

#endif
