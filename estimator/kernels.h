// The vector kernels behind the fast sum: what each kind of kernel computes and
// which arguments it accepts, and the kernel sets, one for each instruction set,
// that kernels.cpp exports (it is compiled once for each).
#ifndef PI_ESTIMATE_KERNELS_H
#define PI_ESTIMATE_KERNELS_H

#include "kernel_sets.h"
#include "tuning.h"

#include <cstdint>

// Blocks are whole numbers of quanta, at most longest_block samples long, and
// counted blocks at most longest_count: their setups cost more.
constexpr std::int32_t block_quantum = 64;
constexpr std::int32_t longest_block = 8192;
constexpr std::int32_t longest_count = 1 << 15;

// A block kernel: the sum of f(a + i*h), i = first, ..., first + count - 1, each
// sample rounded to a multiple of unit, or NaN where a sample lies halfway between
// two multiples (or is NaN). count is a multiple of block_quantum, at most
// longest_block; first may be any index, negative too, with first + count - 1 at
// most INT32_MAX; unit is a power of two from 2^-48 to 2^948, as unit_of() gives
// (the dividing kernel's shift overflows from 2^972 on). Dividing kernels
// divide out every sample; model kernels decide most samples' rounding without
// dividing (model_kernel.h), for any a and h.
using BlockSum = double (*)(double a, double h, std::int32_t first, std::int32_t count,
                            double unit);

// What a counting kernel met at each depth (0 for the samples, or for level sums
// the levels' ends): the items that
// the model kernel totalled there, the items it left undecided, whose truth was
// found exactly, and the ties found while finding them. For the tests.
struct CountTally {
  std::int64_t items[3];
  std::int64_t undecided[3];
  std::int64_t ties[3];
};

// A counting kernel: as a block kernel (the same contract, but count may reach
// longest_count), except that most samples, and
// most of the levels they cross, are never evaluated: it counts where a model's
// values, less a whole number per index, cross each level, down to `deepest`
// depths below the samples, at most 2 (count_kernel.h). It adds to tally, if
// given, what it met.
using CountSum = double (*)(double a, double h, std::int32_t first, std::int32_t count, double unit,
                            int deepest, CountTally *tally);

// Why a strategy stopped where it did.
enum class Stop {
  done,       // it added the whole stretch it was given
  tie_or_top, // level sums: a batch of levels holds a tie or reaches the binade's
              // top
  sparse,     // level sums: from here on a level spans too few samples to pay
};

// What a level kernel reached: the samples from its first up to `end` rounded to
// multiples of the unit total `units` units. It stopped there for the reason
// `why`; blocks take over from `end` to `until` at least: for a tie, up to the
// first tie sample and past it; for the binade's top, to where the batch of levels
// that reaches it ends (else `until` is `end`).
struct LevelRun {
  std::int32_t end;
  double units;
  Stop why;
  std::int32_t until;
};

// A level kernel, for samples that never increase with i, 0 < first < last. The
// sample at `first` rounds to `level` units and is no tie. It totals the rounded
// samples from first up to `last`, locating where they drop below each level,
// many levels at a time, by the inverse model where its segments are at least
// the tuning's levels_model_from_segment levels long, and counts those places
// down to its levels_depth depths below them. It stops before a batch of levels
// that holds a tie or whose total would reach `room` units, and after one whose
// samples per level fail levels_pay(levels_from_span) or are fewer than one. It
// adds to tally, if given, what the count met.
using LevelSum = LevelRun (*)(double a, double h, double unit, std::int32_t first,
                              std::int32_t last, double level, double room, Tuning tuning,
                              CountTally *tally);

// Whether level sums pay where `samples` samples hold `levels` levels: where a
// level spans levels_from_span samples or more. The chooser asks it of its
// estimate, the level kernel of every batch it counted. (Internal linkage:
// kernels.cpp is compiled for several instruction sets.)
namespace {
inline bool levels_pay(double samples, double levels, double levels_from_span) {
  return levels_from_span < __builtin_inf() && samples >= levels * levels_from_span;
}
} // namespace

// A model's values as the model kernel evaluates them, before they are rounded:
// at i = first, ..., first + count - 1 (count a multiple of block_quantum), into
// values, as each of its two passes evaluates them (2 count values). The tests of
// the model's bound read the kernel's own arithmetic here.
struct Model; // model.h
using ModelValues = void (*)(const Model &model, std::int32_t first, std::int32_t count,
                             double *values);

// The kernels of one instruction set.
struct KernelSet {
  const char *name;   // avx512, avx2, sse2 (the x86 baseline), generic (others
                      // with fused multiply-add) or unfused
  BlockSum divide;    // blocks, every sample divided out
  BlockSum model;     // blocks, most samples decided by a model
  LevelSum levels;    // level sums
  CountSum count;     // blocks, counted by levels
  ModelValues values; // the model kernel's values, for tests
};

// Each set's kernels, in a namespace named after the instruction set that
// kernels.cpp was compiled for (kernel_sets.h lists them): baseline (SSE2 on x86,
// NEON on aarch64, what the compiler makes of two-lane vectors elsewhere), avx2
// (with FMA) and avx512 (with AVX-512DQ). Each is a constant, initialized before
// the program starts, so that learning a set's kernels runs no code compiled for
// instructions that this processor may lack; only calling them does.
#define PI_ESTIMATE_DECLARE_KERNEL_SET(set, runs)                                                  \
  namespace set {                                                                                  \
  extern const KernelSet kernel_set;                                                               \
  }
PI_ESTIMATE_KERNEL_SETS(PI_ESTIMATE_DECLARE_KERNEL_SET)
#undef PI_ESTIMATE_DECLARE_KERNEL_SET

#endif
