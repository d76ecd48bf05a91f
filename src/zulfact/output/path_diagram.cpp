#include "zulfact/output/path_diagram.hpp"

#include <string>

#include "zulfact/host/host.hpp"
#include "zulfact/output/graph_writer.hpp"
#include "zulfact/output/graphs.hpp"
#include "zulfact/output/path_data.hpp"
#include "zulfact/output/vector_table.hpp"
#include "zulfact/state/message_ids.hpp"

namespace zulfact {

namespace {

PathContext pathContext(const ProcState& ps) {
  PathContext c;
  c.nVars = ps.opt.nVars;
  c.nFactors = ps.factorsRetained;
  c.stepFuzz = ps.opt.fuzz;
  c.stepLevel = zul_is_missing(ps.opt.stdErrLevel) ? -1 : ps.opt.stdErrLevel;
  c.stepCover = zul_is_missing(ps.opt.coverValue) ? 0 : ps.opt.coverValue;
  c.mlWithErrors = ps.opt.method == kMethodMl && ps.opt.flags.needStdErr && ps.stdErrPattern != nullptr;
  return c;
}

PathSolution pathSolution(const ProcState& ps) {
  PathSolution s;
  s.nVars = ps.opt.nVars;
  s.nFactors = ps.factorsRetained;
  s.loadings = ps.loadings;
  s.communalities = ps.communalities;
  s.factorCorr = ps.obliqueCount > 0 ? ps.factorCorr : nullptr;
  s.sePattern = ps.stdErrPattern;
  s.seFactorCorr = s.factorCorr ? ps.stdErrFactorCorr : nullptr;
  for (int i = 0; i < ps.opt.nVars; ++i) {
    s.varNames.push_back(variableName(ps, i));
    s.varLabels.push_back(ps.opt.varLabels ? std::string(ps.opt.varLabels + 257 * i) : std::string());
  }
  for (int k = 0; k < s.nFactors; ++k) s.factorNames.push_back(factorName(ps, k));
  return s;
}

// Node columns first, then link columns; a row leaves the other kind's
// columns missing (numbers) or empty (texts).
enum Col { kNodeId, kVarLabel, kNodeLabel, kShape, kSize, kNodePriority, kLinkId, kFrom, kTo,
           kDir, kLinkLabel, kPathVal, kPathSe, kLinkPriority };

void clearRow(TableWriter& t) {
  for (int c : {kNodeId, kSize, kNodePriority, kLinkId, kFrom, kTo, kPathVal, kPathSe,
                kLinkPriority})
    t.setMissing(c);
  for (int c : {kVarLabel, kNodeLabel, kShape, kDir, kLinkLabel}) t.set(c, std::string_view());
}

void pathColumns(TableWriter& t) {
  t.column(Column::number("NodeId", "8.0"));
  t.column(Column::text("VarLabel", 32));
  t.column(Column::text("NodeLabel", 256));
  t.column(Column::text("NodeShape", 9));
  t.column(Column::number("NodeSize", "8.2"));
  t.column(Column::number("NodePriority", "8.0"));
  t.column(Column::number("LinkId", "8.0"));
  t.column(Column::number("FromId", "8.0"));
  t.column(Column::number("ToId", "8.0"));
  t.column(Column::text("LinkDir", 4));
  t.column(Column::text("LinkLabel", 16));
  t.column(Column::number("PathVal", "12.6"));
  t.column(Column::number("PathSe", "12.6"));
  t.column(Column::number("LinkPriority", "8.0"));
}

void pathTable(void* graph, const PathDiagramData& d) {
  TableWriter t(graph);
  t.beginTable("PathDiagramData");
  pathColumns(t);
  for (const PathNode& n : d.nodes) {
    clearRow(t);
    t.set(kNodeId, n.id);
    t.set(kVarLabel, n.varLabel);
    t.set(kNodeLabel, n.nodeLabel);
    t.set(kShape, n.shape);
    t.set(kSize, n.size);
    t.set(kNodePriority, n.priority);
    t.emitRow();
  }
  for (const PathLink& l : d.links) {
    clearRow(t);
    t.set(kLinkId, l.id);
    t.set(kFrom, l.from);
    t.set(kTo, l.to);
    t.set(kDir, l.dir);
    t.set(kLinkLabel, l.label);
    t.set(kPathVal, l.value);
    t.set(kPathSe, l.se);
    t.set(kLinkPriority, l.priority);
    t.emitRow();
  }
  t.endTable();
}

// The notes of one diagram's settings and data.
void settingNotes(const PathSettings& s) {
  if (s.factorSizeRaised) host().message(msg::kPathFactorSizeRaised);
  if (s.levelTooSmall) host().message(msg::kPathLevelTooSmall);
}

// Diagram `number` (0 when it is the only one); false when the host could
// not take it.
bool pathDiagram(ProcState& ps, const PathRequest& r, int number) {
  const PathSettings s = pathSettings(r, pathContext(ps));
  settingNotes(s);
  const PathDiagramData d = pathDiagramData(pathSolution(ps), r, s);
  if (d.intervalFailed) host().message(msg::kPathCorrIntervalFailed);
  const std::string title = number > 0 ? titleLine(msg::kPathDiagramNumberedLabel, {number})
                                       : titleLine(msg::kPathDiagramLabel, {});
  GraphWriter g(ps.sink);
  const Text label = r.diagramLabel ? Text(r.diagramLabel) : Text(title);
  if (!g.begin("PathDiagram", "Stat.Factor.Graphics.PathDiagram", label)) return false;
  if (!r.noTitle) g.title(Text(r.title ? std::string(r.title) : title));
  pathTable(g.handle(), d);
  g.value("_DesignHeight", s.designHeight);
  g.value("_DesignWidth", s.designWidth);
  g.value("_TextSizeMin", s.textSizeMin);
  g.value("_pdScale", s.scale);
  g.value("_pdalg", s.arrangement);
  g.value("_TitleText", r.noTitle ? std::string() : r.title ? std::string(r.title) : title);
  g.end();
  return true;
}

}  // namespace

void pathDiagrams(ProcState& ps) {
  if (ps.sink == nullptr || !ps.graphicsEnabled || !ps.opt.plots.pathDiagram) return;
  if (ps.opt.nPathRequests <= 0 || !ps.opt.pathRequests) return;
  if (ps.factorsRetained <= 0 || !ps.loadings) {
    host().message(msg::kPathDiagramFailed);
    return;
  }
  const bool several = ps.opt.nPathRequests > 1;
  if (several) openGraphSection(ps.sink, "PathDiagrams", msg::kPathDiagramsLabel);
  for (int k = 0; k < ps.opt.nPathRequests; ++k)
    if (!pathDiagram(ps, ps.opt.pathRequests[k], several ? k + 1 : 0))
      host().message(msg::kPathDiagramFailed);
  if (several) TableWriter(ps.sink).closeSection();
}

}  // namespace zulfact
