#include "zulfact/extract/iterated.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "zulfact/state/codes.hpp"
#include "zulfact/state/constants.hpp"
#include "zulfact/state/message_ids.hpp"
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
using kernels::zeigen;
using kernels::zeigvec;

namespace {

std::size_t packedSize(int p) { return static_cast<std::size_t>(p) * (p + 1) / 2; }

// r_ij <- s_i r_ij s_j with s_i = sqrt(max(0, w_i)), diagonal included.
// Coefficient alpha of each retained factor, as a table titled by 180/76.
void printAlphaCoefficients(ProcState& ps) {
  const int k = ps.factorsRetained;
  std::vector<double> alpha(static_cast<std::size_t>(k));
  for (int j = 0; j < k; ++j) alpha[j] = coefficientAlpha(ps.opt.nVars, ps.eigenvalues[j]);
  printFactorValues(ps, "AlphaCoef", msg::kAlphaCoefTitle, alpha.data());
}

}  // namespace

void communalitiesFromVectors(int p, int k, const double* lambda, const double* z,
                              const double* weights, double* h) {
  const double floor = k * std::max(kSmallestNormal, p * kEigenEpsilon);
  for (int i = 0; i < p; ++i) {
    double s = 0.0;
    for (int j = 0; j < k; ++j) {
      const double zij = z[static_cast<std::size_t>(j) * p + i];
      s += std::max(0.0, lambda[j]) * zij * zij;
    }
    if (s <= floor) {
      s = 0.0;
    } else if (weights[i] > 0.0) {
      s /= weights[i];  // ALPHA: times the previous estimate
    }
    h[i] = s;
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

void iteratedExtract(ProcState& ps) {
  const int p = ps.opt.nVars;
  const bool alpha = ps.opt.method == kMethodAlpha;
  WorkBlock saved(static_cast<double>(packedSize(p)));
  computePriors(ps);

  double* r = ps.corrMatrix;
  double* w = ps.varWeights;
  double* work = ps.scaleVector;
  double* h = ps.communalities;
  double* previous = ps.priorCommunalities;
  if (!alpha && ps.opt.flags.weighted) weightMatrix(p, r, w, work);
  std::memcpy(saved.data(), r, packedSize(p) * sizeof(double));

  IterationHistory history(ps);
  bool converged = false;
  for (int pass = 1;; ++pass) {
    std::copy_n(h, p, previous);
    passMatrix(p, alpha, saved.data(), h, w, r, work);

    eigenNote(zeigen(p, r, ps.eigenvalues, 0, nullptr, work), ps.sink);
    if (pass == 1) {
      zeroTinyEigenvalues(ps);
      printEigenvalueTable(ps, headingOr(msg::kPreliminaryEigenTitle, "Preliminary Eigenvalues"));
      decideFactorCount(ps);
      if (ps.factorsRetained < 1) return;
      history.open(false);
    }
    const int k = ps.factorsRetained;
    eigenNote(zeigvec(p, k, r, ps.eigenvalues, ps.loadings, work), ps.sink);
    // MAXITER=0: no pass updates the priors.
    if (pass > ps.opt.maxIter) break;

    communalitiesFromVectors(p, k, ps.eigenvalues, ps.loadings, w, h);
    heywoodCheck(ps, h);
    double change = 0.0;
    for (int i = 0; i < p; ++i) change = std::max(change, std::fabs(h[i] - previous[i]));
    history.addRow(pass, 0.0, 0.0, change, h);
    if (ps.heywoodStatus < 0) return;  // factorsRetained is -1: no solution
    converged = ps.opt.convergence > change;
    if (converged || pass >= ps.opt.maxIter) break;
  }
  history.close();

  const int k = ps.factorsRetained;
  std::memcpy(previous, h, p * sizeof(double));
  if (alpha)
    for (int i = 0; i < p; ++i) w[i] = h[i] > 0.0 ? 1.0 / h[i] : 0.0;
  ps.convergenceStatus = converged ? 0 : 3;
  ps.convergenceReason = (converged ? msg::kReasonConverged : msg::kReasonNotConverged).number;
  host().message(converged ? msg::kConverged : msg::kPassesNotConverged);
  if (!converged) raiseCode(ps, kCodeWarning);
  printConvergenceStatus(ps);

  zeroTinyEigenvalues(ps);
  if (ps.sink != nullptr) {
    printEigenvalueTable(ps, reducedEigenvalueHeading(ps, ps.opt.flags.covariance, true));
    if (ps.opt.flags.eigenvectors)
      printMatrixTable(ps, {.storage = 'C', .values = ps.loadings, .nRows = p, .nCols = k,
                            .rowLabels = 'V', .colLabels = 'F', .title = kTitleEigenvectors,
                            .name = "Eigenvectors", .role = MatrixRole::Loadings});
  }
  if (alpha) printAlphaCoefficients(ps);

  for (int j = 0; j < k; ++j) {
    const double root = std::sqrt(std::max(0.0, ps.eigenvalues[j]));
    double* column = ps.loadings + static_cast<std::size_t>(j) * p;
    for (int i = 0; i < p; ++i) {
      double u = 1.0;
      if (ps.opt.flags.weighted) u = w[i] > 0.0 ? 1.0 / std::sqrt(w[i]) : 0.0;
      column[i] *= root * u;
    }
  }
}

}  // namespace zulfact
