#include "zulfact/extract/input_scores.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "zulfact/extract/principal.hpp"
#include "zulfact/host/host.hpp"
#include "kernels/eigen.hpp"
#include "kernels/dense.hpp"
#include "kernels/linalg.hpp"
#include "kernels/packed.hpp"
#include "zulfact/output/matrix_printer.hpp"
#include "zulfact/rotate/oblique_solution.hpp"
#include "zulfact/state/codes.hpp"
#include "zulfact/state/message_ids.hpp"

namespace zulfact {

using kernels::multiplyPacked;
using kernels::sweepInvert;
using kernels::quadForm;
using kernels::covToCorr;
using kernels::packedIndex;
using kernels::packedSize;
using kernels::zeigen;

namespace {

// Score variances this close to 1 are taken as 1, so coefficients saved
// by an earlier step come back bit for bit.
constexpr double kUnitVarianceTolerance = 1e-12;
// Score correlations up to this size count as zero: the scores are
// uncorrelated and the solution orthogonal.
constexpr double kObliqueTolerance = 1e-8;

// Eigenvalues of the score correlations below SINGULAR=.
int countSingular(ProcState& ps, int k) {
  std::vector<double> a(ps.factorCorr, ps.factorCorr + packedSize(k));
  std::vector<double> w(static_cast<size_t>(k)), work(9 * static_cast<size_t>(k));
  eigenNote(zeigen(k, a.data(), w.data(), 0, nullptr, work.data()), ps.sink);
  int below = 0;
  for (double v : w)
    if (v < ps.opt.singularity) ++below;
  return below;
}

bool correlated(const ProcState& ps, int k) {
  for (int i = 1; i < k; ++i)
    for (int j = 0; j < i; ++j)
      if (std::fabs(ps.factorCorr[packedIndex(i, j)]) > kObliqueTolerance) return true;
  return false;
}

// The reference axes of correlated scores f = Z W: axis j is the part of
// f_j uncorrelated with the other scores, (Phi^-1 f)_j, whose variance is
// (Phi^-1)_jj. Sweeping Phi with the k x p matrix W' as right-hand side
// gives Phi^-1 and Phi^-1 W' in one pass.
void obliqueScores(ProcState& ps, int k) {
  const int p = ps.opt.nVars;
  const double* w = ps.loadings;
  std::copy_n(ps.factorCorr, packedSize(k), ps.refAxisCorr);
  std::vector<double> wt(static_cast<size_t>(k) * p), pivot(static_cast<size_t>(k));
  for (int i = 0; i < p; ++i)
    for (int j = 0; j < k; ++j) wt[j + static_cast<size_t>(i) * k] = w[i + static_cast<size_t>(j) * p];
  sweepInvert(k, ps.refAxisCorr, pivot.data(), p, wt.data(), ps.opt.singularity);
  double* scale = ps.factorVector;
  for (int j = 0; j < k; ++j) {
    const double q = ps.refAxisCorr[packedIndex(j, j)];
    scale[j] = q > 0.0 ? std::sqrt(q) : 1.0;
  }
  std::vector<double> roots(static_cast<size_t>(k));
  covToCorr(k, ps.refAxisCorr, roots.data());
  for (int j = 0; j < k; ++j)
    for (int i = 0; i < p; ++i)
      ps.refStructure[i + static_cast<size_t>(j) * p] = wt[j + static_cast<size_t>(i) * k] / scale[j];
  multiplyPacked(w, ps.factorCorr, ps.structure, p, k);
  ps.obliqueCount = k;
  ps.rotated = false;
}

}  // namespace

void inputScores(ProcState& ps) {
  const int p = ps.opt.nVars, k = ps.nFactors;
  double* w = ps.loadings;
  // V = W'RW, then its correlations; d_j is the standard deviation of score j.
  std::vector<double> work(static_cast<size_t>(p)), d(static_cast<size_t>(k));
  quadForm(ps.corrMatrix, p, w, k, ps.factorCorr, work.data(), false);
  covToCorr(k, ps.factorCorr, d.data());
  const int singular = countSingular(ps, k);
  for (int j = 0; j < k; ++j) {
    if (!(d[j] > 0.0) || std::fabs(1.0 - d[j]) <= kUnitVarianceTolerance) continue;
    for (int i = 0; i < p; ++i) w[i + static_cast<size_t>(j) * p] /= d[j];
  }
  const bool oblique = correlated(ps, k);
  if (oblique) obliqueScores(ps, k);

  if (singular > 0) {
    if (oblique && ps.sink != nullptr) PrintObliqueTables(ps);
    host().message(msg::kScoreCorrSingular);
    raiseCode(ps, kCodeBadVariables);
    host().endStep(kCodeBadVariables);
  }
  if (oblique) {
    PrintObliqueTables(ps);
  } else if (ps.sink != nullptr) {
    printMatrixTable(ps, {.storage = 'C', .values = w, .nRows = p, .nCols = k, .rowLabels = 'V',
                          .colLabels = 'F', .title = msg::kStdScoreCoefTitle.number,
                          .name = "InputScoreCoef", .role = MatrixRole::Loadings});
  }
}

}  // namespace zulfact
