// Scoring coefficients read back from a TYPE=FACTOR table (METHOD=SCORE):
// the correlations of the scores they imply, and the oblique solution
// those correlations describe.
#pragma once

#include <vector>

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

// What saved scoring coefficients imply, from plain matrices (no host).
struct ScoreSolution {
  std::vector<double> coefficients;  // p x k, each column at unit score variance
  std::vector<double> scoreCorr;     // packed k: the correlations of the scores (Phi)
  int eigenCode = 0;                 // the eigen solver's, on scoreCorr
  int singular = 0;                  // eigenvalues of scoreCorr below SINGULAR=
  bool oblique = false;              // a score correlation above 1e-8
  // Oblique only: the reference-axis correlations (packed k), the factor
  // scales sqrt((Phi^-1)_jj), the structure R W (the correlations of the
  // variables with the scores), the reference structure R W Phi^-1 / s
  // (p x k each) and the communalities (p): the squared multiple
  // correlation of each variable with the scores.
  std::vector<double> refAxisCorr, factorScales, refStructure, structure, communalities;
};

// The solution of the k coefficient columns w (p x k, column by column)
// over the packed correlation matrix r of order p, as inputScores stores it.
ScoreSolution scoreSolution(int p, int k, const double* r, const double* w, double singularity);

}  // namespace zulfact
