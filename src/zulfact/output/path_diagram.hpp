// The path diagrams of a BY group's final solution (PATHDIAGRAM,
// PLOTS=PATHDIAGRAM): one graph "PathDiagram" per request with the table
// "PathDiagramData"; two or more requests share a section "PathDiagrams"
// and are numbered from 1. The columns are described in docs/path-diagram-data.md.
#pragma once

#include "zulfact/state/proc_state.hpp"

namespace zulfact {

void pathDiagrams(ProcState& ps);

}  // namespace zulfact
