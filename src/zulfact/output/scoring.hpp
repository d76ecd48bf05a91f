// Standardized scoring coefficients of the current factor solution by the
// regression method (Thurstone 1935): B = R^-1 S, with S the factor
// structure of an oblique solution and the pattern of an orthogonal one.
#pragma once

#include "zulfact/state/proc_state.hpp"

namespace zulfact {

// B = R^-1 S into ps.scoreCoefficients (p x m, column by column), where
// R^-1 is the inverse saved by the priors step or, without one, the saved
// R inverted here (a singular R gives warning 180/110 and a generalised
// inverse). Prints "VarFactorCorr" (the squared multiple correlation of
// the variables with each factor, d_j = S_j . B_j) and "StdScoreCoef"
// under the heading of message 180/109. Overwrites the leading p x p block
// of ps.corrMatrix. Does nothing when no factor is retained; a save-area
// failure ends the step with 1020.
void computeScoringCoefficients(ProcState& ps);

// The arithmetic alone: b (p x m) = ainv s, with ainv packed symmetric of
// order p; d (m) receives the column dot products s_j . b_j.
void scoringFromInverse(int p, int m, const double* ainv, const double* s, double* b,
                        double* d);

}  // namespace zulfact
