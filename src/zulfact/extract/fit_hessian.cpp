#include "zulfact/extract/fit_hessian.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

#include "kernels/linalg.hpp"

namespace zulfact {

using kernels::daxpy;
using kernels::packedRow;

namespace {

double firstDerivative(bool ml, double mu) { return ml ? 1.0 / mu - 1.0 / (mu * mu) : mu - 1.0; }

// Packed A_w = sum over the first d columns y_j of w_j y_j y_j^T.
void weightedOuter(int p, int d, const double* y, const double* w, double* a) {
  std::fill(a, a + packedRow(p), 0.0);
  for (int j = 0; j < d; ++j) {
    const double* yj = y + static_cast<std::size_t>(j) * p;
    for (int i = 0; i < p; ++i) daxpy(i + 1, w[j] * yj[i], yj, a + packedRow(i));
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
  // The discarded block.
  if (ml) {
    for (int j = 0; j < d; ++j) w[j] = 1.0 / mu[j];
    weightedOuter(p, d, y, w.data(), a1.data());
    for (int j = 0; j < d; ++j) w[j] = 1.0 / (mu[j] * mu[j]);
    weightedOuter(p, d, y, w.data(), a2.data());
    for (std::size_t e = 0; e < packed; ++e) h[e] = a1[e] * (2.0 * a2[e] - a1[e]);
  } else {
    std::fill(w.begin(), w.end(), 1.0);
    weightedOuter(p, d, y, w.data(), a1.data());
    for (std::size_t e = 0; e < packed; ++e) h[e] = a1[e] * a1[e];
  }
  // The mixed terms, one retained direction m at a time.
  for (int m = d; m < p; ++m) {
    for (int j = 0; j < d; ++j) w[j] = firstDerivative(ml, mu[j]) / (mu[j] - mu[m]);
    weightedOuter(p, d, y, w.data(), a1.data());
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
