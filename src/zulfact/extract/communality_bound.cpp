#include "zulfact/extract/communality_bound.hpp"

#include <cmath>
#include <cstddef>

#include "zulfact/state/codes.hpp"
#include "zulfact/state/message_ids.hpp"
#include "zulfact/host/host.hpp"
#include "zulfact/output/vector_table.hpp"
#include "kernels/packed.hpp"

namespace zulfact {

using kernels::packedIndex;

namespace {

// The smallest excess the HEYWOOD note reports: the note prints the ratio
// to 6 digits, and an excess it would show as 1 is rounding of the fit.
constexpr double kNotedExcess = 1e-5;

double rowSumOfSquares(int p, int k, const double* loadings, int i) {
  double h = 0.0;
  for (int j = 0; j < k; ++j) {
    const double a = loadings[static_cast<std::size_t>(j) * p + i];
    h += a * a;
  }
  return h;
}

// The methods whose communalities follow the Heywood rules: estimated by
// iterations, or by the one eigen step of the principal factor method on
// priors those rules bounded (dropping the negative eigenvalues of the
// reduced matrix can raise a communality above its prior). The others take
// them as given (an input pattern) or weight them otherwise (HARRIS, IMAGE).
bool estimatesCommunalities(int method) {
  return method == kMethodPrincipal || method == kMethodPrinit || method == kMethodAlpha ||
         method == kMethodUls || method == kMethodMl || method == kMethodGls;
}

}  // namespace

AboveVariance worstAboveVariance(int p, int k, const double* loadings, const double* r,
                                 double slack) {
  AboveVariance worst;
  worst.ratio = slack;
  for (int i = 0; i < p; ++i) {
    const double variance = r[packedIndex(i, i)];
    if (!(variance > 0.0)) continue;
    const double ratio = rowSumOfSquares(p, k, loadings, i) / variance;
    if (ratio > worst.ratio) worst = {i, ratio};
  }
  return worst;
}

AboveVariance scaleRowsToVariance(int p, int k, double* loadings, const double* r) {
  const AboveVariance worst = worstAboveVariance(p, k, loadings, r, 1.0);
  if (worst.row < 0) return worst;
  for (int i = 0; i < p; ++i) {
    const double variance = r[packedIndex(i, i)];
    const double h = rowSumOfSquares(p, k, loadings, i);
    if (!(variance > 0.0) || !(h > variance)) continue;
    const double shrink = std::sqrt(variance / h);
    for (int j = 0; j < k; ++j) loadings[static_cast<std::size_t>(j) * p + i] *= shrink;
  }
  return worst;
}

void boundCommunalities(ProcState& ps) {
  const int p = ps.opt.nVars, k = ps.factorsRetained;
  if (k < 1 || ps.groupCorr == nullptr || !estimatesCommunalities(ps.opt.method)) return;
  if (ps.opt.flags.heywood) {
    const AboveVariance worst = scaleRowsToVariance(p, k, ps.loadings, ps.groupCorr);
    if (worst.row >= 0 && worst.ratio > 1.0 + kNotedExcess)
      host().message(msg::kLoadingsScaledToVariance, {variableName(ps, worst.row), worst.ratio});
  } else if (ps.opt.flags.ultraHeywood) {
    const AboveVariance worst =
        worstAboveVariance(p, k, ps.loadings, ps.groupCorr, 1.0 + kAboveVarianceSlack);
    if (worst.row < 0) return;
    raiseCode(ps, kCodeWarning);
    host().message(msg::kUltraHeywoodImproper, {variableName(ps, worst.row), worst.ratio});
  }
}

}  // namespace zulfact
