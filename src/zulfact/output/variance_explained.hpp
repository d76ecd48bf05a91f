// Variance explained by each factor and the final communalities.
#pragma once

#include "zulfact/state/proc_state.hpp"

namespace zulfact {

// Mode 0: orthogonal solution (the pattern ps.loadings); mode 1: oblique,
// ignoring the other factors (the structure); mode 2: oblique, eliminating
// the other factors (the reference structure). Prints "VarExplain" (or
// "VarExplainWgt" in a weighted analysis). Modes 0 and 1 then compute the
// final communalities into ps.communalities and ps.communalTotal and print
// "FinalCommun" (or "FinalCommunWgt"); mode 2 stops after the variance.
void varianceExplained(ProcState& ps, int mode);

// Sums of squares of the k columns of the p x k matrix m into v, and when
// weights is given the weighted sums into w (variables whose weight is
// missing are left out of w only).
void columnSquares(const double* m, int p, int k, const double* weights, double* v, double* w);

}  // namespace zulfact
