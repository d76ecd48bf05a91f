#include "zulfact/extract/fit_hessian.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

#include "kernels/linalg.hpp"

namespace zulfact {

using kernels::daxpy;
using kernels::matrixProductBlock;
using kernels::packedRow;

namespace {

double firstDerivative(bool ml, double mu) { return ml ? 1.0 / mu - 1.0 / (mu * mu) : mu - 1.0; }

// Columns of A_w computed by one BLAS product: enough for level-3 speed,
// few enough that the panel stays small beside y.
constexpr int kPanel = 128;

// Packed A_w = sum over the first d columns y_j of w_j y_j y_j^T, as
// (Y_D diag(w)) Y_D^T by panels of columns, each from its diagonal down:
// the upper part is never computed and no p x p matrix is held. The loops
// of vector updates this replaces ran at a tenth of the speed (3,000
// variables, 30 factors: minutes per iteration).
void weightedOuter(int p, int d, const double* y, const double* w, double* a,
                   std::vector<double>& scaled, std::vector<double>& panel) {
  if (d < 1) {
    std::fill(a, a + packedRow(p), 0.0);
    return;
  }
  for (int j = 0; j < d; ++j) {
    const std::size_t col = static_cast<std::size_t>(j) * p;
    for (int i = 0; i < p; ++i) scaled[col + i] = w[j] * y[col + i];
  }
  for (int c0 = 0; c0 < p; c0 += kPanel) {
    const int nc = std::min(kPanel, p - c0), nr = p - c0;
    matrixProductBlock(false, true, nr, d, nc, scaled.data() + c0, p, y + c0, p, panel.data(), nr);
    for (int l = 0; l < nc; ++l) {
      const double* column = panel.data() + static_cast<std::size_t>(l) * nr;
      for (int i = l; i < nr; ++i) a[packedRow(c0 + i) + c0 + l] = column[i];
    }
  }
}

}  // namespace

bool exactFitHessian(bool ml, int p, int k, const double* t, const double* mu,
                     const double* vectors, double* y, double* h) {
  const int d = p - k;
  const std::size_t packed = packedRow(p);
  // y_j = T^T z_j: each packed row l of T added in once.
  for (int j = 0; j < p; ++j) {
    const double* z = vectors + static_cast<std::size_t>(j) * p;
    double* yj = y + static_cast<std::size_t>(j) * p;
    std::fill(yj, yj + p, 0.0);
    for (int l = 0; l < p; ++l) daxpy(l + 1, z[l], t + packedRow(l), yj);
  }
  std::vector<double> w(static_cast<std::size_t>(d)), a1(packed), a2(packed);
  std::vector<double> scaled(static_cast<std::size_t>(p) * d);
  std::vector<double> panel(static_cast<std::size_t>(p) * std::min(p, kPanel));
  // The discarded block.
  if (ml) {
    for (int j = 0; j < d; ++j) w[j] = 1.0 / mu[j];
    weightedOuter(p, d, y, w.data(), a1.data(), scaled, panel);
    for (int j = 0; j < d; ++j) w[j] = 1.0 / (mu[j] * mu[j]);
    weightedOuter(p, d, y, w.data(), a2.data(), scaled, panel);
    for (std::size_t e = 0; e < packed; ++e) h[e] = a1[e] * (2.0 * a2[e] - a1[e]);
  } else {
    std::fill(w.begin(), w.end(), 1.0);
    weightedOuter(p, d, y, w.data(), a1.data(), scaled, panel);
    for (std::size_t e = 0; e < packed; ++e) h[e] = a1[e] * a1[e];
  }
  // The mixed terms, one retained direction m at a time.
  for (int m = d; m < p; ++m) {
    for (int j = 0; j < d; ++j) w[j] = firstDerivative(ml, mu[j]) / (mu[j] - mu[m]);
    weightedOuter(p, d, y, w.data(), a1.data(), scaled, panel);
    const double* ym = y + static_cast<std::size_t>(m) * p;
    for (int i = 0; i < p; ++i) {
      double* hi = h + packedRow(i);
      const double* ai = a1.data() + packedRow(i);
      for (int l = 0; l <= i; ++l) hi[l] += 2.0 * ym[i] * ym[l] * ai[l];
    }
  }
  for (std::size_t e = 0; e < packed; ++e)
    if (!std::isfinite(h[e])) return false;
  return true;
}

}  // namespace zulfact
