// Regression scoring coefficients B = R^-1 S from plain matrices, checked
// against formulas that do not invert R the way the program does.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "kernels/linalg.hpp"
#include "zulfact/output/scoring.hpp"

namespace zulfact {
using kernels::packedIndex;
using kernels::sweepInvert;

namespace {

// The packed R = L Phi L' + Psi of a model with unit variances; phi packed,
// identity when empty.
std::vector<double> modelCorrelations(int p, int m, const std::vector<double>& l,
                                      const std::vector<double>& phi) {
  std::vector<double> r(static_cast<size_t>(p) * (p + 1) / 2);
  for (int i = 0; i < p; ++i)
    for (int j = 0; j <= i; ++j) {
      double s = 0.0;
      for (int k = 0; k < m; ++k)
        for (int q = 0; q < m; ++q) {
          const double f = phi.empty() ? (k == q ? 1.0 : 0.0) : phi[packedIndex(k, q)];
          s += l[i + k * p] * f * l[j + q * p];
        }
      r[packedIndex(i, j)] = i == j ? 1.0 : s;
    }
  return r;
}

TEST(Scoring, OneFactorMatchesShermanMorrison) {
  // R = l l' + Psi: R^-1 l = Psi^-1 l / (1 + c) with c = l' Psi^-1 l, and
  // the squared multiple correlation l' R^-1 l = c / (1 + c).
  const int p = 4;
  const std::vector<double> l = {0.8, 0.7, 0.6, 0.5};
  const std::vector<double> r = modelCorrelations(p, 1, l, {});
  double c = 0.0;
  for (double x : l) c += x * x / (1 - x * x);
  const ScoringCoefficients sc = scoringFromCorrelations(p, 1, r.data(), l.data(), 1e-8);
  EXPECT_FALSE(sc.singular);
  for (int i = 0; i < p; ++i)
    EXPECT_NEAR(sc.coefficients[i], l[i] / (1 - l[i] * l[i]) / (1 + c), 1e-13) << i;
  EXPECT_NEAR(sc.squaredMultCorr[0], c / (1 + c), 1e-13);
}

TEST(Scoring, ObliqueStructureSolvesRBEqualsSAndBothSourcesAgree) {
  const int p = 5, m = 2;
  const std::vector<double> l = {0.7, 0.6, 0.5, 0.1, 0.0, 0.0, 0.1, 0.2, 0.6, 0.7};
  const std::vector<double> phi = {1.0, 0.3, 1.0};
  const std::vector<double> r = modelCorrelations(p, m, l, phi);
  std::vector<double> s(static_cast<size_t>(p) * m);  // structure L Phi
  for (int i = 0; i < p; ++i)
    for (int j = 0; j < m; ++j)
      for (int k = 0; k < m; ++k) s[i + j * p] += l[i + k * p] * phi[packedIndex(k, j)];
  const ScoringCoefficients sc = scoringFromCorrelations(p, m, r.data(), s.data(), 1e-8);
  for (int j = 0; j < m; ++j) {
    double d = 0.0;
    for (int i = 0; i < p; ++i) {
      double rb = 0.0;  // (R B)_ij multiplied out
      for (int k = 0; k < p; ++k) rb += r[packedIndex(i, k)] * sc.coefficients[k + j * p];
      EXPECT_NEAR(rb, s[i + j * p], 1e-12) << i << "," << j;
      d += s[i + j * p] * sc.coefficients[i + j * p];
    }
    EXPECT_NEAR(sc.squaredMultCorr[j], d, 1e-14);
    EXPECT_GT(sc.squaredMultCorr[j], 0.0);
    EXPECT_LT(sc.squaredMultCorr[j], 1.0);
  }
  // The inverse the priors step saves gives the same coefficients.
  std::vector<double> inverse = r, work(p);
  ASSERT_EQ(sweepInvert(p, inverse.data(), work.data(), 0, nullptr, 1e-8), 0);
  const ScoringCoefficients fromInverse = scoringFromInverse(p, m, inverse.data(), s.data());
  for (size_t k = 0; k < sc.coefficients.size(); ++k)
    EXPECT_DOUBLE_EQ(fromInverse.coefficients[k], sc.coefficients[k]);
}

TEST(Scoring, ASingularCorrelationMatrixIsReportedAndStaysFinite) {
  // The second variable repeats the first: no inverse, a generalised one.
  const int p = 3;
  const std::vector<double> r = {1.0, 1.0, 1.0, 0.4, 0.4, 1.0};
  const std::vector<double> l = {0.7, 0.7, 0.5};
  const ScoringCoefficients sc = scoringFromCorrelations(p, 1, r.data(), l.data(), 1e-8);
  EXPECT_TRUE(sc.singular);
  for (double b : sc.coefficients) EXPECT_TRUE(std::isfinite(b));
  EXPECT_TRUE(std::isfinite(sc.squaredMultCorr[0]));
}

}  // namespace
}  // namespace zulfact
