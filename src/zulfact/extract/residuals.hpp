// Residual correlations of the initial solution and the partial
// correlations controlling for the factors: how well the retained factors
// reproduce the analysed matrix.
#pragma once

#include <vector>

#include "zulfact/state/proc_state.hpp"

namespace zulfact {

// The residual and partial correlations of a solution, with no host
// behind them. Both are packed symmetric of order p.
struct ResidualCorrelations {
  std::vector<double> residual;      // R - L Phi L', the uniquenesses on the diagonal
  std::vector<double> partial;       // the residuals scaled to correlations
  std::vector<double> residualRms;   // per variable, over its p - 1 others
  std::vector<double> partialRms;
  double residualOverall = 0.0;      // over all p(p - 1) off-diagonal elements
  double partialOverall = 0.0;
};

// From the packed R (order p), the p x m loadings (column by column) and
// the packed m x m factor correlations phi (identity when null). A
// variable whose residual variance is not positive (a Heywood case) keeps
// a zero row, column and diagonal in the partial correlations.
ResidualCorrelations residualCorrelationsOf(int p, int m, const double* r,
                                            const double* loadings, const double* phi);

// R (restored from the save area) minus the fitted L Phi L', printed with
// the uniquenesses on its diagonal, summarised by root-mean-square
// off-diagonal values, written as OUTSTAT= "RESIDUAL" rows, then turned
// into partial correlations controlling for the factors and summarised the
// same way. A save-area failure ends the step with 1020.
void residualCorrelations(ProcState& ps);

// In place on the packed a (order p): a_ij -= sum_k sum_l L_ik phi_kl L_jl
// with the p x m loadings L (column by column) and the packed m x m phi
// (identity when null); results within 1.0536712127723509E-8 of zero
// become 0.
void subtractFitted(int p, int m, const double* loadings, const double* phi, double* a);

// Root mean square of the off-diagonal elements of each row of the packed
// a (p values into rms, each over p - 1 others); returns the overall value
// over the p(p - 1) off-diagonal elements. 0 when p < 2.
double offDiagonalRms(int p, const double* a, double* rms);

}  // namespace zulfact
