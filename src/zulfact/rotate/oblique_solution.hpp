// The oblique solution: factor correlations, unit factor variances, the
// reference axes and the structures, and their tables.
#pragma once

#include <vector>

#include "zulfact/state/proc_state.hpp"

namespace zulfact {

// Modes of FinishOblique: what produced the solution in hand.
enum ObliqueMode {
  kObliqueFromEngine = 68,       // engine-oblique rotation: Phi from the engine
  kObliqueHarrisKaiser = 72,     // Harris-Kaiser: Phi from T, factors reordered
  kObliqueInputPattern = 73,     // input pattern with its Phi
  kObliqueTarget = 79,           // PROMAX or PROCRUSTES: Phi from T
};

// What the oblique solution is completed from: the pattern (p x m) and
// its transformation T (m x m), with Phi (packed m) as given: the
// engine's or the input's for modes 68 and 73; for 72 and 79 the Phi of
// an oblique solution that came before (obliqueBefore), else unused.
struct ObliqueInput {
  int p = 0, m = 0;
  const double* loadings = nullptr;
  const double* transform = nullptr;
  const double* factorCorr = nullptr;
  bool obliqueBefore = false;
  double singularity = 0.0;  // SINGULAR=
  int mode = kObliqueTarget;
};

// The completed solution. `singular`: a matrix to invert was singular and
// nothing else is filled; `obliqueMarked`: the solution counts as oblique
// from then on (also when the second inversion of modes 72 and 79 fails);
// `rescaled`: a factor variance was brought to 1; `orderedSums`: mode 72's
// sums of squares in the new order, which replace the eigenvalues.
struct ObliqueSolution {
  bool singular = false;
  bool obliqueMarked = false;
  bool rescaled = false;
  std::vector<double> loadings, transform, factorCorr, refAxisCorr, scales;
  std::vector<double> refStructure, structure, orderedSums;
};

ObliqueSolution obliqueSolution(const ObliqueInput& in);

// Completes the oblique solution of ps.loadings (p x m) and ps.transform:
// Phi = (T^T S T)^-1 for modes 72 and 79 (S the inverse of the Phi of an
// oblique solution that came before, else the identity), factors rescaled
// to unit variance (not for mode 68, whose Phi has a unit diagonal), the
// Harris-Kaiser factors ordered by their sums of squares (mode 72), the
// reference-axis correlations, factor scales, reference structure and
// structure. A singular matrix gives message 180/53, completion code 108
// and ps.nFactors = 0. The numbers are obliqueSolution's.
void FinishOblique(ProcState& ps, int mode);

// REORDER by the reference structure, then the tables: "InterFactorCorr",
// the rotated or input pattern, "ReferenceAxisCorr", "ReferenceStructure",
// the variance explained eliminating and ignoring the other factors, and
// "FactorStructure".
void PrintObliqueTables(ProcState& ps);

// Stable reordering of factors by decreasing sums of squares (loadings
// above 1e-8 only): factor j passes an earlier one only when its sum
// exceeds it by more than 1e-8. order receives the new order (old indices)
// and sums the sorted sums.
void harrisKaiserOrder(const double* pattern, int p, int m, int* order, double* sums);

}  // namespace zulfact
