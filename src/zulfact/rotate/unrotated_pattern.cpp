#include "zulfact/rotate/unrotated_pattern.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "zulfact/state/codes.hpp"
#include "zulfact/state/constants.hpp"
#include "zulfact/host/host.hpp"
#include "zulfact/output/variance_explained.hpp"
#include "zulfact/output/matrix_printer.hpp"
#include "zulfact/output/outstat_rows.hpp"
#include "zulfact/output/vector_table.hpp"
#include "zulfact/rotate/rotated_errors.hpp"
#include "zulfact/rotate/standard_errors.hpp"
#include "zulfact/state/message_ids.hpp"

namespace zulfact {

namespace {

bool inputPatternMethod(const ProcState& ps) {
  return ps.opt.method == kMethodPattern || ps.opt.method == kMethodScore;
}

}  // namespace

int dropEmptyFactors(double* loadings, int p, int m, int* dropped) {
  int kept = 0;
  for (int j = 0; j < m; ++j) {
    const double* col = loadings + static_cast<int64_t>(j) * p;
    bool any = false;
    for (int i = 0; i < p && !any; ++i) any = std::fabs(col[i]) > kZeroTolerance;
    dropped[j] = any ? 0 : 1;
    if (!any) continue;
    if (kept != j) std::memmove(loadings + static_cast<int64_t>(kept) * p, col, sizeof(double) * p);
    ++kept;
  }
  return kept;
}

void FinishUnrotatedPattern(ProcState& ps) {
  const int p = ps.opt.nVars;
  const int m = ps.nFactors;
  Host& h = host();
  releaseStdErrors(ps);
  releaseKeptCovariance(ps);
  if (m >= 1) {
    if (!inputPatternMethod(ps)) {
      if (rotatedErrorsWanted(ps)) RotationStdErrors(ps, kUnrotatedErrors, nullptr);
      if (ps.opt.flags.reorder && ps.varOrder != nullptr)
        computeVariableOrder(ps.loadings, p, m, ps.varOrder);
      if (ps.sink != nullptr)
        printMatrixTable(ps, {.storage = 'C', .values = ps.loadings, .nRows = p, .nCols = m,
                              .rowLabels = 'V', .colLabels = 'F', .title = kTitleFactorPattern,
                              .name = "FactorPattern", .role = MatrixRole::Loadings,
                              .coverage = true, .stdErrors = ps.stdErrPattern});
      varianceExplained(ps, 0);
    }
    for (int64_t i = 0; i < static_cast<int64_t>(p) * m; ++i)
      if (std::fabs(ps.loadings[i]) <= kZeroTolerance) ps.loadings[i] = 0.0;

    std::vector<int> dropped(static_cast<size_t>(m));
    const int kept = dropEmptyFactors(ps.loadings, p, m, dropped.data());
    for (int j = 0; j < m; ++j)
      if (dropped[j]) h.message(msg::kEmptyFactorDropped, {j + 1});
    if (kept != m) {  // the standard errors belong to the columns as they were
      releaseStdErrors(ps);
      releaseKeptCovariance(ps);
    }
    ps.nFactors = kept;
    ps.factorsRetained = kept;
    if (kept == 0) {
      h.message(msg::kAllFactorsEmpty, {m});
      raiseCode(ps, kCodeSingular);
      failGroupRows();
    }
    // The rotations compose their transformations from this identity, so
    // nothing of an earlier BY group or of the input pattern's scaling
    // reaches them.
    if (ps.transform)
      for (int j = 0; j < kept; ++j)
        for (int i = 0; i < kept; ++i) ps.transform[i + static_cast<int64_t>(j) * kept] = i == j;
    if (kept == 1) {
      // One factor: nothing to rotate, every oblique matrix is 1.
      if (ps.factorCorr) ps.factorCorr[0] = 1.0;
      if (ps.structure) std::copy_n(ps.loadings, p, ps.structure);
      if (ps.refStructure) std::copy_n(ps.loadings, p, ps.refStructure);
    }
  }

  if (!ps.opt.flags.outstatRequested || ps.opt.outstatTable == nullptr) return;
  const int mk = ps.nFactors;
  if (mk > 0) appendStatRow(ps, "COMMUNAL", "", ps.communalities, p);
  if (!inputPatternMethod(ps)) appendStatRow(ps, "PRIORS", "", ps.priorCommunalities, p);
  if ((ps.opt.method >= kMethodAlpha && ps.opt.method <= kMethodHarris) || ps.opt.flags.weightOption) {
    std::vector<double> w(ps.varWeights, ps.varWeights + p);
    if (ps.opt.flags.weightOption && ps.opt.flags.covariance)
      for (int i = 0; i < p; ++i)
        if (ps.stdDevs[i] > 0.0) w[i] /= ps.stdDevs[i] * ps.stdDevs[i];
    appendStatRow(ps, "WEIGHT", "", w.data(), p);
  }
  if (!inputPatternMethod(ps) && ps.factorsRetained >= 0)
    appendStatRow(ps, "EIGENVAL", "", ps.eigenvalues, p);
  if (!inputPatternMethod(ps) && ps.opt.flags.rotationRequested)
    appendFactorColumnRows(ps, "UNROTATE", ps.loadings, mk);
  if (!inputPatternMethod(ps) && ps.opt.flags.rotationRequested && ps.stdErrPattern != nullptr)
    appendFactorColumnRows(ps, "SE_UNROT", ps.stdErrPattern, mk);
}


}  // namespace zulfact
