// The numeric path of the eigen-based extractions from plain matrices, no
// host: principal components and principal factors, Harris component
// analysis, iterated principal factors and alpha factoring (the image
// analysis is checked against independent regressions by the
// image_regressions program). The checks are closed forms. R of a
// one-factor model, r_ij = l_i l_j with unit diagonal, has the reduced
// matrix l l' (rank one) when the communalities are l_i^2: its only
// nonzero eigenvalue is sum l_i^2 with the loadings l.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "kernels/eigen.hpp"
#include "kernels/linalg.hpp"
#include "kernels/packed.hpp"
#include "kernels/sweep.hpp"
#include "zulfact/extract/iterated.hpp"
#include "zulfact/extract/principal.hpp"
#include "zulfact/extract/priors.hpp"
#include "fit_fixtures.hpp"

namespace zulfact {
namespace {

using kernels::packedIndex;
using kernels::packedSize;

const std::vector<double> kLoadings = {0.8, 0.7, 0.6, 0.5};

// Packed R of the one-factor model with loadings l.
std::vector<double> oneFactorR(const std::vector<double>& l) {
  const int p = static_cast<int>(l.size());
  std::vector<double> r(packedSize(p));
  for (int i = 0; i < p; ++i)
    for (int j = 0; j <= i; ++j) r[packedIndex(i, j)] = i == j ? 1.0 : l[i] * l[j];
  return r;
}

struct Solution {
  std::vector<double> eigenvalues, loadings;
};

// The one pass of PRINCIPAL and HARRIS after the priors: the reduced
// matrix weighted (when weights are given), all eigenvalues, k vectors,
// the loadings.
Solution principalPass(int p, int k, std::vector<double> reduced, const double* weights) {
  const std::vector<double> given = reduced;
  const PrincipalEigen eigen = principalEigenvalues(p, reduced.data(), weights);
  EXPECT_EQ(eigen.code, 0);
  EXPECT_EQ(reduced, given);  // the input stays as it was
  const PrincipalLoadings loadings = principalLoadings(eigen, k, weights);
  EXPECT_EQ(loadings.code, 0);
  return {eigen.eigenvalues, loadings.loadings};
}

// A column's sign is the eigen solver's choice.
void expectColumn(const std::vector<double>& expected, const double* column, double tol) {
  const double sign = column[0] < 0 ? -1.0 : 1.0;
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_NEAR(sign * column[i], expected[i], tol) << i;
}

// Two variables, PRIORS=ONE: the eigenvalues of [[1, r], [r, 1]] are
// 1 + r and 1 - r, the first component loads sqrt((1 + r) / 2) on both.
// All components together reproduce R.
TEST(PrincipalComponents, TwoVariablesByHand) {
  const double r = 0.6;
  const Solution s = principalPass(2, 2, {1.0, r, 1.0}, nullptr);
  EXPECT_NEAR(s.eigenvalues[0], 1.0 + r, 1e-14);
  EXPECT_NEAR(s.eigenvalues[1], 1.0 - r, 1e-14);
  expectColumn({std::sqrt(0.8), std::sqrt(0.8)}, s.loadings.data(), 1e-14);
  const double* a = s.loadings.data();
  EXPECT_NEAR(a[0] * a[1] + a[2] * a[3], r, 1e-14);
  EXPECT_NEAR(a[0] * a[0] + a[2] * a[2], 1.0, 1e-14);
}

// Principal factors with the true communalities on the diagonal: one
// eigenvalue sum l^2, the rest 0, and the loadings are l.
TEST(PrincipalFactors, ExactCommunalitiesGiveTheModel) {
  const int p = 4;
  std::vector<double> reduced = oneFactorR(kLoadings);
  double sum = 0.0;
  for (int i = 0; i < p; ++i) {
    reduced[packedIndex(i, i)] = kLoadings[i] * kLoadings[i];
    sum += kLoadings[i] * kLoadings[i];
  }
  const Solution s = principalPass(p, 1, reduced, nullptr);
  EXPECT_NEAR(s.eigenvalues[0], sum, 1e-13);
  for (int j = 1; j < p; ++j) EXPECT_NEAR(s.eigenvalues[j], 0.0, 1e-13);
  expectColumn(kLoadings, s.loadings.data(), 1e-13);
}

// A covariance analysis of variables in very different units: variances
// 1e12, 1, 4, 9 on R with r = .5 but r14 = .2, r23 = .7. Eigenvalues and
// the second factor by numpy (LAPACK dsyevd). In the order the variables come in, the
// reduction from the last row kept the small eigenvalues to 1e-4 only;
// solved with the variances ascending they hold to 1e-12, and the
// loadings come back in the variables' order. The first factor is the
// first variable, and loads the others by their correlations with it.
TEST(PrincipalComponents, VariancesOfVeryDifferentSizeKeepTheSmallEigenvalues) {
  const int p = 4;
  std::vector<double> r(packedSize(p), 0.5);
  for (int i = 0; i < p; ++i) r[packedIndex(i, i)] = 1.0;
  r[packedIndex(3, 0)] = 0.2;
  r[packedIndex(2, 1)] = 0.7;
  const double variances[p] = {1e12, 1.0, 4.0, 9.0};
  const Solution s = principalPass(p, 2, r, variances);
  const double lambda[p] = {1.0000000000016100e12, 9.7529968820203337, 2.2224537416310364,
                            0.41454937633783046};
  for (int j = 0; j < p; ++j) EXPECT_NEAR(s.eigenvalues[j], lambda[j], 1e-12 * lambda[j]) << j;
  // Exact (power iteration in rational arithmetic): .500000000001995,
  // .500000000002445, .200000000002728. The vector's small components
  // carry an absolute error of rounding, 1e-16 of the first: 1e-10 here.
  expectColumn({1.0, 0.500000000001995, 0.500000000002445, 0.200000000002728},
               s.loadings.data(), 1e-10);
  const double* second = s.loadings.data() + p;
  const double sign = second[3] < 0 ? -1.0 : 1.0;  // second[0] is 0 within rounding
  const double expected[p] = {0.0, 0.49350184411211806, 0.54543120475932927, 0.96144983201690437};
  for (int i = 0; i < p; ++i) EXPECT_NEAR(sign * second[i], expected[i], 1e-11) << i;
}

// Harris (1962): weights 1/u_i^2 on the reduced matrix. For the one-factor
// model U^-1 l l' U^-1 has the one eigenvalue sum l_i^2 / (1 - l_i^2), and
// the unweighted loadings are l again. The weights come from the priors'
// own rule (methodWeights, 1/max(1 - h2, 0.001)).
TEST(HarrisComponents, EigenvalueIsTheSumOfSignalToNoiseRatios) {
  const int p = 4;
  std::vector<double> reduced = oneFactorR(kLoadings);
  std::vector<double> h2(p), weights(p), sd(p, 1.0);
  double ratios = 0.0;
  for (int i = 0; i < p; ++i) {
    h2[i] = kLoadings[i] * kLoadings[i];
    reduced[packedIndex(i, i)] = h2[i];
    ratios += h2[i] / (1.0 - h2[i]);
  }
  methodWeights(p, kMethodHarris, false, sd.data(), h2.data(), weights.data());
  const Solution s = principalPass(p, 1, reduced, weights.data());
  EXPECT_NEAR(s.eigenvalues[0], ratios, 1e-12);
  expectColumn(kLoadings, s.loadings.data(), 1e-12);
}

// PRINIT and ALPHA from the squared multiple correlations, pass after
// pass as the extraction runs them: both reach the model's communalities
// l_i^2, where the fit is exact, and report convergence with one history
// row per pass; the loadings are then l (up to sign).
IteratedResult iterate(bool alpha, const std::vector<double>& r, int p, int k) {
  std::vector<double> work(10 * p), h(p), w(p, 1.0), matrix(packedSize(p));
  std::vector<double> a = r;
  EXPECT_EQ(kernels::sweepInvert(p, a.data(), work.data(), 0, nullptr, 1e-8), 0);
  for (int i = 0; i < p; ++i) h[i] = 1.0 - 1.0 / a[packedIndex(i, i)];
  passMatrix(p, alpha, r.data(), h.data(), w.data(), matrix.data(), work.data());
  const IteratedInputs in{.p = p, .alpha = alpha, .saved = r.data(), .priors = h.data(),
                          .weights = w.data(), .maxIter = 5000, .convergence = 1e-12};
  return iteratedPasses(in, principalEigenvalues(p, matrix.data(), nullptr), k);
}

IteratedResult iterate(bool alpha) {
  return iterate(alpha, oneFactorR(kLoadings), static_cast<int>(kLoadings.size()), 1);
}

TEST(IteratedFactors, PrinitAndAlphaReachTheExactCommunalities) {
  for (const bool alpha : {false, true}) {
    const IteratedResult result = iterate(alpha);
    EXPECT_TRUE(result.converged);
    EXPECT_FALSE(result.heywoodEnded);
    ASSERT_FALSE(result.passes.empty());
    EXPECT_TRUE(result.passes.back().hasRow);
    EXPECT_LT(result.passes.back().change, 1e-12);
    for (size_t i = 0; i < kLoadings.size(); ++i) {
      const double l2 = kLoadings[i] * kLoadings[i];
      EXPECT_NEAR(result.communalities[i], l2, 1e-9) << (alpha ? "ALPHA " : "PRINIT ") << i;
      EXPECT_EQ(result.priors[i], result.communalities[i]);
      if (!alpha) {
        EXPECT_NEAR(std::fabs(result.loadings[i]), kLoadings[i], 1e-8) << i;
      }
    }
  }
}

// Four factors of Harman's 24 tests, where no model fits exactly: the
// communalities at convergence are R 4.2 psych 2.2.9 fa(Harman74.cor$cov,
// 4, fm = "pa" or "alpha", rotate = "none", min.err = 1e-14), the same
// fixed points from the same squared multiple correlations.
TEST(IteratedFactors, PrinitAndAlphaOfTheTwentyFourTests) {
  const testing::CorrelationData d = testing::readHarman74();
  ASSERT_EQ(d.p, 24);
  const std::vector<double> prinit = {
      0.5501780154, 0.2298443759, 0.3384703734, 0.3497957884, 0.6387769313, 0.6760873111,
      0.7285028733, 0.5129679766, 0.7438938858, 0.7431733547, 0.4698609850, 0.5517161644,
      0.5107176905, 0.3639992651, 0.3074661301, 0.4511945350, 0.4143756462, 0.4146664157,
      0.2347191770, 0.4168702839, 0.4221551246, 0.3995042673, 0.5119445443, 0.4878143640};
  const std::vector<double> alpha = {
      0.5375203177, 0.2368345529, 0.3411081566, 0.3323775708, 0.6234374784, 0.6629754670,
      0.7398777110, 0.5103466193, 0.7437682935, 0.7435807489, 0.4855264013, 0.5181031394,
      0.5106048192, 0.3659757845, 0.3027528685, 0.4465873754, 0.4320736445, 0.4342967074,
      0.2306759473, 0.4192301915, 0.4329084012, 0.4016498049, 0.5213824658, 0.4870239468};
  for (const bool isAlpha : {false, true}) {
    const IteratedResult result = iterate(isAlpha, d.packed, d.p, 4);
    EXPECT_TRUE(result.converged);
    const std::vector<double>& want = isAlpha ? alpha : prinit;
    for (int i = 0; i < d.p; ++i)
      EXPECT_NEAR(result.communalities[i], want[i], 1e-9) << (isAlpha ? "ALPHA " : "PRINIT ") << i;
  }
}

// One ALPHA pass at the solution, by hand: H^-1/2 l l' H^-1/2 = 1 1' has
// the eigenvalue p, and the weights become 1/h.
TEST(IteratedFactors, AlphaPassMatrixAtTheSolution) {
  const int p = 4;
  std::vector<double> h(p), w(p), matrix(packedSize(p)), work(p);
  for (int i = 0; i < p; ++i) h[i] = kLoadings[i] * kLoadings[i];
  const std::vector<double> r = oneFactorR(kLoadings);
  passMatrix(p, true, r.data(), h.data(), w.data(), matrix.data(), work.data());
  for (int i = 0; i < p; ++i) {
    EXPECT_DOUBLE_EQ(w[i], 1.0 / h[i]);
    for (int j = 0; j <= i; ++j) EXPECT_NEAR(matrix[packedIndex(i, j)], 1.0, 1e-15);
  }
  // PRINIT with weights 2: the diagonal is h w, the rest as saved.
  std::fill(w.begin(), w.end(), 2.0);
  passMatrix(p, false, r.data(), h.data(), w.data(), matrix.data(), work.data());
  EXPECT_DOUBLE_EQ(matrix[packedIndex(2, 2)], 2.0 * h[2]);
  EXPECT_DOUBLE_EQ(matrix[packedIndex(2, 1)], r[packedIndex(2, 1)]);
}

// The partial correlations controlling for all other variables against the
// closed form for three variables: r12.3 = (r12 - r13 r23) /
// sqrt((1 - r13^2)(1 - r23^2)).
TEST(PartialCorrelations, ThreeVariablesByTheClosedForm) {
  const double r12 = 0.5, r13 = 0.4, r23 = 0.3;
  std::vector<double> a = {1, r12, 1, r13, r23, 1}, work(3);
  ASSERT_EQ(kernels::sweepInvert(3, a.data(), work.data(), 0, nullptr, 1e-8), 0);
  partialCorrelations(3, a.data());
  auto partial = [](double xy, double xz, double yz) {
    return (xy - xz * yz) / std::sqrt((1 - xz * xz) * (1 - yz * yz));
  };
  EXPECT_NEAR(a[packedIndex(1, 0)], partial(r12, r13, r23), 1e-14);
  EXPECT_NEAR(a[packedIndex(2, 0)], partial(r13, r12, r23), 1e-14);
  EXPECT_NEAR(a[packedIndex(2, 1)], partial(r23, r12, r13), 1e-14);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(a[packedIndex(i, i)], 1.0);
}

}  // namespace
}  // namespace zulfact
