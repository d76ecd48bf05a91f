#include "zulfact/extract/pending_steps.hpp"

#include "zulfact/rotate/unrotated_pattern.hpp"

namespace zulfact {

void screeAndVariancePlots(ProcState&) {}
void patternPlot(ProcState&, bool, int) {}
void loadingsGraph(ProcState&, bool, int) {}

void pathDiagram(ProcState&) {}

}  // namespace zulfact
