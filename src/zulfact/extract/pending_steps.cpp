#include "zulfact/extract/pending_steps.hpp"

#include <algorithm>

#include "zulfact/output/graphs.hpp"
#include "zulfact/rotate/unrotated_pattern.hpp"

namespace zulfact {

void screeAndVariancePlots(ProcState& ps, int screeFirst) { screeGraphs(ps, screeFirst); }

PatternPlotRequest patternPlotRequest(const ProcState& ps, bool oblique, int solutionIndex) {
  PatternPlotRequest r;
  r.solutionIndex = solutionIndex;
  r.oblique = oblique;
  r.plotref = ps.flags.plotref;
  r.nFactorsPlotted =
      ps.plotCount > 0 ? std::min(ps.plotCount, ps.factorsRetained) : ps.factorsRetained;
  // Oblique solutions plot the reference structure, under their own name.
  switch (solutionIndex) {
    case kInitialSolution: r.section = oblique ? "InitRefStructurePlot" : "InitPatternPlot"; break;
    case kPrerotatedSolution: r.section = oblique ? "PreRefStructurePlot" : "PrePatternPlot"; break;
    default: r.section = oblique ? "RefStructurePlot" : "PatternPlot"; break;
  }
  return r;
}

void patternPlot(ProcState&, bool, int) {}
void loadingsGraph(ProcState& ps, bool oblique, int solutionIndex) {
  loadingsGraphs(ps, oblique, solutionIndex);
}

void pathDiagram(ProcState&) {}

}  // namespace zulfact
