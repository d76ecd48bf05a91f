#include "zulfact/extract/pending_steps.hpp"

#include "zulfact/host/host.hpp"
#include "zulfact/rotate/unrotated_pattern.hpp"

namespace zulfact {

// Message 180/901 tells the user that a requested rotation is not
// available in this version; the solution at hand stands.
constexpr int kRotationUnavailable = 901;

void printParallelAndMapTables(ProcState&) {}
void screeAndVariancePlots(ProcState&) {}
void scoringCoefficients(ProcState&, int) {}
void residualCorrelations(ProcState&) {}
void patternPlot(ProcState&, bool, int) {}
void loadingsGraph(ProcState&, bool, int) {}

int engineRotation(ProcState&, int code, int) {
  host().message(180, kRotationUnavailable, {code});
  return 0;
}

int targetRotation(ProcState&, int code, int) {
  host().message(180, kRotationUnavailable, {code});
  return 0;
}

// Until the rotations exist the solution at hand is the unrotated one: its
// pattern rows keep the OUTSTAT= table usable as input to a later step.
void writeRotatedSolutionRows(ProcState& ps, int final) {
  if (final == 1) writeUnrotatedSolutionRows(ps);
}
void writeFactorScores(ProcState&) {}
void pathDiagram(ProcState&) {}

}  // namespace zulfact
