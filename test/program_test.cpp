// End-to-end tests: the program run as a child process, input from a pipe.
#include "child_process.h"
#include "expected.h"
#include "programs.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

namespace {

const std::string five = "3.7349261138109897";

struct InputCase {
  const char *name;
  std::string input;
  std::string estimate;
};

void PrintTo(const InputCase &c, std::ostream *os) { *os << c.name; }

class ProgramInput : public testing::TestWithParam<InputCase> {};

TEST_P(ProgramInput, PrintsTheEstimateForTheCountRead) {
  const Finished run = run_program(GetParam().input);
  EXPECT_EQ(run.output, expected_output(GetParam().estimate));
  EXPECT_EQ(run.error, "");
  EXPECT_EQ(run.status, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, ProgramInput,
    testing::Values(InputCase{"Five", "5\n", five}, InputCase{"Empty", "", five},
                    InputCase{"OnlyBlanks", " \n\t\n", five},
                    InputCase{"WordWithoutDigits", "pi\n", five}, InputCase{"Zero", "0\n", five},
                    InputCase{"Negative", "-3\n", five},
                    InputCase{"NegativeOutOfRange", "-99999999999\n", five},
                    InputCase{"One", "1\n", "6.0000000000000000"},
                    InputCase{"Ten", "10\n", "3.4399259889071589"},
                    InputCase{"TenAfterBlanks", "\n \t 10", "3.4399259889071589"},
                    InputCase{"PlusSign", "+10\n", "3.4399259889071589"},
                    InputCase{"TwelveThenLetters", "12abc\n", "3.3904352468468506"},
                    InputCase{"Decimal", "3.9\n", "4.1230769230769226"},
                    InputCase{"OnlyTheFirstNumber", "2 10\n", "4.5999999999999996"}),
    [](const testing::TestParamInfo<InputCase> &each) { return each.param.name; });

TEST(Program, UsesFiveWhenStandardInputIsClosed) {
  const Finished run = run_program("", Output::pipe, true);
  EXPECT_EQ(run.output, expected_output(five));
  EXPECT_EQ(run.error, "");
  EXPECT_EQ(run.status, 0);
}

TEST(Program, ShowsThePromptBeforeReading) {
  Child child = start_child(program_command());
  EXPECT_EQ(read_for(child.output, prompt.size(), 10000), prompt);
  const Finished run = finish_child(child, "10\n");
  EXPECT_EQ(run.output, "\n\nBest estimate = 3.4399259889071589\n");
  EXPECT_EQ(run.status, 0);
}

// A number beyond the 32-bit range is read as the largest count. The expected
// line comes from the in-order loop, which takes a few seconds at that count.
TEST(SlowProgram, TakesAnOverlongNumberAsTheLargestCount) {
  const Finished run = run_program("99999999999999999999\n");
  EXPECT_EQ(run.output, expected_output(INT32_MAX));
  EXPECT_EQ(run.status, 0);
}

// Whether the ELF executable at path asks for a program interpreter (the dynamic
// loader), as a dynamically linked one does with a PT_INTERP program header; -1
// where it is no ELF file. Reads the 32- and 64-bit forms in either byte order.
int asks_for_interpreter(const std::string &path) {
  std::ifstream file(path, std::ios::binary);
  const std::vector<unsigned char> elf((std::istreambuf_iterator<char>(file)), {});
  if (elf.size() < 64 || elf[0] != 0x7f || elf[1] != 'E' || elf[2] != 'L' || elf[3] != 'F') {
    return -1;
  }
  const bool wide = elf[4] == 2;
  const bool big_endian = elf[5] == 2;
  const auto field = [&](std::size_t at, int size) {
    std::uint64_t value = 0;
    for (int k = 0; k < size; ++k) {
      const std::uint64_t byte = elf.at(at + (big_endian ? k : size - 1 - k));
      value = value << 8U | byte;
    }
    return value;
  };
  const std::uint64_t headers = wide ? field(0x20, 8) : field(0x1c, 4);
  const std::uint64_t entry_size = field(wide ? 0x36 : 0x2a, 2);
  const std::uint64_t count = field(wide ? 0x38 : 0x2c, 2);
  constexpr std::uint64_t interpreter = 3; // PT_INTERP
  for (std::uint64_t k = 0; k < count; ++k) {
    if (field(headers + k * entry_size, 4) == interpreter) {
      return 1;
    }
  }
  return 0;
}

// The program as built is linked as it ships: statically unless the build asked
// for a dynamic one.
TEST(Program, IsLinkedAsItShips) {
  const int dynamic = asks_for_interpreter(PI_ESTIMATE_PROGRAM);
  if (dynamic < 0) {
    GTEST_SKIP() << "not an ELF executable";
  }
  EXPECT_EQ(dynamic == 1, PI_ESTIMATE_STATIC == 0);
}

struct FailingOutput {
  const char *name;
  Output output;
  std::string reason;
};

void PrintTo(const FailingOutput &c, std::ostream *os) { *os << c.name; }

class WriteFailure : public testing::TestWithParam<FailingOutput> {};

TEST_P(WriteFailure, IsReportedWithStatusOne) {
  const Finished run = run_program("10\n", GetParam().output);
  EXPECT_EQ(run.error, "pi-estimate: error writing standard output: " + GetParam().reason + "\n");
  EXPECT_EQ(run.status, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Outputs, WriteFailure,
    testing::Values(FailingOutput{"FullDevice", Output::full_device, "No space left on device"},
                    FailingOutput{"Closed", Output::closed, "Bad file descriptor"}),
    [](const testing::TestParamInfo<FailingOutput> &each) { return each.param.name; });

} // namespace
