// The fit indices printed beside the maximum likelihood significance
// tests: Steiger and Lind's (1980) root mean square error of approximation
// with the 90% interval and the test of close fit of Browne and Cudeck
// (1993), Bentler's (1990) comparative fit index and the standardized root
// mean square residual.
#pragma once

#include "zulfact/extract/fit_tests.hpp"
#include "zulfact/state/proc_state.hpp"

namespace zulfact {

struct FitIndices {
  double rmsea, rmseaLower, rmseaUpper;  // the 90% interval
  double probClose;                      // P(RMSEA <= 0.05)
  double cfi, srmr;
};

// Lower-tail probability of the noncentral chi-square distribution with df
// degrees of freedom and noncentrality lambda at x: the Poisson(lambda/2)
// mixture of central chi-squares on df + 2i, summed outward from the
// largest weight until the weights vanish. Missing when df <= 0 or an
// argument is not finite or lambda < 0.
double noncentralChiSquareCdf(double x, double df, double lambda);

// The lambda >= 0 at which noncentralChiSquareCdf(x, df, lambda) = target
// (the distribution function falls as lambda grows), by bisection after
// doubling a bracket; 0 when even lambda = 0 gives no more than target.
double noncentralityFor(double x, double df, double target);

// The indices from the statistics, with RMSEA from chi2_k and its
// multiplier n = N - 1 - (2p + 5)/6 - 2k/3 (Bartlett's), and the SRMR
// given (missing: missing). Every index is missing when dfK <= 0 or the
// multiplier is not positive.
FitIndices fitIndices(const FitStatistics& s, double multiplier, double srmr);

// sqrt(sum_{i <= j} r_ij^2 / (p(p+1)/2)) over the packed residuals r_ij of
// the correlation structure, R - (L L^T + Psi), the diagonal included.
double standardizedRmr(int p, const double* residual);

// The same from the packed R, the p x k loadings (column by column) and
// the uniquenesses.
double standardizedRmrOf(int p, int k, const double* r, const double* loadings,
                         const double* psi);

// ML: the loadings of the fit at its solution (the vectors of the k
// smallest mu of fs, solved against the packed T, scaled by sqrt(1 - mu))
// and the SRMR against the packed R.
double fitSrmr(int p, int k, const double* r, const double* t, const double* mu,
               const double* vectors, const double* psi);

// The "FitIndices" table (nothing without an output sink): the indices
// with a footnote on the chi-square used, or missing values with a note
// when no factor is retained or the test has no degrees of freedom.
void printFitIndices(ProcState& ps, double lnDetR, double criterion, double srmr);

// What an ML solution prints of its fit: the significance tests and fit
// measures (fit_tests.hpp), then the fit indices; srmr missing where no
// solution is kept.
void mlFitTables(ProcState& ps, double lnDetR, double criterion, double srmr = zul_missing());

}  // namespace zulfact
