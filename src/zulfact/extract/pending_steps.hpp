// Steps of the analysis whose own code arrives later: plots and graphs.
//
// The analysis driver calls them in their final order today, so that each
// lands by replacing its body here (and moving it to its own file) without
// touching the driver. Until then each does nothing and, where a result is
// expected, answers "nothing done". What each draws is fixed here already:
// its inputs are named in its signature or in the request it builds.
#pragma once

#include <string_view>

#include "zulfact/state/proc_state.hpp"

namespace zulfact {

// Solution indexes of the plots: the initial and the prerotated solution;
// a rotated solution has its rotation's index.
inline constexpr int kInitialSolution = 1;
inline constexpr int kPrerotatedSolution = -1;

// Scree and variance-explained plots after the number of factors is known:
// the eigenvalues ps.eigenvalues[screeFirst .. nVars - 1] in order, from
// the first that is not missing (screeFirst), with ps.varWeights for the
// variance explained.
void screeAndVariancePlots(ProcState& ps, int screeFirst);

// What a pattern plot or loadings graph of one solution draws.
struct PatternPlotRequest {
  int solutionIndex = kInitialSolution;
  bool oblique = false;      // correlated axes: the reference structure is drawn
  bool plotref = false;      // PLOTREF asked for
  int nFactorsPlotted = 0;   // min(NPLOT=, factorsRetained); all without NPLOT=
  std::string_view section;  // "InitPatternPlot", "PreRefStructurePlot", ...
};
PatternPlotRequest patternPlotRequest(const ProcState& ps, bool oblique, int solutionIndex);

// Character pattern plot and loadings graph of the current solution (the
// request of patternPlotRequest).
void patternPlot(ProcState& ps, bool oblique, int solutionIndex);
void loadingsGraph(ProcState& ps, bool oblique, int solutionIndex);

// The path diagram at the end of a group.
void pathDiagram(ProcState& ps);

}  // namespace zulfact
