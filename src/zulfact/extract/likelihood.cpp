#include "zulfact/extract/likelihood.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

#include "zulfact/state/codes.hpp"
#include "zulfact/state/constants.hpp"
#include "zulfact/state/message_ids.hpp"
#include "zulfact/extract/priors.hpp"
#include "zulfact/host/host.hpp"
#include "zulfact/extract/fit_indices.hpp"
#include "zulfact/extract/fit_problem.hpp"
#include "zulfact/extract/fit_state.hpp"
#include "zulfact/extract/fit_tests.hpp"
#include "zulfact/extract/iteration_history.hpp"
#include "zulfact/extract/newton_ridge.hpp"
#include "zulfact/extract/principal.hpp"
#include "zulfact/extract/work_block.hpp"
#include "kernels/linalg.hpp"
#include "zulfact/output/matrix_printer.hpp"
#include "zulfact/output/outstat_rows.hpp"
#include "zulfact/output/table_writer.hpp"
#include "zulfact/output/vector_table.hpp"

namespace zulfact {

using kernels::solveLower;
using kernels::packedRow;

namespace {

std::size_t packedSize(int p) { return static_cast<std::size_t>(p) * (p + 1) / 2; }

// The fit with the module's eigen notes and the iteration history, whose
// estimates are the communalities. ML and GLS fit the uniquenesses of the
// correlations, so these are 1 - psi and the ML-type weights 1/(1 - h2)
// rescale nothing; ULS fits the unique variances of the weighted matrix,
// which the weights turn back into proportions.
class ExtractionFit final : public FitProblem {
 public:
  ExtractionFit(ProcState& ps, FitState& fs, IterationHistory& history)
      : FitProblem(fs, ps.opt.convergence, !ps.opt.flags.heywood && !ps.opt.flags.ultraHeywood,
                   fs.isUls ? ps.varWeights : nullptr),
        ps_(ps),
        history_(history) {}

 protected:
  void onEigen(int code) override { eigenNote(code, ps_.sink); }
  void onIteration(const double* psi, double change) override {
    for (int i = 0; i < fs_.nVars; ++i) ps_.priorCommunalities[i] = communality(i, psi[i]);
    if (fs_.iteration == 1) history_.open(true);
    history_.addRow(fs_.iteration, fs_.criterion, fs_.ridge, change, ps_.priorCommunalities);
  }

