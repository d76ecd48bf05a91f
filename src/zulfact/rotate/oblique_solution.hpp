// The oblique solution: factor correlations, unit factor variances, the
// reference axes and the structures, and their tables.
#pragma once

#include "zulfact/state/proc_state.hpp"

namespace zulfact {

// Modes of FinishOblique: what produced the solution in hand.
enum ObliqueMode {
  kObliqueFromEngine = 68,       // engine-oblique rotation: Phi from the engine
  kObliqueHarrisKaiser = 72,     // Harris-Kaiser: Phi from T, factors reordered
  kObliqueInputPattern = 73,     // input pattern with its Phi
  kObliqueTarget = 79,           // PROMAX or PROCRUSTES: Phi from T
};

// Completes the oblique solution of ps.loadings (p x m) and ps.transform:
// Phi = (T^T S T)^-1 for modes 72 and 79 (S the inverse of the Phi of an
// oblique solution that came before, else the identity), factors rescaled
// to unit variance (not for mode 68, whose Phi has a unit diagonal), the
// Harris-Kaiser factors ordered by their sums of squares (mode 72), the
// reference-axis correlations, factor scales, reference structure and
// structure. A singular matrix gives message 180/53, completion code 108
// and ps.nFactors = 0.
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
