// The unrotated factor pattern: printed right after extraction, then
// cleaned for rotation (tiny loadings zeroed, empty factors dropped), and
// the extraction rows of the OUTSTAT= table.
#pragma once

#include "zulfact/state/proc_state.hpp"

namespace zulfact {

// Computes the standard errors of an ML solution when they are asked for
// (RotationStdErrors, code 14), prints "FactorPattern" with them (in
// REORDER order when asked) and the variance
// explained of the unrotated solution, zeroes loadings within
// 1.110223024625157e-13, drops factors without any loading (message 180/58
// each; all of them: 180/59 and completion code 112), sets up the
// one-factor solution, and appends the OUTSTAT= rows "COMMUNAL", "PRIORS",
// "WEIGHT", "EIGENVAL", "UNROTATE" and "SE_UNROT". m is ps.nFactors, which becomes the
// number of factors kept (as does ps.factorsRetained).
void FinishUnrotatedPattern(ProcState& ps);

// Removes the empty columns of the p x m pattern in place, keeping the
// order of the others. `dropped` (m entries) receives 1 for each removed
// column. Returns the number of columns kept.
int dropEmptyFactors(double* loadings, int p, int m, int* dropped);

}  // namespace zulfact
