#include "zulfact/extract/parallel_map_tables.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "zul/abi_engine.h"
#include "zulfact/extract/parallel_map_graphs.hpp"
#include "zulfact/host/host.hpp"
#include "zulfact/output/table_writer.hpp"

namespace zulfact {

namespace {

// The engine marks an average it could not compute with the host's
// missing value: all of its top 16 bits are ones.
bool missingAverage(double x) {
  uint64_t bits;
  std::memcpy(&bits, &x, sizeof bits);
  return (bits >> 48) == 0xFFFF;
}

// The engine's thread count for the table; 0 when it cannot tell.
int32_t engineThreads(ProcState& ps) {
  auto* engine = static_cast<zul_engine*>(ps.factorEngine);
  int32_t threads = 0;
  int64_t length = sizeof threads;
  if (!engine || !engine->ops || !engine->ops->get ||
      engine->ops->get(engine, ZUL_ITEM_THREADS, &threads, &length, 0, 0) != ZUL_ENGINE_OK)
    return 0;
  return threads;
}

}  // namespace

int decimalsForWidth10(double maxAbs, bool hasNegative) {
  constexpr int width = 10;
  int integerDigits = 1;
  if (maxAbs > 0 && std::isfinite(maxAbs))
    integerDigits = std::max(1, static_cast<int>(std::floor(std::log10(maxAbs / 10))) + 2);
  return std::clamp(width - integerDigits - 1 - (hasNegative ? 1 : 0), 0, width - 2);
}

MapTable mapTable(int p, const double* squared, const double* fourth, int minimum2, int minimum4) {
  MapTable t;
  for (int m = 0; m < p; ++m) {
    const bool miss2 = missingAverage(squared[m]), miss4 = missingAverage(fourth[m]);
    t.anyMissing = t.anyMissing || miss2 || miss4;
    t.rows.push_back({m, miss2 ? zul_missing() : squared[m], miss4 ? zul_missing() : fourth[m],
                      m == minimum2, m == minimum4});
  }
  return t;
}

ParallelTable parallelTable(int p, const double* observed, const double* mean,
                            const double* critical, int retained) {
  ParallelTable t;
  double largest = 0.0;
  bool negative = false;
  for (int j = 0; j < p; ++j) {
    if (!std::isfinite(observed[j])) continue;
    largest = std::max(largest, std::fabs(observed[j]));
    negative = negative || observed[j] < 0 || mean[j] < 0 || critical[j] < 0;
  }
  t.decimals = decimalsForWidth10(largest, negative);
  const double missing = zul_missing();
  for (int j = 0; j < p; ++j) {
    const bool shown = std::isfinite(observed[j]);
    t.rows.push_back({j + 1, shown ? observed[j] : missing, shown ? mean[j] : missing,
                      shown ? critical[j] : missing, j + 1 <= retained});
  }
  return t;
}

void printMapTable(ProcState& ps) {
  TableWriter out(ps.sink);
  if (!out.enabled()) return;
  const MapTable t = mapTable(ps.opt.nVars, ps.mapSquared, ps.mapFourth, ps.mapFactors2, ps.mapFactors4);
  out.beginTable("AveParCorrControlPC");
  out.title(Text::message(msg::kMapTitle));
  out.column(Column::number("NComp", "8.0", Text("Components Removed")));
  out.column(Column::number("AveParCor2", "rf", Text("Average Squared Partial Correlation")));
  out.column(Column::number("OptAveParCor2", "3.0", Text("Minimum")));
  out.column(Column::number("AveParCor4", "rf", Text("Average 4th Power Partial Correlation")));
  out.column(Column::number("OptAveParCor4", "3.0", Text("Minimum")));
  for (const MapRow& r : t.rows)
    out.row({r.removed, r.squared, r.minimum2 ? 1 : 0, r.fourth, r.minimum4 ? 1 : 0});
  out.endTable();
  if (t.anyMissing) host().message(msg::kMissingAveragePartials);
}

void printParallelTable(ProcState& ps) {
  TableWriter out(ps.sink);
  if (!out.enabled()) return;
  const ParallelTable t = parallelTable(ps.opt.nVars, ps.observedEigen, ps.parallelMean,
                                        ps.parallelCritical, ps.parallelFactors);
  const std::string eigenFormat = "10." + std::to_string(t.decimals);
  const int retained = ps.parallelFactors;

  out.beginTable("ParallelAnalysis");
  out.title(Text::message(msg::kParallelTitle));
  out.value("NSims", ps.opt.nSims);
  out.value("Seed", ps.opt.parallelSeed);
  out.value("Alpha", host().formatMessage(msg::kParallelAlphaText, {ps.opt.parallelLevel}));
  out.value("Foot0", retained < 1 ? 1 : 0);
  out.value("Foot1", retained > 0 ? 1 : 0);
  out.footnote(Text::message(retained < 1 ? msg::kParallelNoneRetainedFootnote
                                          : msg::kParallelRetainedFootnote));
  out.column(Column::number("Number", "8.0"));
  out.column(Column::number("Eigenvalue", eigenFormat));
  out.column(Column::number("AveEigPA", eigenFormat, Text("Mean Simulated Eigenvalue")));
  out.column(Column::number("CritEigPA", eigenFormat, Text("Critical Simulated Eigenvalue")));
  out.column(Column::number("FgEigen", "3.0", Text("Retained")));
  out.column(Column::number("NThreads", "8.0", Text("Threads")));
  const int threads = engineThreads(ps);
  for (const ParallelRow& r : t.rows)
    out.row({r.number, r.observed, r.mean, r.critical, r.retained ? 1 : 0, threads});
  out.endTable();
}

void printParallelAndMapTables(ProcState& ps) {
  if (ps.sink == nullptr) return;
  if (ps.groupMap && ps.mapSquared && ps.mapFourth) printMapTable(ps);
  if (ps.groupParallel && ps.observedEigen && ps.parallelMean && ps.parallelCritical)
    printParallelTable(ps);
  parallelAndMapGraphs(ps);
}

}  // namespace zulfact
