#include "zulfact/output/scoring.hpp"

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

void checkWork(ProcState& ps, int status) {
  if (status == 0) return;
  host().statusReport(status);
  raiseCode(ps, kCodeWorkFile);
  host().endStep(kCodeWorkFile);
}

// R^-1 into a: the saved inverse when the priors step left one, else the
// saved R inverted here.
void inverseCorrelations(ProcState& ps, double* a) {
  Host& h = host();
  const int p = ps.nVars;
  const int64_t bytes = static_cast<int64_t>(8) * p * (p + 1) / 2;
  if (ps.invCorrKey != 0) {
    checkWork(ps, h.workPosition(ps.workFile, ps.invCorrKey));
    checkWork(ps, h.workRead(ps.workFile, a, bytes));
    return;
  }
  checkWork(ps, h.workPosition(ps.workFile, ps.corrKey));
  checkWork(ps, h.workRead(ps.workFile, a, bytes));
  std::vector<double> work(static_cast<size_t>(p));
  if (sweepInvert(p, a, work.data(), 0, nullptr, ps.singularity) > 0)
    h.message(msg::kScoringSingular);
}

}  // namespace

void scoringFromInverse(int p, int m, const double* ainv, const double* s, double* b,
                        double* d) {
  for (int j = 0; j < m; ++j) {
    const double* sj = s + static_cast<int64_t>(j) * p;
    double* bj = b + static_cast<int64_t>(j) * p;
    packedSymv(p, ainv, sj, bj);
    d[j] = ddot(p, sj, bj);
  }
}

void computeScoringCoefficients(ProcState& ps) {
  const int m = ps.nFactors;
  const int p = ps.nVars;
  if (m < 1 || p < 1 || ps.scoreCoefficients == nullptr) return;
  TableWriter out(ps.sink);
  if (out.enabled()) out.openSection("ScoringCoefficients", {}, Text::message(msg::kScoringHeading));

  std::vector<double> own;
  double* a = ps.corrMatrix;
  if (a == nullptr) {
    own.resize(static_cast<size_t>(p) * (p + 1) / 2);
    a = own.data();
  }
  inverseCorrelations(ps, a);
  const double* s = ps.obliqueCount > 0 && ps.structure ? ps.structure : ps.loadings;
  std::vector<double> d(static_cast<size_t>(m));
  scoringFromInverse(p, m, a, s, ps.scoreCoefficients, d.data());
  ps.scoresReady = true;

  if (out.enabled()) {
    VectorTable t;
    t.name = "VarFactorCorr";
    t.title = titleLine(msg::kVarFactorCorrTitle, {});
    t.labelKind = 'F';
    t.nRows = m;
    t.columns.push_back({"SquaredMultCorr", "Squared Multiple Correlation", d.data()});
    printVectorTable(ps, t);
    printMatrixTable(ps, 'C', ps.scoreCoefficients, nullptr, p, m, 'V', 'F', msg::kStdScoreCoefTitle.number,
                     0, "StdScoreCoef", "Stat.Factor.StdScoreCoef", 0);
    out.closeSection();
  }
}

}  // namespace zulfact
