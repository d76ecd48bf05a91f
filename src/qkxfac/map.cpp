#include "qkxfac/map.hpp"

#include <algorithm>
#include <cmath>

#include "kernels/eigen.hpp"
#include "kernels/packed.hpp"
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

// The averages of the squared and fourth-power partial correlations of
// the n x n residual matrix c into out at index m, unless a variable has
// no residual variance left (then they stay missing).
void averagesOf(const std::vector<double>& c, const std::vector<double>& variance, size_t n,
                size_t m, MapResult& out) {
  double sum2 = 0.0, sum4 = 0.0;
  int64_t pairs = 0;
  for (size_t i = 0; i < n; ++i) {
    if (!(variance[i] > 0.0)) continue;
    const double cii = c[i * n + i];
    if (!(cii > kNoResidual * variance[i])) return;
    for (size_t j = 0; j < i; ++j) {
      if (!(variance[j] > 0.0)) continue;
      const double r = c[i * n + j] / std::sqrt(cii * c[j * n + j]);
      const double r2 = r * r;
      sum2 += r2;
      sum4 += r2 * r2;
      ++pairs;
    }
  }
  if (pairs == 0) return;
  out.average2[m] = sum2 / static_cast<double>(pairs);
  out.average4[m] = sum4 / static_cast<double>(pairs);
}

// c += w v v' for the unit vector v of length n.
void addComponent(std::vector<double>& c, const double* v, double w, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    const double wi = w * v[i];
    for (size_t j = 0; j < n; ++j) c[i * n + j] += wi * v[j];
  }
}

}  // namespace

int velicerMap(int p, const double* corr, MapResult& out) {
  const double nan = zul_missing();
  out.average2.assign(static_cast<size_t>(std::max(p, 0)), nan);
  out.average4.assign(static_cast<size_t>(std::max(p, 0)), nan);
  out.factors2 = out.factors4 = 0;
  if (p < 1 || !corr) return 0;

  const size_t n = static_cast<size_t>(p);
  // vectors: vector k at k * n, for the eigenvalue lambda[k] (descending).
  std::vector<double> c(n * n), lambda(n), vectors(n * n), variance(n);
  for (size_t i = 0; i < n; ++i)
    for (size_t j = 0; j <= i; ++j) c[i * n + j] = c[j * n + i] = corr[kernels::packedIndex(i, j)];
  {
    std::vector<double> packed(corr, corr + kernels::packedSize(n)), work(9 * n);
    const int code =
        kernels::zeigen(p, packed.data(), lambda.data(), p, vectors.data(), work.data());
    if (!kernels::eigenUsable(code)) return 2;
  }
  for (size_t i = 0; i < n; ++i) variance[i] = c[i * n + i];
  averagesOf(c, variance, n, 0, out);

  // The residual after partialling out the components k < m (only those
  // with a positive eigenvalue are taken out) is the sum of the others,
  // built here from the last component up: no cancellation against R, so
  // the small residuals of a large m keep their relative accuracy.
  size_t firstNegative = 0;
  while (firstNegative < n && lambda[firstNegative] > 0.0) ++firstNegative;
  std::fill(c.begin(), c.end(), 0.0);
  for (size_t k = n; k-- > firstNegative;) addComponent(c, &vectors[k * n], lambda[k], n);
  for (size_t m = n - 1; m >= 1; --m) {
    if (m < firstNegative) addComponent(c, &vectors[m * n], lambda[m], n);
    averagesOf(c, variance, n, m, out);
  }
  out.factors2 = smallest(out.average2);
  out.factors4 = smallest(out.average4);
  return 0;
}

}  // namespace qkxfac
