// Steps of the analysis whose own code arrives later: plots and graphs.
//
// The analysis driver calls them in their final order today, so that each
// lands by replacing its body here (and moving it to its own file) without
// touching the driver. Until then each does nothing and, where a result is
// expected, answers "nothing done".
#pragma once

#include "zulfact/state/proc_state.hpp"

namespace zulfact {

// Scree and variance-explained plots after the number of factors is known.
void screeAndVariancePlots(ProcState& ps);

// Character pattern plot and loadings graph of the current solution.
void patternPlot(ProcState& ps, bool oblique, int solutionIndex);
void loadingsGraph(ProcState& ps, bool oblique, int solutionIndex);

// The path diagram at the end of a group.
void pathDiagram(ProcState& ps);

}  // namespace zulfact
