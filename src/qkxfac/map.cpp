#include "qkxfac/map.hpp"

#include <algorithm>
#include <cmath>

#include "qkxfac/symmetric_eigen.hpp"
#include "zul/abi.h"

namespace qkxfac {

namespace {

// A residual variance at or below this share of the variance counts as
// none: sqrt(eps / 2), the threshold of singular pivots.
constexpr double kNoResidual = 1.0536712127723509e-8;

// Index of the smallest non-missing value; the first on ties, 0 when all
// are missing.
int32_t smallest(const std::vector<double>& v) {
  int32_t best = -1;
  for (size_t m = 0; m < v.size(); ++m)
    if (!std::isnan(v[m]) && (best < 0 || v[m] < v[static_cast<size_t>(best)]))
      best = static_cast<int32_t>(m);
  return std::max(best, 0);
}

}  // namespace

int velicerMap(int p, const double* corr, MapResult& out) {
  const double nan = zul_missing();
  out.average2.assign(static_cast<size_t>(std::max(p, 0)), nan);
  out.average4.assign(static_cast<size_t>(std::max(p, 0)), nan);
  out.factors2 = out.factors4 = 0;
  if (p < 1 || !corr) return 0;

  const size_t n = static_cast<size_t>(p);
  std::vector<double> c(n * n), lambda(n), vectors(n * n), variance(n);
  SymmetricEigen eigen(p);
  for (size_t i = 0; i < n; ++i)
    for (size_t j = 0; j <= i; ++j) {
      const double r = corr[i * (i + 1) / 2 + j];
      c[i * n + j] = c[j * n + i] = r;
    }
  std::copy(c.begin(), c.end(), eigen.matrix());
  if (eigen.solve(lambda.data(), vectors.data()) != 0) return 2;
  for (size_t i = 0; i < n; ++i) variance[i] = c[i * n + i];

  for (size_t m = 0; m < n; ++m) {
    if (m > 0) {  // partial out component m - 1
      const size_t k = m - 1;
      const double root = std::sqrt(std::max(0.0, lambda[k]));
      for (size_t i = 0; i < n; ++i) {
        const double ai = vectors[i * n + k] * root;
        for (size_t j = 0; j < n; ++j) c[i * n + j] -= ai * vectors[j * n + k] * root;
      }
    }
    double sum2 = 0.0, sum4 = 0.0;
    int64_t pairs = 0;
    bool missing = false;
    for (size_t i = 0; i < n && !missing; ++i) {
      if (!(variance[i] > 0.0)) continue;
      const double cii = c[i * n + i];
      if (!(cii > kNoResidual * variance[i])) {
        missing = true;
        break;
      }
      for (size_t j = 0; j < i; ++j) {
        if (!(variance[j] > 0.0)) continue;
        const double r = c[i * n + j] / std::sqrt(cii * c[j * n + j]);
        const double r2 = r * r;
        sum2 += r2;
        sum4 += r2 * r2;
        ++pairs;
      }
    }
    if (missing || pairs == 0) continue;
    out.average2[m] = sum2 / static_cast<double>(pairs);
    out.average4[m] = sum4 / static_cast<double>(pairs);
  }
  out.factors2 = smallest(out.average2);
  out.factors4 = smallest(out.average4);
  return 0;
}

}  // namespace qkxfac
