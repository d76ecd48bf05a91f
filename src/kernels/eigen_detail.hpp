// Internals of the eigen solver that its tests reach; not part of the
// module's interface (other folders include eigen.hpp only).
#pragma once

namespace kernels::detail {

// zeigen with an explicit limit of QL sweeps per eigenvalue (zeigen itself
// uses kQlMaxSweeps). A limit of 0 makes the QL stage fail on the first
// eigenvalue that needs a sweep, which exercises the bisection fallback.
int zeigenWithSweepLimit(int n, double* a, double* w, int m, double* z, double* work,
                         int sweepLimit) noexcept;

}  // namespace kernels::detail
