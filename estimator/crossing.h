// Where the exact samples drop to a threshold: the first index whose sample lies
// at or below it, found from a guess by a few steps and, where the guess was far
// off, by bisection, for samples that never increase (level_sum.cpp says when they
// do not). The result rests on the exact samples and their order alone, never on
// the guess. Internal linkage, as in vector.h.
#ifndef PI_ESTIMATE_CROSSING_H
#define PI_ESTIMATE_CROSSING_H

#include "numerics.h"
#include "vector.h"

#include <cstdint>

namespace {

// The first index j in (low, last) with f(a + j*h) <= t, or last if there is
// none, for samples that never increase and f(a + low*h) > t: by bisection.
inline double bisect(double a, double h, double low, double last, double t) {
  auto below = static_cast<std::int64_t>(low);
  auto high = static_cast<std::int64_t>(last);
  while (high - below > 1) {
    const std::int64_t middle = below + (high - below) / 2;
    if (integrand(a + static_cast<double>(middle) * h) <= t) {
      high = middle;
    } else {
      below = middle;
    }
  }
  return static_cast<double>(high);
}

// The first index j in (first, last] with f(a + j*h) <= t, or last if there is
// none, for samples that never increase and f(a + first*h) > t, found from a
// guess: a few steps from it, else by bisection. NaN where f(a + j*h) equals t
// (a tie), unless j = last.
inline double samples_end(double a, double h, double first, double last, double t, double guess) {
  const auto above_t = [a, h, t](double j) { return integrand(a + j * h) > t; };
  double j = greater(first + 1.0, lesser(guess, last)); // a NaN guess gives first + 1
  bool found = false;
  for (int step = 0; step < 4 && !found; ++step) {
    if (j > first + 1.0 && !above_t(j - 1.0)) {
      j -= 1.0;
    } else if (j < last && above_t(j)) {
      j += 1.0;
    } else {
      found = true;
    }
  }
  if (!found) {
    j = bisect(a, h, first, last, t);
  }
  return j < last && integrand(a + j * h) == t ? __builtin_nan("") : j;
}

// Whether j is, for each lane's threshold t, the first index in (first, last]
// with f(a + j*h) <= t or j = last, given f(a + first*h) > t: it is once
// f(a + (j-1)*h) > t and, unless j = last, f(a + j*h) <= t. A lane of off is set
// where j is not; a lane of tie where f(a + j*h) equals t.
template <typename Vec, typename Mask>
void check(double a, double h, Vec last, Vec t, Vec j, Mask &off, Mask &tie) {
  const Vec at = integrand(a + j * h);
  const Vec before = integrand(a + (j - 1.0) * h);
  off = ~(before > t) | (~(at <= t) & (j != last));
  tie = (at == t) & (j != last);
}

// The first indices that check() accepts, from j in (first, last] on: a step or
// two back or on, then bisection for the lanes still off.
template <typename Vec, typename Mask>
Vec correct(double a, double h, Vec first, Vec last, Vec t, Vec j, Mask &tie) {
  Mask off{};
  for (int step = 0;; ++step) {
    check(a, h, last, t, j, off, tie);
    if (!any_lane(off)) {
      return j;
    }
    if (step == 2) {
      break;
    }
    const Mask late = ~(integrand(a + (j - 1.0) * h) > t); // the first is further back
    j = late ? j - 1.0 : (off ? j + 1.0 : j);
  }
  for (int lane = 0; lane < lanes_of<Vec>; ++lane) {
    if (off[lane] != 0) {
      j[lane] = bisect(a, h, first[lane], last[lane], t[lane]);
    }
  }
  check(a, h, last, t, j, off, tie);
  return j;
}

} // namespace

#endif
