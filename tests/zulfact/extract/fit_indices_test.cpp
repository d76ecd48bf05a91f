// The noncentral chi-square distribution and the fit indices: RMSEA with
// its interval and the test of close fit, CFI, SRMR.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "fit_fixtures.hpp"
#include "kernels/packed.hpp"
#include "zulfact/extract/fit_indices.hpp"

namespace zulfact {
using kernels::packedIndex;

namespace {

using testing::CorrelationData;
using testing::fitFactors;
using testing::readHarman74;

// Reference values by numerical integration of the density
// 1/2 e^-(x+lambda)/2 (x/lambda)^(df/4-1/2) I_(df/2-1)(sqrt(lambda x)) at 30
// digits; for df = 1 also the closed form Phi(sqrt x - sqrt lambda) -
// Phi(-sqrt x - sqrt lambda).
TEST(NoncentralChiSquare, AgainstTheIntegratedDensity) {
  struct Case {
    double x, df, lambda, cdf;
  };
  const Case cases[] = {{10, 5, 3, 0.71723684643114316},      {30, 10, 20, 0.5374020277651605},
                        {226.68, 186, 50, 0.35873318457981607}, {2, 3, 0.5, 0.36337636728827092},
                        {500, 186, 300, 0.64555534546737484},   {1, 1, 4, 0.15730535589982696}};
  for (const Case& c : cases)
    EXPECT_NEAR(noncentralChiSquareCdf(c.x, c.df, c.lambda), c.cdf, 1e-12)
        << c.x << " " << c.df << " " << c.lambda;
  // lambda = 0 is the central distribution; outside the domain: missing.
  EXPECT_NEAR(noncentralChiSquareCdf(3.0, 2.0, 0.0), 1.0 - std::exp(-1.5), 1e-15);
  EXPECT_EQ(noncentralChiSquareCdf(-1.0, 4.0, 2.0), 0.0);
  EXPECT_TRUE(std::isnan(noncentralChiSquareCdf(1.0, 0.0, 2.0)));
  EXPECT_TRUE(std::isnan(noncentralChiSquareCdf(1.0, 3.0, -1.0)));
}

// A large N gives a noncentrality of 1e9 and more: the sum has ~1e6 terms
// and central functions of a ~ 1e9 (it took minutes, and stopped the series
// short). df = 1 has the closed form Phi(sqrt x - sqrt lambda) -
// Phi(-sqrt x - sqrt lambda). At 1e9 the logarithms of the Poisson weight
// and of z^a e^-z / Gamma(a + 1) at the mode (terms of 1e10) keep some 1e-6.
TEST(NoncentralChiSquare, LargeNoncentralityAgainstTheClosedForm) {
  const auto phi = [](double z) { return 0.5 * std::erfc(-z / std::sqrt(2.0)); };
  for (double lambda : {2e6, 2e9}) {
    for (double shift : {-1.5, 0.0, 0.7}) {
      const double x = std::pow(std::sqrt(lambda) + shift, 2.0);
      const double want = phi(std::sqrt(x) - std::sqrt(lambda)) -
                          phi(-std::sqrt(x) - std::sqrt(lambda));
      EXPECT_NEAR(noncentralChiSquareCdf(x, 1.0, lambda), want, lambda < 1e7 ? 1e-9 : 2e-6)
          << lambda << " " << shift;
    }
  }
  // The root of the lower limit: 95% below x when sqrt(x) - sqrt(lambda)
  // is the normal 95% point.
  const double x = std::pow(std::sqrt(2e9) + 1.6448536269514722, 2.0);
  EXPECT_NEAR(noncentralityFor(x, 1.0, 0.95), 2e9, 100.0);
}

TEST(NoncentralChiSquare, NoncentralityRootsAndTheirFloor) {
  const double lambda = noncentralityFor(226.68, 186, 0.05);
  EXPECT_NEAR(lambda, 82.8558297396639, 1e-7);
  EXPECT_NEAR(noncentralChiSquareCdf(226.68, 186, lambda), 0.05, 1e-10);
  // A chi-square below its degrees of freedom: even lambda = 0 leaves less
  // than 95% below it, so the lower limit is 0.
  EXPECT_EQ(noncentralityFor(150.0, 186, 0.95), 0.0);
}

// Harman's 24 tests with 4 factors, N = 145: the published chi-square
// 226.68 on 186 df and the printed test of no common factors 1545.8619 on
// 276. By hand: n = 144 - 53/6 - 8/3 = 132.5,
// RMSEA = sqrt(40.68 / (186 * 132.5)), CFI = 1 - 40.68 / 1269.8619; the
// interval and the close-fit probability from the integrated density.
TEST(FitIndices, TwentyFourTestsByHand) {
  FitStatistics s{};
  s.df0 = 276;
  s.chiSq0 = 1545.861863330936;
  s.dfK = 186;
  s.chiSqK = 226.68;
  const FitIndices f = fitIndices(s, 132.5, 0.03);
  EXPECT_NEAR(f.rmsea, 0.0406280577293950, 1e-12);
  EXPECT_NEAR(f.rmseaLower, 0.0164878308840635, 1e-9);
  EXPECT_NEAR(f.rmseaUpper, 0.0579825250326043, 1e-9);
  EXPECT_NEAR(f.probClose, 0.797614678804152, 1e-9);
  EXPECT_NEAR(f.cfi, 0.967965019523231, 1e-12);
  EXPECT_EQ(f.srmr, 0.03);

  // A model within its degrees of freedom: RMSEA 0, CFI 1.
  s.chiSqK = 150.0;
  const FitIndices good = fitIndices(s, 132.5, 0.0);
  EXPECT_EQ(good.rmsea, 0.0);
  EXPECT_EQ(good.rmseaLower, 0.0);
  EXPECT_EQ(good.cfi, 1.0);
  // No degrees of freedom, or no positive multiplier: every index missing.
  s.dfK = 0;
  EXPECT_TRUE(std::isnan(fitIndices(s, 132.5, 0.03).rmsea));
  EXPECT_TRUE(std::isnan(fitIndices(s, 132.5, 0.03).cfi));
  s.dfK = 186;
  EXPECT_TRUE(std::isnan(fitIndices(s, -2.0, 0.03).rmseaUpper));
}

// SRMR through the fit's eigenvectors equals the one computed here from
// the loadings and uniquenesses of the solution, element by element of
// R - L L^T - Psi; its diagonal is 0 at the ML optimum.
TEST(FitIndices, SrmrFromTheResidualMatrix) {
  const CorrelationData d = readHarman74();
  const int p = d.p, k = 4;
  const testing::FitResult fit = fitFactors(FitKind::Ml, d, k);
  double sum = 0.0, diagonal = 0.0;
  for (int i = 0; i < p; ++i)
    for (int j = 0; j <= i; ++j) {
      double r = d.packed[packedIndex(i, j)] - (i == j ? fit.psi[i] : 0.0);
      for (int c = 0; c < k; ++c) r -= fit.loadings[c * p + i] * fit.loadings[c * p + j];
      sum += r * r;
      if (i == j) diagonal = std::max(diagonal, std::fabs(r));
    }
  EXPECT_LT(diagonal, 1e-6);
  const double expected = std::sqrt(sum / (p * (p + 1) / 2.0));
  EXPECT_NEAR(standardizedRmrOf(p, k, d.packed.data(), fit.loadings.data(), fit.psi.data()),
              expected, 1e-14);

  std::vector<double> t = d.packed, block(fitStateDoubles(p));
  double lnDet = 0;
  ASSERT_TRUE(inverseCholeskyFactor(p, t.data(), 1e-8, lnDet));
  FitState fs;
  fitStateInit(fs, FitKind::Ml, p, k, t.data(), nullptr, block.data());
  fitFullDecomposition(fs, fit.psi.data());
  EXPECT_NEAR(fitSrmr(p, k, d.packed.data(), t.data(), fs.values, fs.vectors, fit.psi.data()),
              expected, 1e-12);
  EXPECT_GT(expected, 0.01);
  EXPECT_LT(expected, 0.1);
}

}  // namespace
}  // namespace zulfact