 private:
  ProcState& ps_;
  IterationHistory& history_;
};

// Termination code of the optimiser -> status, reason (group 0) and
// message (group 180).
struct Outcome {
  int status;
  msg::Id reason, message;
};
Outcome outcomeOf(int code) {
  switch (code) {
    case kOptimConverged: return {0, msg::kReasonOptimConverged, msg::kConverged};
    case kOptimIterationLimit: return {3, msg::kReasonIterationLimit, msg::kOptimIterationLimit};
    case kOptimRidgeLimit: return {3, msg::kReasonRidgeLimit, msg::kOptimRidgeLimit};
    case kOptimNotPositive:
      return {3, msg::kReasonHessianNotPositive, msg::kOptimHessianNotPositive};
    default: return {1, msg::kReasonNoImprovement, msg::kOptimNoImprovement};
  }
}

void printCanonicalCorrelations(ProcState& ps, const FitState& fs) {
  const int p = ps.opt.nVars, k = ps.factorsRetained;
  std::vector<double> rho(static_cast<std::size_t>(k));
  // (gamma - 1)/gamma = 1 - mu for the k largest gamma, the smallest mu.
  for (int j = 0; j < k; ++j) {
    const double mu = fs.values[p - 1 - j];
    rho[j] = mu <= kSingularMu ? 1.0 : 1.0 - mu;
  }
  printFactorValues(ps, "CanCorr", msg::kCanCorrTitle, rho.data());
}

// ML and GLS: the vectors of the k largest gamma first (mirrored columns),
// solved against T, scaled by sqrt(1 - mu); the weights 1/psi and the
// eigenvalues gamma - 1 of the weighted reduced correlation matrix.
void mlTypeSolution(ProcState& ps, const FitState& fs, const double* t) {
  const int p = ps.opt.nVars, k = ps.factorsRetained;
  double* a = ps.loadings;
  std::memcpy(a, fs.vectors, static_cast<std::size_t>(p) * p * sizeof(double));
  for (int j = 0; j < std::min(p / 2, k); ++j)
    std::swap_ranges(a + static_cast<std::size_t>(j) * p, a + static_cast<std::size_t>(j + 1) * p,
                     a + static_cast<std::size_t>(p - 1 - j) * p);
  bool nonPositive = false;
  for (int i = 0; i < p; ++i) {
    const double psi = fs.psi[i];
    ps.varWeights[i] = psi > 0.0 ? 1.0 / psi : zul_missing();
    if (!(psi > 0.0)) nonPositive = true;
  }
  for (int j = 0; j < k; ++j) solveLower(p, t, a + static_cast<std::size_t>(j) * p);
  if (ps.opt.flags.eigenvectors && ps.sink != nullptr) {
    if (nonPositive) {
      host().message(msg::kEigenvectorsNotPrinted);
    } else {
      printMatrixTable(ps, {.storage = 'C', .values = a, .nRows = p, .nCols = k, .rowLabels = 'V',
                            .colLabels = 'F', .title = kTitleEigenvectors, .name = "Eigenvectors",
                            .role = MatrixRole::Loadings});
    }
  }
  for (int j = 0; j < p; ++j) {
    const double mu = fs.values[p - 1 - j] <= kSingularMu ? 0.0 : fs.values[p - 1 - j];
    if (j < k) {
      const double scale = std::sqrt(std::max(0.0, 1.0 - mu));
      double* column = a + static_cast<std::size_t>(j) * p;
      for (int i = 0; i < p; ++i) column[i] *= scale;
    }
    ps.eigenvalues[j] = mu > 0.0 ? 1.0 / mu - 1.0 : zul_missing();
  }
}

void ulsSolution(ProcState& ps, const FitState& fs) {
  const int p = ps.opt.nVars, k = ps.factorsRetained;
  std::memcpy(ps.loadings, fs.vectors, static_cast<std::size_t>(p) * k * sizeof(double));
  std::memcpy(ps.eigenvalues, fs.values, p * sizeof(double));
  if (ps.opt.flags.eigenvectors && ps.sink != nullptr)
    printMatrixTable(ps, {.storage = 'C', .values = ps.loadings, .nRows = p, .nCols = k,
                          .rowLabels = 'V', .colLabels = 'F', .title = kTitleEigenvectors,
                          .name = "Eigenvectors", .role = MatrixRole::Loadings});
  for (int j = 0; j < k; ++j) {
    const double root = std::sqrt(std::max(0.0, fs.values[j]));
    double* column = ps.loadings + static_cast<std::size_t>(j) * p;
    for (int i = 0; i < p; ++i) {
      double u = 1.0;
      if (ps.opt.flags.weighted) u = ps.varWeights[i] > 0.0 ? 1.0 / std::sqrt(ps.varWeights[i]) : 0.0;
      column[i] *= root * u;
    }
  }
}

// The matrix the fit works on, in place of R: for ML and GLS the inverse
// Cholesky factor of the saved R (false, with message and code 112, when
// R is singular), for ULS R itself, weighted when asked.
bool prepareFitMatrix(ProcState& ps, bool mlType, const double* savedR, double& lnDetR) {
  const int p = ps.opt.nVars;
  double* r = ps.corrMatrix;
  if (mlType) {
    std::memcpy(r, savedR, packedSize(p) * sizeof(double));
    if (!inverseCholeskyFactor(p, r, ps.opt.singularity, lnDetR)) {
      raiseCode(ps, kCodeSingular);
      ps.factorsRetained = 0;
      failGroupRows();
      host().message(msg::kSingularForLikelihood);
      return false;
    }
  } else if (ps.opt.flags.weighted) {
    for (int i = 0; i < p; ++i) {
      const double si = std::sqrt(std::max(0.0, ps.varWeights[i]));
      double* row = r + packedRow(i);
      for (int j = 0; j <= i; ++j) row[j] *= si * std::sqrt(std::max(0.0, ps.varWeights[j]));
    }
  }
  return true;
}

// The optimiser's outcome: messages, completion code and the convergence
// status table. False when a Heywood case ended the group's analysis.
bool reportFitOutcome(ProcState& ps, int code) {
  Host& h = host();
  if (ps.heywoodStatus < 0) {
    h.message(msg::kHeywoodCase);
    h.message(msg::kHeywoodAdvice);
    ps.convergenceStatus = 1;
    ps.convergenceReason = msg::kReasonHeywood.number;
    printConvergenceStatus(ps);
    raiseCode(ps, kCodeNoData);
    ps.factorsRetained = -1;
    return false;
  }
  const Outcome outcome = outcomeOf(code);
  ps.convergenceStatus = outcome.status;
  ps.convergenceReason = outcome.reason.number;
  h.message(outcome.message);
  if (code != kOptimConverged) raiseCode(ps, kCodeWarning);
  if (code >= kOptimNoImprovement) {
    if (ps.sink != nullptr)
      TableWriter(ps.sink).note("ConvergenceNote", Text(h.formatMessage(msg::kOptimNotConvergedNote)));
    h.message(msg::kOptimNotConverged);
  }
  printConvergenceStatus(ps);
  return true;
}

}  // namespace

void likelihoodExtract(ProcState& ps) {
  const int p = ps.opt.nVars;
  const bool ml = ps.opt.method == kMethodMl;
  const bool mlType = ml || ps.opt.method == kMethodGls;
  const FitKind kind = ml ? FitKind::Ml : mlType ? FitKind::Gls : FitKind::Uls;

  // One block: the fit state, the optimiser, the saved R and the bounds.
  const std::size_t fitSize = fitStateDoubles(p), optimSize = zoptimDoubles(p);
  WorkBlock block(static_cast<double>(fitSize + optimSize + packedSize(p) + 2 * p));
  double* optimWork = block.data() + fitSize;
  double* savedR = optimWork + optimSize;
  double* lower = savedR + packedSize(p);
  double* upper = lower + p;

  double* r = ps.corrMatrix;
  if (mlType) std::memcpy(savedR, r, packedSize(p) * sizeof(double));
  computePriors(ps);

  FitState fs;
  fitStateInit(fs, kind, p, 0, r, ps.varWeights, block.data());
  // Start values 1 - h (at least CONVERGE= for ML and GLS); ULS in the
  // metric of the weighted matrix.
  for (int i = 0; i < p; ++i) {
    double psi = 1.0 - ps.communalities[i];
    if (mlType) psi = std::max(psi, ps.opt.convergence);
    if (!mlType) psi *= ps.varWeights[i];
    fs.psi[i] = fs.previousPsi[i] = psi;
  }

  double lnDetR = 0.0;
  if (!prepareFitMatrix(ps, mlType, savedR, lnDetR)) return;

  // The preliminary eigenvalues at the start values decide the number of
  // factors: lambda for ULS, gamma - 1 (descending) for ML and GLS.
  fitObjective(fs, fs.psi);
  eigenNote(fs.eigenCode, ps.sink);
  for (int j = 0; j < p; ++j)
    ps.eigenvalues[j] = mlType ? fs.gammas[p - 1 - j] - 1.0 : fs.values[j];
  printEigenvalueTable(ps, headingOr(msg::kPreliminaryFitEigenTitle, "Preliminary Eigenvalues"));
  decideFactorCount(ps);
  fs.preliminaryDone = true;
  const int k = ps.factorsRetained;
  if (k < 1) {
    if (ml && k == 0) mlFitTables(ps, lnDetR, -lnDetR);
    return;
  }
  fs.nFactors = k;
  fs.residualCount = p - k;

  if (ps.opt.flags.heywood) {
    std::fill(lower, lower + p, 0.0);
    for (int i = 0; i < p; ++i) upper[i] = mlType ? 1.0 : ps.varWeights[i];
  }
  ps.heywoodStatus = 1;
  IterationHistory history(ps);
  ExtractionFit problem(ps, fs, history);
  const int code = zoptim(p, ps.opt.maxIter, kOptimGradientTolerance, problem, fs.psi,
                          ps.opt.flags.heywood ? lower : nullptr, ps.opt.flags.heywood ? upper : nullptr,
                          mlType ? nullptr : ps.varWeights, optimWork);
  history.close();
  if (problem.negativeFound()) ps.heywoodStatus = -1;
  if (!reportFitOutcome(ps, code)) {
    if (ml) mlFitTables(ps, lnDetR, fs.criterion);
    return;
  }

  // The solution at the final uniquenesses, with every eigenvector.
  eigenNote(fitFullDecomposition(fs, fs.psi), ps.sink);
  if (ml) {
    mlFitTables(ps, lnDetR, fs.criterion,
                fitSrmr(p, k, savedR, r, fs.values, fs.vectors, fs.psi));
    printCanonicalCorrelations(ps, fs);
  }
  if (mlType) {
    mlTypeSolution(ps, fs, r);
  } else {
    ulsSolution(ps, fs);
  }
  if (ps.sink != nullptr)
    printEigenvalueTable(ps, reducedEigenvalueHeading(ps, !mlType && ps.opt.flags.covariance, false));
}

}  // namespace zulfact
