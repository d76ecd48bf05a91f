// The exact second derivatives of the concentrated ML and GLS discrepancy
// functions with respect to the unique variances (Joreskog 1967 for ML).
//
// Both criteria are sums F = sum_{j in D} f(mu_j) over the p - k discarded
// eigenvalues mu of M = T Psi T^T (T = C^-1, R = C C^T), with
//   ML:  f(mu) = 1/mu - 1 + ln mu,   GLS: f(mu) = (mu - 1)^2 / 2.
// dM/dpsi_i = t_i t_i^T (t_i column i of T), so with y_j = T^T z_j the
// perturbation theory of symmetric eigenvalues gives
//   H_il = sum_{j,m} c_jm (y_ij y_lj)(y_im y_lm),
//   c_jj = f''(mu_j) (j in D),
//   c_jm = (f'(mu_j) - f'(mu_m)) / (mu_j - mu_m) (j != m, both in D),
//   c_jm = c_mj = f'(mu_j) / (mu_j - mu_m) (j in D, m retained),
// and 0 between two retained directions. The discarded block has rank
// at most 3 (GLS: c_jm = 1; ML: -1/(mu_j mu_m) + 1/(mu_j mu_m^2) +
// 1/(mu_j^2 mu_m), exact also where mu_j = mu_m), so with
// A_w = Y_D diag(w) Y_D^T over the discarded y_j the Hessian is
//   ML:  -A1 o A1 + 2 A1 o A2 (w = 1/mu and 1/mu^2),  GLS: A0 o A0 (w = 1),
// plus 2 sum_{m retained} (y_m y_m^T) o A_{w_m}, w_mj = f'(mu_j)/(mu_j - mu_m)
// (o the elementwise product): (k + 2) p^2 (p - k) / 2 operations, the
// order of one eigen decomposition. Near a fitting model f' -> 0 and
// the approximation h_il = (sum_j y_ij y_lj)^2 (f''(1) = 1) remains; where
// the model does not fit, the terms in f' are what makes Newton's method
// converge quadratically.
#pragma once

namespace zulfact {

// Packed exact Hessian (p(p+1)/2) into h from the packed T, the
// eigenvalues mu (descending, the first p - k discarded) and all p
// eigenvectors (column j for mu_j). y: p * p scratch (the y_j, column
// by column). False when an
// element is not finite (a retained and a discarded eigenvalue coincide).
bool exactFitHessian(bool ml, int p, int k, const double* t, const double* mu,
                     const double* vectors, double* y, double* h);

}  // namespace zulfact
