#include "zul/services/sweep.hpp"

#include <cmath>
#include <cstddef>
#include <utility>

namespace zul::services {

namespace {

inline size_t at(int32_t i, int32_t j) {
  if (i < j) std::swap(i, j);
  return static_cast<size_t>(i) * (static_cast<size_t>(i) + 1) / 2 + static_cast<size_t>(j);
}

}  // namespace

int32_t sweepPivot(double* a, int32_t k, int32_t n, char* flags, const double* scale,
                   double singular) {
  if (!a || !flags || k < 0 || k >= n) return -1;
  const bool reverse = flags[k] == '1';
  const double d = a[at(k, k)];
  if (!reverse) {
    // A pivot that is zero, negative or no number is never divided by,
    // whatever the scale says (a zero scale would otherwise let a zero
    // pivot through).
    if (!(d > 0.0) || !std::isfinite(d)) return 0;
    const double s = scale ? scale[k] : 1.0;
    if (std::isfinite(s) && d < singular * s * s) return 0;
  } else if (!(d != 0.0) || !std::isfinite(d)) {
    return 0;  // a swept pivot always has a nonzero diagonal; leave a broken one
  }
  const double sign = reverse ? -1.0 : 1.0;
  // Off-pivot update first (it needs the unscaled column k), then column k.
  for (int32_t i = 0; i < n; ++i) {
    if (i == k) continue;
    const double aik = a[at(i, k)];
    if (aik == 0.0) continue;
    const double f = aik / d;
    for (int32_t j = 0; j <= i; ++j) {
      if (j == k) continue;
      a[at(i, j)] -= f * a[at(k, j)];
    }
  }
  for (int32_t i = 0; i < n; ++i)
    if (i != k) a[at(i, k)] = sign * a[at(i, k)] / d;
  a[at(k, k)] = -1.0 / d;
  flags[k] = reverse ? '0' : '1';
  return 0;
}

}  // namespace zul::services
