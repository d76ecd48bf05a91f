// The graphs of parallel analysis (Horn 1965: the observed eigenvalues
// against the mean and critical simulated ones, by number) and of MAP
// (Velicer 1976: the average partial correlations against the number of
// components removed, the minimum marked). Their data tables and values
// are listed in output/graphs.hpp.
#pragma once

#include "zulfact/state/proc_state.hpp"

namespace zulfact {

// After the tables of the data pass: ParallelPlot when PLOTS=PARALLEL,
// MAPPlot when both MAP graphs are asked for, else MAP2Plot or MAP4Plot.
void parallelAndMapGraphs(ProcState& ps);

}  // namespace zulfact
