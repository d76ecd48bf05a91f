#include "zulfact/extract/iterated.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "zulfact/state/codes.hpp"
#include "zulfact/state/constants.hpp"
#include "zulfact/state/message_ids.hpp"
#include "zulfact/extract/communality_bound.hpp"
#include "zulfact/extract/graded_order.hpp"
#include "zulfact/extract/priors.hpp"
#include "zulfact/host/host.hpp"
#include "zulfact/extract/iteration_history.hpp"
#include "zulfact/extract/principal.hpp"
#include "zulfact/extract/work_block.hpp"
#include "kernels/eigen.hpp"
#include "kernels/packed.hpp"
#include "zulfact/output/matrix_printer.hpp"
#include "zulfact/output/vector_table.hpp"

namespace zulfact {

using kernels::packedIndex;
using kernels::packedRow;
using kernels::packedSize;
using kernels::zeigen;
using kernels::zeigvec;

namespace {

// Coefficient alpha of each retained factor, as a table titled by 180/76.
void printAlphaCoefficients(ProcState& ps) {
  const int k = ps.factorsRetained;
  std::vector<double> alpha(static_cast<std::size_t>(k));
  for (int j = 0; j < k; ++j) alpha[j] = coefficientAlpha(ps.opt.nVars, ps.eigenvalues[j]);
  printFactorValues(ps, "AlphaCoef", msg::kAlphaCoefTitle, alpha.data());
}

}  // namespace

void communalitiesFromVectors(int p, int k, const double* lambda, const double* z,
                              const double* weights, bool alpha, double* h) {
  const double floor = k * std::max(kSmallestNormal, p * kEigenEpsilon);
  for (int i = 0; i < p; ++i) {
    double s = 0.0;
    for (int j = 0; j < k; ++j) {
      const double zij = z[static_cast<std::size_t>(j) * p + i];
      s += std::max(0.0, lambda[j]) * zij * zij;
    }
    // ALPHA's sums are of a matrix scaled to unit communalities, so the
    // floor is judged before they are multiplied by the previous estimate
    // (Kaiser and Caffrey 1965). PRINIT under COV divides by the variance
    // first: judged in the data's units, the floor zeroed every estimate of
    // data of 1e-100.
    if (alpha && s <= floor) s = 0.0;
    if (weights[i] > 0.0) s /= weights[i];
    h[i] = !alpha && s <= floor ? 0.0 : s;
  }
}

void passMatrix(int p, bool alpha, const double* saved, const double* h, double* w, double* r,
                double* work) {
  std::copy_n(saved, packedSize(p), r);
  for (int i = 0; i < p; ++i) {
    if (alpha) {
      w[i] = h[i] > 0.0 ? 1.0 / h[i] : 0.0;
      r[packedIndex(i, i)] = h[i];
    } else {
      r[packedIndex(i, i)] = h[i] * w[i];
    }
  }
  if (alpha) weightMatrix(p, r, w, work);
}

double coefficientAlpha(int p, double lambda) {
  if (p < 2) return zul_missing();
  return p * (1.0 - 1.0 / std::max(kZeroTolerance, lambda)) / (p - 1);
}

namespace {

// A result code of the eigen solver that ends the run (see eigenNote): the
// passes stop there so that nothing after it is computed for nothing.
bool eigenEndsRun(int code) {
  if (code == 98 || code == 99) return true;
  const int c = code < -99 ? code + 100 : code;
  return c < 0 && -c / 10 >= 3;
}

// The pass matrix and its eigen solution. The first pass reuses the
// decomposition the number of factors was decided from (its eigenvalues
// already cleaned of negligible ones).
void solvePass(const IteratedInputs& in, const PrincipalEigen* first, int k,
               IteratedResult& out, IteratedPass& row, std::vector<double>& work) {
  const int p = in.p;
  passMatrix(p, in.alpha, in.saved, out.communalities.data(), out.weights.data(),
             out.lastMatrix.data(), work.data());
  std::vector<double> matrix;
  std::vector<int> order;
  if (first != nullptr) {
    matrix = first->reduced;
    work = first->work;
    order = first->order;
    out.eigenvalues = first->eigenvalues;
  } else {
    matrix = out.lastMatrix;
    order = gradedOrder(p, matrix.data());
    orderSymmetric(p, order, matrix.data());
    row.valuesCode = zeigen(p, matrix.data(), out.eigenvalues.data(), 0, nullptr, work.data());
  }
  row.vectorsCode =
      zeigvec(p, k, matrix.data(), out.eigenvalues.data(), out.vectors.data(), work.data());
  restoreRows(p, k, order, out.vectors.data());
}

// New estimates from the pass's vectors, the Heywood rule and the change.
// True when the passes end here (a Heywood case or convergence).
bool updateEstimates(const IteratedInputs& in, int k, IteratedResult& out, IteratedPass& row) {
  double* h = out.communalities.data();
  communalitiesFromVectors(in.p, k, out.eigenvalues.data(), out.vectors.data(),
                           out.weights.data(), in.alpha, h);
  row.heywoodStatus = heywoodAdjust(in.p, in.heywood, in.ultraHeywood, h);
  double change = 0.0;
  for (int i = 0; i < in.p; ++i) change = std::max(change, std::fabs(h[i] - out.priors[i]));
  row.hasRow = true;
  row.change = change;
  row.estimates = out.communalities;
  if (row.heywoodStatus < 0) {
    out.heywoodEnded = true;
    return true;
  }
  out.converged = in.convergence > change;
  return out.converged;
}

// The final estimates become the priors (and ALPHA's weights 1/h), and
// the loadings z_ij sqrt(lambda_j), unweighted for a weighted analysis.
void finishSolution(const IteratedInputs& in, int k, IteratedResult& out) {
  const int p = in.p;
  const std::vector<double>& h = out.communalities;
  std::vector<double>& w = out.weights;
  out.priors = h;
  if (in.alpha)
    for (int i = 0; i < p; ++i) w[i] = h[i] > 0.0 ? 1.0 / h[i] : 0.0;
  zeroTinyEigenvalues(p, out.eigenvalues.data());
  out.loadings = out.vectors;
  for (int j = 0; j < k; ++j) {
    const double root = std::sqrt(std::max(0.0, out.eigenvalues[j]));
    double* column = out.loadings.data() + static_cast<std::size_t>(j) * p;
    for (int i = 0; i < p; ++i) {
      double u = 1.0;
      if (in.weighted) u = w[i] > 0.0 ? 1.0 / std::sqrt(w[i]) : 0.0;
      column[i] *= root * u;
    }
  }
}

}  // namespace

IteratedResult iteratedPasses(const IteratedInputs& in, const PrincipalEigen& first, int k) {
  const int p = in.p;
  IteratedResult out;
  out.communalities.assign(in.priors, in.priors + p);
  out.weights.assign(in.weights, in.weights + p);
  out.lastMatrix.resize(packedSize(p));
  out.eigenvalues.resize(static_cast<std::size_t>(p));
  out.vectors.resize(static_cast<std::size_t>(p) * k);
  std::vector<double> work(static_cast<std::size_t>(10) * p);
  for (int pass = 1;; ++pass) {
    out.priors = out.communalities;
    IteratedPass& row = out.passes.emplace_back();
    solvePass(in, pass == 1 ? &first : nullptr, k, out, row, work);
    if (eigenEndsRun(row.valuesCode) || eigenEndsRun(row.vectorsCode)) return out;
    // MAXITER=0: no pass updates the priors.
    if (pass > in.maxIter) break;
    if (updateEstimates(in, k, out, row) || pass >= in.maxIter) break;
  }
  out.lastDiagonal = out.priors;
  if (out.heywoodEnded) {
    out.loadings = out.vectors;
  } else {
    finishSolution(in, k, out);
  }
  return out;
}

namespace {

// The eigen notes, Heywood messages and history rows of the passes, in
// the order the passes met them.
void reportPasses(ProcState& ps, const IteratedResult& result) {
  IterationHistory history(ps);
  // MAXITER=0 runs no pass that updates the estimates: no table.
  if (std::any_of(result.passes.begin(), result.passes.end(), [](const IteratedPass& pass) { return pass.hasRow; }))
    history.open(false);
  for (const IteratedPass& pass : result.passes) {
    eigenNote(pass.valuesCode, ps.sink);
    eigenNote(pass.vectorsCode, ps.sink);
    if (!pass.hasRow) continue;
    ps.heywoodStatus = pass.heywoodStatus;
    if (pass.heywoodStatus < 0) heywoodCaseEnds(ps, msg::kHeywoodCase, msg::kHeywoodAdvice);
    history.addRow(static_cast<int>(&pass - result.passes.data()) + 1, 0.0, 0.0, pass.change,
                   pass.estimates.data());
  }
  history.close();
}

void storeSolution(ProcState& ps, const IteratedResult& result) {
  std::copy(result.eigenvalues.begin(), result.eigenvalues.end(), ps.eigenvalues);
  std::copy(result.loadings.begin(), result.loadings.end(), ps.loadings);
  std::copy(result.communalities.begin(), result.communalities.end(), ps.communalities);
  std::copy(result.priors.begin(), result.priors.end(), ps.priorCommunalities);
  std::copy(result.weights.begin(), result.weights.end(), ps.varWeights);
  std::copy(result.lastMatrix.begin(), result.lastMatrix.end(), ps.corrMatrix);
}

// Passes that did not converge may stop between two swinging states
// (ALPHA rescales each pass by the previous estimates, Kaiser and Caffrey
// 1965), and the loadings of the last one can explain more than a
// variable's variance. Unless ULTRAHEYWOOD allows that, the group ends
// as a Heywood case does, with the variable named: no pattern, rotation,
// stored solution or scores are made from numbers that are no solution.
// Under HEYWOOD a variable whose estimate the last pass started from was
// held at the bound is a Heywood case the option accepts: its loadings are
// scaled back to the variance after the extraction, as when converged.
void flagLoadingsAboveVariance(ProcState& ps, const std::vector<double>& lastDiagonal) {
  if (ps.opt.flags.ultraHeywood || ps.groupCorr == nullptr) return;
  const int p = ps.opt.nVars, k = ps.factorsRetained;
  std::vector<double> judged(ps.loadings, ps.loadings + static_cast<std::size_t>(p) * k);
  for (int i = 0; i < p && ps.opt.flags.heywood; ++i)
    if (lastDiagonal[i] >= 1.0)
      for (int j = 0; j < k; ++j) judged[static_cast<std::size_t>(j) * p + i] = 0.0;
  const AboveVariance worst =
      worstAboveVariance(p, k, judged.data(), ps.groupCorr, 1.0 + kAboveVarianceSlack);
  if (worst.row < 0) return;
  raiseCode(ps, kCodeSingular);
  ps.factorsRetained = -1;
  host().message(msg::kUnconvergedAboveVariance, {variableName(ps, worst.row), worst.ratio});
}

void reportSolution(ProcState& ps, const IteratedResult& result, bool alpha) {
  const int p = ps.opt.nVars, k = ps.factorsRetained;
  const bool converged = result.converged;
  ps.convergenceStatus = converged ? 0 : 3;
  ps.convergenceReason = (converged ? msg::kReasonConverged : msg::kReasonNotConverged).number;
  host().message(converged ? msg::kConverged : msg::kPassesNotConverged);
  if (!converged) raiseCode(ps, kCodeWarning);
  printConvergenceStatus(ps);
  if (ps.sink != nullptr) {
    printEigenvalueTable(ps, reducedEigenvalueHeading(ps, ps.opt.flags.covariance, true));
    if (ps.opt.flags.eigenvectors)
      printMatrixTable(ps, {.storage = 'C', .values = result.vectors.data(), .nRows = p,
                            .nCols = k, .rowLabels = 'V', .colLabels = 'F',
                            .title = kTitleEigenvectors, .name = "Eigenvectors",
                            .role = MatrixRole::Loadings});
  }
  if (alpha) printAlphaCoefficients(ps);
  if (!converged) flagLoadingsAboveVariance(ps, result.lastDiagonal);
}

}  // namespace

void iteratedExtract(ProcState& ps) {
  const int p = ps.opt.nVars;
  const bool alpha = ps.opt.method == kMethodAlpha;
  WorkBlock saved(static_cast<double>(packedSize(p)));
  computePriors(ps);
  warnVariancesBeyondPrecision(ps);

  std::vector<double> work(static_cast<std::size_t>(p));
  if (!alpha && ps.opt.flags.weighted) weightMatrix(p, ps.corrMatrix, ps.varWeights, work.data());
  std::memcpy(saved.data(), ps.corrMatrix, packedSize(p) * sizeof(double));

  // The first pass's eigenvalues decide the number of factors.
  std::copy_n(ps.communalities, p, ps.priorCommunalities);
  passMatrix(p, alpha, saved.data(), ps.communalities, ps.varWeights, ps.corrMatrix, work.data());
  const PrincipalEigen first = principalEigenvalues(p, ps.corrMatrix, nullptr);
  eigenNote(first.code, ps.sink);
  std::copy(first.eigenvalues.begin(), first.eigenvalues.end(), ps.eigenvalues);
  printEigenvalueTable(ps, headingOr(msg::kPreliminaryEigenTitle, "Preliminary Eigenvalues"));
  decideFactorCount(ps);
  if (ps.factorsRetained < 1) return;

  const IteratedInputs in{.p = p, .alpha = alpha, .weighted = ps.opt.flags.weighted,
                          .saved = saved.data(), .priors = ps.communalities,
                          .weights = ps.varWeights, .maxIter = ps.opt.maxIter,
                          .convergence = ps.opt.convergence, .heywood = ps.opt.flags.heywood,
                          .ultraHeywood = ps.opt.flags.ultraHeywood};
  const IteratedResult result = iteratedPasses(in, first, ps.factorsRetained);
  reportPasses(ps, result);
  storeSolution(ps, result);
  if (!result.heywoodEnded) reportSolution(ps, result, alpha);
}

}  // namespace zulfact
