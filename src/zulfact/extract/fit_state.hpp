// The discrepancy functions of unweighted least squares, maximum likelihood
// and generalised least squares, concentrated over the loadings so that
// only the p unique variances psi remain as parameters (Joreskog 1967;
// Joreskog and Goldberger 1972), with their gradients and the second
// derivatives that the Newton-Raphson optimiser uses: for ML and GLS the
// exact ones (fit_hessian.hpp) where they are positive definite, else the
// approximation below, which is always positive semidefinite.
//
// ULS. A = W^1/2 R W^1/2 with diagonal w_i - u_i has eigenvalues lambda
//      (descending) and vectors z; F = 1/2 sum_{j>=k} lambda_j^2. The
//      parameters u_i = w_i psi_i are the unique variances in the metric of
//      the weighted matrix (the covariances under COVARIANCE), in which the
//      Newton steps stay well scaled whatever the variances.
// ML, GLS. With R = C C^T and T = C^-1, M = T Psi T^T has eigenvalues mu
//      (descending) and vectors z; gamma = 1/mu are the eigenvalues of
//      Psi^-1/2 R Psi^-1/2 in ascending order, and over the p - k smallest
//      ML:  F = sum (gamma - 1 - ln gamma)
//      GLS: F = 1/2 sum (1/gamma - 1)^2, the criterion 1/2 tr((I - R^-1 Sigma)^2)
//           concentrated over the loadings.
//
// Nothing here prints or talks to the host: the state is plain memory that
// the caller provides (fitStateDoubles), so tests and benchmarks use it as
// the module does.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zulfact {

enum class FitKind { Uls, Ml, Gls };

struct FitState {
  int32_t iteration;       // iterations reported so far
  int32_t functionCalls;   // objective evaluations
  int32_t gradientCalls;   // gradient evaluations
  int32_t residualCount;   // p - k, the discarded eigen directions
  bool isUls, isGls, isMl;
  bool preliminaryDone;    // the preliminary eigenvalues and k are done
  bool exactHessian;       // ML, GLS: try the exact second derivatives (set by init)
  bool exactUsed;          // the last fitDerivatives gave the exact ones
  double criterion;        // objective at the current point
  double ridge;            // current ridge factor of the optimiser
  double* psi;             // p: current uniquenesses (ULS: w_i psi_i)
  double* gradient;        // p
  double* hessian;         // packed p(p+1)/2
  double* previousPsi;     // p: uniquenesses of the previous iteration
  double* work;            // packed p(p+1)/2: the matrix decomposed
  double* exact;           // packed: the exact second derivatives
  double* exactFactor;     // packed: their Cholesky test

  // ---- the problem ----
  int32_t nVars;
  int32_t nFactors;          // k
  const double* matrix;      // ULS: packed W^1/2 R W^1/2; ML, GLS: packed T = C^-1
  const double* weights;     // ULS: w_i; null means 1

  // ---- the last evaluation ----
  double* evaluatedPsi;  // p: the point of the last objective call (tiny ones 0)
  double* values;        // p: ULS lambda, ML/GLS mu, descending
  double* gammas;        // p: ML/GLS gamma = 1/mu (1e12 when mu <= 1e-12)
  double* vectors;       // p * p: eigenvectors, column j for values[j]
  double* scaled;        // p * p: ML/GLS x_j = sqrt(gamma_j) T^T z_j
  double* eigenWork;     // 9p: kept between the objective and its vectors
  int32_t eigenCode;     // most recent code of the eigen solver
  bool decomposed;       // values, work and eigenWork belong to evaluatedPsi
};

// Doubles of caller memory that fitStateInit carves for p variables.
std::size_t fitStateDoubles(int p);

// Sets up the state for p variables and k factors over `block`
// (fitStateDoubles(p) doubles). `matrix` and `weights` stay the caller's.
void fitStateInit(FitState& fs, FitKind kind, int p, int k, const double* matrix,
                  const double* weights, double* block);

// Eigenvalues at psi (values, gammas; the reduction is kept for
// fitDerivatives) and the criterion over the k fitted directions, which it
// stores in fs.criterion and returns. psi values within 1e-12 of 0 count
// as 0. At the point of the previous call the decomposition is reused.
double fitObjective(FitState& fs, const double* psi);

// Gradient and second derivatives at the point of the last fitObjective
// call, into fs.gradient and fs.hessian. ML and GLS with fs.exactHessian
// give, from the first accepted iteration on, the exact second derivatives
// when they are finite and positive definite (fs.exactUsed), else the
// approximation:
//   ML:  g_i = sum_j x_ij^2 (1 - gamma_j),     GLS: g_i = sum_j x_ij^2 (1/gamma_j^2 - 1/gamma_j),
//        h_il = (sum_j c_j x_ij x_lj)^2 over the p - k discarded directions,
//        c_j = 1 for ML and mu_j = 1/gamma_j for GLS;
//   ULS: g_i = -sum_{j>=k} lambda_j z_ij^2, h_il = (sum_{j>=k} z_ij z_lj)^2,
//        formed from the k retained vectors (the discarded ones complete them
//        to the identity).
void fitDerivatives(FitState& fs);

// Every eigenvector at psi (fs.vectors, all p columns), for the final
// loadings; returns the eigen code.
int fitFullDecomposition(FitState& fs, const double* psi);

// ML and GLS set-up: R = C C^T row by row (Cholesky) with ln|R| = sum
// ln max(singularity, d_i) over the pivots d_i, then the packed r is
// replaced by T = C^-1. False when a pivot is not above `singularity`.
bool inverseCholeskyFactor(int p, double* r, double singularity, double& lnDet);

// Builds the work matrix at psi (tiny values taken as 0) into fs.work;
// exposed for fitFullDecomposition and the tests.
void fitWorkMatrix(FitState& fs, const double* psi);

}  // namespace zulfact
