// The whole program under an emulated x86-64 processor without AVX-512 (and one
// without AVX2 too), where it must choose another kernel and print the same digits.
#include "child_process.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class Emulated : public testing::TestWithParam<const char *> {};

TEST_P(Emulated, PrintsTheNativeDigits) {
  if (!on_path("qemu-x86_64")) {
    GTEST_SKIP() << "qemu-x86_64 is not installed (Debian package qemu-user)";
  }
  for (const char *count : {"1000003\n", "16777217\n", "33554467\n", "2147483647\n"}) {
    const Finished native = run_program(count);
    const Finished emulated =
        run_program(count, Output::pipe, false, {"qemu-x86_64", "-cpu", GetParam()});
    EXPECT_EQ(emulated.output, native.output) << "N=" << count;
    EXPECT_EQ(emulated.status, 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Processors, Emulated, testing::Values("qemu64", "Haswell"));

} // namespace
