// The graphs of the report, sent through GraphWriter with their data
// tables and dynamic values. Each draws only when the sink exists, the
// host draws graphs and PLOTS= asked for it.
//
// Graph                      data tables                 dynamic values
// ScreePlot (ScreePlot2:     ScreePlotData: Number,      NEigen, NFactors
//   panel with the variance; Eigenvalue, Proportion,
//   ScreePlot1 with UNPACK)  Cumulative
// VariancePlot (UNPACK)      ScreePlotData               NEigen, NFactors
// InitPatternPlot, ...       Pattern: Variable, the      YVAR, XVAR and their _label,
//   (one graph per pair of   pair's two factors;         _label2, _slabel; Axis_Corr,
//   factors, in a section    CirclePhantom: CircleLabel, Axis_Ang, Oblique, VPLOT,
//   of the same name)        xCircleLabel, yCircleLabel  CircleLab, CircleOpt, Radius1-5
// (extract/parallel_map_graphs.hpp:)
// ParallelPlot               ParallelPlotData: Number,   NSims, Seed, Alpha, NFactors
//                            Eigenvalue, AveEigPA,
//                            CritEigPA, FgEigen
// MAPPlot (both criteria),   MAPPlotData: NComp,         Minimum2, Minimum4 (the
//   MAP2Plot, MAP4Plot       AveParCor2 and/or           components removed at the
//                            AveParCor4                  minimum)
#pragma once

#include <string_view>

#include "zulfact/state/message_ids.hpp"
#include "zulfact/state/proc_state.hpp"

namespace zulfact {

// A section of graphs nested in the current one (no heading level, so
// that it does not replace the solution's section); closed with
// TableWriter(sink).closeSection().
void openGraphSection(void* sink, std::string_view name, msg::Id label);

// Scree and variance-explained graphs of eigenvalues first .. nVars - 1.
void screeGraphs(ProcState& ps, int first);

// The loadings graphs of the current solution (index 1 initial, -1
// prerotated, else rotated), oblique when its factors are correlated.
void loadingsGraphs(ProcState& ps, bool oblique, int solutionIndex);

}  // namespace zulfact
