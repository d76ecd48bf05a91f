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

// Eigenvalues of the packed score correlations of order k below
// `singularity`, with the eigen solver's code.
int countSingular(int k, const double* corr, double singularity, int& code) {
  std::vector<double> a(corr, corr + packedSize(k));
  std::vector<double> w(static_cast<size_t>(k)), work(9 * static_cast<size_t>(k));
  code = zeigen(k, a.data(), w.data(), 0, nullptr, work.data());
  int below = 0;
  for (double v : w)
    if (v < singularity) ++below;
  return below;
}

bool correlated(int k, const double* corr) {
  for (int i = 1; i < k; ++i)
    for (int j = 0; j < i; ++j)
      if (std::fabs(corr[packedIndex(i, j)]) > kObliqueTolerance) return true;
  return false;
}

// The reference axes of correlated scores f = Z W: axis j is the part of
// f_j uncorrelated with the other scores, (Phi^-1 f)_j, whose variance is
// (Phi^-1)_jj. The variables correlate with the scores by S = R W (unit
// score variances), and with the axes by R W Phi^-1 / s: the coefficients
// themselves are no correlations (a variable left out of every score still
// correlates with the scores through R). Sweeping Phi with the k x p
// matrix S' as right-hand side gives Phi^-1 and P' = Phi^-1 S' in one
// pass; P, the regression of the variables on the scores, gives the
// communalities sum_j p_ij s_ij.
void obliqueScores(int p, int k, const double* r, double singularity, ScoreSolution& out) {
  const double* w = out.coefficients.data();
  out.structure.assign(static_cast<size_t>(p) * k, 0.0);
  for (int j = 0; j < k; ++j)
    for (int i = 0; i < p; ++i) {
      double sum = 0.0;
      for (int l = 0; l < p; ++l) sum += r[packedIndex(i, l)] * w[l + static_cast<size_t>(j) * p];
      out.structure[i + static_cast<size_t>(j) * p] = sum;
    }
  out.refAxisCorr = out.scoreCorr;
  std::vector<double> pt(static_cast<size_t>(k) * p), pivot(static_cast<size_t>(k));
  for (int i = 0; i < p; ++i)
    for (int j = 0; j < k; ++j)
      pt[j + static_cast<size_t>(i) * k] = out.structure[i + static_cast<size_t>(j) * p];
  sweepInvert(k, out.refAxisCorr.data(), pivot.data(), p, pt.data(), singularity);
  out.factorScales.resize(static_cast<size_t>(k));
  for (int j = 0; j < k; ++j) {
    const double q = out.refAxisCorr[packedIndex(j, j)];
    out.factorScales[j] = q > 0.0 ? std::sqrt(q) : 1.0;
  }
  std::vector<double> roots(static_cast<size_t>(k));
  covToCorr(k, out.refAxisCorr.data(), roots.data());
  out.refStructure.resize(static_cast<size_t>(p) * k);
  out.communalities.assign(static_cast<size_t>(p), 0.0);
  for (int j = 0; j < k; ++j)
    for (int i = 0; i < p; ++i) {
      const double pij = pt[j + static_cast<size_t>(i) * k];
      out.refStructure[i + static_cast<size_t>(j) * p] = pij / out.factorScales[j];
      out.communalities[i] += pij * out.structure[i + static_cast<size_t>(j) * p];
    }
}

// The oblique solution of the scores into the group's record.
void storeOblique(ProcState& ps, const ScoreSolution& s, int k) {
  std::copy(s.refAxisCorr.begin(), s.refAxisCorr.end(), ps.refAxisCorr);
  std::copy(s.factorScales.begin(), s.factorScales.end(), ps.factorVector);
  std::copy(s.refStructure.begin(), s.refStructure.end(), ps.refStructure);
  std::copy(s.structure.begin(), s.structure.end(), ps.structure);
  std::copy(s.communalities.begin(), s.communalities.end(), ps.communalities);
  ps.obliqueCount = k;
  ps.rotated = false;
}

}  // namespace

ScoreSolution scoreSolution(int p, int k, const double* r, const double* w, double singularity) {
  ScoreSolution out;
  out.coefficients.assign(w, w + static_cast<size_t>(p) * k);
  // V = W'RW, then its correlations; d_j is the standard deviation of score j.
  out.scoreCorr.resize(packedSize(k));
  std::vector<double> work(static_cast<size_t>(p)), d(static_cast<size_t>(k));
  quadForm(r, p, w, k, out.scoreCorr.data(), work.data(), false);
  covToCorr(k, out.scoreCorr.data(), d.data());
  out.singular = countSingular(k, out.scoreCorr.data(), singularity, out.eigenCode);
  for (int j = 0; j < k; ++j) {
    if (!(d[j] > 0.0) || std::fabs(1.0 - d[j]) <= kUnitVarianceTolerance) continue;
    for (int i = 0; i < p; ++i) out.coefficients[i + static_cast<size_t>(j) * p] /= d[j];
  }
  out.oblique = correlated(k, out.scoreCorr.data());
  if (out.oblique) obliqueScores(p, k, r, singularity, out);
  return out;
}

void inputScores(ProcState& ps) {
  const int p = ps.opt.nVars, k = ps.nFactors;
  const ScoreSolution s = scoreSolution(p, k, ps.corrMatrix, ps.loadings, ps.opt.singularity);
  eigenNote(s.eigenCode, ps.sink);
  std::copy(s.scoreCorr.begin(), s.scoreCorr.end(), ps.factorCorr);
  std::copy(s.coefficients.begin(), s.coefficients.end(), ps.loadings);
  if (s.oblique) storeOblique(ps, s, k);

  if (s.singular > 0) {
    if (s.oblique && ps.sink != nullptr) PrintObliqueTables(ps);
    host().message(msg::kScoreCorrSingular);
    raiseCode(ps, kCodeBadVariables);
    host().endStep(kCodeBadVariables);
  }
  if (s.oblique) {
    PrintObliqueTables(ps);
  } else if (ps.sink != nullptr) {
    printMatrixTable(ps, {.storage = 'C', .values = ps.loadings, .nRows = p, .nCols = k,
                          .rowLabels = 'V', .colLabels = 'F',
                          .title = msg::kStdScoreCoefTitle.number, .name = "InputScoreCoef",
                          .role = MatrixRole::Loadings});
  }
}

}  // namespace zulfact
