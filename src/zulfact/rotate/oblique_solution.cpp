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
// is singular by `singularity` relative to the largest diagonal element.
bool invertPacked(double* a, int m, double singularity) {
  double biggest = 0.0;
  for (int j = 0; j < m; ++j) biggest = std::max(biggest, std::fabs(a[packedIndex(j, j)]));
  std::vector<double> work(static_cast<size_t>(m));
  if (biggest == 0.0) return false;
  return sweepInvert(m, a, work.data(), 0, nullptr, singularity * biggest) == 0;
}

void singularSolution(ProcState& ps) {
  host().message(msg::kFactorCorrSingular);
  raiseCode(ps, kCodeNoData);
  failGroupRows();
  ps.nFactors = 0;
}

// Moves factor `from` to position `to` (to < from), shifting the ones
// between one place right, in every matrix of the solution.
void moveFactor(ObliqueSolution& s, int p, int m, int from, int to) {
  auto rotateColumns = [&](std::vector<double>& a, int rows) {
    std::rotate(a.begin() + static_cast<long>(to) * rows, a.begin() + static_cast<long>(from) * rows,
                a.begin() + static_cast<long>(from + 1) * rows);
  };
  rotateColumns(s.loadings, p);
  rotateColumns(s.transform, m);
  std::rotate(s.scales.begin() + to, s.scales.begin() + from, s.scales.begin() + from + 1);
  for (std::vector<double>* packed : {&s.factorCorr, &s.refAxisCorr}) {
    std::vector<double> full(static_cast<size_t>(m) * m);
    for (int i = 0; i < m; ++i)
      for (int j = 0; j < m; ++j) full[i + j * m] = (*packed)[packedIndex(i, j)];
    std::vector<int> order(static_cast<size_t>(m));
    for (int i = 0; i < m; ++i) order[i] = i;
    std::rotate(order.begin() + to, order.begin() + from, order.begin() + from + 1);
    for (int i = 0; i < m; ++i)
      for (int j = 0; j <= i; ++j) (*packed)[packedIndex(i, j)] = full[order[i] + order[j] * m];
  }
}

// Phi, the reference-axis matrix before its scaling, and the factor scales:
// from T for modes 72 and 79, from the given Phi otherwise. False when a
// matrix to invert is singular.
bool factorCorrelations(const ObliqueInput& in, ObliqueSolution& s) {
  const int m = in.m;
  s.scales.assign(static_cast<size_t>(m), 0.0);
  s.refAxisCorr.assign(kernels::packedSize(static_cast<size_t>(m)), 0.0);
  if (in.mode == kObliqueHarrisKaiser || in.mode == kObliqueTarget) {
    if (in.obliqueBefore && !invertPacked(s.factorCorr.data(), m, in.singularity)) return false;
    s.obliqueMarked = true;
    // Q = T^T S T, the reference-axis matrix before scaling.
    std::vector<double> work(static_cast<size_t>(m));
    quadForm(s.factorCorr.data(), m, s.transform.data(), m, s.refAxisCorr.data(), work.data(), false);
    for (int j = 0; j < m; ++j) {
      const double q = s.refAxisCorr[packedIndex(j, j)];
      s.scales[j] = q > 0.0 ? std::sqrt(q) : 1.0;
    }
    s.factorCorr = s.refAxisCorr;
    return invertPacked(s.factorCorr.data(), m, in.singularity);
  }
  s.refAxisCorr = s.factorCorr;
  if ((in.obliqueBefore || in.mode == kObliqueFromEngine) &&
      !invertPacked(s.refAxisCorr.data(), m, in.singularity))
    return false;
  s.obliqueMarked = true;
  for (int j = 0; j < m; ++j) {
    const double q = s.refAxisCorr[packedIndex(j, j)];
    s.scales[j] = q > 0.0 ? std::sqrt(q) : 1.0;
  }
  return true;
}

