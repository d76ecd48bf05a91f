// The generalized Crawford-Ferguson criterion of a p x m factor pattern L:
//
//   f(L) = k1 (sum_ij l_ij^2)^2 + k2 sum_i (sum_j l_ij^2)^2
//        + k3 sum_j (sum_i l_ij^2)^2 + k4 sum_ij l_ij^4
//
// Every criterion the engine knows is one choice of (k1, k2, k3, k4): the
// orthomax family (quartimax, varimax, equamax, ...), the Crawford-Ferguson
// family with row and column weights (Crawford and Ferguson 1970, Browne
// 2001) and the oblimin family (Jennrich 2002 writes them all this way).
// Orthogonal rotations maximise f, oblique ones minimise it.
#pragma once

namespace qkxfac {

struct CfCoefficients {
  double k1 = 0, k2 = 0, k3 = 0, k4 = 0;
};

// Work space of cfEvaluate: row and column sums of the squared loadings.
struct CfWork {
  double* rowSums;  // p
  double* colSums;  // m
};

struct CfValue {
  double value;      // f(L)
  double magnitude;  // the sum of the absolute values of the four terms:
                     // the size of the rounding error of `value`
};

// f at L (column-major, element (i, j) at i + j*p) and, when grad is not
// null, its gradient df/dL (p x m): 4 l_ij (k1 s + k2 r_i + k3 c_j + k4 l_ij^2)
// with s the total, r_i the row and c_j the column sums of squares.
CfValue cfEvaluate(const CfCoefficients& k, const double* l, int p, int m, double* grad,
                   const CfWork& work);

// The factor that brings f to the scale of the usual gradient-projection
// criteria, where the quartic term is sum l^4 / 4 (Jennrich 2001, 2002;
// Browne 2001): 4 |k4|, or 4 times the largest |k| when k4 is 0. The
// convergence measure is computed on f divided by it, so that a tolerance
// means the same as in other gradient-projection software.
double cfStandardScale(const CfCoefficients& k);

}  // namespace qkxfac
