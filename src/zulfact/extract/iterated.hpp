// Iterated principal factor analysis (METHOD=PRINIT) and alpha factor
// analysis (METHOD=ALPHA, Kaiser and Caffrey 1965): the communalities on
// the diagonal of the reduced matrix are replaced, pass after pass, by
// those its leading eigenvectors reproduce, until they stop changing.
#pragma once

#include <vector>

#include "zulfact/extract/principal.hpp"
#include "zulfact/state/proc_state.hpp"

namespace zulfact {

// Priors, passes up to MAXITER= (the preliminary eigenvalues and the
// number of factors in the first), the iteration history, the convergence
// status, the final eigenvalues (and eigenvectors), coefficient alpha for
// ALPHA, and the loadings in ps.loadings. A Heywood case that is not
// allowed ends the group with ps.factorsRetained = -1. With MAXITER=0 the
// solution is the principal factor solution at the priors, not converged.
void iteratedExtract(ProcState& ps);

// New communality estimates from the k leading eigenvalues lambda and
// vectors z (p x k) of the (weighted) reduced matrix: h_i = sum_j
// max(0, lambda_j) z_ij^2, divided by w_i when w_i > 0, and exactly 0 when
// not above k max(tiny, p eps): for ALPHA that floor is applied before the
// division, otherwise after it.
void communalitiesFromVectors(int p, int k, const double* lambda, const double* z,
                              const double* weights, bool alpha, double* h);

// The matrix of one pass from plain matrices: the saved (for weighted
// PRINIT already weighted) packed matrix of order p with the communalities
// h on its diagonal, times the weights w for PRINIT. For ALPHA the weights
// become 1/h (0 where h <= 0) and the matrix H^-1/2 (R - U^2) H^-1/2
// (Kaiser and Caffrey 1965). work receives p doubles.
void passMatrix(int p, bool alpha, const double* saved, const double* h, double* w, double* r,
                double* work);

// What the passes read: the saved packed matrix of order p (weighted for
// weighted PRINIT), the priors and the weights at the start, and the
// options that steer the passes.
struct IteratedInputs {
  int p = 0;
  bool alpha = false;
  bool weighted = false;  // loadings unweighted by 1/sqrt(w)
  const double* saved = nullptr;
  const double* priors = nullptr;
  const double* weights = nullptr;
  int maxIter = 0;
  double convergence = 0.0;
  bool heywood = false, ultraHeywood = false;
};

// One pass as it is reported: the eigen solver's codes, and, when the pass
// updated the estimates, its history row and the Heywood status.
struct IteratedPass {
  int valuesCode = 0;  // zeigen (0 for the first pass, reported by the caller)
  int vectorsCode = 0;  // zeigvec
  bool hasRow = false;
  int heywoodStatus = 1;
  double change = 0.0;
  std::vector<double> estimates;
};

// The solution after the last pass. When a Heywood case ended the passes
// (heywoodEnded), eigenvalues are the last pass's as solved and loadings
// are its vectors; otherwise tiny eigenvalues are 0 and the loadings are
// scaled. priors are the estimates the last pass started from (the final
// estimates when the passes ended normally).
struct IteratedResult {
  std::vector<double> eigenvalues, vectors, loadings;
  std::vector<double> communalities, priors, weights;
  std::vector<double> lastMatrix;  // the last pass's matrix (packed)
  std::vector<double> lastDiagonal;  // the estimates the last pass started from
  std::vector<IteratedPass> passes;
  bool converged = false;
  bool heywoodEnded = false;
};

// The passes for k factors. first is the eigen decomposition of the first
// pass's matrix (passMatrix of the priors), from which k was decided.
IteratedResult iteratedPasses(const IteratedInputs& in, const PrincipalEigen& first, int k);

// Coefficient alpha of a factor with eigenvalue lambda among p variables
// (Kaiser and Caffrey 1965): p (1 - 1/max(1.11e-13, lambda)) / (p - 1).
double coefficientAlpha(int p, double lambda);

}  // namespace zulfact
