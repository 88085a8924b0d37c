// Randomized, reproducible inputs piped into the program: the count it uses must be
// the one that an independent model of the standard integer extraction gives.
#include "child_process.h"
#include "expected.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The count the program must use for this input: blanks are skipped, then an
// optional sign and decimal digits are read. End of input before any other
// character stores nothing (5 stays); no digits store 0; a number out of range
// stores the nearest limit. Zero and negative values give 5.
std::int32_t modelled_count(const std::string &input) {
  std::size_t p = 0;
  while (p < input.size() && is_blank(input[p])) {
    ++p;
  }
  if (p == input.size()) {
    return 5;
  }
  bool negative = false;
  if (input[p] == '+' || input[p] == '-') {
    negative = input[p] == '-';
    ++p;
  }
  const std::size_t first_digit = p;
  std::uint64_t value = 0;
  for (; p < input.size() && is_digit(input[p]); ++p) {
    value = std::min<std::uint64_t>(value * 10 + static_cast<std::uint64_t>(input[p] - '0'),
                                    std::uint64_t{1} << 32);
  }
  if (p == first_digit || negative || value == 0) {
    return 5;
  }
  return static_cast<std::int32_t>(std::min<std::uint64_t>(value, INT32_MAX));
}

// A random input: blanks, a sign, a number of at most five digits (so that the
// program stays fast) or something that is not one, and perhaps more after it.
std::string random_input(std::mt19937 &random) {
  const std::vector<std::string> blanks = {" ", "\t", "\n", "\v", "\f", "\r"};
  const std::vector<std::string> signs = {"", "", "", "+", "-", "--", "+-", "-+"};
  // clang-format off
  const std::vector<std::string> others = {
      "",     "x",    "pi",  "N=",   ".",     ".5",    "e3",      std::string(1, '\0'),
      "\x01", "\x7f", "\xff", "\xc3\xa9", "\xe2\x80\x83", "0x1f", "\x1b[A"};
  // clang-format on
  auto pick = [&random](const std::vector<std::string> &from) {
    return from[std::uniform_int_distribution<std::size_t>(0, from.size() - 1)(random)];
  };
  auto digits = [&random](int most) {
    std::string text;
    const int length = std::uniform_int_distribution<int>(1, most)(random);
    for (int d = 0; d < length; ++d) {
      text += static_cast<char>('0' + std::uniform_int_distribution<int>(0, 9)(random));
    }
    return text;
  };

  std::string input;
  for (int b = std::uniform_int_distribution<int>(0, 3)(random); b > 0; --b) {
    input += pick(blanks);
  }
  input += pick(signs);
  switch (std::uniform_int_distribution<int>(0, 3)(random)) {
  case 0:
    input += pick(others);
    break;
  case 1:
    input += std::string(std::uniform_int_distribution<std::size_t>(1, 30)(random), '0');
    [[fallthrough]];
  default:
    input += digits(5);
  }
  if (std::uniform_int_distribution<int>(0, 1)(random) == 0) {
    return input;
  }
  // Whatever follows the number starts with something that cannot continue it.
  input += std::uniform_int_distribution<int>(0, 1)(random) == 0 ? pick(blanks) : "x";
  for (int rest = std::uniform_int_distribution<int>(0, 3)(random); rest > 0; --rest) {
    switch (std::uniform_int_distribution<int>(0, 2)(random)) {
    case 0:
      input += pick(blanks);
      break;
    case 1:
      input += pick(others);
      break;
    default:
      input += digits(12);
    }
  }
  return input;
}

// Runs the program on each input and checks its output against the model.
void expect_modelled(const std::vector<std::string> &inputs) {
  std::map<std::int32_t, std::string> outputs;
  for (const std::string &input : inputs) {
    const std::int32_t count = modelled_count(input);
    auto expected = outputs.find(count);
    if (expected == outputs.end()) {
      expected = outputs.emplace(count, expected_output(count)).first;
    }
    const Finished run = run_program(input);
    EXPECT_EQ(run.output, expected->second) << "input " << testing::PrintToString(input);
    EXPECT_EQ(run.error, "") << "input " << testing::PrintToString(input);
    EXPECT_EQ(run.status, 0) << "input " << testing::PrintToString(input);
  }
}

TEST(RandomInput, UsesTheCountThatTheExtractionGives) {
  std::mt19937 random(8128);
  std::vector<std::string> inputs;
  inputs.reserve(2000);
  for (int trial = 0; trial < 2000; ++trial) {
    inputs.push_back(random_input(random));
  }
  expect_modelled(inputs);
}

TEST(SlowRandomInput, TakesNumbersOutOfRangeAsTheNearestLimit) {
  expect_modelled({"2147483647", "2147483648", " +99999999999999999999x", "-2147483648",
                   "-2147483649", "-99999999999999999999", "4294967301"});
}

} // namespace
