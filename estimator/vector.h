// Vectors of doubles and of 64-bit integers, and the lane helpers that every
// kernel shares, written once for every vector width.
//
// Everything here and in the kernels' headers has internal linkage on purpose:
// kernels.cpp is compiled once for each instruction set, and each copy must keep
// its own code rather than let the linker pick one compiled for a processor that
// may not be there.
#ifndef PI_ESTIMATE_VECTOR_H
#define PI_ESTIMATE_VECTOR_H

#include <cstdint>
#if defined(__AVX__)
#include <immintrin.h>
#endif

namespace {

// Vectors of 2, 4 and 8 doubles (SSE2 or NEON, AVX2, AVX-512 registers), and of as
// many 64-bit unsigned integers.
using Double2 = double __attribute__((vector_size(2 * sizeof(double))));
using Double4 = double __attribute__((vector_size(4 * sizeof(double))));
using Double8 = double __attribute__((vector_size(8 * sizeof(double))));
using Bits2 = std::uint64_t __attribute__((vector_size(2 * sizeof(std::uint64_t))));
using Bits4 = std::uint64_t __attribute__((vector_size(4 * sizeof(std::uint64_t))));
using Bits8 = std::uint64_t __attribute__((vector_size(8 * sizeof(std::uint64_t))));

template <typename Vec> constexpr int lanes_of = sizeof(Vec) / sizeof(double);

// The vector of 64-bit unsigned integers as wide as Vec.
template <typename Vec> struct BitsFor;
template <> struct BitsFor<Double2> { using type = Bits2; };
template <> struct BitsFor<Double4> { using type = Bits4; };
template <> struct BitsFor<Double8> { using type = Bits8; };
template <typename Vec> using BitsOf = typename BitsFor<Vec>::type;

// Independent vectors that a kernel keeps in flight, to hide the latency of each.
constexpr int chains = 4;

// The bits of a double less its sign.
constexpr std::uint64_t magnitude_bits = 0x7fffffffffffffffU;

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

// fn applied to each lane. For the square root and rounding to a whole number
// compilers use vector instructions (nothing reads the errno of a math function,
// so they are told that it need not be set).
template <typename Vec, typename Fn> Vec each_lane(Vec x, Fn fn) {
  for (int lane = 0; lane < lanes_of<Vec>; ++lane) {
    x[lane] = fn(x[lane]);
  }
  return x;
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

} // namespace

#endif
