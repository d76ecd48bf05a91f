// Parallel analysis: the Wishart simulation against simulated raw data,
// the reductions against the simulations one by one, and the independence
// of the results from the number of threads.
#include "qkxfac/parallel_analysis.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <random>
#include <vector>

#include "kernels/eigen.hpp"

namespace qkxfac {
namespace {

std::vector<double> identityPacked(int p) {
  std::vector<double> r(static_cast<size_t>(p) * (p + 1) / 2, 0.0);
  for (int i = 0; i < p; ++i) r[static_cast<size_t>(i) * (i + 1) / 2 + i] = 1.0;
  return r;
}

ParallelAnalysisInput input(const std::vector<double>& corr, int p, double n, int sims,
                            uint32_t seed, int threads) {
  ParallelAnalysisInput in;
  in.p = p;
  in.corr = corr.data();
  in.nObs = n;
  in.nSims = sims;
  in.seed = seed;
  in.threads = threads;
  return in;
}

// The eigenvalues of the correlation matrix of n rows of p independent
// normals drawn by the standard library: the definition that the Bartlett
// draw replaces. Without `centred`, the matrix of a NOINT analysis: the
// crossproducts about zero.
std::vector<double> rawDataEigenvalues(int n, int p, std::mt19937_64& gen, bool centred = true) {
  std::normal_distribution<double> normal;
  std::vector<double> x(static_cast<size_t>(n) * p), mean(p, 0.0);
  for (int r = 0; r < n; ++r)
    for (int j = 0; j < p; ++j) mean[j] += (x[r * p + j] = normal(gen)) / n;
  if (!centred) std::fill(mean.begin(), mean.end(), 0.0);
  std::vector<double> matrix(static_cast<size_t>(p) * p), work(kernels::fullEigenWorkSize(p));
  double* a = matrix.data();
  for (int i = 0; i < p; ++i)
    for (int j = 0; j <= i; ++j) {
      double s = 0.0;
      for (int r = 0; r < n; ++r) s += (x[r * p + i] - mean[i]) * (x[r * p + j] - mean[j]);
      a[i * p + j] = a[j * p + i] = s;
    }
  std::vector<double> d(p);
  for (int i = 0; i < p; ++i) d[i] = std::sqrt(a[i * p + i]);
  for (int i = 0; i < p; ++i)
    for (int j = 0; j < p; ++j) a[i * p + j] /= d[i] * d[j];
  std::vector<double> values(p);
  kernels::symmetricEigenFull(p, a, values.data(), 0, nullptr, work.data());
  return values;
}

TEST(ParallelAnalysis, MeanEigenvaluesAgreeWithRawDataSimulationN500P20) {
  const int n = 500, p = 20, rawSims = 400, sims = 2000;
  std::mt19937_64 gen(20260101);
  std::vector<double> sum(p, 0.0), sumSq(p, 0.0);
  for (int s = 0; s < rawSims; ++s) {
    std::vector<double> v = rawDataEigenvalues(n, p, gen);
    for (int j = 0; j < p; ++j) {
      sum[j] += v[j];
      sumSq[j] += v[j] * v[j];
    }
  }
  std::vector<double> corr = identityPacked(p);
  ParallelAnalysisResult out;
  ASSERT_EQ(parallelAnalysis(input(corr, p, n, sims, 7, 2), out), 0);
  for (int j = 0; j < p; ++j) {
    const double mean = sum[j] / rawSims;
    const double var = sumSq[j] / rawSims - mean * mean;
    // Standard error of the difference of the two means; both spreads are
    // about the same, the raw one is estimated here.
    const double se = std::sqrt(var / rawSims + var / sims);
    EXPECT_NEAR(out.mean[j], mean, 4.5 * se) << "component " << j + 1;
  }
  // The spectrum lies near the Marchenko-Pastur support for p/N = 0.04,
  // [(1 - 0.2)^2, (1 + 0.2)^2] = [0.64, 1.44], and the mean eigenvalue of
  // a correlation matrix is exactly 1.
  EXPECT_GT(out.mean[0], 1.3);
  EXPECT_LT(out.mean[0], 1.55);
  EXPECT_GT(out.mean[p - 1], 0.55);
  EXPECT_LT(out.mean[p - 1], 0.72);
  double total = 0.0;
  for (double m : out.mean) total += m;
  EXPECT_NEAR(total, p, 1e-10);
}

// Few rows, where one degree of freedom moves the spectrum far: with 6 rows
// of 4 variables the mean smallest eigenvalue is 0.20 about zero and 0.14
// about the mean (numpy, 20000 draws each).
TEST(ParallelAnalysis, AboutZeroTheSimulationsKeepAllNDegreesOfFreedom) {
  const int n = 6, p = 4, rawSims = 3000, sims = 3000;
  std::mt19937_64 gen(20261209);
  std::vector<double> sum(p, 0.0), sumSq(p, 0.0);
  for (int s = 0; s < rawSims; ++s) {
    std::vector<double> v = rawDataEigenvalues(n, p, gen, false);
    for (int j = 0; j < p; ++j) {
      sum[j] += v[j];
      sumSq[j] += v[j] * v[j];
    }
  }
  std::vector<double> corr = identityPacked(p);
  ParallelAnalysisInput in = input(corr, p, n, sims, 11, 2);
  in.aboutZero = true;
  ParallelAnalysisResult out;
  ASSERT_EQ(parallelAnalysis(in, out), 0);
  for (int j = 0; j < p; ++j) {
    const double mean = sum[j] / rawSims;
    const double se = std::sqrt(2 * (sumSq[j] / rawSims - mean * mean) / rawSims);
    EXPECT_NEAR(out.mean[j], mean, 4.5 * se) << "component " << j + 1;
  }
  EXPECT_NEAR(out.mean[p - 1], 0.20, 0.02);
  in.aboutZero = false;
  ASSERT_EQ(parallelAnalysis(in, out), 0);
  EXPECT_NEAR(out.mean[p - 1], 0.14, 0.02);
}

TEST(ParallelAnalysis, MeanAndCriticalValueAreTheReductionsOfTheSimulations) {
  const int p = 5, sims = 200;
  const double n = 40;
  std::vector<double> corr = identityPacked(p);
  ParallelAnalysisInput in = input(corr, p, n, sims, 99, 1);
  in.level = 0.1;  // k = floor(0.9 * 201) = 180: the 180th smallest
  ParallelAnalysisResult out;
  ASSERT_EQ(parallelAnalysis(in, out), 0);
  std::vector<std::vector<double>> byComponent(p);
  for (int s = 0; s < sims; ++s) {
    double v[p];
    simulatedEigenvalues(p, n - 1, 99, s, v);
    for (int j = 0; j < p; ++j) byComponent[j].push_back(v[j]);
  }
  for (int j = 0; j < p; ++j) {
    double sum = 0.0;
    for (double v : byComponent[j]) sum += v;
    EXPECT_EQ(out.mean[j], sum / sims);
    std::sort(byComponent[j].begin(), byComponent[j].end());
    EXPECT_EQ(out.critical[j], byComponent[j][179]);
  }
  EXPECT_GT(out.critical[0], out.mean[0]);
  // The identity's eigenvalues (all 1) beat no critical value of the first
  // component, which lies above 1.
  EXPECT_EQ(out.factors, 0);
}

TEST(ParallelAnalysis, SameSeedSameBitsForAnyNumberOfThreads) {
  const int p = 12, sims = 301;  // not a multiple of the thread counts
  std::vector<double> corr = identityPacked(p);
  ParallelAnalysisResult one, other;
  ASSERT_EQ(parallelAnalysis(input(corr, p, 150, sims, 4242, 1), one), 0);
  for (int threads : {2, 3, 4, 7}) {
    ParallelAnalysisResult r;
    ASSERT_EQ(parallelAnalysis(input(corr, p, 150, sims, 4242, threads), r), 0);
    EXPECT_EQ(std::memcmp(r.mean.data(), one.mean.data(), p * sizeof(double)), 0) << threads;
    EXPECT_EQ(std::memcmp(r.critical.data(), one.critical.data(), p * sizeof(double)), 0)
        << threads;
    EXPECT_EQ(r.factors, one.factors);
  }
  ASSERT_EQ(parallelAnalysis(input(corr, p, 150, sims, 4243, 2), other), 0);
  int changed = 0;
  for (int j = 0; j < p; ++j) changed += other.critical[j] != one.critical[j];
  EXPECT_EQ(changed, p);
}

TEST(ParallelAnalysis, RetainsTheComponentsOfThreeBlocks) {
  // 3 blocks of 4 variables, 0.6 within and 0 between: eigenvalues
  // 1 + 3(0.6) = 2.8 three times, then 0.4; with N = 500 the simulated
  // critical values are near 1.3, so three are retained.
  const int p = 12;
  std::vector<double> corr(p * (p + 1) / 2);
  for (int i = 0; i < p; ++i)
    for (int j = 0; j <= i; ++j) corr[i * (i + 1) / 2 + j] = i == j ? 1.0 : (i / 4 == j / 4 ? 0.6 : 0.0);
  ParallelAnalysisResult out;
  ASSERT_EQ(parallelAnalysis(input(corr, p, 500, 200, 1, 1), out), 0);
  EXPECT_EQ(out.factors, 3);
  EXPECT_NEAR(out.observed[0], 2.8, 1e-12);
  EXPECT_NEAR(out.observed[2], 2.8, 1e-12);
  EXPECT_NEAR(out.observed[3], 0.4, 1e-12);
}

TEST(ParallelAnalysis, AVariableWithoutVarianceIsLeftOutOfTheRandomData) {
  // R of a, b, c and a constant k (zero row and diagonal): the random data
  // have three variables, so the results of the first three components are
  // those of the 3 x 3 matrix bit for bit, and the fourth are 0. Simulating
  // four variables would raise every critical value (for N = 50 the first
  // from about 1.52 to 1.62).
  const std::vector<double> withConstant = {1, 0.5, 1, 0.2, 0.1, 1, 0, 0, 0, 0};
  const std::vector<double> without = {1, 0.5, 1, 0.2, 0.1, 1};
  ParallelAnalysisResult four, three;
  ASSERT_EQ(parallelAnalysis(input(withConstant, 4, 50, 300, 8, 2), four), 0);
  ASSERT_EQ(parallelAnalysis(input(without, 3, 50, 300, 8, 2), three), 0);
  for (int j = 0; j < 3; ++j) {
    EXPECT_EQ(four.mean[j], three.mean[j]) << j;
    EXPECT_EQ(four.critical[j], three.critical[j]) << j;
  }
  EXPECT_EQ(four.mean[3], 0.0);
  EXPECT_EQ(four.critical[3], 0.0);
  EXPECT_EQ(four.factors, three.factors);
  // No variable with variance: nothing to simulate, nothing retained.
  const std::vector<double> none(10, 0.0);
  ASSERT_EQ(parallelAnalysis(input(none, 4, 50, 300, 8, 2), four), 0);
  EXPECT_EQ(four.factors, 0);
  EXPECT_EQ(four.critical[0], 0.0);
}

TEST(ParallelAnalysis, UnusableInputIsRefused) {
  std::vector<double> corr = identityPacked(3);
  ParallelAnalysisResult out;
  EXPECT_EQ(parallelAnalysis(input(corr, 3, 2, 200, 1, 1), out), 1);    // N below p
  EXPECT_EQ(parallelAnalysis(input(corr, 3, 10, 0, 1, 1), out), 1);    // no simulation
  ParallelAnalysisInput in = input(corr, 3, 10, 200, 1, 1);
  in.level = 0.001;  // k = floor(0.999 * 201) = 200, not below nSims
  EXPECT_EQ(parallelAnalysis(in, out), 1);
  // N = p is the smallest usable N: the last chi-square has no degrees of
  // freedom, the simulated matrices are singular but their eigenvalues exist.
  EXPECT_EQ(parallelAnalysis(input(corr, 3, 3, 200, 1, 1), out), 0);
  for (double v : out.mean) EXPECT_TRUE(std::isfinite(v));
  // 2^31 - 1 simulations of 64 variables would keep 1.1 TB of eigenvalues:
  // refused as memory running out before any is allocated, where a lazy
  // allocation would have let the process be killed later.
  std::vector<double> wide = identityPacked(64);
  EXPECT_THROW(parallelAnalysis(input(wide, 64, 100, 2147483647, 1, 1), out), std::bad_alloc);
}

}  // namespace
}  // namespace qkxfac
