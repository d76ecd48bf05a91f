// The bound every reported communality keeps: a variable's common part
// cannot exceed its variance (1 in a correlation matrix). HEYWOOD holds
// the iterations' estimates at that bound, but the loadings of the last
// eigen step are taken with the estimate at the bound and may explain a
// little more; ULTRAHEYWOOD lets a communality pass it.
#pragma once

#include "zulfact/state/proc_state.hpp"

namespace zulfact {

// Relative excess of a communality over the variance that rounding of an
// eigen solution may leave.
inline constexpr double kAboveVarianceSlack = 1e-8;

// The row of a p x k column-major pattern whose communality (its row sum
// of squares) most exceeds `slack` times its variance, taken from the
// diagonal of the packed matrix `r`; row -1 when none does.
struct AboveVariance {
  int row = -1;
  double ratio = 1.0;
};
AboveVariance worstAboveVariance(int p, int k, const double* loadings, const double* r,
                                 double slack);

// Scales each row of the pattern whose communality exceeds its variance
// back to the variance, so the pattern, the final communalities, the
// stored solution and the scores agree with the bound. Returns the row
// scaled the most (its ratio before), -1 when none was above.
AboveVariance scaleRowsToVariance(int p, int k, double* loadings, const double* r);

// After the extraction of a group, for the methods that estimate the
// communalities (PRINCIPAL, PRINIT, ALPHA, ULS, ML, GLS): with HEYWOOD the rows above
// the variance are scaled back to it (a note names the variable when more
// than rounding was removed); with ULTRAHEYWOOD a communality above the
// variance is kept, and a warning names the variable, so that the step
// does not end as if the solution were proper.
void boundCommunalities(ProcState& ps);

}  // namespace zulfact
