#include "zulfact/output/scoring.hpp"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "zulfact/host/host.hpp"
#include "kernels/linalg.hpp"
#include "zulfact/output/matrix_printer.hpp"
#include "zulfact/output/table_writer.hpp"
#include "zulfact/output/vector_table.hpp"
#include "zulfact/state/codes.hpp"
#include "zulfact/state/message_ids.hpp"

namespace zulfact {

using kernels::ddot;
using kernels::packedSymv;
using kernels::sweepInvert;

namespace {

// The coefficients of s from the group's R.
ScoringCoefficients scoringOf(const ProcState& ps, const double* s) {
  ScoringCoefficients sc =
      scoringFromCorrelations(ps.opt.nVars, ps.nFactors, ps.groupCorr, s, ps.opt.singularity);
  if (sc.singular) host().message(msg::kScoringSingular);
  return sc;
}

void printCoefficients(ProcState& ps) {
  printMatrixTable(ps, {.storage = 'C', .values = ps.scoreCoefficients, .nRows = ps.opt.nVars,
                        .nCols = ps.nFactors, .rowLabels = 'V', .colLabels = 'F',
                        .title = msg::kStdScoreCoefTitle.number, .name = "StdScoreCoef",
                        .role = MatrixRole::Scoring});
}

void printScoring(ProcState& ps, TableWriter& out, const ScoringCoefficients& sc) {
  VectorTable t;
  t.name = "VarFactorCorr";
  t.title = titleLine(msg::kVarFactorCorrTitle, {});
  t.labelKind = 'F';
  t.nRows = ps.nFactors;
  t.columns.push_back({"SquaredMultCorr", "Squared Multiple Correlation", sc.squaredMultCorr.data()});
  printVectorTable(ps, t);
  printCoefficients(ps);
  out.closeSection();
}

}  // namespace

ScoringCoefficients scoringFromInverse(int p, int m, const double* rInverse, const double* s) {
  ScoringCoefficients sc;
  sc.coefficients.resize(static_cast<size_t>(p) * m);
  sc.squaredMultCorr.resize(static_cast<size_t>(m));
  for (int j = 0; j < m; ++j) {
    const double* sj = s + static_cast<int64_t>(j) * p;
    double* bj = sc.coefficients.data() + static_cast<int64_t>(j) * p;
    packedSymv(p, rInverse, sj, bj);
    sc.squaredMultCorr[static_cast<size_t>(j)] = ddot(p, sj, bj);
  }
  return sc;
}

ScoringCoefficients scoringFromCorrelations(int p, int m, const double* r, const double* s,
                                            double singularity) {
  std::vector<double> a(r, r + static_cast<size_t>(p) * (p + 1) / 2);
  std::vector<double> work(static_cast<size_t>(p));
  const bool singular = sweepInvert(p, a.data(), work.data(), 0, nullptr, singularity) > 0;
  ScoringCoefficients sc = scoringFromInverse(p, m, a.data(), s);
  sc.singular = singular;
  return sc;
}

void computeScoringCoefficients(ProcState& ps) {
  const int m = ps.nFactors;
  const int p = ps.opt.nVars;
  if (m < 1 || p < 1 || ps.scoreCoefficients == nullptr) return;
  // Under NOPRINT only the OUT= scores and the OUTSTAT= rows take them.
  const bool used = ps.sink != nullptr || ps.opt.flags.outRequested || ps.opt.outstatTable;
  if (!used) return;
  TableWriter out(ps.sink);
  if (out.enabled()) out.openSection("ScoringCoefficients", {}, Text::message(msg::kScoringHeading));

  if (ps.opt.method == kMethodScore) {
    // Saved coefficients read back are those of their own scores (rescaled
    // to unit variance): R^-1 applied to them would give other scores, and
    // the SCORE rows of OUTSTAT= would no longer be what was read.
    std::copy_n(ps.loadings, static_cast<size_t>(p) * m, ps.scoreCoefficients);
    ps.scoresReady = true;
    if (out.enabled()) {
      printCoefficients(ps);
      out.closeSection();
    }
    return;
  }
  const double* s = ps.obliqueCount > 0 && ps.structure ? ps.structure : ps.loadings;
  const ScoringCoefficients sc = scoringOf(ps, s);
  std::copy(sc.coefficients.begin(), sc.coefficients.end(), ps.scoreCoefficients);
  ps.scoresReady = true;
  if (out.enabled()) printScoring(ps, out, sc);
}

}  // namespace zulfact
