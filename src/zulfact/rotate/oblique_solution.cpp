#include "zulfact/rotate/oblique_solution.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "zulfact/host/host.hpp"
#include "kernels/dense.hpp"
#include "kernels/linalg.hpp"
#include "zulfact/output/matrix_printer.hpp"
#include "zulfact/output/variance_explained.hpp"
#include "zulfact/state/codes.hpp"
#include "zulfact/state/constants.hpp"
#include "zulfact/state/message_ids.hpp"
#include "zulfact/output/outstat_rows.hpp"

namespace zulfact {

using kernels::multiplyPacked;
using kernels::sweepInvert;
using kernels::quadForm;
using kernels::covToCorr;
using kernels::packedIndex;

namespace {

// Loadings at or below this do not count in the Harris-Kaiser sums, and
// sums closer than this keep their rotated order.
constexpr double kReorderTolerance = 1e-8;

// Inverts the packed symmetric m x m matrix in place; false when a pivot
// is singular by SINGULAR= relative to the largest diagonal element.
bool invertPacked(ProcState& ps, double* a, int m) {
  double biggest = 0.0;
  for (int j = 0; j < m; ++j) biggest = std::max(biggest, std::fabs(a[packedIndex(j, j)]));
  std::vector<double> work(static_cast<size_t>(m));
  if (biggest == 0.0) return false;
  return sweepInvert(m, a, work.data(), 0, nullptr, ps.opt.singularity * biggest) == 0;
}

void singularSolution(ProcState& ps) {
  host().message(msg::kFactorCorrSingular);
  raiseCode(ps, kCodeNoData);
  failGroupRows();
  ps.nFactors = 0;
}

// Moves factor `from` to position `to` (to < from), shifting the ones
// between one place right, in every matrix of the solution.
void moveFactor(ProcState& ps, int from, int to) {
  const int p = ps.opt.nVars, m = ps.nFactors;
  auto rotateColumns = [&](double* a, int rows) {
    std::rotate(a + static_cast<long>(to) * rows, a + static_cast<long>(from) * rows,
                a + static_cast<long>(from + 1) * rows);
  };
  rotateColumns(ps.loadings, p);
  rotateColumns(ps.transform, m);
  std::rotate(ps.factorVector + to, ps.factorVector + from, ps.factorVector + from + 1);
  for (double* packed : {ps.factorCorr, ps.refAxisCorr}) {
    std::vector<double> full(static_cast<size_t>(m) * m);
    for (int i = 0; i < m; ++i)
      for (int j = 0; j < m; ++j) full[i + j * m] = packed[packedIndex(i, j)];
    std::vector<int> order(static_cast<size_t>(m));
    for (int i = 0; i < m; ++i) order[i] = i;
    std::rotate(order.begin() + to, order.begin() + from, order.begin() + from + 1);
    for (int i = 0; i < m; ++i)
      for (int j = 0; j <= i; ++j) packed[packedIndex(i, j)] = full[order[i] + order[j] * m];
  }
}

}  // namespace

void harrisKaiserOrder(const double* pattern, int p, int m, int* order, double* sums) {
  for (int j = 0; j < m; ++j) {
    double s = 0.0;
    for (int i = 0; i < p; ++i) {
      const double v = pattern[i + static_cast<long>(j) * p];
      if (std::fabs(v) > kReorderTolerance) s += v * v;
    }
    sums[j] = s;
    order[j] = j;
  }
  for (int j = 1; j < m; ++j) {
    int k = j;
    const double s = sums[j];
    const int o = order[j];
    while (k > 0 && s - sums[k - 1] > kReorderTolerance) {
      sums[k] = sums[k - 1];
      order[k] = order[k - 1];
      --k;
    }
    sums[k] = s;
    order[k] = o;
  }
}

void FinishOblique(ProcState& ps, int mode) {
  const int p = ps.opt.nVars, m = ps.nFactors;
  ps.rotated = mode != kObliqueInputPattern;
  double* scale = ps.factorVector;
  const size_t packed = kernels::packedSize(static_cast<size_t>(m));

  if (mode == kObliqueHarrisKaiser || mode == kObliqueTarget) {
    if (ps.obliqueCount > 0 && !invertPacked(ps, ps.factorCorr, m)) return singularSolution(ps);
    ps.obliqueCount = m;
    // Q = T^T S T, the reference-axis matrix before scaling.
    std::vector<double> work(static_cast<size_t>(m));
    quadForm(ps.factorCorr, m, ps.transform, m, ps.refAxisCorr, work.data(), false);
    for (int j = 0; j < m; ++j) {
      const double q = ps.refAxisCorr[packedIndex(j, j)];
      scale[j] = q > 0.0 ? std::sqrt(q) : 1.0;
    }
    std::copy_n(ps.refAxisCorr, packed, ps.factorCorr);
    if (!invertPacked(ps, ps.factorCorr, m)) return singularSolution(ps);
  } else {
    std::copy_n(ps.factorCorr, packed, ps.refAxisCorr);
    if ((ps.obliqueCount >= 1 || mode == kObliqueFromEngine) && !invertPacked(ps, ps.refAxisCorr, m))
      return singularSolution(ps);
    ps.obliqueCount = m;
    for (int j = 0; j < m; ++j) {
      const double q = ps.refAxisCorr[packedIndex(j, j)];
      scale[j] = q > 0.0 ? std::sqrt(q) : 1.0;
    }
  }

  std::vector<double> roots(static_cast<size_t>(m));
  covToCorr(m, ps.refAxisCorr, roots.data());

  if (mode != kObliqueFromEngine) {
    // Unit factor variances: factor j is divided by its standard deviation.
    for (int j = 0; j < m; ++j) {
      const double d = ps.factorCorr[packedIndex(j, j)];
      if (!(d > 0.0) || std::fabs(1.0 - d) <= kSqrtHalfEpsilon) continue;
      const double s = std::sqrt(d);
      ps.rotated = true;
      for (int k = 0; k < m; ++k)
        if (k != j) ps.factorCorr[packedIndex(j, k)] /= s;
      ps.factorCorr[packedIndex(j, j)] = 1.0;
      scale[j] *= s;
      for (int k = 0; k < m; ++k) ps.transform[k + static_cast<long>(j) * m] *= s;
      for (int i = 0; i < p; ++i) ps.loadings[i + static_cast<long>(j) * p] *= s;
    }
  }

  if (mode == kObliqueHarrisKaiser) {
    std::vector<int> order(static_cast<size_t>(m));
    std::vector<double> sums(static_cast<size_t>(m));
    harrisKaiserOrder(ps.loadings, p, m, order.data(), sums.data());
    // Bring each factor to its place, left to right.
    std::vector<int> current(static_cast<size_t>(m));
    for (int j = 0; j < m; ++j) current[j] = j;
    for (int target = 0; target < m; ++target) {
      const int at = static_cast<int>(std::find(current.begin(), current.end(), order[target]) -
                                      current.begin());
      if (at != target) {
        moveFactor(ps, at, target);
        std::rotate(current.begin() + target, current.begin() + at, current.begin() + at + 1);
      }
    }
    if (ps.eigenvalues) std::copy(sums.begin(), sums.end(), ps.eigenvalues);
  }

  for (int j = 0; j < m; ++j)
    for (int i = 0; i < p; ++i)
      ps.refStructure[i + static_cast<long>(j) * p] = ps.loadings[i + static_cast<long>(j) * p] / scale[j];
  multiplyPacked(ps.loadings, ps.factorCorr, ps.structure, p, m);
}

void PrintObliqueTables(ProcState& ps) {
  const int p = ps.opt.nVars, m = ps.nFactors;
  if (ps.opt.flags.reorder && ps.varOrder != nullptr)
    computeVariableOrder(ps.refStructure, p, m, ps.varOrder);
  if (ps.sink != nullptr) {
    printMatrixTable(ps, {.storage = 'S', .values = ps.factorCorr, .nRows = m, .nCols = m,
                          .rowLabels = 'F', .colLabels = 'F', .title = kTitleInterFactorCorr,
                          .name = "InterFactorCorr", .role = MatrixRole::FactorCorrelation,
                          .coverage = true, .stdErrors = ps.stdErrFactorCorr});
    if (ps.rotated)
      printMatrixTable(ps, {.storage = 'C', .values = ps.loadings, .nRows = p, .nCols = m,
                            .rowLabels = 'V', .colLabels = 'F', .title = kTitleObliqueRotFactPat,
                            .name = "ObliqueRotFactPat", .role = MatrixRole::Loadings,
                            .coverage = true, .stdErrors = ps.stdErrPattern});
    else if (ps.opt.method == kMethodScore)
      printMatrixTable(ps, {.storage = 'C', .values = ps.loadings, .nRows = p, .nCols = m,
                            .rowLabels = 'V', .colLabels = 'F',
                            .title = msg::kStdScoreCoefTitle.number, .name = "InputScoreCoef",
                            .role = MatrixRole::Loadings});
    else
      printMatrixTable(ps, {.storage = 'C', .values = ps.loadings, .nRows = p, .nCols = m,
                            .rowLabels = 'V', .colLabels = 'F', .title = kTitleInputFactorPattern,
                            .name = "InputFactorPattern", .role = MatrixRole::Loadings});
    printMatrixTable(ps, {.storage = 'S', .values = ps.refAxisCorr, .nRows = m, .nCols = m,
                          .rowLabels = 'F', .colLabels = 'F', .title = kTitleReferenceAxisCorr,
                          .name = "ReferenceAxisCorr",
                          .role = MatrixRole::FactorCorrelation});
    printMatrixTable(ps, {.storage = 'C', .values = ps.refStructure, .nRows = p, .nCols = m,
                          .rowLabels = 'V', .colLabels = 'F', .title = kTitleReferenceStructure,
                          .name = "ReferenceStructure", .role = MatrixRole::Loadings});
  }
  varianceExplained(ps, 2);
  if (ps.sink != nullptr)
    printMatrixTable(ps, {.storage = 'C', .values = ps.structure, .nRows = p, .nCols = m,
                          .rowLabels = 'V', .colLabels = 'F', .title = kTitleFactorStructure,
                          .name = "FactorStructure", .role = MatrixRole::Loadings, .coverage = true,
                          .stdErrors = ps.stdErrStructure});
  varianceExplained(ps, 1);
}

}  // namespace zulfact
