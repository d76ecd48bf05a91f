// The OUT= table: every row of the input copied, with the estimated factor
// scores added (and, with PARTIAL variables, the analysis variables with
// the partial variables regressed out).
#pragma once

#include "zulfact/state/proc_state.hpp"

namespace zulfact {

// Reads the current BY group of the input again, row by row (nothing is
// held in memory), and appends one OUT= row per input row. Scores use the
// standardized scoring coefficients in ps.scoreCoefficients; score columns
// beyond the factors retained, and every added column of a row with a
// missing analysis or partial value, are missing. A read failure ends the
// step with 1012.
void writeFactorScores(ProcState& ps);

// The added values of one row. `x` holds the nAll analysis and partial
// values and is overwritten. `center`, `scale`: the moments used to
// standardize (centring skipped under noint); `partialWeights`: q rows of
// p regression weights of each analysis variable on the partial variables
// (packed row p + k of the swept matrix); `residualScale`: sqrt(1 - R^2)
// of each analysis variable on the partial variables. `out` receives, when
// q > 0, the p residuals in the variables' units, then the r scores.
struct ScoreRowPlan {
  int p = 0, q = 0, r = 0;
  bool noint = false;
  const double* center = nullptr;
  const double* scale = nullptr;
  const double* partialWeights = nullptr;  // packed swept matrix (nAll)
  const double* residualScale = nullptr;
  const double* coefficients = nullptr;    // p x r
};
void scoreRow(const ScoreRowPlan& plan, double* x, double* z, double* out);

}  // namespace zulfact
