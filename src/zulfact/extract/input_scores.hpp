// Scoring coefficients read back from a TYPE=FACTOR table (METHOD=SCORE):
// the correlations of the scores they imply, and the oblique solution
// those correlations describe.
#pragma once

#include "zulfact/state/proc_state.hpp"

namespace zulfact {

// ps.loadings holds the k = ps.nFactors coefficient columns W read. Forms
// the implied score covariance V = W'RW from the correlations in
// ps.corrMatrix and its correlations into ps.factorCorr; rescales every
// column whose score variance differs from 1 by more than 1e-12 so that
// the scores have unit variance. Correlated scores (an off-diagonal above
// 1e-8) make the solution oblique: Phi^-1, the reference-axis
// correlations and scales, the coefficients of the unit-variance
// reference axes W Phi^-1 / s (in ps.refStructure) and W Phi (in
// ps.structure). Singular score correlations end the step with message
// 180/57 and code 1008, after the oblique tables when printing.
// Prints "InputScoreCoef" or the oblique tables.
void inputScores(ProcState& ps);

}  // namespace zulfact
