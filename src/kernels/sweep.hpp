// One pivot k of the Gauss-Jordan sweep (Beaton 1964; Goodnight 1979, "A
// tutorial on the SWEEP operator") of the packed symmetric a of order n,
// with d = a_kk, which the caller has found usable (non-zero, finite):
//   sweep:         a_kk <- -1/d, a_ik <- a_ik/d,  a_ij <- a_ij - a_ik a_kj / d
//   reverse sweep: a_kk <- -1/d, a_ik <- -a_ik/d, a_ij <- a_ij - a_ik a_kj / d
// Sweeping a set S leaves, for i, j outside S, the residual covariance given
// S, and for i outside S, k in S, the weight of k in the regression of i.
// Row i is updated as row_i += (-a_ik/d) row_k by the row update given
// (rows with a_ik = 0 are skipped). work: n doubles; on return they hold
// row k as it was before. Nothing is done for invalid arguments.
//
// The row update is the one thing that differs between the users: the
// inversion by sweeping (sweepInvert) runs it through BLAS daxpy, with
// which the module's listings were computed; the host's sweep service,
// which must not load BLAS, through the plain loop of sweepPivot.
#pragma once

#include "kernels/packed.hpp"

namespace kernels {

template <class RowUpdate>
void sweepPivotWith(int n, double* a, int k, bool reverse, double* work,
                    RowUpdate update) noexcept {
  if (n < 1 || k < 0 || k >= n || a == nullptr || work == nullptr) return;
  for (int j = 0; j < n; ++j) work[j] = a[packedIndex(k, j)];
  const double pivot = work[k];
  for (int i = 0; i < n; ++i) {
    if (i == k || work[i] == 0.0) continue;
    update(i + 1, -work[i] / pivot, work, a + packedRow(i));
  }
  // Row and column k last: the updates above need them unscaled.
  for (int j = 0; j < n; ++j) a[packedIndex(k, j)] = (reverse ? -work[j] : work[j]) / pivot;
  a[packedIndex(k, k)] = -1.0 / pivot;
}

// sweepPivotWith with the plain loop y += alpha x (no BLAS).
void sweepPivot(int n, double* a, int k, bool reverse, double* work) noexcept;

}  // namespace kernels
