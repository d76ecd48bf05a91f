// zul/services/sweep.hpp -- the host's sweep of one pivot of a packed
// symmetric matrix (service 400/2).
#pragma once

#include <cstdint>

namespace zul::services {

// Gauss-Jordan sweep (Beaton 1964; Goodnight 1979, "A tutorial on the
// SWEEP operator") of pivot k of the symmetric matrix a of order n, packed
// lower triangle by rows (element (i, j), i >= j, at i(i+1)/2 + j).
//
// flags holds one character per variable: '1' for a pivot that is swept.
// Sweeping a pivot whose flag is '0' needs d = a[k,k] > 0 and
// d >= singular * scale[k]^2 (the pivot is not too small against the
// variable's scale, e.g. the root of its original sum of squares: then
// d / scale^2 = 1 - R^2 on the pivots swept before); otherwise a is left
// alone and the flag stays '0'. A pivot whose flag is '1' is swept back
// (the reverse sweep), and its flag becomes '0'.
//
// Sweep:         a[k,k] <- -1/d, a[i,k] <- a[i,k]/d,  a[i,j] <- a[i,j] - a[i,k]a[k,j]/d
// Reverse sweep: a[k,k] <- -1/d, a[i,k] <- -a[i,k]/d, a[i,j] <- a[i,j] - a[i,k]a[k,j]/d
// So after sweeping the set S, a[i,j] for i, j outside S is the residual
// covariance given S, and a[i,k] for i outside S and k in S is the
// regression weight of k in the prediction of i.
//
// The arithmetic is the kernel's (kernels::sweepPivot, kernels/sweep.hpp).
// Returns 0; -1 when k is out of range or memory for the pivot row is short
// (nothing done).
int32_t sweepPivot(double* a, int32_t k, int32_t n, char* flags, const double* scale,
                   double singular);

}  // namespace zul::services
