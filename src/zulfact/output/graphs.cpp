#include "zulfact/output/graphs.hpp"

#include <algorithm>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "kernels/packed.hpp"
#include "zulfact/host/host.hpp"
#include "zulfact/output/graph_data.hpp"
#include "zulfact/output/graph_writer.hpp"
#include "zulfact/output/vector_table.hpp"
#include "zulfact/state/message_ids.hpp"

namespace zulfact {

namespace {

bool drawing(const ProcState& ps) { return ps.sink != nullptr && ps.graphicsEnabled; }

void screeData(void* graph, const std::vector<ScreeRow>& rows) {
  TableWriter t(graph);
  t.beginTable("ScreePlotData");
  t.column(Column::number("Number", "8.0", Text::message(msg::kGraphNumber)));
  t.column(Column::number("Eigenvalue", "rf", Text::message(msg::kGraphEigenvalue)));
  t.column(Column::number("Proportion", "rf", Text::message(msg::kGraphProportion)));
  t.column(Column::number("Cumulative", "rf", Text::message(msg::kGraphCumulative)));
  for (const ScreeRow& r : rows) t.row({r.number, r.eigenvalue, r.proportion, r.cumulative});
  t.endTable();
}

void screeGraph(ProcState& ps, const std::vector<ScreeRow>& rows, std::string_view name,
                std::string_view templatePath, msg::Id label, msg::Id title) {
  GraphWriter g(ps.sink);
  if (!g.begin(name, templatePath, Text::message(label))) return;
  g.title(Text::message(title));
  screeData(g.handle(), rows);
  g.value("NEigen", static_cast<double>(rows.size()));
  g.value("NFactors", ps.factorsRetained);
  g.end();
}

// What one solution's loadings graphs show.
struct LoadingsView {
  const LoadingsPlotOptions* options = nullptr;
  std::string_view section;
  msg::Id title;
  const double* matrix = nullptr;  // nVars x factors, by columns
  const double* axisCorr = nullptr;  // packed, null: uncorrelated axes
  bool refStructure = false;
};

// Oblique solutions plot the reference structure (Harris and Kaiser 1964)
// on reference axes drawn at their angle; PLOTREF draws those axes at
// right angles instead.
LoadingsView loadingsView(const ProcState& ps, bool oblique, int index) {
  LoadingsView v;
  const bool ref = oblique && ps.refStructure != nullptr;
  v.matrix = ref ? ps.refStructure : ps.loadings;
  v.refStructure = ref;
  if (index == 1) {
    v.options = &ps.opt.plots.initial;
    v.section = ref ? "InitRefStructurePlot" : "InitPatternPlot";
    v.title = ref ? msg::kInitRefStructureTitle : msg::kInitPatternTitle;
  } else if (index == -1) {
    v.options = &ps.opt.plots.prerotated;
    v.section = ref ? "PreRefStructurePlot" : "PrePatternPlot";
    v.title = ref ? msg::kPreRefStructureTitle : msg::kPrePatternTitle;
  } else {
    v.options = &ps.opt.plots.rotated;
    v.section = ref ? "RefStructurePlot" : "PatternPlot";
    v.title = ref ? msg::kRotRefStructureTitle : msg::kRotPatternTitle;
  }
  if (ref && !v.options->plotref) v.axisCorr = ps.refAxisCorr;
  return v;
}

bool requested(const ProcState& ps, int index) {
  if (index == 1) return ps.opt.plots.initLoadings;
  if (index == -1) return ps.opt.plots.preLoadings;
  return ps.opt.plots.loadings;
}

// The loadings of the pair's two factors only: every graph carries its own
// table, so a table of all the factors plotted made the report and the JSON
// file grow with the cube of the factors (25 factors, 300 variables: 50 MB
// for one solution's graphs).
void patternData(const ProcState& ps, void* graph, const LoadingsView& v, FactorPair pair) {
  TableWriter t(graph);
  t.beginTable("Pattern");
  t.column(Column::text("Variable", 32, Text::message(msg::kGraphVariable)));
  const int factors[2] = {std::min(pair.x, pair.y), std::max(pair.x, pair.y)};
  for (int k : factors) t.column(Column::number(factorName(ps, k), "rf"));
  const size_t p = static_cast<size_t>(ps.opt.nVars);
  for (int i = 0; i < ps.opt.nVars; ++i) {
    t.set(0, variableName(ps, i));
    for (int c = 0; c < 2; ++c)
      t.set(c + 1, v.matrix[static_cast<size_t>(i) + static_cast<size_t>(factors[c]) * p]);
    t.emitRow();
  }
  t.endTable();
}

// Circle labels sit 0.1 below the horizontal axis where each circle
// crosses it.
void circleData(void* graph, const LoadingsPlotOptions& o) {
  TableWriter t(graph);
  t.beginTable("CirclePhantom");
  t.column(Column::text("CircleLabel", 8));
  t.column(Column::number("xCircleLabel", "8.3"));
  t.column(Column::number("yCircleLabel", "8.3"));
  for (int c = 0; c < o.nCircles; ++c) t.row({circleLabel(o.circles[c]), o.circles[c], -0.1});
  t.endTable();
}

void axisValues(GraphWriter& g, const ProcState& ps, std::string_view axis, int k, bool ref) {
  const std::string name = factorName(ps, k);
  const std::string a(axis);
  g.value(a, name);
  g.value(a + "_label", name);
  g.value(a + "_label2", ref ? titleLine(msg::kGraphRefStructure, {}) + " " + name : name);
  g.value(a + "_slabel", std::to_string(k + 1));
}

void circleValues(GraphWriter& g, const LoadingsPlotOptions& o) {
  g.value("CircleLab", o.nCircles > 0 ? 1 : 0);
  g.value("CircleOpt", o.nCircles);
  for (int c = 0; c < 5; ++c)
    g.value("Radius" + std::to_string(c + 1), c < o.nCircles ? o.circles[c] : zul_missing());
}

void loadingsGraph(ProcState& ps, const LoadingsView& v, FactorPair pair) {
  GraphWriter g(ps.sink);
  const msg::Id label = v.refStructure ? msg::kRefStructurePlotsLabel : msg::kPatternPlotsLabel;
  if (!g.begin(v.section, {}, Text::message(label))) return;
  const double r =
      v.axisCorr ? v.axisCorr[kernels::packedIndex(static_cast<size_t>(pair.x),
                                                   static_cast<size_t>(pair.y))]
                 : 0.0;
  g.title(Text::message(v.title));
  g.title(titleLine(msg::kGraphFactorPair, {pair.y + 1, pair.x + 1}));
  if (v.axisCorr) g.title(titleLine(msg::kGraphRefAxisCorr, {fmt::format("{:.3f}", r)}));
  patternData(ps, g.handle(), v, pair);
  circleData(g.handle(), *v.options);
  axisValues(g, ps, "XVAR", pair.x, v.refStructure);
  axisValues(g, ps, "YVAR", pair.y, v.refStructure);
  g.value("Axis_Corr", r);
  g.value("Axis_Ang", axisAngle(r));
  g.value("Oblique", v.axisCorr ? 1 : 0);
  g.value("VPLOT", v.options->vector ? 1 : 0);
  circleValues(g, *v.options);
  g.end();
}

}  // namespace

// A section of graphs nested in the current one (no heading level, so
// that it does not replace the solution's section).
void openGraphSection(void* sink, std::string_view name, msg::Id label) {
  const char* text = host().hostString(label.group, label.number);
  std::string_view labelText = text ? text : "";
  zul_attr a[2] = {};
  a[0].number = ZUL_SA_NAME;
  a[0].kind = ZUL_SK_TEXT;
  a[0].value.s = name.data();
  a[0].second.i = static_cast<int64_t>(name.size());
  a[1].number = ZUL_SA_LABEL;
  a[1].kind = ZUL_SK_TEXT;
  a[1].value.s = labelText.data();
  a[1].second.i = static_cast<int64_t>(labelText.size());
  checkSinkStatus(host().sinkDispatch(sink, ZUL_OP_SECTION, 2, a));
  checkSinkStatus(host().sinkDispatch(sink, ZUL_OP_CLOSE, 0, nullptr));
}

void loadingsGraphs(ProcState& ps, bool oblique, int solutionIndex) {
  if (!drawing(ps) || !requested(ps, solutionIndex) || !ps.loadings) return;
  const LoadingsView v = loadingsView(ps, oblique, solutionIndex);
  const int nPlotted = factorsPlotted(v.options->nPlot, ps.factorsRetained);
  const std::vector<FactorPair> pairs = factorPairs(nPlotted, v.options->flip);
  if (pairs.empty()) return;
  // NPLOT= depends on the group's number of factors: capped, with a note
  // once a group.
  if (v.options->nPlot > ps.factorsRetained && !ps.graphNotesGiven) {
    ps.graphNotesGiven = true;
    host().message(msg::kPlotCountAboveFactors, {v.options->nPlot, ps.factorsRetained});
  }
  openGraphSection(ps.sink, v.section,
                   v.refStructure ? msg::kRefStructurePlotsLabel : msg::kPatternPlotsLabel);
  for (FactorPair pair : pairs) loadingsGraph(ps, v, pair);
  TableWriter(ps.sink).closeSection();
}

void screeGraphs(ProcState& ps, int first) {
  if (!drawing(ps) || !ps.opt.plots.scree || !ps.eigenvalues) return;
  const std::vector<ScreeRow> rows = screeRows(ps.opt.nVars, first, ps.eigenvalues);
  if (rows.empty()) return;
  if (!ps.opt.plots.unpack) {
    screeGraph(ps, rows, "ScreePlot", "Stat.Factor.Graphics.ScreePlot2",
               msg::kScreeAndVarianceLabel, msg::kScreeAndVarianceLabel);
    return;
  }
  openGraphSection(ps.sink, "ScreeAndVarExp", msg::kScreeAndVarianceLabel);
  screeGraph(ps, rows, "ScreePlot", "Stat.Factor.Graphics.ScreePlot1", msg::kScreePlotLabel,
             msg::kScreePlotLabel);
  screeGraph(ps, rows, "VariancePlot", "Stat.Factor.Graphics.VariancePlot", msg::kVarianceLabel,
             msg::kVariancePlotLabel);
  TableWriter(ps.sink).closeSection();
}

}  // namespace zulfact
