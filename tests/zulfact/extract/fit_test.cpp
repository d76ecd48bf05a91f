// The concentrated ULS, ML and GLS fit functions, their derivatives, the
// fit of the 24-test matrix (whose published chi-squares the fit_harman74
// program checks), and the significance statistics.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "fit_fixtures.hpp"
#include "zulfact/extract/fit_tests.hpp"

namespace zulfact {
namespace {

using kernels::choleskyRow;
using kernels::packedIndex;
using kernels::sweepInvert;
using testing::CorrelationData;
using testing::fitFactors;
using testing::readHarman74;

// A 6-variable correlation matrix with two clusters (hand-made, positive
// definite).
CorrelationData sixVariables() {
  const double full[6][6] = {{1, .62, .55, .21, .18, .25}, {.62, 1, .49, .16, .24, .20},
                             {.55, .49, 1, .28, .19, .22}, {.21, .16, .28, 1, .58, .51},
                             {.18, .24, .19, .58, 1, .47}, {.25, .20, .22, .51, .47, 1}};
  CorrelationData d;
  d.p = 6;
  d.nObs = 200;
  for (int i = 0; i < 6; ++i)
    for (int j = 0; j <= i; ++j) d.packed.push_back(full[i][j]);
  return d;
}

// Central differences of the objective against the analytic gradient, at
// a point away from the solution, for every method (and weighted ULS).
void expectGradientMatchesDifferences(FitKind kind, const std::vector<double>& weights) {
  const CorrelationData d = sixVariables();
  const int p = d.p, k = 2;
  std::vector<double> matrix = d.packed;
  double lnDet = 0;
  if (kind != FitKind::Uls) {
    ASSERT_TRUE(inverseCholeskyFactor(p, matrix.data(), 1e-8, lnDet));
  } else {  // the weighted matrix W^1/2 R W^1/2
    for (int i = 0; i < p; ++i)
      for (int j = 0; j <= i; ++j) matrix[packedIndex(i, j)] *= std::sqrt(weights[i] * weights[j]);
  }
  std::vector<double> block(fitStateDoubles(p));
  FitState fs;
  fitStateInit(fs, kind, p, k, matrix.data(), weights.data(), block.data());
  std::vector<double> psi = {0.45, 0.52, 0.61, 0.48, 0.57, 0.66};
  fitObjective(fs, psi.data());
  fitDerivatives(fs);
  const std::vector<double> gradient(fs.gradient, fs.gradient + p);
  for (int i = 0; i < p; ++i) {
    const double step = 1e-6;
    std::vector<double> up = psi, down = psi;
    up[i] += step;
    down[i] -= step;
    const double difference = (fitObjective(fs, up.data()) - fitObjective(fs, down.data())) / (2 * step);
    EXPECT_NEAR(gradient[i], difference, 1e-7 + 1e-6 * std::fabs(difference)) << "variable " << i;
  }
}

TEST(FitDerivatives, GradientIsTheDerivativeOfTheObjective) {
  const std::vector<double> ones(6, 1.0);
  expectGradientMatchesDifferences(FitKind::Ml, ones);
  // GLS: 1/2 sum (1/gamma - 1)^2, whose derivative is the gradient given.
  expectGradientMatchesDifferences(FitKind::Gls, ones);
  expectGradientMatchesDifferences(FitKind::Uls, ones);
  expectGradientMatchesDifferences(FitKind::Uls, {4.0, 0.5, 2.0, 1.0, 9.0, 0.25});
}

// At the ML solution Sigma = Lambda Lambda' + Psi reproduces the diagonal
// of R, the gradient vanishes, and F equals ln|Sigma| + tr(R Sigma^-1) -
// ln|R| - p computed here from the loadings (Lawley and Maxwell 1971).
TEST(MaximumLikelihood, SolutionSatisfiesTheLikelihoodEquations) {
  const CorrelationData d = readHarman74();
  const int p = d.p, k = 4;
  const auto fit = fitFactors(FitKind::Ml, d, k);
  std::vector<double> sigma(d.packed.size());
  for (int i = 0; i < p; ++i) {
    for (int j = 0; j <= i; ++j) {
      double s = i == j ? fit.psi[i] : 0.0;
      for (int f = 0; f < k; ++f) s += fit.loadings[f * p + i] * fit.loadings[f * p + j];
      sigma[packedIndex(i, j)] = s;
    }
    EXPECT_NEAR(sigma[packedIndex(i, i)], 1.0, 1e-7) << i;
  }
  std::vector<double> chol = sigma, inverse = sigma, work(p);
  double lnDetSigma = 0;
  for (int i = 0; i < p; ++i) lnDetSigma += std::log(choleskyRow(i, chol.data(), 0.0));
  sweepInvert(p, inverse.data(), work.data(), 0, nullptr, 1e-12);
  double trace = 0;
  for (int i = 0; i < p; ++i)
    for (int j = 0; j < p; ++j) trace += d.packed[packedIndex(i, j)] * inverse[packedIndex(j, i)];
  EXPECT_NEAR(fit.criterion, lnDetSigma + trace - fit.lnDet - p, 1e-9);

  std::vector<double> matrix = d.packed, block(fitStateDoubles(p));
  double lnDet = 0;
  inverseCholeskyFactor(p, matrix.data(), 1e-8, lnDet);
  FitState fs;
  fitStateInit(fs, FitKind::Ml, p, k, matrix.data(), nullptr, block.data());
  fitObjective(fs, fit.psi.data());
  fitDerivatives(fs);
  for (int i = 0; i < p; ++i) EXPECT_NEAR(fs.gradient[i], 0.0, 1e-6);
}

// At the GLS solution the derivatives of 1/2 tr((I - R^-1 Sigma)^2) with
// respect to Sigma, G = R^-1 (I - Sigma R^-1), vanish on the diagonal (the
// uniquenesses) and against the loadings (G Lambda = 0), computed here in
// full matrices from the loadings (Joreskog and Goldberger 1972).
TEST(GeneralisedLeastSquares, SolutionIsStationaryForTheUnconcentratedCriterion) {
  const CorrelationData d = readHarman74();
  const int p = d.p, k = 4;
  const auto fit = fitFactors(FitKind::Gls, d, k);
  EXPECT_EQ(fit.code, kOptimConverged);
  std::vector<double> inverse = d.packed, work(p);
  sweepInvert(p, inverse.data(), work.data(), 0, nullptr, 1e-12);
  auto full = [p](const std::vector<double>& packed) {
    std::vector<double> m(p * p);
    for (int i = 0; i < p; ++i)
      for (int j = 0; j < p; ++j) m[i * p + j] = packed[packedIndex(i, j)];
    return m;
  };
  const std::vector<double> ri = full(inverse);
  std::vector<double> sigma(p * p);
  for (int i = 0; i < p; ++i)
    for (int j = 0; j < p; ++j) {
      double s = i == j ? fit.psi[i] : 0.0;
      for (int f = 0; f < k; ++f) s += fit.loadings[f * p + i] * fit.loadings[f * p + j];
      sigma[i * p + j] = s;
    }
  auto times = [p](const std::vector<double>& a, const std::vector<double>& b) {
    std::vector<double> c(p * p, 0.0);
    for (int i = 0; i < p; ++i)
      for (int l = 0; l < p; ++l)
        for (int j = 0; j < p; ++j) c[i * p + j] += a[i * p + l] * b[l * p + j];
    return c;
  };
  const std::vector<double> rsr = times(times(ri, sigma), ri);
  std::vector<double> g(p * p);
  for (int e = 0; e < p * p; ++e) g[e] = ri[e] - rsr[e];
  for (int i = 0; i < p; ++i) EXPECT_NEAR(g[i * p + i], 0.0, 1e-6) << i;
  for (int f = 0; f < k; ++f)
    for (int i = 0; i < p; ++i) {
      double s = 0;
      for (int j = 0; j < p; ++j) s += g[i * p + j] * fit.loadings[f * p + j];
      EXPECT_NEAR(s, 0.0, 1e-6) << i << " " << f;
    }
}

// Three variables and one factor fit exactly: the communality of variable
// i is r_ij r_ik / r_jk (Harman 1976, the triad), for every method.
TEST(Fit, ThreeVariablesOneFactorReproduceTheTriads) {
  CorrelationData d;
  d.p = 3;
  d.nObs = 100;
  const double r12 = 0.6, r13 = 0.5, r23 = 0.4;
  d.packed = {1, r12, 1, r13, r23, 1};
  const double h[3] = {r12 * r13 / r23, r12 * r23 / r13, r13 * r23 / r12};
  for (FitKind kind : {FitKind::Uls, FitKind::Ml, FitKind::Gls}) {
    const auto fit = fitFactors(kind, d, 1);
    EXPECT_EQ(fit.code, kOptimConverged);
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(1.0 - fit.psi[i], h[i], 1e-8);
    EXPECT_NEAR(fit.criterion, 0.0, 1e-14);
  }
}

// A one-factor model that fits exactly, r_ij = l_i l_j: ML reaches psi_i =
// 1 - l_i^2 and the loadings l (up to sign), with F = 0, SRMR 0, weights
// 1/psi, and for s = sum l_i^2 / psi_i the eigenvalue gamma - 1 = s of
// Psi^-1/2 R Psi^-1/2 and the canonical correlation s / (1 + s); the last
// history row carries the communalities l_i^2.
TEST(MaximumLikelihood, OneFactorModelInClosedForm) {
  const int p = 4;
  const double l[p] = {0.9, 0.8, 0.7, 0.6};
  std::vector<double> r;
  double s = 0.0;
  for (int i = 0; i < p; ++i) {
    for (int j = 0; j < i; ++j) r.push_back(l[i] * l[j]);
    r.push_back(1.0);
    s += l[i] * l[i] / (1.0 - l[i] * l[i]);
  }
  const std::vector<double> h2 = testing::smc(p, r), w(p, 1.0);
  const LikelihoodInputs in{.kind = FitKind::Ml, .p = p, .r = r.data(), .h2 = h2.data(),
                            .weights = w.data(), .singularity = 1e-8, .convergence = 1e-10,
                            .maxIter = 100};
  std::vector<double> block(likelihoodDoubles(p));
  LikelihoodStart start = likelihoodStart(in, block.data());
  ASSERT_FALSE(start.singular);
  EXPECT_GT(start.eigenvalues[0], 0.0);
  EXPECT_LT(start.eigenvalues[1], 0.0);  // one factor is all the start values show
  const LikelihoodResult fit = likelihoodFit(in, start, 1, block.data());
  ASSERT_EQ(fit.code, kOptimConverged);
  ASSERT_FALSE(fit.heywoodCase);
  const double sign = fit.loadings[0] > 0 ? 1.0 : -1.0;
  for (int i = 0; i < p; ++i) {
    EXPECT_NEAR(fit.psi[i], 1.0 - l[i] * l[i], 1e-8) << i;
    EXPECT_NEAR(sign * fit.loadings[i], l[i], 1e-8) << i;
    EXPECT_NEAR(fit.weights[i], 1.0 / fit.psi[i], 1e-12) << i;
  }
  EXPECT_NEAR(fit.criterion, 0.0, 1e-12);
  EXPECT_NEAR(fit.srmr, 0.0, 1e-8);
  EXPECT_NEAR(fit.eigenvalues[0], s, 1e-6);
  EXPECT_NEAR(fit.canonical[0], s / (1.0 + s), 1e-9);
  EXPECT_EQ(fit.loadings.size(), static_cast<size_t>(p * p));  // stored p x p
  const LikelihoodStep& last = fit.steps.back();
  ASSERT_TRUE(last.hasRow);
  EXPECT_EQ(last.iteration, start.fs.iteration);
  for (int i = 0; i < p; ++i) EXPECT_NEAR(last.estimates[i], l[i] * l[i], 1e-8);
}

// A triad whose exact communality is above 1 (r12 r13 / r23 = 1.4): the
// fit stops at the first negative uniqueness and keeps no solution;
// HEYWOOD holds it on 0 and the fit ends with a solution. (A singular R
// stopping ML: the fit_errors program.)
TEST(Fit, HeywoodCaseAndSingularR) {
  const std::vector<double> r = {1, .8, 1, .7, .4, 1}, h2 = {.5, .5, .5}, w = {1, 1, 1};
  for (FitKind kind : {FitKind::Ml, FitKind::Uls}) {
    LikelihoodInputs in{.kind = kind, .p = 3, .r = r.data(), .h2 = h2.data(), .weights = w.data(),
                        .singularity = 1e-8, .convergence = 1e-8, .maxIter = 200};
    std::vector<double> block(likelihoodDoubles(3));
    LikelihoodStart start = likelihoodStart(in, block.data());
    const LikelihoodResult stopped = likelihoodFit(in, start, 1, block.data());
    EXPECT_TRUE(stopped.heywoodCase);
    EXPECT_TRUE(stopped.loadings.empty());
    in.heywood = true;
    start = likelihoodStart(in, block.data());
    const LikelihoodResult held = likelihoodFit(in, start, 1, block.data());
    EXPECT_FALSE(held.heywoodCase);
    EXPECT_NEAR(held.psi[0], 0.0, 1e-8);
    EXPECT_GE(held.psi[0], 0.0);
  }
}

// ULS minimises the off-diagonal residual sum of squares. For one factor
// the test minimises it directly, each loading in turn at its exact
// conditional minimum l_i = sum_j r_ij l_j / sum_j l_j^2 (j != i).
TEST(UnweightedLeastSquares, MatchesADirectMinimisationOfTheResiduals) {
  const CorrelationData d = sixVariables();
  const int p = d.p;
  std::vector<double> l(p, 0.5);
  for (int sweep = 0; sweep < 20000; ++sweep) {
    for (int i = 0; i < p; ++i) {
      double num = 0, den = 0;
      for (int j = 0; j < p; ++j) {
        if (j == i) continue;
        num += d.packed[packedIndex(i, j)] * l[j];
        den += l[j] * l[j];
      }
      l[i] = num / den;
    }
  }
  const auto fit = fitFactors(FitKind::Uls, d, 1);
  EXPECT_EQ(fit.code, kOptimConverged);
  // The optimiser accepts only decreases of F it can see (1e-3 of them
  // must still change F), which leaves psi about 1e-7 from the minimum.
  for (int i = 0; i < p; ++i) EXPECT_NEAR(1.0 - fit.psi[i], l[i] * l[i], 1e-6) << i;
}

TEST(Optimiser, IterationLimitAndHeywoodBounds) {
  const CorrelationData d = readHarman74();
  // One iteration is not enough from the SMC start.
  EXPECT_EQ(fitFactors(FitKind::Ml, d, 4, 0.0, 1).code, kOptimIterationLimit);
  // Five factors of three variables each: the bounded fit keeps every
  // uniqueness in [0, 1].
  const auto bounded = fitFactors(FitKind::Ml, d, 5, 0.0, 100, true);
  for (double psi : bounded.psi) {
    EXPECT_GE(psi, 0.0);
    EXPECT_LE(psi, 1.0);
  }
}

// A quadratic whose unconstrained minimum (2, -1) lies outside the box
// [0, 1]^2: Newton steps pull back to the bounds and hold there, ending at
// the corner (1, 0) with the gradient pointing out of the box.
TEST(Optimiser, HoldsParametersOnTheBoundWhereDescentLeavesTheBox) {
  struct Quadratic final : OptimProblem {
    double x0 = 0, x1 = 0;
    double objective(const double* x) override {
      x0 = x[0];
      x1 = x[1];
      return (x0 - 2) * (x0 - 2) + (x1 + 1) * (x1 + 1) + 0.5 * (x0 - 2) * (x1 + 1);
    }
    void derivatives(double* g, double* h) override {
      g[0] = 2 * (x0 - 2) + 0.5 * (x1 + 1);
      g[1] = 2 * (x1 + 1) + 0.5 * (x0 - 2);
      h[0] = 2;
      h[1] = 0.5;
      h[2] = 2;
    }
    bool iteration(const double*, double, double) override { return false; }
  } q;
  double x[2] = {0.5, 0.5};
  const double lower[2] = {0, 0}, upper[2] = {1, 1};
  std::vector<double> work(zoptimDoubles(2));
  EXPECT_EQ(zoptim(2, 50, 1e-8, q, x, lower, upper, nullptr, work.data()), kOptimConverged);
  EXPECT_DOUBLE_EQ(x[0], 1.0);
  EXPECT_DOUBLE_EQ(x[1], 0.0);
}

TEST(ChiSquare, UpperTailAgainstClosedForms) {
  // df = 2: exp(-x/2); df = 1: erfc(sqrt(x/2)).
  for (double x : {0.01, 0.5, 2.0, 7.3, 40.0}) {
    EXPECT_NEAR(chiSquareUpperTail(x, 2), std::exp(-x / 2), 1e-15);
    EXPECT_NEAR(chiSquareUpperTail(x, 1), std::erfc(std::sqrt(x / 2)), 1e-14);
  }
  // df = 4: (1 + x/2) exp(-x/2), on both sides of the series/fraction switch.
  for (double x : {1.0, 5.9, 6.1, 30.0})
    EXPECT_NEAR(chiSquareUpperTail(x, 4), (1 + x / 2) * std::exp(-x / 2), 1e-14);
  EXPECT_TRUE(zul_is_missing(chiSquareUpperTail(3.0, 0)));
}

TEST(FitStatistics, NoFactorsAndZeroDegreesOfFreedom) {
  // k = 0: F is -ln|R|, so both chi-squares use the same statistic with
  // Bartlett's multiplier B = N - 1 - (2p + 5)/6.
  const double lnDet = -1.2;
  const FitStatistics none = fitStatistics(5, 0, 101, lnDet, 99.0);
  const double b = 100 - 15.0 / 6;
  EXPECT_DOUBLE_EQ(none.chiSq0, -b * lnDet);
  EXPECT_DOUBLE_EQ(none.discrepancy, 100 * 1.2);
  EXPECT_DOUBLE_EQ(none.dfK, 10);
  // p = 3, k = 1: df 0, so rho_k = rho_0 and Tucker-Lewis is 0 (rho_0 > 1).
  const FitStatistics exact = fitStatistics(3, 1, 50, -0.9, 1e-12);
  EXPECT_EQ(exact.dfK, 0);
  EXPECT_EQ(exact.tuckerLewis, 0.0);
  EXPECT_TRUE(zul_is_missing(exact.probK));
  EXPECT_DOUBLE_EQ(exact.akaike, exact.discrepancy);
}

// Too few observations for the variables and factors: Bartlett's
// multiplier N - 1 - (2p + 5)/6 - 2k/3 is not positive, and every
// statistic built on it (or on N - 1) would be negative or meaningless.
TEST(FitStatistics, MissingWhenTheMultiplierIsNotPositive) {
  struct Case {
    int p, k;
    double n;
  };
  for (const Case c : {Case{6, 2, 3}, Case{6, 0, 3.5}, Case{4, 1, 3.8}, Case{5, 1, 0}}) {
    SCOPED_TRACE(c.n);
    const FitStatistics s = fitStatistics(c.p, c.k, c.n, -0.5, 0.2);
    EXPECT_LE(s.multiplier, 0.0);
    for (double v : {s.chiSq0, s.prob0, s.chiSqK, s.probK, s.discrepancy, s.akaike, s.schwarz,
                     s.tuckerLewis})
      EXPECT_TRUE(zul_is_missing(v));
    EXPECT_EQ(s.df0, c.p * (c.p - 1) / 2.0);
  }
  const FitStatistics ok = fitStatistics(6, 2, 6, -0.5, 0.2);
  EXPECT_DOUBLE_EQ(ok.multiplier, 5 - 17.0 / 6 - 4.0 / 3);
  EXPECT_DOUBLE_EQ(ok.chiSqK, ok.multiplier * 0.2);
}

}  // namespace
}  // namespace zulfact
