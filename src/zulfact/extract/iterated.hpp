// Iterated principal factor analysis (METHOD=PRINIT) and alpha factor
// analysis (METHOD=ALPHA, Kaiser and Caffrey 1965): the communalities on
// the diagonal of the reduced matrix are replaced, pass after pass, by
// those its leading eigenvectors reproduce, until they stop changing.
#pragma once

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
// max(0, lambda_j) z_ij^2, exactly 0 when not above k max(tiny, p eps),
// otherwise divided by w_i when w_i > 0.
void communalitiesFromVectors(int p, int k, const double* lambda, const double* z,
                              const double* weights, double* h);

// The matrix of one pass from plain matrices: the saved (for weighted
// PRINIT already weighted) packed matrix of order p with the communalities
// h on its diagonal, times the weights w for PRINIT. For ALPHA the weights
// become 1/h (0 where h <= 0) and the matrix H^-1/2 (R - U^2) H^-1/2
// (Kaiser and Caffrey 1965). work receives p doubles.
void passMatrix(int p, bool alpha, const double* saved, const double* h, double* w, double* r,
                double* work);

// Coefficient alpha of a factor with eigenvalue lambda among p variables
// (Kaiser and Caffrey 1965): p (1 - 1/max(1.11e-13, lambda)) / (p - 1).
double coefficientAlpha(int p, double lambda);

}  // namespace zulfact
