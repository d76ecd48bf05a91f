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
#include "kernels/packed.hpp"
#include "zulfact/output/matrix_printer.hpp"
#include "zulfact/output/outstat_rows.hpp"
#include "zulfact/output/table_writer.hpp"
#include "zulfact/output/vector_table.hpp"

namespace zulfact {

using kernels::solveLower;
using kernels::packedRow;
using kernels::packedSize;

namespace {

bool mlTypeOf(FitKind kind) { return kind != FitKind::Uls; }

// The caller's block: the fit state, the optimiser, the matrix of the fit
// and the bounds.
struct BlockLayout {
  double* fit;
  double* optim;
  double* matrix;
  double* lower;
  double* upper;
};
BlockLayout layoutOf(int p, double* block) {
  BlockLayout b{};
  b.fit = block;
  b.optim = b.fit + fitStateDoubles(p);
  b.matrix = b.optim + zoptimDoubles(p);
  b.lower = b.matrix + packedSize(p);
  b.upper = b.lower + p;
  return b;
}

// The fit recording its eigen codes and history rows, whose estimates are
// the communalities. ML and GLS fit the uniquenesses of the correlations,
// so these are 1 - psi and the ML-type weights 1/(1 - h2) rescale
// nothing; ULS fits the unique variances of the weighted matrix, which
// the weights turn back into proportions.
class RecordedFit final : public FitProblem {
 public:
  RecordedFit(const LikelihoodInputs& in, FitState& fs, std::vector<LikelihoodStep>& steps)
      : FitProblem(fs, in.convergence, !in.heywood && !in.ultraHeywood,
                   fs.isUls ? in.weights : nullptr),
        steps_(steps) {}

 protected:
  void onEigen(int code) override {
    if (code != 0) steps_.emplace_back().eigenCode = code;
  }
  void onIteration(const double* psi, double change) override {
    LikelihoodStep& step = steps_.emplace_back();
    step.hasRow = true;
    step.iteration = fs_.iteration;
    step.criterion = fs_.criterion;
    step.ridge = fs_.ridge;
    step.change = change;
    step.estimates.resize(static_cast<std::size_t>(fs_.nVars));
    for (int i = 0; i < fs_.nVars; ++i) step.estimates[i] = communality(i, psi[i]);
  }

