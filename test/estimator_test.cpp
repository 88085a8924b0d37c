// Tests of the integrand and of the estimator's printed line and stream state.
#include "estimator.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <iomanip>
#include <iostream>
#include <sstream>
#include <string>

namespace {

// A string buffer that also counts how often it was flushed.
class CountingBuffer : public std::stringbuf {
public:
  int flushes = 0;

protected:
  int sync() override {
    ++flushes;
    return std::stringbuf::sync();
  }
};

// Runs trapezoid(a, b, n) with standard output captured.
struct Captured {
  std::string text;
  int flushes;
};

Captured capture_trapezoid(double a, double b, std::int32_t n) {
  CountingBuffer buffer;
  std::streambuf *const saved = std::cout.rdbuf(&buffer);
  trapezoid(a, b, n);
  std::cout.rdbuf(saved);
  return {buffer.str(), buffer.flushes};
}

TEST(Integrand, IsExactAtTheBounds) {
  EXPECT_EQ(f(0.0), 4.0);
  EXPECT_EQ(f(1.0), 2.0);
  EXPECT_EQ(f(-1.0), 2.0);
}

struct PrintedCase {
  std::int32_t n;
  const char *estimate;
};

void PrintTo(const PrintedCase &c, std::ostream *os) { *os << "N=" << c.n; }

class PrintedEstimate : public testing::TestWithParam<PrintedCase> {};

TEST_P(PrintedEstimate, OverTheUnitInterval) {
  const Captured out = capture_trapezoid(0.0, 1.0, GetParam().n);
  EXPECT_EQ(out.text, std::string("Best estimate = ") + GetParam().estimate + "\n");
  EXPECT_EQ(out.flushes, 1);
}

// 16,777,217 rounds to 2^24 in single precision: the last interior sample falls
// on x = 1, and dividing by the count itself would print 3.1415928324040583.
INSTANTIATE_TEST_SUITE_P(
    Counts, PrintedEstimate,
    testing::Values(PrintedCase{1, "6.0000000000000000"}, PrintedCase{2, "4.5999999999999996"},
                    PrintedCase{3, "4.1230769230769226"}, PrintedCase{4, "3.8811764705882354"},
                    PrintedCase{5, "3.7349261138109897"}, PrintedCase{10, "3.4399259889071589"},
                    PrintedCase{12, "3.3904352468468506"}, PrintedCase{100, "3.1715759869231288"},
                    PrintedCase{1000, "3.1445924869231243"},
                    PrintedCase{1000000, "3.1415956535897931"},
                    PrintedCase{16777216, "3.1415928324042968"},
                    PrintedCase{16777217, "3.1415929516135863"}));

TEST(Estimator, LeavesStandardOutputFixedWithPrecision16) {
  const std::ios_base::fmtflags flags = std::cout.flags();
  const std::streamsize precision = std::cout.precision();
  std::cout << std::scientific << std::setprecision(3);
  capture_trapezoid(0.0, 1.0, 5);
  EXPECT_EQ(std::cout.flags() & std::ios_base::floatfield, std::ios_base::fixed);
  EXPECT_EQ(std::cout.precision(), 16);
  std::cout.flags(flags);
  std::cout.precision(precision);
}

TEST(Estimator, PrintsASignOnlyForNegativeEstimates) {
  EXPECT_EQ(capture_trapezoid(1.0, 0.0, 1).text, "Best estimate = -6.0000000000000000\n");
  EXPECT_EQ(capture_trapezoid(0.0, 0.0, 3).text, "Best estimate = 0.0000000000000000\n");
}

} // namespace
