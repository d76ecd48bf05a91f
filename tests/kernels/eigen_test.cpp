// Symmetric eigen solver: matrices with spectra known in closed form or by
// construction, splits, repeated and clustered eigenvalues, random
// matrices checked by residual, orthogonality and the trace and Frobenius
// identities, the two-call use, the bisection fallback and the result codes.
#include "kernels/eigen.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <numbers>
#include <tuple>
#include <utility>
#include <vector>

#include "kernels/eigen_detail.hpp"
#include "matrix_fixtures.hpp"

namespace kernels {
namespace {

using testing::Dense;

constexpr double kEps = 1.110223024625157e-16;

struct Solution {
  int code = 0;
  std::vector<double> values, vectors, packed, work;
};

// zeigen on a copy of a; sweepLimit >= 0 goes through the test entry.
Solution solve(const Dense& a, int n, int m, int sweepLimit = -1) {
  Solution s{0, std::vector<double>(n),
             std::vector<double>(static_cast<std::size_t>(n) * std::max(m, 1)), testing::pack(a, n),
             std::vector<double>(9 * static_cast<std::size_t>(n))};
  s.code = sweepLimit < 0
               ? zeigen(n, s.packed.data(), s.values.data(), m, s.vectors.data(), s.work.data())
               : detail::zeigenWithSweepLimit(n, s.packed.data(), s.values.data(), m,
                                              s.vectors.data(), s.work.data(), sweepLimit);
  return s;
}

// Descending values whose sum and sum of squares match the trace and the
// squared Frobenius norm of A; residuals within c n eps |A| and V^T V = I
// within max(c n, 4000) eps. c = 100: inverse iteration accepts a vector
// once a start of 1-norm k eps sum(|d| + |e|) has grown to 1, so its
// residual scales with the tridiagonal's absolute sum (up to n |A|); and
// vectors of roots more than 1e-3 of that sum apart are not orthogonalised
// against each other, their products being of order 1000 eps.
void expectDecomposition(const Dense& a, int n, int m, const Solution& s) {
  const double norm = std::max(testing::normInf(a, n), 1e-300), bound = 100.0 * n * kEps * norm;
  double trace = 0.0, frob = 0.0, sum = 0.0, squares = 0.0;
  for (int i = 0; i < n; ++i) {
    trace += a[i * n + i];
    for (int j = 0; j < n; ++j) frob += a[i * n + j] * a[i * n + j];
    sum += s.values[i];
    squares += s.values[i] * s.values[i];
    if (i + 1 < n) {
      EXPECT_GE(s.values[i], s.values[i + 1]) << "n=" << n;
    }
  }
  EXPECT_NEAR(sum, trace, bound) << "n=" << n;
  EXPECT_NEAR(squares, frob, bound * norm) << "n=" << n;
  for (int j = 0; j < m; ++j)
    EXPECT_LE(testing::residual(a, n, s.vectors.data() + j * n, s.values[j]), bound)
        << "n=" << n << " j=" << j;
  EXPECT_LE(testing::orthogonalityError(s.vectors.data(), n, m), std::max(100.0 * n, 4000.0) * kEps)
      << "n=" << n;
}

Dense toeplitz121(int n) {
  Dense a(static_cast<std::size_t>(n) * n, 0.0);
  for (int i = 0; i < n; ++i) {
    a[i * n + i] = 2.0;
    if (i > 0) a[i * n + i - 1] = a[(i - 1) * n + i] = -1.0;
  }
  return a;
}

TEST(linalgZeigen, OrderOneDiagonalAndZeroMatrices) {
  for (double v : {3.5, -2.0}) {
    const Solution s = solve(Dense{v}, 1, 1);
    EXPECT_EQ(s.code, 0);
    EXPECT_EQ(s.values[0], v);
    EXPECT_EQ(s.vectors[0], 1.0);
  }
  // diag(3, -1, 5, 0): every row a split, values sorted descending, each
  // with the positive unit vector of its row; the zero matrix gives zeros
  // and the identity's columns.
  Dense d(16, 0.0);
  d[0] = 3.0;
  d[5] = -1.0;
  d[10] = 5.0;
  for (const auto& [a, values, rows] :
       {std::tuple{d, std::vector{5.0, 3.0, 0.0, -1.0}, std::vector{2, 0, 3, 1}},
        std::tuple{Dense(16, 0.0), std::vector{0.0, 0.0, 0.0, 0.0}, std::vector{0, 1, 2, 3}}}) {
    const Solution s = solve(a, 4, 4);
    EXPECT_EQ(s.code, 0);
    for (int j = 0; j < 4; ++j) {
      EXPECT_EQ(s.values[j], values[j]);
      for (int i = 0; i < 4; ++i) EXPECT_EQ(s.vectors[j * 4 + i], i == rows[j] ? 1.0 : 0.0);
      if (j > 0) {
        EXPECT_EQ(s.work[8 + j], 0.0) << "split before row " << j;
      }
    }
    EXPECT_EQ(s.work[8], 2.0);  // descending marker in e2[0]
  }
}

TEST(linalgZeigen, SignConventionOnSumZeroVectors) {
  // [[0,t],[t,0]]: eigenvalues 1 and -1 with (1,1)/sqrt2 and (1,-1)/sqrt2
  // (in that order for t = 1, swapped for t = -1). The second sums to
  // zero, so its first, dominant, component decides: (0.7071, -0.7071) is
  // kept and (-0.7071, 0.7071) negated, whichever the iteration produced.
  const double r = std::sqrt(0.5);
  for (double t : {1.0, -1.0}) {
    const Solution s = solve(Dense{0.0, t, t, 0.0}, 2, 2);
    ASSERT_EQ(s.code, 0);
    EXPECT_NEAR(s.values[0], 1.0, 4 * kEps);
    EXPECT_NEAR(s.values[1], -1.0, 4 * kEps);
    const int plain = t > 0 ? 0 : 1;
    EXPECT_NEAR(s.vectors[2 * plain], r, 4 * kEps);
    EXPECT_NEAR(s.vectors[2 * plain + 1], r, 4 * kEps);
    EXPECT_NEAR(s.vectors[2 - 2 * plain], r, 4 * kEps);
    EXPECT_NEAR(s.vectors[3 - 2 * plain], -r, 4 * kEps);
  }
}

TEST(linalgZeigen, Toeplitz121KnownSpectrum) {
  // Eigenvalues 2 - 2 cos(k pi / (n + 1)), k = n ... 1.
  for (int n : {1, 2, 3, 4, 10, 57, 120}) {
    const Dense a = toeplitz121(n);
    const Solution s = solve(a, n, n);
    ASSERT_EQ(s.code, 0) << n;
    for (int j = 0; j < n; ++j)
      EXPECT_NEAR(s.values[j], 2.0 - 2.0 * std::cos((n - j) * std::numbers::pi / (n + 1)),
                  32 * n * kEps)
          << n;
    expectDecomposition(a, n, n, s);
  }
}

TEST(linalgZeigen, SplitsRepeatedAndClusteredEigenvalues) {
  // Blocks [[2,1],[1,2]] (3, 1), [5] and [[4,-1],[-1,4]] (5, 3): equal
  // values in different submatrices, 5, 5, 3, 3, 1.
  Dense a(25, 0.0);
  a[0] = a[6] = 2.0, a[1] = a[5] = 1.0, a[12] = 5.0, a[18] = a[24] = 4.0, a[19] = a[23] = -1.0;
  const Solution s = solve(a, 5, 5);
  ASSERT_EQ(s.code, 0);
  const double expected[] = {5.0, 5.0, 3.0, 3.0, 1.0};
  for (int j = 0; j < 5; ++j) EXPECT_NEAR(s.values[j], expected[j], 16 * kEps);
  expectDecomposition(a, 5, 5, s);
  // I + J: 5 once and 1 three times; then exactly repeated and tightly
  // clustered values under random rotations.
  Dense ij(16, 1.0);
  for (int i = 0; i < 4; ++i) ij[5 * i] = 2.0;
  const std::vector<std::vector<double>> spectra = {
      {2.0, 2.0, 2.0, 1.0, 0.5, -1.0},
      {1.0, 1.0 + 1e-15, 1.0 + 2e-15, 1.0 + 3e-15, 5.0, -3.0, 0.0},
      {3.0, 3.0, 1.0, 1.0, 1.0 + 1e-14, -2.0, -2.0, -2.0, 0.25}};
  for (std::size_t c = 0; c <= spectra.size(); ++c) {
    std::vector<double> lambda = c == 0 ? std::vector{5.0, 1.0, 1.0, 1.0} : spectra[c - 1];
    const int n = static_cast<int>(lambda.size());
    const Dense m = c == 0 ? ij : testing::withSpectrum(lambda, 40 + c);
    const Solution t = solve(m, n, n);
    ASSERT_EQ(t.code, 0) << c;
    std::sort(lambda.rbegin(), lambda.rend());
    for (int j = 0; j < n; ++j) EXPECT_NEAR(t.values[j], lambda[j], 64 * n * kEps) << c;
    expectDecomposition(m, n, n, t);
  }
}

TEST(linalgZeigen, RandomSymmetricMatricesUpTo300) {
  for (int n : {1, 2, 3, 4, 5, 8, 13, 21, 34, 64, 100, 150, 300}) {
    const Dense a = testing::randomSymmetric(n, 1000 + n);
    const int m = n <= 150 ? n : 40;
    const Solution s = solve(a, n, m);
    ASSERT_EQ(s.code, 0) << n;
    expectDecomposition(a, n, m, s);
  }
}

TEST(linalgZeigen, MatricesOfExtremeScaleKeepTheirSpectrum) {
  // Covariances of data of 1e-100 are 1e-200: unscaled, QL took every
  // subdiagonal element under sqrt(tiny) = 1.5e-154 for a split and e2
  // underflowed (overflowed at 1e200), so the matrix fell apart into
  // blocks with wrong eigenvalues. Scaled by a power of two, the values are
  // those of the matrix at scale 1 times the scale, the vectors the same.
  const int n = 20;
  const Dense a = testing::randomSymmetric(n, 77);
  const Solution reference = solve(a, n, n);
  for (double scale : {1e-200, 1e-300, 1e200, 1e300}) {
    Dense b = a;
    for (double& x : b) x *= scale;
    const Solution s = solve(b, n, n);
    ASSERT_EQ(s.code, 0) << scale;
    for (int j = 0; j < n; ++j)
      EXPECT_NEAR(s.values[j] / scale, reference.values[j], 1e-12) << scale << " j=" << j;
    for (std::size_t i = 0; i < s.vectors.size(); ++i)
      EXPECT_NEAR(s.vectors[i], reference.vectors[i], 1e-9) << scale << " i=" << i;
    // zeigvec takes the caller's values and finds the scale in work.
    Solution two = solve(b, n, 0);
    two.vectors.assign(s.vectors.size(), 0.0);
    ASSERT_EQ(zeigvec(n, n, two.packed.data(), two.values.data(), two.vectors.data(), two.work.data()), 0);
    EXPECT_EQ(two.vectors, s.vectors) << scale;
  }
}

TEST(linalgZeigen, BisectionFallbackWhenQlFails) {
  // A sweep limit of 0 fails QL at the first eigenvalue needing a sweep;
  // bisection must then give the same spectrum, with code -1.
  for (int n : {2, 3, 30, 90}) {
    const Dense a = testing::randomSymmetric(n, 300 + n);
    const Solution ql = solve(a, n, 0), bi = solve(a, n, n, 0);
    ASSERT_EQ(bi.code, -1) << n;
    for (int j = 0; j < n; ++j)
      EXPECT_NEAR(bi.values[j], ql.values[j], 8 * n * kEps * testing::normInf(a, n));
    expectDecomposition(a, n, n, bi);
  }
  // Two 1-2-1 blocks of order 3 (2 + sqrt2, 2, 2 - sqrt2 each): splits
  // and equal values across submatrices on the bisection path.
  Dense a(36, 0.0);
  const Dense t = toeplitz121(3);
  for (int i = 0; i < 9; ++i) a[(i / 3) * 6 + i % 3] = a[(i / 3 + 3) * 6 + i % 3 + 3] = t[i];
  const Solution s = solve(a, 6, 6, 0);
  ASSERT_EQ(s.code, -1);
  const double expected[] = {2 + std::numbers::sqrt2, 2 + std::numbers::sqrt2, 2.0, 2.0,
                             2 - std::numbers::sqrt2, 2 - std::numbers::sqrt2};
  for (int j = 0; j < 6; ++j) EXPECT_NEAR(s.values[j], expected[j], 64 * kEps);
  expectDecomposition(a, 6, 6, s);
  EXPECT_EQ(solve(Dense{1.0, 0.0, 0.0, 2.0}, 2, 2, 0).code, 0);  // no sweep needed
  // The matrix of ones: n and n - 1 zeros, whose reduction leaves
  // couplings of 1e-32 between diagonals of 1e-16. Unless they split the
  // tridiagonal matrix, one submatrix held a cluster of some twenty equal
  // bisection values whose vectors inverse iteration could not separate
  // (-31).
  for (int n : {16, 20, 40}) {
    const Dense ones(static_cast<std::size_t>(n) * n, 1.0);
    const Solution t = solve(ones, n, n, 0);
    ASSERT_TRUE(eigenUsable(t.code)) << n << " code " << t.code;
    EXPECT_NEAR(t.values[0], n, 64 * n * kEps) << n;
    expectDecomposition(ones, n, n, t);
  }
}

TEST(linalgZeigvec, SplitCallMatchesOneCallBitForBit) {
  for (int n : {1, 7, 60}) {
    const Dense a = testing::randomSymmetric(n, 5 + n);
    const int m = std::min(n, 3);
    const Solution one = solve(a, n, m);
    Solution two = solve(a, n, 0);
    ASSERT_EQ(two.code, 0);
    EXPECT_EQ(two.values, one.values);
    two.vectors.assign(static_cast<std::size_t>(n) * m, 0.0);
    EXPECT_EQ(
        zeigvec(n, m, two.packed.data(), two.values.data(), two.vectors.data(), two.work.data()),
        0);
    EXPECT_EQ(two.vectors, one.vectors) << n;
  }
}

TEST(linalgZeigvec, SlowInverseIterationWarningsAndFailure) {
  // Started from an eigenvalue off by delta, each solve grows the iterate
  // by about 1/delta relative to the start size eps4 = k eps |T|; for the
  // 1-2-1 matrix of order 10 (|T| = 29) its 1-norm settles near 7e-14/delta:
  // 0.07 for 1e-12 (accepted at iteration 4: -10), 7e-4 for 1e-10
  // (iteration 11: -20), 7e-7 for 1e-7 (below 1e-4: failure -30).
  const int n = 10;
  const Dense a = toeplitz121(n);
  const std::pair<double, int> cases[] = {{0.0, 0}, {1e-12, -10}, {1e-10, -20}, {1e-7, -30}};
  for (const auto& [delta, code] : cases) {
    Solution s = solve(a, n, 0);
    s.values[0] += delta;
    std::vector<double> z(2 * n);
    EXPECT_EQ(zeigvec(n, 1, s.packed.data(), s.values.data(), z.data(), s.work.data()), code)
        << delta;
    if (code != -30) {
      EXPECT_LE(testing::residual(a, n, z.data(), s.values[0] - delta), 1e-9);
      // With two vectors zeigvec reports only its cluster step.
      EXPECT_EQ(zeigvec(n, 2, s.packed.data(), s.values.data(), z.data(), s.work.data()), 0);
    }
  }
}

TEST(linalgZeigvec, SmallMatrixExactToRoundingDrawsNoWarning) {
  // On this reduced correlation matrix of order 3 (a BY group of five
  // records under METHOD=PRINIT) QL's eigenvalue takes the whole growth
  // bound: the 1-norm of the iterate settles at 0.76, below 1, though the
  // vector is exact to rounding. It was accepted at iteration 4 with -10.
  const std::vector<double> a = {0.015439742466935589, -0.46373469566905384,
                                 0.15942722760232284,  -0.78156363943561769,
                                 0.053461212621354059, 0.34099856933157996};
  Dense full(9);
  for (int i = 0, k = 0; i < 3; ++i)
    for (int j = 0; j <= i; ++j, ++k) full[i * 3 + j] = full[j * 3 + i] = a[k];
  std::vector<double> packed = a, w(3), z(3), work(27);
  EXPECT_EQ(zeigen(3, packed.data(), w.data(), 1, z.data(), work.data()), 0);
  EXPECT_LE(testing::residual(full, 3, z.data(), w[0]), 1e-15);
}

TEST(linalgEigenCodes, InvalidArgumentsMissingValuesBrokenState) {
  std::vector<double> a = {1.0, 0.5, 2.0}, w(2), z(4), work(18);
  EXPECT_EQ(zeigen(0, a.data(), w.data(), 0, nullptr, work.data()), 99);
  EXPECT_EQ(zeigen(2, a.data(), w.data(), 3, z.data(), work.data()), 99);
  EXPECT_EQ(zeigen(2, a.data(), w.data(), -1, z.data(), work.data()), 99);
  EXPECT_EQ(zeigen(2, a.data(), w.data(), 1, nullptr, work.data()), 99);
  EXPECT_EQ(zeigen(2, a.data(), w.data(), 0, nullptr, nullptr), 99);
  for (double bad :
       {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity()}) {
    std::vector<double> b = {1.0, bad, 2.0};
    EXPECT_EQ(zeigen(2, b.data(), w.data(), 0, nullptr, work.data()), 99);
  }
  std::fill(work.begin(), work.end(), 0.0);  // never prepared by zeigen
  EXPECT_EQ(zeigvec(2, 1, a.data(), w.data(), z.data(), work.data()), 99);
  // The host's missing double among the first m eigenvalues.
  ASSERT_EQ(zeigen(2, a.data(), w.data(), 0, nullptr, work.data()), 0);
  const std::uint64_t bits = 0xFFFFD10000000000ull;
  std::memcpy(&w[1], &bits, sizeof bits);
  EXPECT_EQ(zeigvec(2, 1, a.data(), w.data(), z.data(), work.data()), 0);
  EXPECT_EQ(zeigvec(2, 2, a.data(), w.data(), z.data(), work.data()), 98);
}

TEST(linalgEigenCodes, ClusterFailureOnCorruptedHouseholderRow) {
  // Inverse iteration keeps group vectors apart, so dependent cluster
  // vectors need a Householder row damaged between the two calls (which
  // the caller must not do); the cluster step must then report 97.
  const Dense a = testing::withSpectrum({2.0, 2.0, 1.0, 0.5}, 9);
  Solution s = solve(a, 4, 0);
  ASSERT_EQ(s.code, 0);
  s.packed[testing::tri(3) + 1] = std::numeric_limits<double>::quiet_NaN();
  std::vector<double> z(8);
  EXPECT_EQ(zeigvec(4, 2, s.packed.data(), s.values.data(), z.data(), s.work.data()), 97);
}

}  // namespace
}  // namespace kernels
