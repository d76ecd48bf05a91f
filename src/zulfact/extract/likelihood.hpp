// Unweighted least squares (METHOD=ULS), maximum likelihood (METHOD=ML,
// Joreskog 1967; Lawley and Maxwell 1971) and generalised least squares
// (METHOD=GLS, Joreskog and Goldberger 1972) factor analysis: the unique
// variances minimise the method's discrepancy function, concentrated over
// the loadings (fit_state.hpp), by Newton-Raphson with a ridge
// (newton_ridge.hpp); the number of factors is decided once, on the
// eigenvalues at the start values.
#pragma once

#include "zulfact/state/proc_state.hpp"

namespace zulfact {

// The whole method on the group's correlation matrix: priors and start
// values psi = 1 - h (for ML and GLS at least CONVERGE=), the Cholesky
// factor of R with ln|R| (ML, GLS; a singular R is message 180/124, code
// 112 and no factors), the preliminary eigenvalues and the factor count,
// the optimisation with its history (bounds 0 <= psi <= 1 under HEYWOOD),
// the convergence status, for ML the significance tests, fit measures and
// squared canonical correlations, and the loadings and eigenvalues of the
// final solution. A negative uniqueness without HEYWOOD or ULTRAHEYWOOD
// ends the group (messages 180/42 and 180/55, code 108, no solution).
void likelihoodExtract(ProcState& ps);

}  // namespace zulfact
