// What the program must print for a given count, computed with the in-order loop,
// independently of the fast sum that the program uses.
#ifndef PI_ESTIMATE_EXPECTED_H
#define PI_ESTIMATE_EXPECTED_H

#include "estimator.h"
#include "numerics.h"

#include <cstdint>
#include <iomanip>
#include <sstream>
#include <string>

inline const std::string prompt = "Enter the Number of Intervals N: ";

// The whole standard output for an estimate printed as given.
inline std::string expected_output(const std::string &estimate) {
  return prompt + "\n\nBest estimate = " + estimate + "\n";
}

// The whole standard output of a run with count n.
inline std::string expected_output(std::int32_t n) {
  const double h = interval_width(0.0, 1.0, n);
  std::ostringstream estimate;
  estimate << std::fixed << std::setprecision(16)
           << add_samples_in_order(0.0, h, 1, n, f(0.0) + f(1.0)) * h;
  return expected_output(estimate.str());
}

#endif
