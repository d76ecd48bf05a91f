#include "zulfact/extract/pending_steps.hpp"

#include "zulfact/rotate/unrotated_pattern.hpp"

namespace zulfact {

void printParallelAndMapTables(ProcState&) {}
void screeAndVariancePlots(ProcState&) {}
void scoringCoefficients(ProcState&, int) {}
void residualCorrelations(ProcState&) {}
void patternPlot(ProcState&, bool, int) {}
void loadingsGraph(ProcState&, bool, int) {}

// Until the rotations exist the solution at hand is the unrotated one: its
// pattern rows keep the OUTSTAT= table usable as input to a later step.
void writeRotatedSolutionRows(ProcState& ps, int final) {
  if (final == 1) writeUnrotatedSolutionRows(ps);
}
void writeFactorScores(ProcState&) {}
void pathDiagram(ProcState&) {}

}  // namespace zulfact
