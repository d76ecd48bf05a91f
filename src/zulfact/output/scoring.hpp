// Standardized scoring coefficients of the current factor solution by the
// regression method (Thurstone 1935): B = R^-1 S, with S the factor
// structure of an oblique solution and the pattern of an orthogonal one.
#pragma once

#include <vector>

#include "zulfact/state/proc_state.hpp"

namespace zulfact {

// The scoring coefficients of one solution, with no host behind them.
struct ScoringCoefficients {
  std::vector<double> coefficients;     // B = R^-1 S, p x m column by column
  std::vector<double> squaredMultCorr;  // d_j = S_j . B_j, m values
  bool singular = false;                // R was singular: a generalised inverse
};

// From the packed correlation matrix r (order p), inverted here by sweeping
// with the singularity tolerance (a singular pivot is left at zero, which
// gives a generalised inverse); s is the p x m structure (pattern).
ScoringCoefficients scoringFromCorrelations(int p, int m, const double* r, const double* s,
                                            double singularity);

// The same from the packed inverse R^-1 (order p) at hand.
ScoringCoefficients scoringFromInverse(int p, int m, const double* rInverse, const double* s);

// B = R^-1 S into ps.scoreCoefficients, R^-1 from the group's R (a
// singular R gives warning 180/110 and a generalised inverse). Prints
// "VarFactorCorr" (the squared multiple correlation of the variables with
// each factor) and "StdScoreCoef" under the heading of message 180/109.
// Does nothing when no factor is retained.
void computeScoringCoefficients(ProcState& ps);

}  // namespace zulfact
