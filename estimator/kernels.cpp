// The vector kernels of one instruction set. This file is compiled once for each
// set, with the set's flags and PI_ESTIMATE_KERNEL_SET naming it (baseline, avx2,
// avx512), and exports that set's kernels in a namespace of that name. The vector
// width follows from the instructions the compiler was given.
#include "kernels.h"
#include "count_kernel.h"
#include "division_kernel.h"
#include "level_kernel.h"
#include "model_kernel.h"

#if !defined(PI_ESTIMATE_KERNEL_SET)
#error "PI_ESTIMATE_KERNEL_SET names the instruction set this file is compiled for"
#endif

namespace {

#if defined(__AVX512F__)
using Vec = Double8;
using Bits = Bits8;
constexpr const char *set_name = "avx512";
#elif defined(__AVX2__)
using Vec = Double4;
using Bits = Bits4;
constexpr const char *set_name = "avx2";
#else
using Vec = Double2;
using Bits = Bits2;
#if defined(__x86_64__) || defined(__i386__)
constexpr const char *set_name = "sse2";
#elif defined(__FP_FAST_FMA)
constexpr const char *set_name = "generic";
#else
constexpr const char *set_name = "unfused";
#endif
#endif

} // namespace

namespace PI_ESTIMATE_KERNEL_SET {

constexpr KernelSet kernel_set = {
    set_name,       rounded_sample_sum<Vec, Bits>, modelled_sample_sum<Vec, Bits>,
    level_run<Vec>, counted_sample_sum<Vec, Bits>, modelled_values<Vec>};

} // namespace PI_ESTIMATE_KERNEL_SET
