#include "zulfact/extract/fit_indices.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "zulfact/extract/residuals.hpp"
#include "zulfact/host/host.hpp"
#include "kernels/linalg.hpp"
#include "zulfact/output/table_writer.hpp"
#include "zulfact/output/vector_table.hpp"
#include "zulfact/state/message_ids.hpp"

namespace zulfact {

using kernels::packedIndex;
using kernels::packedRow;
using kernels::solveLower;

namespace {

// The RMSEA of close fit and the interval's tail probabilities.
constexpr double kCloseFit = 0.05;
constexpr double kIntervalTail = 0.05;

double centralCdf(double x, double df) { return 1.0 - chiSquareUpperTail(x, df); }

// ln of the Poisson(m) probability of i.
double logPoisson(double m, int i) { return -m + i * std::log(m) - std::lgamma(i + 1.0); }

}  // namespace

double noncentralChiSquareCdf(double x, double df, double lambda) {
  if (!(df > 0.0) || !std::isfinite(x) || !std::isfinite(lambda) || lambda < 0.0)
    return zul_missing();
  if (x <= 0.0) return 0.0;
  if (lambda == 0.0) return centralCdf(x, df);
  const double m = 0.5 * lambda, z = 0.5 * x;
  const double mode = std::floor(m);
  // The central distribution functions P(a, z), a = df/2 + i, from the one
  // at the mode by P(a + 1, z) = P(a, z) - t(a), t(a) = z^a e^-z / Gamma(a + 1),
  // and the Poisson weights by their ratios: a few operations a term, so a
  // large noncentrality (a large N) sums its ~sqrt(m) terms quickly, where
  // an incomplete gamma function a term took minutes.
  const double a0 = 0.5 * df + mode;
  const double p0 = centralCdf(x, df + 2.0 * mode);
  const double t0 = std::exp(a0 * std::log(z) - z - std::lgamma(a0 + 1.0));
  const double w0 = std::exp(logPoisson(m, mode));
  double sum = w0 * p0;
  // Outward from the mode: the weights fall on both sides, the terms with
  // them, so a weight below 1e-17 of the sum ends each side.
  double w = w0, p = p0, t = t0;
  for (double i = mode; i > 0.0; --i) {
    const double a = 0.5 * df + i;
    t *= a / z;  // t(a - 1)
    p += t;
    w *= i / m;
    sum += w * std::min(p, 1.0);
    if (w < 1e-17) break;
  }
  w = w0, p = p0, t = t0;
  for (double i = mode + 1.0;; ++i) {
    p -= t;  // P(a0 + (i - mode), z)
    t *= z / (0.5 * df + i);
    w *= m / i;
    sum += w * std::max(p, 0.0);
    if (w < 1e-17) break;
  }
  return std::clamp(sum, 0.0, 1.0);
}

double noncentralityFor(double x, double df, double target) {
  if (!(noncentralChiSquareCdf(x, df, 0.0) > target)) return 0.0;
  double low = 0.0, high = std::max(1.0, x);
  while (noncentralChiSquareCdf(x, df, high) > target) {
    low = high;
    high *= 2.0;
  }
  for (int i = 0; i < 200 && high - low > 1e-12 * std::max(1.0, high); ++i) {
    const double mid = 0.5 * (low + high);
    if (noncentralChiSquareCdf(x, df, mid) > target) {
      low = mid;
    } else {
      high = mid;
    }
  }
  return 0.5 * (low + high);
}

FitIndices fitIndices(const FitStatistics& s, double multiplier, double srmr) {
  const double missing = zul_missing();
  FitIndices f{missing, missing, missing, missing, missing, missing};
  if (!(s.dfK > 0.0) || !(multiplier > 0.0) || !std::isfinite(s.chiSqK)) return f;
  const double scale = s.dfK * multiplier;
  f.rmsea = std::sqrt(std::max(s.chiSqK - s.dfK, 0.0) / scale);
  f.rmseaLower = std::sqrt(noncentralityFor(s.chiSqK, s.dfK, 1.0 - kIntervalTail) / scale);
  f.rmseaUpper = std::sqrt(noncentralityFor(s.chiSqK, s.dfK, kIntervalTail) / scale);
  f.probClose =
      1.0 - noncentralChiSquareCdf(s.chiSqK, s.dfK, kCloseFit * kCloseFit * scale);
  const double excessK = std::max(s.chiSqK - s.dfK, 0.0);
  const double excess = std::max({s.chiSq0 - s.df0, s.chiSqK - s.dfK, 0.0});
  // Both tests within their degrees of freedom: nothing left to explain.
  f.cfi = excess > 0.0 ? 1.0 - excessK / excess : 1.0;
  f.srmr = srmr;
  return f;
}

double standardizedRmr(int p, const double* residual) {
  if (p < 1) return zul_missing();
  double sum = 0.0;
  for (std::size_t e = 0; e < packedRow(p); ++e) sum += residual[e] * residual[e];
  return std::sqrt(sum / packedRow(p));
}

double standardizedRmrOf(int p, int k, const double* r, const double* loadings,
                         const double* psi) {
  std::vector<double> residual(r, r + packedRow(p));
  subtractFitted(p, k, loadings, nullptr, residual.data());
  for (int i = 0; i < p; ++i) residual[packedIndex(i, i)] -= psi[i];
  return standardizedRmr(p, residual.data());
}

double fitSrmr(int p, int k, const double* r, const double* t, const double* mu,
               const double* vectors, const double* psi) {
  std::vector<double> loadings(static_cast<std::size_t>(p) * k);
  for (int j = 0; j < k; ++j) {
    const int c = p - 1 - j;
    double* a = loadings.data() + static_cast<std::size_t>(j) * p;
    std::copy(vectors + static_cast<std::size_t>(c) * p,
              vectors + static_cast<std::size_t>(c + 1) * p, a);
    solveLower(p, t, a);
    const double scale = std::sqrt(std::max(0.0, 1.0 - mu[c]));
    for (int i = 0; i < p; ++i) a[i] *= scale;
  }
  return standardizedRmrOf(p, k, r, loadings.data(), psi);
}

void printFitIndices(ProcState& ps, double lnDetR, double criterion, double srmr) {
  if (ps.sink == nullptr) return;
  Host& h = host();
  const int k = std::max(0, ps.factorsRetained);
  const int p = ps.opt.nVars;
  const bool aboutZero = ps.opt.flags.noIntercept;
  const FitStatistics s = fitStatistics(p, k, ps.nObs, lnDetR, criterion, aboutZero);
  const double multiplier = dataDegreesOfFreedom(ps) - (2.0 * p + 5.0) / 6.0 - 2.0 * k / 3.0;
  const FitIndices f = k > 0 ? fitIndices(s, multiplier, srmr)
                             : fitIndices(FitStatistics{}, 0.0, zul_missing());
  TableWriter out(ps.sink);
  out.beginTable("FitIndices");
  out.title(Text(h.formatMessage(msg::kFitIndicesTitle)));
  out.column(Column::text("Index", 48));
  out.column(Column::number("Value", "10.4"));
  const msg::Id labels[6] = {msg::kRmseaLabel, msg::kRmseaLowerLabel, msg::kRmseaUpperLabel,
                             msg::kCloseFitLabel, msg::kCfiLabel, msg::kSrmrLabel};
  const double values[6] = {f.rmsea, f.rmseaLower, f.rmseaUpper, f.probClose, f.cfi, f.srmr};
  for (int i = 0; i < 6; ++i) out.row({h.formatMessage(labels[i]), values[i]});
  if (k < 1) {
    out.footnote(Text(h.formatMessage(msg::kFitIndicesNoFactor)));
  } else if (!(s.dfK > 0.0)) {
    out.footnote(Text(h.formatMessage(msg::kFitIndicesNoDf)));
  } else if (!(multiplier > 0.0)) {
    out.footnote(Text(h.formatMessage(aboutZero ? msg::kFitIndicesNoMultiplierAboutZero
                                                : msg::kFitIndicesNoMultiplier)));
  } else {
    out.footnote(Text(h.formatMessage(aboutZero ? msg::kFitIndicesChiSquareNoteAboutZero
                                                : msg::kFitIndicesChiSquareNote)));
  }
  out.endTable();
}

void mlFitTables(ProcState& ps, double lnDetR, double criterion, double srmr) {
  significanceTests(ps, lnDetR, criterion);
  printFitIndices(ps, lnDetR, criterion, srmr);
}

}  // namespace zulfact
