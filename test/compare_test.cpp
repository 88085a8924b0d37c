// The program against the same program built elsewhere (with another compiler, or
// for another processor): the same bytes for the same input.
#include "child_process.h"
#include "programs.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

TEST(Compared, PrintsTheSameBytesAsTheOtherBuild) {
  const char *const named = std::getenv("PI_ESTIMATE_OTHER_PROGRAM");
  const char *const other = named != nullptr ? named : PI_ESTIMATE_OTHER_PROGRAM;
  if (*other == '\0') {
    GTEST_SKIP() << "no other build to compare with (set PI_ESTIMATE_OTHER_PROGRAM)";
  }
  ASSERT_EQ(access(other, X_OK), 0) << other << " is not there: build it first";
  // 19, 36, 57, 114 and 487 print other digits when a multiply and an add are
  // fused (as compilers for ARM do by default).
  for (const char *input :
       {"",      "x",       "-3",       "1",        "2",        "3",         "5",   "10",
        "12",    "19",      "36",       "57",       "100",      "114",       "487", "1000",
        "65537", "1000000", "16777216", "16777217", "33554467", "2147483647"}) {
    const Finished here = run_program(input);
    const Finished there = finish_child(start_child({other}), input);
    EXPECT_EQ(here.output, there.output) << "input \"" << input << "\"";
    EXPECT_EQ(here.status, there.status) << "input \"" << input << "\"";
  }
}

} // namespace
