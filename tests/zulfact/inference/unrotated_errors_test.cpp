// The unrotated ML standard errors against independent computations: the
// bordered numerical Hessian of the discrepancy function, the delta method
// done numerically, and a Monte Carlo experiment.
#include "zulfact/inference/unrotated_errors.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "kernels/lu.hpp"
#include "kernels/packed.hpp"
#include "zulfact/extract/fit_fixtures.hpp"

namespace zulfact {
namespace {

using testing::CorrelationData;
using testing::FitResult;
using Vector = std::vector<double>;

CorrelationData firstVariables(const CorrelationData& all, int p) {
  CorrelationData d;
  d.p = p;
  d.nObs = all.nObs;
  for (int i = 0; i < p; ++i)
    for (int j = 0; j <= i; ++j) d.packed.push_back(all.packed[kernels::packedIndex(i, j)]);
  return d;
}

// F = ln|Sigma| + tr(S Sigma^-1) at theta = (vec Lambda, psi).
double discrepancy(const Vector& s, const Vector& theta, int p, int m) {
  Vector sigma(static_cast<size_t>(p) * p), inv(sigma.size()), lu(sigma.size());
  for (int i = 0; i < p; ++i)
    for (int j = 0; j < p; ++j) {
      double v = i == j ? theta[p * m + i] : 0.0;
      for (int k = 0; k < m; ++k) v += theta[k * p + i] * theta[k * p + j];
      sigma[j * p + i] = v;
    }
  std::vector<int> piv(p);
  EXPECT_TRUE(kernels::invert(sigma.data(), inv.data(), p, lu.data(), piv.data()));
  double logDet = 0.0;
  for (int i = 0; i < p; ++i) logDet += std::log(std::fabs(lu[i * p + i]));
  double trace = 0.0;
  for (int i = 0; i < p; ++i)
    for (int j = 0; j < p; ++j) trace += s[kernels::packedIndex(std::max(i, j), std::min(i, j))] * inv[j * p + i];
  return logDet + trace;
}

// The off-diagonal elements of Lambda' Psi^-1 Lambda.
Vector identification(const Vector& theta, int p, int m) {
  Vector c;
  for (int a = 0; a < m; ++a)
    for (int b = a + 1; b < m; ++b) {
      double v = 0.0;
      for (int i = 0; i < p; ++i) v += theta[a * p + i] * theta[b * p + i] / theta[p * m + i];
      c.push_back(v);
    }
  return c;
}

// 2 P / d with P the leading block of the inverse of the numerically
// formed bordered Hessian [H C'; C 0].
Vector numericalCovariance(const Vector& s, const Vector& theta, int p, int m, double d) {
  const int q = static_cast<int>(theta.size()), r = m * (m - 1) / 2, n = q + r;
  const double h = 1e-4;
  Vector k(static_cast<size_t>(n) * n, 0.0);
  auto at = [&](Vector x, int u, double du, int v, double dv) {
    x[u] += du;
    x[v] += dv;
    return discrepancy(s, x, p, m);
  };
  for (int u = 0; u < q; ++u)
    for (int v = 0; v <= u; ++v) {
      const double second =
          (at(theta, u, h, v, h) - at(theta, u, h, v, -h) - at(theta, u, -h, v, h) + at(theta, u, -h, v, -h)) /
          (4 * h * h);
      k[v * n + u] = k[u * n + v] = second;
    }
  for (int u = 0; u < q; ++u) {
    Vector plus = theta, minus = theta;
    plus[u] += h;
    minus[u] -= h;
    const Vector cp = identification(plus, p, m), cm = identification(minus, p, m);
    for (int c = 0; c < r; ++c) k[(q + c) * n + u] = k[u * n + q + c] = (cp[c] - cm[c]) / (2 * h);
  }
  Vector inv(k.size()), lu(k.size());
  std::vector<int> piv(n);
  EXPECT_TRUE(kernels::invert(k.data(), inv.data(), n, lu.data(), piv.data()));
  Vector cov(static_cast<size_t>(q) * q);
  for (int j = 0; j < q; ++j)
    for (int i = 0; i < q; ++i) cov[j * q + i] = 2.0 * inv[j * n + i] / d;
  return cov;
}

UnrotatedErrorsInput errorsInput(const Vector& corr, const Vector& loadings, int p, int m, double divisor,
                                 bool correlationStructure = true) {
  UnrotatedErrorsInput in;
  in.corr = corr.data();
  in.loadings = loadings.data();
  in.p = p;
  in.m = m;
  in.divisor = divisor;
  in.correlationStructure = correlationStructure;
  return in;
}

struct Problem {
  CorrelationData data;
  FitResult fit;
  int p, m;
  double divisor;
};

// The first nine of Harman's 24 tests with two factors: the model does
// not fit exactly, so the observed information differs from the expected.
Problem harmanNine(int m = 2) {
  Problem pr;
  pr.data = firstVariables(testing::readHarman74(), 9);
  pr.p = 9;
  pr.m = m;
  pr.fit = testing::fitFactors(FitKind::Ml, pr.data, pr.m);
  pr.divisor = pr.data.nObs - 1;
  return pr;
}

// The covariance matrix D R D and its solution D Lambda, D^2 Psi.
struct Scaled {
  Vector s, theta;
};

Scaled scaledProblem(const Problem& pr, const Vector& scale) {
  const int p = pr.p, m = pr.m;
  Scaled out;
  for (int i = 0; i < p; ++i)
    for (int j = 0; j <= i; ++j) out.s.push_back(pr.data.packed[kernels::packedIndex(i, j)] * scale[i] * scale[j]);
  for (int k = 0; k < m; ++k)
    for (int i = 0; i < p; ++i) out.theta.push_back(pr.fit.loadings[k * p + i] * scale[i]);
  for (int i = 0; i < p; ++i) out.theta.push_back(pr.fit.psi[i] * scale[i] * scale[i]);
  return out;
}

// Two factors (one identifying condition) and one (none).
class CovarianceStructure : public ::testing::TestWithParam<int> {};

TEST_P(CovarianceStructure, IsTheInverseBorderedHessian) {
  const Problem pr = harmanNine(GetParam());
  ASSERT_EQ(pr.fit.code, 0);
  const Vector scale = {1.0, 2.0, 0.5, 3.0, 1.5, 0.8, 1.2, 4.0, 0.7};
  const Scaled sc = scaledProblem(pr, scale);
  const UnrotatedErrorsInput in = errorsInput(sc.s, sc.theta, pr.p, pr.m, pr.divisor, false);
  UnrotatedErrorsStatus status;
  const Vector cov = covarianceStructureCov(in, sc.theta.data() + pr.p * pr.m, status);
  ASSERT_EQ(status, UnrotatedErrorsStatus::Ok);
  const Vector expected = numericalCovariance(sc.s, sc.theta, pr.p, pr.m, pr.divisor);
  const int q = pr.p * pr.m + pr.p;
  ASSERT_EQ(cov.size(), expected.size());
  for (int u = 0; u < q; ++u) {
    const double se = std::sqrt(expected[u * q + u]);
    EXPECT_NEAR(std::sqrt(cov[u * q + u]), se, 2e-4 * se) << "parameter " << u;
    for (int v = 0; v < u; ++v)
      EXPECT_NEAR(cov[v * q + u], expected[v * q + u], 2e-4 * se * std::sqrt(expected[v * q + v]));
  }
}

INSTANTIATE_TEST_SUITE_P(UnrotatedErrors, CovarianceStructure, ::testing::Values(2, 1));

TEST(UnrotatedErrors, CorrelationStructureIsTheDeltaMethodOfTheCovarianceModel) {
  const Problem pr = harmanNine();
  const int p = pr.p, m = pr.m, pm = p * m, q = pm + p;
  const Vector scale = {1.0, 2.0, 0.5, 3.0, 1.5, 0.8, 1.2, 4.0, 0.7};
  const Scaled sc = scaledProblem(pr, scale);
  const UnrotatedErrorsInput cin = errorsInput(sc.s, sc.theta, p, m, pr.divisor);
  UnrotatedErrorsStatus status;
  const Vector covTheta = covarianceStructureCov(cin, sc.theta.data() + pm, status);
  ASSERT_EQ(status, UnrotatedErrorsStatus::Ok);
  // Standardise by the model-implied variances; Jacobian by differences.
  auto standardised = [&](const Vector& t) {
    Vector out(static_cast<size_t>(pm));
    for (int i = 0; i < p; ++i) {
      double sigma = t[pm + i];
      for (int k = 0; k < m; ++k) sigma += t[k * p + i] * t[k * p + i];
      for (int k = 0; k < m; ++k) out[k * p + i] = t[k * p + i] / std::sqrt(sigma);
    }
    return out;
  };
  Vector jac(static_cast<size_t>(pm) * q);
  for (int u = 0; u < q; ++u) {
    Vector plus = sc.theta, minus = sc.theta;
    const double h = 1e-6 * std::max(1.0, std::fabs(sc.theta[u]));
    plus[u] += h;
    minus[u] -= h;
    const Vector gp = standardised(plus), gm = standardised(minus);
    for (int a = 0; a < pm; ++a) jac[u * pm + a] = (gp[a] - gm[a]) / (2 * h);
  }
  UnrotatedErrorsInput in = errorsInput(pr.data.packed, pr.fit.loadings, p, m, pr.divisor);
  in.fittedUniquenesses = pr.fit.psi.data();
  const UnrotatedErrors got = unrotatedStdErrors(in);
  ASSERT_EQ(got.status, UnrotatedErrorsStatus::Ok);
  for (int a = 0; a < pm; ++a)
    for (int b = 0; b <= a; ++b) {
      double v = 0.0;
      for (int u = 0; u < q; ++u)
        for (int w = 0; w < q; ++w) v += jac[u * pm + a] * covTheta[w * q + u] * jac[w * pm + b];
      const double sa = got.stdErrors[a], sb = got.stdErrors[b];
      EXPECT_NEAR(got.covariance[b * pm + a], v, 1e-5 * sa * sb + 1e-14) << a << "," << b;
    }
  // The correlation structure gives other (here smaller) errors than the
  // same matrix taken as a covariance matrix.
  in.correlationStructure = false;
  const UnrotatedErrors asCov = unrotatedStdErrors(in);
  double ratio = 0.0;
  for (int a = 0; a < pm; ++a) ratio += got.stdErrors[a] / asCov.stdErrors[a] / pm;
  EXPECT_LT(ratio, 0.95);
}

// A 2-factor population with Lambda' Psi^-1 Lambda diagonal (the ML
// identification) and well separated factors.
struct Population {
  int p = 6, m = 2;
  Vector lambda, psi;
};

Population population() {
  Population pop;
  const Vector start = {0.8, 0.7, 0.6, 0.2, 0.1, 0.0, 0.1, 0.2, 0.0, 0.7, 0.6, 0.5};
  for (int i = 0; i < pop.p; ++i) pop.psi.push_back(1.0 - start[i] * start[i] - start[6 + i] * start[6 + i]);
  double a = 0, b = 0, c = 0;  // K = Lambda' Psi^-1 Lambda = [a b; b c]
  for (int i = 0; i < pop.p; ++i) {
    a += start[i] * start[i] / pop.psi[i];
    b += start[i] * start[6 + i] / pop.psi[i];
    c += start[6 + i] * start[6 + i] / pop.psi[i];
  }
  const double angle = 0.5 * std::atan2(2 * b, a - c), cs = std::cos(angle), sn = std::sin(angle);
  pop.lambda.resize(12);
  for (int i = 0; i < pop.p; ++i) {
    pop.lambda[i] = cs * start[i] + sn * start[6 + i];
    pop.lambda[6 + i] = -sn * start[i] + cs * start[6 + i];
  }
  for (int k = 0; k < 2; ++k) {
    double sum = 0;
    for (int i = 0; i < pop.p; ++i) sum += pop.lambda[k * 6 + i];
    if (sum < 0)
      for (int i = 0; i < pop.p; ++i) pop.lambda[k * 6 + i] = -pop.lambda[k * 6 + i];
  }
  return pop;
}

CorrelationData sampleCorrelations(const Population& pop, int n, std::mt19937_64& rng) {
  std::normal_distribution<double> z;
  const int p = pop.p;
  Vector sum(p, 0.0), cross(static_cast<size_t>(p) * (p + 1) / 2, 0.0), x(p);
  for (int r = 0; r < n; ++r) {
    const double f1 = z(rng), f2 = z(rng);
    for (int i = 0; i < p; ++i) x[i] = pop.lambda[i] * f1 + pop.lambda[6 + i] * f2 + std::sqrt(pop.psi[i]) * z(rng);
    for (int i = 0; i < p; ++i) {
      sum[i] += x[i];
      for (int j = 0; j <= i; ++j) cross[kernels::packedIndex(i, j)] += x[i] * x[j];
    }
  }
  CorrelationData d;
  d.p = p;
  d.nObs = n;
  Vector sd(p);
  for (int i = 0; i < p; ++i) sd[i] = std::sqrt(cross[kernels::packedIndex(i, i)] - sum[i] * sum[i] / n);
  for (int i = 0; i < p; ++i)
    for (int j = 0; j <= i; ++j)
      d.packed.push_back((cross[kernels::packedIndex(i, j)] - sum[i] * sum[j] / n) / (sd[i] * sd[j]));
  return d;
}

// N = 1000: at N = 300 the rotation that the identification picks is
// still loosely determined for this population, and the empirical spread
// exceeds the asymptotic errors by some 20 per cent (at N = 5000 by 2).
TEST(UnrotatedErrors, MonteCarloSpreadMatchesTheReportedErrors) {
  const Population pop = population();
  const int n = 1000, reps = 400, pm = 12;
  std::mt19937_64 rng(20261207);
  Vector sum(pm, 0.0), sumSq(pm, 0.0);
  int used = 0;
  for (int r = 0; r < reps; ++r) {
    const CorrelationData d = sampleCorrelations(pop, n, rng);
    const FitResult fit = testing::fitFactors(FitKind::Ml, d, 2);
    if (fit.code < 0) continue;
    for (int k = 0; k < 2; ++k) {
      double dotp = 0;
      for (int i = 0; i < 6; ++i) dotp += fit.loadings[k * 6 + i] * pop.lambda[k * 6 + i];
      for (int i = 0; i < 6; ++i) {
        const double v = dotp < 0 ? -fit.loadings[k * 6 + i] : fit.loadings[k * 6 + i];
        sum[k * 6 + i] += v;
        sumSq[k * 6 + i] += v * v;
      }
    }
    ++used;
  }
  ASSERT_GT(used, reps * 9 / 10);
  Vector sigma;
  for (int i = 0; i < 6; ++i)
    for (int j = 0; j <= i; ++j) {
      double v = i == j ? pop.psi[i] : 0.0;
      for (int k = 0; k < 2; ++k) v += pop.lambda[k * 6 + i] * pop.lambda[k * 6 + j];
      sigma.push_back(v);
    }
  const UnrotatedErrors se = unrotatedStdErrors(errorsInput(sigma, pop.lambda, 6, 2, n - 1));
  ASSERT_EQ(se.status, UnrotatedErrorsStatus::Ok);
  double meanRatio = 0;
  for (int a = 0; a < pm; ++a) {
    const double mean = sum[a] / used;
    const double sd = std::sqrt((sumSq[a] - used * mean * mean) / (used - 1));
    const double ratio = sd / se.stdErrors[a];
    // The spread of a standard deviation from 400 draws is about 3.5%.
    EXPECT_GT(ratio, 0.82) << "loading " << a;
    EXPECT_LT(ratio, 1.18) << "loading " << a;
    meanRatio += ratio / pm;
  }
  EXPECT_NEAR(meanRatio, 1.0, 0.08);
}

TEST(UnrotatedErrors, HeywoodAndUnidentifiedSolutionsGiveNoErrors) {
  struct Case {
    const char* what;
    Vector lambda;  // 4 x 2
    UnrotatedErrorsStatus status;
    Vector fitted = {};  // the fit's uniquenesses, when given
    Vector sigma = {};   // the matrix fitted, when not Lambda Lambda' + Psi
  };
  // Equal columns of Lambda' Psi^-1 Lambda leave the rotation free: the
  // bordered information matrix is singular.
  const Case cases[] = {
      {"communality 1", {1.0, 0.5, 0.4, 0.3, 0.0, 0.2, 0.3, 0.4}, UnrotatedErrorsStatus::NonPositiveUniqueness},
      {"communality above 1", {0.9, 0.5, 0.4, 0.3, 0.6, 0.2, 0.3, 0.4}, UnrotatedErrorsStatus::NonPositiveUniqueness},
      {"rotation not identified", {0.6, 0.0, 0.6, 0.0, 0.0, 0.6, 0.0, 0.6}, UnrotatedErrorsStatus::Singular},
      // An ML fit of 2 factors to 4 variables: 11 free parameters, 10
      // moments (the old inverse gave errors of exactly 0).
      {"negative degrees of freedom",
       {0.8815704740023691, 0.746988273448826, 0.5423855700086968, 0.3384856491080411,
        -0.13826836035288223, 0.30656672768280996, 0.11000049072827289, -0.33323113182077213},
       UnrotatedErrorsStatus::Singular, {},
       {1.0, 0.6161343042418499, 1.0, 0.4629415908199097, 0.43887810051575676, 1.0,
        0.34447425571586066, 0.1506873401339991, 0.14693387766071794, 1.0}},
      // The fit drove the first uniqueness to 0, its communality is 0.97.
      {"fitted uniqueness 0", {0.98, 0.5, 0.4, 0.3, 0.1, 0.2, 0.3, 0.4}, UnrotatedErrorsStatus::NonPositiveUniqueness,
       {0.0, 0.7, 0.75, 0.75}},
  };
  for (const Case& c : cases) {
    Vector sigma;
    for (int i = 0; i < 4; ++i)
      for (int j = 0; j <= i; ++j) {
        double v = 0.0;
        for (int k = 0; k < 2; ++k) v += c.lambda[k * 4 + i] * c.lambda[k * 4 + j];
        if (i == j) v = 1.0;
        sigma.push_back(v);
      }
    if (!c.sigma.empty()) sigma = c.sigma;
    UnrotatedErrorsInput in = errorsInput(sigma, c.lambda, 4, 2, 99);
    if (!c.fitted.empty()) in.fittedUniquenesses = c.fitted.data();
    const UnrotatedErrors got = unrotatedStdErrors(in);
    EXPECT_EQ(got.status, c.status) << c.what;
    EXPECT_TRUE(got.stdErrors.empty()) << c.what;
    EXPECT_TRUE(got.covariance.empty()) << c.what;
  }
}

}  // namespace
}  // namespace zulfact
