#include "zulfact/extract/pending_steps.hpp"

#include <algorithm>

#include "zulfact/host/host.hpp"
#include "zulfact/output/character_plot.hpp"
#include "zulfact/output/graphs.hpp"
#include "zulfact/output/path_diagram.hpp"
#include "zulfact/rotate/unrotated_pattern.hpp"
#include "zulfact/state/message_ids.hpp"

namespace zulfact {

void screeAndVariancePlots(ProcState& ps, int screeFirst) {
  ps.screeDone = true;
  if (ps.opt.flags.scree) printScreePlot(ps, screeFirst);
  screeGraphs(ps, screeFirst);
}

PatternPlotRequest patternPlotRequest(const ProcState& ps, bool oblique, int solutionIndex) {
  PatternPlotRequest r;
  r.solutionIndex = solutionIndex;
  r.oblique = oblique;
  r.plotref = ps.opt.flags.plotref;
  r.nFactorsPlotted =
      ps.opt.plotCount > 0 ? std::min(ps.opt.plotCount, ps.factorsRetained) : ps.factorsRetained;
  // Oblique solutions plot the reference structure, under their own name.
  switch (solutionIndex) {
    case kInitialSolution: r.section = oblique ? "InitRefStructurePlot" : "InitPatternPlot"; break;
    case kPrerotatedSolution: r.section = oblique ? "PreRefStructurePlot" : "PrePatternPlot"; break;
    default: r.section = oblique ? "RefStructurePlot" : "PatternPlot"; break;
  }
  return r;
}

// The notes about the number of factors plotted are given once a group,
// at its first pattern plot.
void patternPlot(ProcState& ps, bool oblique, int solutionIndex) {
  const PatternPlotRequest r = patternPlotRequest(ps, oblique, solutionIndex);
  if (!ps.plotNotesGiven) {
    ps.plotNotesGiven = true;
    if (ps.factorsRetained < 2) {
      host().message(msg::kPatternPlotNeedsTwoFactors, {std::max(ps.factorsRetained, 0)});
    } else if (ps.opt.plotCount > ps.factorsRetained) {
      host().message(msg::kPlotCountAboveFactors, {ps.opt.plotCount, ps.factorsRetained});
    }
  }
  printPatternPlots(ps, r.oblique, r.nFactorsPlotted);
}
void loadingsGraph(ProcState& ps, bool oblique, int solutionIndex) {
  loadingsGraphs(ps, oblique, solutionIndex);
}

void pathDiagram(ProcState& ps) { pathDiagrams(ps); }

}  // namespace zulfact
