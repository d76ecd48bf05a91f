#include "zul/services/sweep.hpp"

#include <cmath>
#include <cstddef>
#include <new>
#include <vector>

#include "kernels/sweep.hpp"

namespace zul::services {

int32_t sweepPivot(double* a, int32_t k, int32_t n, char* flags, const double* scale,
                   double singular) {
  if (!a || !flags || k < 0 || k >= n) return -1;
  const bool reverse = flags[k] == '1';
  const double d = a[kernels::packedIndex(k, k)];
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
  std::vector<double> work;  // the pivot row, for the kernel
  try {
    work.resize(static_cast<size_t>(n));
  } catch (const std::bad_alloc&) {
    return -1;  // nothing done; the service is called from C
  }
  kernels::sweepPivot(n, a, k, reverse, work.data());
  flags[k] = reverse ? '0' : '1';
  return 0;
}

}  // namespace zul::services
