#include "qkxfac/column_alignment.hpp"

#include <cmath>
#include <cstddef>

#include "kernels/packed.hpp"

namespace qkxfac {

namespace {

// Element (i, j) of a matrix with `rows` rows, column by column.
size_t at(int i, int j, int rows) { return static_cast<size_t>(i) + static_cast<size_t>(j) * rows; }

double columnDot(const double* a, int ja, const double* b, int jb, int p) {
  double s = 0.0;
  for (int i = 0; i < p; ++i) s += a[at(i, ja, p)] * b[at(i, jb, p)];
  return s;
}

}  // namespace

ColumnMatch matchColumns(const double* reference, const double* pattern, int p, int m) {
  std::vector<double> congruence(static_cast<size_t>(m) * m);
  for (int j = 0; j < m; ++j)
    for (int k = 0; k < m; ++k) {
      const double norms = std::sqrt(columnDot(reference, j, reference, j, p) *
                                     columnDot(pattern, k, pattern, k, p));
      congruence[at(j, k, m)] =
          norms > 0.0 ? columnDot(reference, j, pattern, k, p) / norms : 0.0;
    }
  ColumnMatch match{std::vector<int>(m, -1), std::vector<double>(m, 1.0)};
  std::vector<bool> used(m, false);
  for (int pair = 0; pair < m; ++pair) {
    int bestJ = -1, bestK = -1;
    double best = -1.0;
    for (int j = 0; j < m; ++j) {
      if (match.source[j] >= 0) continue;
      for (int k = 0; k < m; ++k) {
        const double c = std::fabs(congruence[at(j, k, m)]);
        if (!used[k] && c > best) best = c, bestJ = j, bestK = k;
      }
    }
    match.source[bestJ] = bestK;
    match.sign[bestJ] = congruence[at(bestJ, bestK, m)] < 0.0 ? -1.0 : 1.0;
    used[bestK] = true;
  }
  return match;
}

void applyMatch(const ColumnMatch& match, int p, int m, std::vector<double>& pattern,
                std::vector<double>& transform, std::vector<double>& packedPhi) {
  const std::vector<double> l = pattern, t = transform, phi = packedPhi;
  for (int j = 0; j < m; ++j) {
    const int k = match.source[j];
    const double s = match.sign[j];
    for (int i = 0; i < p; ++i) pattern[at(i, j, p)] = s * l[at(i, k, p)];
    for (int i = 0; i < m; ++i) transform[at(i, j, m)] = s * t[at(i, k, m)];
  }
  if (phi.empty()) return;
  for (int i = 0; i < m; ++i)
    for (int j = 0; j <= i; ++j)
      packedPhi[kernels::packedIndex(i, j)] =
          match.sign[i] * match.sign[j] *
          phi[kernels::packedIndex(match.source[i], match.source[j])];
}

}  // namespace qkxfac
