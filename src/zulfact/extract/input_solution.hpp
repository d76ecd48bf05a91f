// A factor solution read from an input table of TYPE=FACTOR (typically the
// OUTSTAT= table of an earlier step), so that it can be rotated again or
// printed: METHOD=PATTERN, and TYPE=FACTOR input without METHOD=.
#pragma once

#include <string_view>

#include "zulfact/state/proc_state.hpp"

namespace zulfact {

// Reads the group's rows: "PATTERN" (or "FACTOR") rows are the loadings,
// one factor a row, up to ps.nFactors, named by _NAME_ ("SCORE" rows, the
// scoring coefficients, under METHOD=SCORE: see inputScores); "FCORR" rows the
// factor correlations; "WEIGHT", "PRIORS" and "COMMUNAL" rows the
// variable weights, priors and communalities. Missing values read as 0.
// With FCORR rows the solution is oblique and is completed by
// FinishOblique (input mode) and printed by PrintObliqueTables; otherwise
// it is printed as "InputFactorPattern". Sets ps.factorsRetained (and
// ps.nFactors) to the number of factors read.
// No factor row: message 180/31, code 108, no solution. Fewer FCORR rows
// than factor rows: message 180/32, code 108, no solution.
void inputSolution(ProcState& ps);

}  // namespace zulfact
