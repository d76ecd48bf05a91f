// The tables of the two further rules for the number of factors: Velicer's
// MAP ("AveParCorrControlPC") and Horn's parallel analysis
// ("ParallelAnalysis"), from the results the numeric engine gave the data
// pass (ps.mapSquared, ps.mapFourth, ps.mapFactors2/4; ps.observedEigen,
// ps.parallelMean, ps.parallelCritical, ps.parallelFactors).
#pragma once

#include <vector>

#include "zulfact/state/proc_state.hpp"

namespace zulfact {

// The MAP table's rows, with no host behind them: one per number of
// components removed, 0 .. p - 1, with the squared and fourth-power
// averages (an average the engine could not compute, marked by all ones in
// its top 16 bits, becomes the missing value) and whether the row is the
// engine's minimum of each.
struct MapRow {
  int removed;
  double squared, fourth;
  bool minimum2, minimum4;
};
struct MapTable {
  std::vector<MapRow> rows;
  bool anyMissing = false;  // message 180/297 follows the table
};
MapTable mapTable(int p, const double* squared, const double* fourth, int minimum2, int minimum4);

// The parallel-analysis table's rows: one per eigenvalue, observed, mean
// and critical simulated (all three missing where the observed one is not
// finite), and whether the factor is among the `retained`; `decimals` of
// the three eigenvalue columns fit the largest finite observed value in a
// width of 10 (decimalsForWidth10).
struct ParallelRow {
  int number;
  double observed, mean, critical;
  bool retained;
};
struct ParallelTable {
  std::vector<ParallelRow> rows;
  int decimals = 0;
};
ParallelTable parallelTable(int p, const double* observed, const double* mean,
                            const double* critical, int retained);

// Prints the MAP table ("AveParCorrControlPC") of the engine's results in
// ps; message 180/297 after it when an average is missing.
void printMapTable(ProcState& ps);

// Prints the parallel-analysis table ("ParallelAnalysis") with the
// engine's thread count.
void printParallelTable(ProcState& ps);

// Both, as the priors step asks for them: MAP first, then parallel
// analysis, each when its run is on. Nothing without an output sink.
void printParallelAndMapTables(ProcState& ps);

// Decimals of a column of width 10 whose largest absolute value is maxAbs:
// the integer digits are counted from maxAbs / 10 (at least 1), and what
// the width leaves after them, the point and a sign is the decimals.
int decimalsForWidth10(double maxAbs, bool hasNegative);

}  // namespace zulfact
