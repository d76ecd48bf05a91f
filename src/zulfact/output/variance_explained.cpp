#include "zulfact/output/variance_explained.hpp"

#include <string>
#include <vector>

#include "zulfact/host/host.hpp"
#include "kernels/packed.hpp"
#include "zulfact/output/table_writer.hpp"
#include "zulfact/output/vector_table.hpp"
#include "zulfact/state/message_ids.hpp"

namespace zulfact {

using kernels::packedIndex;

void columnSquares(const double* m, int p, int k, const double* weights, double* v, double* w) {
  for (int j = 0; j < k; ++j) {
    const double* col = m + static_cast<int64_t>(j) * p;
    double sv = 0.0, sw = 0.0;
    for (int i = 0; i < p; ++i) {
      const double sq = col[i] * col[i];
      sv += sq;
      if (weights != nullptr && !zul_is_missing(weights[i])) sw += weights[i] * sq;
    }
    v[j] = sv;
    if (w != nullptr) w[j] = sw;
  }
}

void varianceExplained(ProcState& ps, int mode) {
  const int p = ps.opt.nVars;
  const int k = ps.nFactors;
  if (k < 1) return;
  const bool weighted = weightedSolution(ps.opt);
  const double* m = mode == 0 ? ps.loadings : mode == 1 ? ps.structure : ps.refStructure;
  if (m == nullptr) return;
  std::vector<double> weightedSums(static_cast<size_t>(k)), sums(static_cast<size_t>(k));
  columnSquares(m, p, k, weighted ? ps.varWeights : nullptr, sums.data(),
                weighted ? weightedSums.data() : nullptr);

  if (ps.sink != nullptr) {
    const std::string title =
        mode == 0 ? titleLine(msg::kVarExplainedTitle, {" "})
        : mode == 1 ? titleLine(msg::kVarExplainedIgnoringTitle, {"ignoring other factors"})
                    : titleLine(msg::kVarExplainedEliminatingTitle, {"eliminating other factors"});
    if (weighted) {
      TableWriter out(ps.sink);
      out.beginTable("VarExplainWgt");
      out.title(Text(title));
      out.column(Column::text("VarExplainHead", 10, Text(" ")));
      for (int j = 0; j < k; ++j) {
        Column c = Column::number(factorName(ps, j));
        c.formatWidth = 10;
        out.column(c);
      }
      for (int row = 0; row < 2; ++row) {
        out.set(0, std::string_view(row == 0 ? "Weighted" : "Unweighted"));
        for (int j = 0; j < k; ++j) out.set(j + 1, row == 0 ? weightedSums[j] : sums[j]);
        out.emitRow();
      }
      out.endTable();
    } else {
      VectorTable t;
      t.name = "VarExplain";
      t.title = title;
      t.labelKind = 'F';
      t.nRows = k;
      t.columns.push_back({"Variance", "", sums.data()});
      printVectorTable(ps, t);
    }
  }
  if (mode == 2) return;

  // Final communalities: row sums of squares of an orthogonal pattern, the
  // quadratic form a_i' Phi a_i of an oblique one. Scoring coefficients read
  // back are no pattern: their communalities came with the solution.
  const bool fromScores = ps.opt.method == kMethodScore && !ps.rotated && mode == 1;
  double total = 0.0, totalWeighted = 0.0;
  for (int i = 0; i < p; ++i) {
    double h = fromScores ? ps.communalities[i] : 0.0;
    for (int j = 0; j < k && !fromScores; ++j) {
      const double aij = ps.loadings[static_cast<int64_t>(j) * p + i];
      if (mode == 0) {
        h += aij * aij;
      } else {
        for (int l = 0; l < k; ++l) {
          h += aij * ps.factorCorr[packedIndex(j, l)] *
               ps.loadings[static_cast<int64_t>(l) * p + i];
        }
      }
    }
    ps.communalities[i] = h;
    total += h;
    if (weighted && !zul_is_missing(ps.varWeights[i])) totalWeighted += ps.varWeights[i] * h;
  }
  ps.communalTotal = total;

  if (ps.sink == nullptr) return;
  if (!weighted) {
    VectorTable t;
    t.name = "FinalCommun";
    t.title = titleLine(msg::kTotalCommunTitle, {total});
    t.nRows = p;
    t.columns.push_back({"Communality", "", ps.communalities});
    printVectorTable(ps, t);
    return;
  }
  TableWriter out(ps.sink);
  out.beginTable("FinalCommunWgt");
  out.title(Text::message(msg::kFinalCommunWeightsTitle), "titfic1");
  out.title(Text(titleLine(msg::kTotalCommunWeightedTitle, {totalWeighted, total})), "titfic2");
  int width = 1;
  for (int i = 0; i < p; ++i) width = std::max(width, static_cast<int>(variableName(ps, i).size()));
  out.column(Column::text("Variable", width, Text(" ")));  // no header, as in every vector table
  Column c = Column::number("Communality");
  c.formatWidth = 10;
  out.column(c);
  c = Column::number("Weight");
  c.formatWidth = 10;
  out.column(c);
  for (int i = 0; i < p; ++i) {
    out.set(0, variableName(ps, i));
    out.set(1, ps.communalities[i]);
    out.set(2, zul_is_missing(ps.varWeights[i]) ? zul_missing() : ps.varWeights[i]);
    out.emitRow();
  }
  out.endTable();
}

}  // namespace zulfact
