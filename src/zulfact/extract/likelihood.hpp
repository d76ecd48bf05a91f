// Unweighted least squares (METHOD=ULS), maximum likelihood (METHOD=ML,
// Joreskog 1967; Lawley and Maxwell 1971) and generalised least squares
// (METHOD=GLS, Joreskog and Goldberger 1972) factor analysis: the unique
// variances minimise the method's discrepancy function, concentrated over
// the loadings (fit_state.hpp), by Newton-Raphson with a ridge
// (newton_ridge.hpp); the number of factors is decided once, on the
// eigenvalues at the start values.
#pragma once

#include <cstddef>
#include <vector>

#include "zulfact/extract/fit_state.hpp"
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

// ---- the numeric core: plain matrices in, results out, no host ----

// What the fit reads.
struct LikelihoodInputs {
  FitKind kind = FitKind::Ml;
  int p = 0;
  const double* r = nullptr;        // the group's packed R of order p
  const double* h2 = nullptr;       // p prior communalities: start values psi = 1 - h2
  const double* weights = nullptr;  // p variable weights (ULS: the metric of its parameters)
  bool weighted = false;            // ULS fits W^1/2 R W^1/2, loadings unweighted back
  double singularity = 0.0;         // SINGULAR=, for the Cholesky pivots of R (ML, GLS)
  double convergence = 0.0;         // CONVERGE=
  int maxIter = 0;                  // MAXITER=
  bool heywood = false;             // 0 <= psi <= 1 (ULS: w_i)
  bool ultraHeywood = false;        // a negative psi does not stop the fit
};

// Doubles of caller memory that likelihoodStart and likelihoodFit share
// for p variables: the fit state, the optimiser, the matrix the fit works
// on and the bounds.
std::size_t likelihoodDoubles(int p);

// The fit at its start values, before the number of factors is known.
struct LikelihoodStart {
  bool singular = false;            // ML, GLS: R is not positive definite; nothing more is set
  double lnDetR = 0.0;              // ML, GLS: ln|R|
  int eigenCode = 0;                // of the preliminary decomposition
  std::vector<double> eigenvalues;  // p: ULS lambda; ML, GLS gamma - 1, descending
  FitState fs;                      // over the caller's block
};

// The matrix of the fit (ML, GLS: T = C^-1 of R = C C^T; ULS: R, weighted
// when asked) and the preliminary eigenvalues at the start values, which
// decide the number of factors. block: likelihoodDoubles(p) doubles. The
// state keeps pointers to the block and to in.weights until the fit.
LikelihoodStart likelihoodStart(const LikelihoodInputs& in, double* block);

// One event of the fit as it is reported, in the order met: an eigen
// solver code that is not 0, or an iteration's history row.
struct LikelihoodStep {
  int eigenCode = 0;
  bool hasRow = false;
  int iteration = 0;
  double criterion = 0.0, ridge = 0.0, change = 0.0;
  std::vector<double> estimates;  // the communalities at the iteration's point
};

// The fitted solution.
struct LikelihoodResult {
  int code = 0;                    // the optimiser's OptimCode
  bool heywoodCase = false;        // a negative uniqueness not allowed: nothing below is set
  double criterion = 0.0;          // the discrepancy F at the solution
  std::vector<LikelihoodStep> steps;
  int eigenCode = 0;               // of the final decomposition
  std::vector<double> psi;         // p uniquenesses (ULS: in the metric of the weights)
  double srmr = 0.0;               // ML: the standardized root mean square residual
  std::vector<double> canonical;   // ML: k canonical correlations
  std::vector<double> vectors;     // p x k eigenvectors (ML, GLS: solved against T)
  bool vectorsShown = true;        // ML, GLS: false when a uniqueness is not positive
  std::vector<double> loadings;    // ML, GLS: p x p, the first k columns scaled; ULS p x k
  std::vector<double> eigenvalues; // p: ULS lambda; ML, GLS 1/mu - 1 (missing where mu = 0)
  std::vector<double> weights;     // ML, GLS: 1/psi (missing where psi <= 0); ULS: none
};

// The fit of k factors from the start (whose state it advances): the
// optimisation, the final decomposition and the solution.
LikelihoodResult likelihoodFit(const LikelihoodInputs& in, LikelihoodStart& start, int k,
                               double* block);

}  // namespace zulfact
