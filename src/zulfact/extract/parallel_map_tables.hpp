// The tables of the two further rules for the number of factors: Velicer's
// MAP ("AveParCorrControlPC") and Horn's parallel analysis
// ("ParallelAnalysis"), from the results the numeric engine gave the data
// pass (ps.mapSquared, ps.mapFourth, ps.mapFactors2/4; ps.observedEigen,
// ps.parallelMean, ps.parallelCritical, ps.parallelFactors).
#pragma once

#include "zulfact/state/proc_state.hpp"

namespace zulfact {

// One row per number of components removed, 0 .. p - 1, with the squared
// and fourth-power averages and a 1 in the "Opt" column of each minimum.
// A missing average prints as an empty cell, and message 180/297 follows.
void printMapTable(ProcState& ps);

// One row per eigenvalue: observed, mean and critical simulated, whether
// the factor is retained, and the engine's thread count.
void printParallelTable(ProcState& ps);

// Both, as the priors step asks for them: MAP first, then parallel
// analysis, each when its run is on. Nothing without an output sink.
void printParallelAndMapTables(ProcState& ps);

// Decimals of a column of width 10 whose largest absolute value is maxAbs:
// the integer digits are counted from maxAbs / 10 (at least 1), and what
// the width leaves after them, the point and a sign is the decimals.
int decimalsForWidth10(double maxAbs, bool hasNegative);

}  // namespace zulfact
