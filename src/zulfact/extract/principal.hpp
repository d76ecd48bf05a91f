// Principal components, principal factor and Harris component analysis,
// and the pieces every eigen-based method shares: clean-up of negligible
// eigenvalues, the number of factors, the Eigenvalues table and the eigen
// note reporter.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "zulfact/state/message_ids.hpp"
#include "zulfact/state/proc_state.hpp"

namespace zulfact {

// METHOD=PRINCIPAL and METHOD=HARRIS: priors, (weighted) reduced matrix,
// eigenvalues, the number of factors, eigenvectors and loadings. Sets
// ps.factorsRetained and fills ps.loadings (p x k, column by column).
// Harris (1962) component analysis differs only by its weights
// 1/max(1 - h2, 0.001), which the priors step supplies.
void principalExtract(ProcState& ps);

// The eigen decomposition of a principal-type extraction from plain
// matrices. The number of factors is decided between the eigenvalues and
// the vectors, so the reduction is kept for principalLoadings.
struct PrincipalEigen {
  int p = 0;
  std::vector<double> eigenvalues;  // p, descending; tiny ones exactly 0
  std::vector<double> reduced;      // the reduction of the matrix (packed)
  std::vector<double> work;         // and the eigen solver's work area
  std::vector<int> order;           // the rows as solved (graded_order.hpp)
  int code = 0;                     // the eigen solver's result code
};

// The eigenvalues of the packed reduced matrix of order p, weighted
// (W^1/2 R W^1/2) when weights are given.
PrincipalEigen principalEigenvalues(int p, const double* reduced, const double* weights);

// The first k eigenvectors and the loadings from them (both p x k, column
// by column), unweighted by the same weights.
struct PrincipalLoadings {
  std::vector<double> vectors;
  std::vector<double> loadings;
  int code = 0;                     // the eigen solver's result code
};
PrincipalLoadings principalLoadings(const PrincipalEigen& eigen, int k, const double* weights);

// Eigenvalues within 1.110223024625157e-13 times the first non-missing
// one (in magnitude) become exactly 0.
void zeroTinyEigenvalues(int p, double* lambda);

// A covariance analysis (PRINCIPAL, PRINIT) whose largest variance exceeds
// the smallest positive one by more than that clean-up's ratio: the small
// variable's factors fall below it, and a warning names the two variables.
void warnVariancesBeyondPrecision(ProcState& ps);

// Decides ps.factorsRetained from the MAP or parallel results, or from
// the eigenvalues with MINEIGEN=, PROPORTION= and NFACTORS= (defaults by
// method and priors), and issues the messages and notes that tell why.
void decideFactorCount(ProcState& ps);
// The same, the default MINEIGEN= of principal components and image
// analysis taken as the mean of meanWeights (1 when null).
void decideFactorCount(ProcState& ps, const double* meanWeights);

// The "Eigenvalues" table of ps.eigenvalues titled with `heading`.
void printEigenvalueTable(ProcState& ps, std::string_view heading);

// Turns a result code of zeigen/zeigvec into messages of group 271 (and
// "EigenNote" notes when a sink is given). Codes 98, 99 and an inverse
// iteration failure end the run. Returns the code.
int eigenNote(int code, void* sink);

// ---- shared with the image extraction ----

// The weighted matrix S R S of the packed r of order p in place, with
// s_i = sqrt(max(0, w_i)) left in roots (p doubles).
void weightMatrix(int p, double* r, const double* weights, double* roots);

// Loadings from the first k eigenvectors (p x k, column by column, in
// place): a_ij = z_ij sqrt(max(0, lambda_j)), times 1/sqrt(w_i) (0 when
// w_i <= 0) when weights are given (a weighted analysis).
void vectorsToLoadings(int p, int k, const double* lambda, const double* weights,
                       double* vectors);

// A heading text from the message file; a failed lookup reports the host
// status and ends the run (1020).
std::string requiredText(msg::Id id);

// The eigenvalue rule alone, for its tests: the number of the p
// eigenvalues (descending, from index f) retained under threshold t,
// proportion P (0: none) and upper bound nMax. `why` receives the
// criterion that stopped the count: "NFACTOR", "MINEIGEN" or "PROPORTION".
int eigenvalueRule(const double* lambda, int p, int f, double t, double P, int nMax,
                   const char** why = nullptr);

}  // namespace zulfact