 private:
  std::vector<LikelihoodStep>& steps_;
};

// The matrix the fit works on: for ML and GLS the inverse Cholesky factor
// of R (false when R is singular), for ULS R itself, weighted when asked
// (its diagonal is never read: the fit puts w_i - psi_i there).
bool fitMatrix(const LikelihoodInputs& in, double* r, double& lnDetR) {
  const int p = in.p;
  std::memcpy(r, in.r, packedSize(p) * sizeof(double));
  if (mlTypeOf(in.kind)) return inverseCholeskyFactor(p, r, in.singularity, lnDetR);
  if (in.weighted) {
    for (int i = 0; i < p; ++i) {
      const double si = std::sqrt(std::max(0.0, in.weights[i]));
      double* row = r + packedRow(i);
      for (int j = 0; j <= i; ++j) row[j] *= si * std::sqrt(std::max(0.0, in.weights[j]));
    }
  }
  return true;
}

// ML and GLS: the vectors of the k largest gamma first (mirrored columns),
// solved against T, scaled by sqrt(1 - mu); the weights 1/psi and the
// eigenvalues gamma - 1 of the weighted reduced correlation matrix.
void mlTypeSolution(const FitState& fs, const double* t, int k, LikelihoodResult& out) {
  const int p = fs.nVars;
  out.loadings.assign(fs.vectors, fs.vectors + static_cast<std::size_t>(p) * p);
  double* a = out.loadings.data();
  for (int j = 0; j < std::min(p / 2, k); ++j)
    std::swap_ranges(a + static_cast<std::size_t>(j) * p, a + static_cast<std::size_t>(j + 1) * p,
                     a + static_cast<std::size_t>(p - 1 - j) * p);
  out.weights.resize(static_cast<std::size_t>(p));
  for (int i = 0; i < p; ++i) {
    // A uniqueness the objective took as 0 (a Heywood bound reached to
    // within rounding) has no weight: 1/psi of 1e-18 is no number to report.
    const double psi = std::fabs(fs.psi[i]) < kTinyUniqueness ? 0.0 : fs.psi[i];
    out.weights[i] = psi > 0.0 ? 1.0 / psi : zul_missing();
    if (!(psi > 0.0)) out.vectorsShown = false;
  }
  for (int j = 0; j < k; ++j) solveLower(p, t, a + static_cast<std::size_t>(j) * p);
  out.vectors.assign(a, a + static_cast<std::size_t>(p) * k);
  out.eigenvalues.resize(static_cast<std::size_t>(p));
  for (int j = 0; j < p; ++j) {
    const double mu = fs.values[p - 1 - j] <= kSingularMu ? 0.0 : fs.values[p - 1 - j];
    if (j < k) {
      // R - LL' - Psi = C Z_r (I - M_r) Z_r' C' holds for the mu as they
      // are: a negative one (a negative unique variance, allowed by
      // ULTRAHEYWOOD) scales by more than 1, and the pattern's
      // communalities stay 1 - psi at the optimum.
      const double scale = std::sqrt(std::max(0.0, 1.0 - fs.values[p - 1 - j]));
      double* column = a + static_cast<std::size_t>(j) * p;
      for (int i = 0; i < p; ++i) column[i] *= scale;
    }
    out.eigenvalues[j] = mu > 0.0 ? 1.0 / mu - 1.0 : zul_missing();
  }
}

// ULS: the k leading vectors times sqrt(lambda), unweighted by 1/sqrt(w).
void ulsSolution(const LikelihoodInputs& in, const FitState& fs, int k, LikelihoodResult& out) {
  const int p = fs.nVars;
  out.vectors.assign(fs.vectors, fs.vectors + static_cast<std::size_t>(p) * k);
  out.eigenvalues.assign(fs.values, fs.values + p);
  out.loadings = out.vectors;
  for (int j = 0; j < k; ++j) {
    const double root = std::sqrt(std::max(0.0, fs.values[j]));
    double* column = out.loadings.data() + static_cast<std::size_t>(j) * p;
    for (int i = 0; i < p; ++i) {
      double u = 1.0;
      if (in.weighted) u = in.weights[i] > 0.0 ? 1.0 / std::sqrt(in.weights[i]) : 0.0;
      column[i] *= root * u;
    }
  }
}

// ML: the squared canonical correlations (gamma - 1)/gamma = 1 - mu
// of the k largest gamma, the smallest mu. A zero unique variance gives a
// correlation of 1; a negative one gives no correlation (1 - mu > 1): it
// is missing.
std::vector<double> canonicalCorrelations(const FitState& fs, int k) {
  const int p = fs.nVars;
  std::vector<double> rho(static_cast<std::size_t>(k));
  for (int j = 0; j < k; ++j) {
    const double mu = fs.values[p - 1 - j];
    if (mu < -kSingularMu) {
      rho[j] = zul_missing();
    } else {
      rho[j] = mu <= kSingularMu ? 1.0 : 1.0 - mu;
    }
  }
  return rho;
}

}  // namespace

std::size_t likelihoodDoubles(int p) {
  return fitStateDoubles(p) + zoptimDoubles(p) + packedSize(p) + 2 * static_cast<std::size_t>(p);
}

LikelihoodStart likelihoodStart(const LikelihoodInputs& in, double* block) {
  const int p = in.p;
  const bool mlType = mlTypeOf(in.kind);
  const BlockLayout b = layoutOf(p, block);
  LikelihoodStart start;
  FitState& fs = start.fs;
  fitStateInit(fs, in.kind, p, 0, b.matrix, in.weights, b.fit);
  // Start values 1 - h (at least CONVERGE= for ML and GLS); ULS in the
  // metric of the weighted matrix.
  for (int i = 0; i < p; ++i) {
    double psi = 1.0 - in.h2[i];
    if (mlType) psi = std::max(psi, in.convergence);
    if (!mlType) psi *= in.weights[i];
    fs.psi[i] = fs.previousPsi[i] = psi;
  }
  if (!fitMatrix(in, b.matrix, start.lnDetR)) {
    start.singular = true;
    return start;
  }
  // lambda for ULS, gamma - 1 (descending) for ML and GLS.
  fitObjective(fs, fs.psi);
  start.eigenCode = fs.eigenCode;
  start.eigenvalues.resize(static_cast<std::size_t>(p));
  for (int j = 0; j < p; ++j)
    start.eigenvalues[j] = mlType ? fs.gammas[p - 1 - j] - 1.0 : fs.values[j];
  fs.preliminaryDone = true;
  return start;
}

LikelihoodResult likelihoodFit(const LikelihoodInputs& in, LikelihoodStart& start, int k,
                               double* block) {
  const int p = in.p;
  const bool mlType = mlTypeOf(in.kind);
  const BlockLayout b = layoutOf(p, block);
  FitState& fs = start.fs;
  fs.nFactors = k;
  fs.residualCount = p - k;
  if (in.heywood) {
    std::fill(b.lower, b.lower + p, 0.0);
    for (int i = 0; i < p; ++i) b.upper[i] = mlType ? 1.0 : in.weights[i];
  }
  LikelihoodResult out;
  RecordedFit problem(in, fs, out.steps);
  out.code = zoptim(p, in.maxIter, kOptimGradientTolerance, problem, fs.psi,
                    in.heywood ? b.lower : nullptr, in.heywood ? b.upper : nullptr,
                    mlType ? nullptr : in.weights, b.optim);
  out.criterion = fs.criterion;
  out.heywoodCase = problem.negativeFound();
  if (out.heywoodCase) return out;

  // The solution at the final uniquenesses, with every eigenvector.
  out.eigenCode = fitFullDecomposition(fs, fs.psi);
  out.criterion = fs.criterion;
  out.psi.assign(fs.psi, fs.psi + p);
  if (in.kind == FitKind::Ml) {
    out.srmr = fitSrmr(p, k, in.r, b.matrix, fs.values, fs.vectors, fs.psi);
    out.canonical = canonicalCorrelations(fs, k);
  }
  if (mlType) {
    mlTypeSolution(fs, b.matrix, k, out);
  } else {
    ulsSolution(in, fs, k, out);
  }
  return out;
}

namespace {

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

// The eigen notes and the history rows of the fit, in the order it met
// them; the last row's estimates stay in priorCommunalities.
void reportSteps(ProcState& ps, const std::vector<LikelihoodStep>& steps) {
  IterationHistory history(ps);
  for (const LikelihoodStep& step : steps) {
    if (!step.hasRow) {
      eigenNote(step.eigenCode, ps.sink);
      continue;
    }
    std::copy(step.estimates.begin(), step.estimates.end(), ps.priorCommunalities);
    if (step.iteration == 1) history.open(true);
    history.addRow(step.iteration, step.criterion, step.ridge, step.change,
                   ps.priorCommunalities);
  }
  history.close();
}

// The solution into the group's record, with its eigenvectors when asked.
void storeSolution(ProcState& ps, const LikelihoodResult& result, bool mlType) {
  const int p = ps.opt.nVars, k = ps.factorsRetained;
  if (ps.opt.flags.eigenvectors && ps.sink != nullptr) {
    if (!result.vectorsShown) {
      host().message(msg::kEigenvectorsNotPrinted);
    } else {
      printMatrixTable(ps, {.storage = 'C', .values = result.vectors.data(), .nRows = p,
                            .nCols = k, .rowLabels = 'V', .colLabels = 'F',
                            .title = kTitleEigenvectors, .name = "Eigenvectors",
                            .role = MatrixRole::Loadings});
    }
  }
  std::copy(result.loadings.begin(), result.loadings.end(), ps.loadings);
  std::copy(result.eigenvalues.begin(), result.eigenvalues.end(), ps.eigenvalues);
  if (mlType) std::copy(result.weights.begin(), result.weights.end(), ps.varWeights);
}

// The preliminary eigenvalues into the group's record, their table, and
// the number of factors they decide. False when the singular R of ML or
// GLS ends the group's analysis.
bool reportStart(ProcState& ps, const LikelihoodStart& start) {
  if (start.singular) {
    raiseCode(ps, kCodeSingular);
    ps.factorsRetained = 0;
    failGroupRows();
    host().message(msg::kSingularForLikelihood);
    return false;
  }
  eigenNote(start.eigenCode, ps.sink);
  std::copy(start.eigenvalues.begin(), start.eigenvalues.end(), ps.eigenvalues);
  printEigenvalueTable(ps, headingOr(msg::kPreliminaryFitEigenTitle, "Preliminary Eigenvalues"));
  decideFactorCount(ps);
  return true;
}

// Weighted ULS (COV, or a WEIGHT row) fits unique variances in the metric
// of the weights, and its criterion grows with their square; the
// optimiser's gradient test is made for criteria of the size of a
// correlation fit (Newton steps on variances of 1e-6 stopped at once, so
// the solution depended on the units of the data). The fit therefore runs
// on the weights divided by a power of four near their largest, which
// leaves the loadings and communalities as they are; the exponent returned
// scales its eigenvalues (and, doubled, its criteria) back.
int scaledUlsWeights(const ProcState& ps, std::vector<double>& weights) {
  const int p = ps.opt.nVars;
  weights.assign(ps.varWeights, ps.varWeights + p);
  double largest = 0.0;
  for (double w : weights) largest = std::max(largest, w);
  if (!(largest > 0.0) || !std::isfinite(largest)) return 0;
  int exponent = 0;
  std::frexp(largest, &exponent);
  exponent -= exponent % 2;
  for (double& w : weights) w = std::ldexp(w, -exponent);
  return exponent;
}

void scaleBack(std::vector<double>& eigenvalues, int exponent) {
  for (double& x : eigenvalues)
    if (!zul_is_missing(x)) x = std::ldexp(x, exponent);
}

}  // namespace

void likelihoodExtract(ProcState& ps) {
  const int p = ps.opt.nVars;
  const bool ml = ps.opt.method == kMethodMl;
  const bool mlType = ml || ps.opt.method == kMethodGls;
  WorkBlock block(static_cast<double>(likelihoodDoubles(p)));
  computePriors(ps);
  std::vector<double> ulsWeights;
  const int exponent = !mlType && ps.opt.flags.weighted ? scaledUlsWeights(ps, ulsWeights) : 0;

  const LikelihoodInputs in{.kind = ml ? FitKind::Ml : mlType ? FitKind::Gls : FitKind::Uls,
                            .p = p, .r = ps.groupCorr, .h2 = ps.communalities,
                            .weights = exponent != 0 ? ulsWeights.data() : ps.varWeights,
                            .weighted = ps.opt.flags.weighted,
                            .singularity = ps.opt.singularity,
                            .convergence = ps.opt.convergence, .maxIter = ps.opt.maxIter,
                            .heywood = ps.opt.flags.heywood,
                            .ultraHeywood = ps.opt.flags.ultraHeywood};
  LikelihoodStart start = likelihoodStart(in, block.data());
  scaleBack(start.eigenvalues, exponent);
  if (!reportStart(ps, start)) return;
  const int k = ps.factorsRetained;
  if (k < 1) {
    if (ml && k == 0) mlFitTables(ps, start.lnDetR, -start.lnDetR);
    return;
  }

  ps.heywoodStatus = 1;
  LikelihoodResult result = likelihoodFit(in, start, k, block.data());
  scaleBack(result.eigenvalues, exponent);
  for (LikelihoodStep& step : result.steps) step.criterion = std::ldexp(step.criterion, 2 * exponent);
  reportSteps(ps, result.steps);
  if (result.heywoodCase) ps.heywoodStatus = -1;
  if (!reportFitOutcome(ps, result.code)) {
    if (ml) mlFitTables(ps, start.lnDetR, result.criterion);
    return;
  }
  eigenNote(result.eigenCode, ps.sink);
  if (ml) {
    mlFitTables(ps, start.lnDetR, result.criterion, result.srmr);
    printFactorValues(ps, "CanCorr", msg::kCanCorrTitle, result.canonical.data());
  }
  storeSolution(ps, result, mlType);
  if (ps.sink != nullptr)
    printEigenvalueTable(ps, reducedEigenvalueHeading(ps, !mlType && ps.opt.flags.covariance, false));
}

}  // namespace zulfact
