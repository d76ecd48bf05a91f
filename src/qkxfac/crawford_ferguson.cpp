#include "qkxfac/crawford_ferguson.hpp"

#include <algorithm>
#include <cmath>

namespace qkxfac {

CfValue cfEvaluate(const CfCoefficients& k, const double* l, int p, int m, double* grad,
                   const CfWork& work) {
  double* r = work.rowSums;
  double* c = work.colSums;
  std::fill(r, r + p, 0.0);
  double quartic = 0.0;
  for (int j = 0; j < m; ++j) {
    const double* lj = l + static_cast<long>(j) * p;
    double cj = 0.0, qj = 0.0;
    for (int i = 0; i < p; ++i) {
      const double sq = lj[i] * lj[i];
      r[i] += sq;
      cj += sq;
      qj += sq * sq;
    }
    c[j] = cj;
    quartic += qj;
  }
  double s = 0.0, rows = 0.0, cols = 0.0;
  for (int j = 0; j < m; ++j) {
    s += c[j];
    cols += c[j] * c[j];
  }
  for (int i = 0; i < p; ++i) rows += r[i] * r[i];

  CfValue out;
  out.value = k.k1 * s * s + k.k2 * rows + k.k3 * cols + k.k4 * quartic;
  out.magnitude = std::fabs(k.k1) * s * s + std::fabs(k.k2) * rows + std::fabs(k.k3) * cols +
                  std::fabs(k.k4) * quartic;
  if (grad == nullptr) return out;

  const double base = k.k1 * s;
  for (int j = 0; j < m; ++j) {
    const double* lj = l + static_cast<long>(j) * p;
    double* gj = grad + static_cast<long>(j) * p;
    const double col = base + k.k3 * c[j];
    for (int i = 0; i < p; ++i)
      gj[i] = 4.0 * lj[i] * (col + k.k2 * r[i] + k.k4 * lj[i] * lj[i]);
  }
  return out;
}

double cfStandardScale(const CfCoefficients& k) {
  if (k.k4 != 0.0) return 4.0 * std::fabs(k.k4);
  const double big = std::max({std::fabs(k.k1), std::fabs(k.k2), std::fabs(k.k3)});
  return big > 0.0 ? 4.0 * big : 4.0;
}

}  // namespace qkxfac
