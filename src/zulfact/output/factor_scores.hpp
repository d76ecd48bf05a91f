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

// The rows of a BY group that ended without a solution (too few
// observations, a singular matrix, no factor retained, no TARGET= group):
// OUT= still holds every input observation, in order, with the added
// columns missing, and a note names the group. Nothing when OUT= is not
// requested, the step has no BY groups or the group's rows were written.
void copyUnscoredGroup(ProcState& ps);

// At the end of the step: OUT= rows of which none holds a score (every
// group failed) are not written, so that an earlier table of the name stays.
void markUnscoredOutput(ProcState& ps);

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