// Unit factor variances: factor j is divided by its standard deviation.
void unitVariances(int p, int m, ObliqueSolution& s) {
  for (int j = 0; j < m; ++j) {
    const double d = s.factorCorr[packedIndex(j, j)];
    if (!(d > 0.0) || std::fabs(1.0 - d) <= kSqrtHalfEpsilon) continue;
    const double root = std::sqrt(d);
    s.rescaled = true;
    for (int k = 0; k < m; ++k)
      if (k != j) s.factorCorr[packedIndex(j, k)] /= root;
    s.factorCorr[packedIndex(j, j)] = 1.0;
    s.scales[j] *= root;
    for (int k = 0; k < m; ++k) s.transform[k + static_cast<long>(j) * m] *= root;
    for (int i = 0; i < p; ++i) s.loadings[i + static_cast<long>(j) * p] *= root;
  }
}

// Harris-Kaiser: the factors by decreasing sums of squares.
void harrisKaiserReorder(int p, int m, ObliqueSolution& s) {
  std::vector<int> order(static_cast<size_t>(m));
  s.orderedSums.assign(static_cast<size_t>(m), 0.0);
  harrisKaiserOrder(s.loadings.data(), p, m, order.data(), s.orderedSums.data());
  // Bring each factor to its place, left to right.
  std::vector<int> current(static_cast<size_t>(m));
  for (int j = 0; j < m; ++j) current[j] = j;
  for (int target = 0; target < m; ++target) {
    const int at = static_cast<int>(std::find(current.begin(), current.end(), order[target]) -
                                    current.begin());
    if (at != target) {
      moveFactor(s, p, m, at, target);
      std::rotate(current.begin() + target, current.begin() + at, current.begin() + at + 1);
    }
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

ObliqueSolution obliqueSolution(const ObliqueInput& in) {
  const int p = in.p, m = in.m;
  ObliqueSolution s;
  s.loadings.assign(in.loadings, in.loadings + static_cast<size_t>(p) * m);
  s.transform.assign(in.transform, in.transform + static_cast<size_t>(m) * m);
  s.factorCorr.assign(in.factorCorr, in.factorCorr + kernels::packedSize(static_cast<size_t>(m)));
  if (!factorCorrelations(in, s)) {
    s.singular = true;
    return s;
  }
  std::vector<double> roots(static_cast<size_t>(m));
  covToCorr(m, s.refAxisCorr.data(), roots.data());
  if (in.mode != kObliqueFromEngine) unitVariances(p, m, s);
  if (in.mode == kObliqueHarrisKaiser) harrisKaiserReorder(p, m, s);
  s.refStructure.resize(static_cast<size_t>(p) * m);
  s.structure.resize(static_cast<size_t>(p) * m);
  for (int j = 0; j < m; ++j)
    for (int i = 0; i < p; ++i)
      s.refStructure[i + static_cast<long>(j) * p] = s.loadings[i + static_cast<long>(j) * p] / s.scales[j];
  multiplyPacked(s.loadings.data(), s.factorCorr.data(), s.structure.data(), p, m);
  return s;
}

void FinishOblique(ProcState& ps, int mode) {
  const int m = ps.nFactors;
  ps.rotated = mode != kObliqueInputPattern;
  const ObliqueInput in{.p = ps.opt.nVars, .m = m, .loadings = ps.loadings, .transform = ps.transform,
                        .factorCorr = ps.factorCorr, .obliqueBefore = ps.obliqueCount > 0,
                        .singularity = ps.opt.singularity, .mode = mode};
  const ObliqueSolution s = obliqueSolution(in);
  if (s.obliqueMarked) ps.obliqueCount = m;
  if (s.singular) return singularSolution(ps);
  if (s.rescaled) ps.rotated = true;
  std::copy(s.loadings.begin(), s.loadings.end(), ps.loadings);
  std::copy(s.transform.begin(), s.transform.end(), ps.transform);
  std::copy(s.factorCorr.begin(), s.factorCorr.end(), ps.factorCorr);
  std::copy(s.refAxisCorr.begin(), s.refAxisCorr.end(), ps.refAxisCorr);
  std::copy(s.scales.begin(), s.scales.end(), ps.factorVector);
  std::copy(s.refStructure.begin(), s.refStructure.end(), ps.refStructure);
  std::copy(s.structure.begin(), s.structure.end(), ps.structure);
  if (ps.eigenvalues && !s.orderedSums.empty())
    std::copy(s.orderedSums.begin(), s.orderedSums.end(), ps.eigenvalues);
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
