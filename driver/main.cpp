// Program entry: asks for the number of intervals N, falls back to 5 when the
// input gives no positive count, and prints the estimate of the integral of
// 4 / (1 + x*x) over [0, 1]. Exits with 1 if standard output could not be written.
#include "estimator.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <iostream>

namespace {

constexpr std::int32_t default_count = 5;

// Returns the error already recorded, else the errno of a write on standard output
// that has just failed (-1 if the system gave no reason), else 0.
int output_error(int recorded) {
  if (recorded == 0 && !std::cout) {
    return errno != 0 ? errno : -1;
  }
  return recorded;
}

} // namespace

int main() {
  errno = 0;
  std::cout << "Enter the Number of Intervals N: " << std::flush;
  int error = output_error(0);

  std::int32_t value_read = default_count;
  std::cin >> value_read;
  std::cout << "\n\n";
  error = output_error(error);

  std::int32_t count = default_count;
  if (value_read > 0) {
    count = value_read;
  }
  trapezoid(0.0, 1.0, count);
  error = output_error(error);

  if (error != 0) {
    std::cerr << "pi-estimate: error writing standard output";
    if (error > 0) {
      std::cerr << ": " << std::strerror(error);
    }
    std::cerr << '\n';
    return 1;
  }
  return 0;
}
