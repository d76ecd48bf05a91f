// Standard errors of the unrotated maximum-likelihood loadings.
//
// The model Sigma = Lambda Lambda' + Psi is fitted to the analysed matrix S
// by F = ln|Sigma| + tr(S Sigma^-1) - ln|S| - p. Its parameters
// theta = (vec Lambda, psi) are identified by the extraction's condition
// that Lambda' Psi^-1 Lambda is diagonal (Lawley and Maxwell 1971). The
// second derivatives H of F at the solution (the observed information),
// bordered by the gradients C of the m(m-1)/2 off-diagonal conditions
// (Silvey 1959; Jennrich 1974),
//
//     [ H  C' ]^-1   [ P  . ]
//     [ C  0  ]    = [ .  . ],     cov(theta) = 2 P / d,
//
// with d the variance divisor of the data pass (N - 1 under VARDEF=DF).
//
// Two kinds of standard errors:
//  - covariance structure: cov(vec Lambda) is the Lambda block of
//    cov(theta), as if S were a covariance matrix (the COV option);
//  - correlation structure: for a correlation matrix the loadings are the
//    standardised ones lambda*_ik = lambda_ik / sqrt(sigma_ii) of the
//    covariance model, so their covariance is J cov(theta) J' with J the
//    Jacobian of that standardisation (the delta method; Browne 1982).
//    At an ML solution of a correlation matrix sigma_ii = 1.
//
// Layout shared with the rotation step: vec(Lambda) stacks the columns of
// the p x m pattern, loading (i, k) at index k*p + i. The covariance
// matrix of vec(Lambda) is kept FULL (not packed): (p*m) x (p*m) doubles,
// column-major, symmetric, already divided by d, so its diagonal holds the
// squared standard errors.
//
// Host-free: plain matrices in, result out.
#pragma once

#include <cstdint>
#include <vector>

namespace zulfact {

enum class UnrotatedErrorsStatus {
  Ok,
  NonPositiveUniqueness,  // 1 - sum_k lambda_ik^2, or a fitted uniqueness,
                          // below kTinyUniqueness
  Singular,               // the bordered information matrix is singular
};

// The smallest uniqueness for which the information matrix is formed.
inline constexpr double kTinyUniqueness = 1.491668147e-154;

struct UnrotatedErrorsInput {
  const double* corr = nullptr;      // S, packed lower triangle, order p
  const double* loadings = nullptr;  // Lambda, p x m column by column
  int p = 0;
  int m = 0;
  double divisor = 0;                // d, the variance divisor (> 0)
  bool correlationStructure = true;  // false: covariance structure (COV)
  // The fit's own uniquenesses (p), or nullptr. At a proper solution they
  // equal 1 - sum_k lambda_ik^2; a fit that drove one to zero or below (a
  // Heywood case) may leave loadings whose communality stays under 1.
  const double* fittedUniquenesses = nullptr;
};

struct UnrotatedErrors {
  UnrotatedErrorsStatus status = UnrotatedErrorsStatus::Ok;
  std::vector<double> covariance;  // (p*m)^2, cov(vec Lambda), full, divided by d
  std::vector<double> stdErrors;   // p x m column by column: sqrt(max(0, v_kk))
};

// The standard errors and covariance of the unrotated loadings; on a
// status other than Ok both vectors are empty.
UnrotatedErrors unrotatedStdErrors(const UnrotatedErrorsInput& in);

// cov(theta) of the covariance structure, (p*m + p)^2 full column-major
// with theta = (vec Lambda, psi) and psi_i = 1 - sum_k lambda_ik^2 unless
// `psi` is given; divided by d. Empty with the status when it fails.
std::vector<double> covarianceStructureCov(const UnrotatedErrorsInput& in, const double* psi,
                                           UnrotatedErrorsStatus& status);

// Bytes the computation needs at most for p variables and m factors (the
// memory check before it runs).
double unrotatedErrorsBytes(int p, int m);

}  // namespace zulfact
