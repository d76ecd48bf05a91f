// Criterion rotations through the numeric engine: the rotation code and
// its parameters become an engine method code, a normalisation code and
// the four coefficients of the generalized Crawford-Ferguson criterion;
// the engine rotates the current pattern and the results come back into
// ProcState, with the orthogonal-solution tables here and the oblique ones
// through FinishOblique and PrintObliqueTables.
#pragma once

#include "zulfact/state/proc_state.hpp"

namespace zulfact {

// Rotates ps.loadings with `code` as solution `index` (-1 prerotation, k
// ROTATE= entry k, -2 the implied rotation). PROMAX, PROCRUSTES and NONE
// return at once. An engine status that means no usable result: message,
// code 1012 raised and the completion code returned for the caller to end
// the step with; a failed engine call ends the step itself (1012). Returns
// 0 otherwise.
int CriterionRotate(ProcState& ps, int code, int index);

}  // namespace zulfact
