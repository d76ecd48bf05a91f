#include "zulfact/extract/parallel_map_graphs.hpp"

#include "zulfact/extract/parallel_map_tables.hpp"
#include "zulfact/host/host.hpp"
#include "zulfact/output/graph_writer.hpp"

namespace zulfact {

namespace {

void parallelGraph(ProcState& ps) {
  const ParallelTable t = parallelTable(ps.opt.nVars, ps.observedEigen, ps.parallelMean,
                                        ps.parallelCritical, ps.parallelFactors);
  GraphWriter g(ps.sink);
  if (!g.begin("ParallelPlot", {}, Text::message(msg::kParallelPlotLabel))) return;
  g.title(Text::message(msg::kParallelPlotLabel));
  {
    TableWriter d(g.handle());
    d.beginTable("ParallelPlotData");
    d.column(Column::number("Number", "8.0", Text::message(msg::kGraphNumber)));
    d.column(Column::number("Eigenvalue", "rf", Text::message(msg::kGraphObserved)));
    d.column(Column::number("AveEigPA", "rf", Text::message(msg::kGraphMeanSimulated)));
    d.column(Column::number("CritEigPA", "rf", Text::message(msg::kGraphCriticalSimulated)));
    d.column(Column::number("FgEigen", "3.0"));
    for (const ParallelRow& r : t.rows)
      d.row({r.number, r.observed, r.mean, r.critical, r.retained ? 1 : 0});
    d.endTable();
  }
  g.value("NSims", ps.opt.nSims);
  g.value("Seed", ps.opt.parallelSeed);
  g.value("Alpha", ps.opt.parallelLevel);
  g.value("NFactors", ps.parallelFactors);
  g.end();
}

// One graph of either or both MAP criteria.
void mapGraph(ProcState& ps, bool squared, bool fourth) {
  const MapTable t =
      mapTable(ps.opt.nVars, ps.mapSquared, ps.mapFourth, ps.mapFactors2, ps.mapFactors4);
  const char* name = squared && fourth ? "MAPPlot" : squared ? "MAP2Plot" : "MAP4Plot";
  GraphWriter g(ps.sink);
  if (!g.begin(name, {}, Text::message(msg::kMapPlotLabel))) return;
  g.title(Text::message(msg::kMapPlotLabel));
  {
    TableWriter d(g.handle());
    d.beginTable("MAPPlotData");
    const int removed = d.column(
        Column::number("NComp", "8.0", Text::message(msg::kGraphComponentsRemoved)));
    const int c2 = squared ? d.column(Column::number(
                                 "AveParCor2", "rf", Text::message(msg::kGraphAveragePartial2)))
                           : -1;
    const int c4 = fourth ? d.column(Column::number("AveParCor4", "rf",
                                                    Text::message(msg::kGraphAveragePartial4)))
                          : -1;
    for (const MapRow& r : t.rows) {
      d.set(removed, r.removed);
      if (c2 >= 0) d.set(c2, r.squared);
      if (c4 >= 0) d.set(c4, r.fourth);
      d.emitRow();
    }
    d.endTable();
  }
  if (squared) g.value("Minimum2", ps.mapFactors2);
  if (fourth) g.value("Minimum4", ps.mapFactors4);
  g.end();
}

}  // namespace

void parallelAndMapGraphs(ProcState& ps) {
  if (ps.sink == nullptr || !ps.graphicsEnabled) return;
  if ((ps.opt.plots.map2 || ps.opt.plots.map4) && ps.mapSquared && ps.mapFourth)
    mapGraph(ps, ps.opt.plots.map2, ps.opt.plots.map4);
  if (ps.opt.plots.parallel && ps.observedEigen && ps.parallelMean && ps.parallelCritical)
    parallelGraph(ps);
}

}  // namespace zulfact
