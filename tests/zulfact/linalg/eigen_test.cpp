// Symmetric eigen solver: structured matrices with spectra known in closed
// form, splits, repeated and clustered eigenvalues, random matrices checked
// by residual, orthogonality and the trace and Frobenius identities, the
// two-call use, the bisection fallback and every result code.
#include "linalg/eigen.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <numeric>
#include <vector>

#include "linalg/eigen_detail.hpp"
#include "linalg/linalg.hpp"
#include "matrix_fixtures.hpp"

namespace zulfact {
namespace {

using testing::Dense;

constexpr double kEps = 1.110223024625157e-16;

struct Solution {
  int code = 0;
  std::vector<double> values;
  std::vector<double> vectors;
  std::vector<double> packed;  // the overwritten matrix
  std::vector<double> work;
};

Solution solve(const Dense& a, int n, int m, int sweepLimit = -1) {
  Solution s;
  s.packed = testing::pack(a, n);
  s.values.assign(n, 0.0);
  s.vectors.assign(static_cast<std::size_t>(n) * std::max(m, 1), 0.0);
  s.work.assign(static_cast<std::size_t>(9) * n, 0.0);
  s.code = sweepLimit < 0
               ? zeigen(n, s.packed.data(), s.values.data(), m, s.vectors.data(), s.work.data())
               : detail::zeigenWithSweepLimit(n, s.packed.data(), s.values.data(), m,
                                              s.vectors.data(), s.work.data(), sweepLimit);
  return s;
}

// Residuals within c n eps |A|, orthonormal vectors within c n eps,
// descending values, and the sum and sum of squares of the eigenvalues
// equal to the trace and the squared Frobenius norm (computed from A, not
// from the solver). c = 100: inverse iteration accepts a vector once the
// solve has grown a start of 1-norm k eps sum(|d| + |e|) to 1, so its
// residual is bounded by the tridiagonal's absolute sum, up to n times
// |A|; vectors of roots more than 1e-3 of that sum apart are not
// orthogonalised explicitly and meet to about 1000 eps.
void expectDecomposition(const Dense& a, int n, int m, const Solution& s, double c = 100.0) {
  const double norm = std::max(testing::normInf(a, n), 1e-300);
  const double bound = c * n * kEps * norm;
  for (int i = 0; i + 1 < n; ++i) EXPECT_GE(s.values[i], s.values[i + 1]) << "n=" << n << " i=" << i;
  double trace = 0.0;
  double frob = 0.0;
  for (int i = 0; i < n; ++i) {
    trace += a[i * n + i];
    for (int j = 0; j < n; ++j) frob += a[i * n + j] * a[i * n + j];
  }
  double sum = 0.0;
  double squares = 0.0;
  for (double v : s.values) {
    sum += v;
    squares += v * v;
  }
  EXPECT_NEAR(sum, trace, bound * n) << "n=" << n;
  EXPECT_NEAR(squares, frob, bound * n * norm) << "n=" << n;
  for (int j = 0; j < m; ++j)
    EXPECT_LE(testing::residual(a, n, s.vectors.data() + j * n, s.values[j]), bound)
        << "n=" << n << " vector " << j;
  EXPECT_LE(testing::orthogonalityError(s.vectors.data(), n, m), c * n * kEps) << "n=" << n;
}

Dense toeplitz121(int n) {
  Dense a(static_cast<std::size_t>(n) * n, 0.0);
  for (int i = 0; i < n; ++i) {
    a[i * n + i] = 2.0;
    if (i > 0) a[i * n + i - 1] = a[(i - 1) * n + i] = -1.0;
  }
  return a;
}

TEST(linalgZeigen, OrderOneAndDiagonalMatrices) {
  for (double v : {3.5, -2.0, 0.0}) {
    const Solution s = solve(Dense{v}, 1, 1);
    EXPECT_EQ(s.code, 0);
    EXPECT_EQ(s.values[0], v);
    EXPECT_EQ(s.vectors[0], 1.0);
  }
  // diag(3, -1, 5, 0): every row is a split; eigenvalues sorted descending
  // with the unit vector of their own row, positive.
  Dense d(16, 0.0);
  const double diag[] = {3.0, -1.0, 5.0, 0.0};
  for (int i = 0; i < 4; ++i) d[i * 4 + i] = diag[i];
  const Solution s = solve(d, 4, 4);
  EXPECT_EQ(s.code, 0);
  const double values[] = {5.0, 3.0, 0.0, -1.0};
  const int rows[] = {2, 0, 3, 1};
  for (int j = 0; j < 4; ++j) {
    EXPECT_EQ(s.values[j], values[j]);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(s.vectors[j * 4 + i], i == rows[j] ? 1.0 : 0.0);
  }
  for (int i = 1; i < 4; ++i) EXPECT_EQ(s.work[2 * 4 + i], 0.0) << "split " << i;
  EXPECT_EQ(s.work[2 * 4], 2.0);  // descending marker
}

TEST(linalgZeigen, ZeroMatrixGivesUnitVectors) {
  const int n = 5;
  const Solution s = solve(Dense(n * n, 0.0), n, n);
  EXPECT_EQ(s.code, 0);
  for (int j = 0; j < n; ++j) {
    EXPECT_EQ(s.values[j], 0.0);
    EXPECT_FALSE(std::signbit(s.values[j]));
    for (int i = 0; i < n; ++i) EXPECT_EQ(s.vectors[j * n + i], i == j ? 1.0 : 0.0);
  }
}

TEST(linalgZeigen, SignConventionOnSumZeroVectors) {
  // [[0,1],[1,0]]: 1 with (1,1)/sqrt2 and -1 with +-(1,-1)/sqrt2. The
  // second sums to zero, so its first (dominant) component decides:
  // (0.7071, -0.7071) whatever sign the iteration produced.
  // [[0,-1],[-1,0]] swaps the two vectors.
  const double r = std::sqrt(0.5);
  for (double off : {1.0, -1.0}) {
    const Solution s = solve(Dense{0.0, off, off, 0.0}, 2, 2);
    ASSERT_EQ(s.code, 0);
    EXPECT_NEAR(s.values[0], 1.0, 4 * kEps);
    EXPECT_NEAR(s.values[1], -1.0, 4 * kEps);
    const int plain = off > 0 ? 0 : 1;  // the vector (1,1)/sqrt2
    EXPECT_NEAR(s.vectors[plain * 2], r, 4 * kEps);
    EXPECT_NEAR(s.vectors[plain * 2 + 1], r, 4 * kEps);
    EXPECT_NEAR(s.vectors[(1 - plain) * 2], r, 4 * kEps);
    EXPECT_NEAR(s.vectors[(1 - plain) * 2 + 1], -r, 4 * kEps);
  }
  // A clearly non-zero sum decides before the dominant component: the
  // vectors of a rotated diagonal matrix must come out with positive sums.
  const Dense a = testing::withSpectrum({3.0, 1.0, -2.0}, 11);
  const Solution s = solve(a, 3, 3);
  for (int j = 0; j < 3; ++j) {
    const double sum = s.vectors[j * 3] + s.vectors[j * 3 + 1] + s.vectors[j * 3 + 2];
    if (std::fabs(sum) >= 1e-8) {
      EXPECT_GT(sum, 0.0) << j;
    }
  }
}

TEST(linalgZeigen, Toeplitz121KnownSpectrum) {
  // Eigenvalues 2 - 2 cos(k pi / (n + 1)), k = n ... 1 in descending order.
  for (int n : {1, 2, 3, 4, 10, 57, 120}) {
    const Dense a = toeplitz121(n);
    const Solution s = solve(a, n, n);
    ASSERT_EQ(s.code, 0) << n;
    for (int j = 0; j < n; ++j) {
      const double expected = 2.0 - 2.0 * std::cos((n - j) * M_PI / (n + 1));
      EXPECT_NEAR(s.values[j], expected, 8 * n * kEps * 4.0) << n << " " << j;
    }
    expectDecomposition(a, n, n, s);
  }
}

TEST(linalgZeigen, BlockDiagonalSplitsAndEqualValuesAcrossBlocks) {
  // Blocks [[2,1],[1,2]] (3, 1), [5] and [[4,-1],[-1,4]] (5, 3), placed on
  // the diagonal of a 5 x 5 matrix: eigenvalues 5, 5, 3, 3, 1.
  Dense a(25, 0.0);
  a[0] = a[6] = 2.0;
  a[1] = a[5] = 1.0;
  a[12] = 5.0;
  a[18] = a[24] = 4.0;
  a[19] = a[23] = -1.0;
  const Solution s = solve(a, 5, 5);
  ASSERT_EQ(s.code, 0);
  const double expected[] = {5.0, 5.0, 3.0, 3.0, 1.0};
  for (int j = 0; j < 5; ++j) EXPECT_NEAR(s.values[j], expected[j], 16 * kEps) << j;
  expectDecomposition(a, 5, 5, s);
  // Every vector lives inside one block.
  for (int j = 0; j < 5; ++j) {
    const double* v = s.vectors.data() + j * 5;
    const bool first = std::fabs(v[0]) + std::fabs(v[1]) > 0.5;
    const bool middle = std::fabs(v[2]) > 0.5;
    const bool last = std::fabs(v[3]) + std::fabs(v[4]) > 0.5;
    EXPECT_EQ(first + middle + last, 1) << j;
  }
}

TEST(linalgZeigen, RepeatedAndClusteredEigenvalues) {
  // I + J (all ones): 4 once, 1 three times (a 3-dimensional eigenspace).
  {
    const int n = 4;
    Dense a(n * n, 1.0);
    for (int i = 0; i < n; ++i) a[i * n + i] = 2.0;
    const Solution s = solve(a, n, n);
    ASSERT_EQ(s.code, 0);
    EXPECT_NEAR(s.values[0], 5.0, 16 * kEps);
    for (int j = 1; j < n; ++j) EXPECT_NEAR(s.values[j], 1.0, 16 * kEps);
    expectDecomposition(a, n, n, s);
  }
  // Exactly repeated and tightly clustered values under a random rotation.
  const std::vector<std::vector<double>> spectra = {
      {2.0, 2.0, 2.0, 1.0, 0.5, -1.0},
      {1.0, 1.0 + 1e-15, 1.0 + 2e-15, 1.0 + 3e-15, 5.0, -3.0, 0.0},
      {3.0, 3.0, 1.0, 1.0, 1.0 + 1e-14, -2.0, -2.0, -2.0, 0.25}};
  unsigned seed = 40;
  for (const auto& lambda : spectra) {
    const int n = static_cast<int>(lambda.size());
    const Dense a = testing::withSpectrum(lambda, ++seed);
    std::vector<double> sorted = lambda;
    std::sort(sorted.rbegin(), sorted.rend());
    const Solution s = solve(a, n, n);
    ASSERT_EQ(s.code, 0) << n;
    for (int j = 0; j < n; ++j) EXPECT_NEAR(s.values[j], sorted[j], 64 * n * kEps) << n << " " << j;
    expectDecomposition(a, n, n, s);
  }
}

TEST(linalgZeigen, RandomSymmetricMatricesUpTo300) {
  for (int n : {1, 2, 3, 4, 5, 6, 8, 13, 21, 34, 64, 100, 150, 300}) {
    const Dense a = testing::randomSymmetric(n, 1000 + n);
    const int m = n <= 150 ? n : 40;
    const Solution s = solve(a, n, m);
    ASSERT_LE(s.code, 0) << n;
    ASSERT_NE(s.code, -30) << n;
    expectDecomposition(a, n, m, s);
  }
  // Scaled far from 1 both ways: the row scaling of the reduction keeps
  // the relative accuracy. (Not below about 1e-140: QL takes any
  // subdiagonal element under sqrt(tiny) = 1.5e-154 as a split.)
  for (double scale : {1e-100, 1e150}) {
    Dense a = testing::randomSymmetric(20, 77);
    for (double& x : a) x *= scale;
    const Solution s = solve(a, 20, 20);
    ASSERT_EQ(s.code, 0) << scale;
    expectDecomposition(a, 20, 20, s);
  }
}

TEST(linalgZeigvec, SplitCallReusesReductionAndMatchesOneCall) {
  for (int n : {1, 7, 60}) {
    const Dense a = testing::randomSymmetric(n, 5 + n);
    const int m = std::min(n, 3);
    const Solution one = solve(a, n, m);
    Solution two = solve(a, n, 0);
    ASSERT_EQ(two.code, 0);
    EXPECT_EQ(two.values, one.values);
    two.vectors.assign(static_cast<std::size_t>(n) * m, 0.0);
    ASSERT_EQ(zeigvec(n, m, two.packed.data(), two.values.data(), two.vectors.data(), two.work.data()),
              0);
    EXPECT_EQ(two.vectors, one.vectors) << n;  // bit for bit
  }
}

TEST(linalgZeigen, BisectionFallbackWhenQlFails) {
  // A sweep limit of 0 fails QL on the first eigenvalue that needs a
  // sweep; bisection must then deliver the same spectrum (code -1).
  for (int n : {2, 3, 30, 90}) {
    const Dense a = testing::randomSymmetric(n, 300 + n);
    const Solution ql = solve(a, n, 0);
    ASSERT_EQ(ql.code, 0);
    const Solution bi = solve(a, n, n, 0);
    ASSERT_EQ(bi.code, -1) << n;
    const double norm = testing::normInf(a, n);
    for (int j = 0; j < n; ++j) EXPECT_NEAR(bi.values[j], ql.values[j], 8 * n * kEps * norm) << n;
    expectDecomposition(a, n, n, bi);
  }
  // Splits found by the bisection's own test, with tags, and the 1-2-1
  // spectrum in closed form.
  Dense a(36, 0.0);
  const Dense t = toeplitz121(3);
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) a[i * 6 + j] = a[(i + 3) * 6 + j + 3] = t[i * 3 + j];
  const Solution s = solve(a, 6, 6, 0);
  ASSERT_EQ(s.code, -1);
  const double expected[] = {2 + M_SQRT2, 2 + M_SQRT2, 2.0, 2.0, 2 - M_SQRT2, 2 - M_SQRT2};
  for (int j = 0; j < 6; ++j) EXPECT_NEAR(s.values[j], expected[j], 64 * kEps) << j;
  expectDecomposition(a, 6, 6, s);
  // A diagonal matrix needs no sweep, so even a limit of 0 succeeds.
  EXPECT_EQ(solve(Dense{1.0, 0.0, 0.0, 2.0}, 2, 2, 0).code, 0);
}

TEST(linalgZeigvec, SlowInverseIterationWarningsAndFailure) {
  // Inverse iteration from an eigenvalue that is off by delta grows the
  // start vector (1-norm about sqrt(k) eps4, eps4 = k eps |T|) by roughly
  // 1/delta per step, so with the 1-2-1 matrix of order 10 (|T| = 29,
  // first step growth about 1e-13/delta): delta = 1e-12 settles near 0.07
  // (accepted at iteration 4: -10), delta = 1e-10 near 7e-4 (iteration 11:
  // -20) and delta = 1e-7 far below 1e-4 (failure -30).
  const int n = 10;
  const Dense a = toeplitz121(n);
  const struct {
    double delta;
    int code;
  } cases[] = {{0.0, 0}, {1e-12, -10}, {1e-10, -20}, {1e-7, -30}};
  for (const auto& c : cases) {
    Solution s = solve(a, n, 0);
    ASSERT_EQ(s.code, 0);
    s.values[0] += c.delta;
    std::vector<double> z(n);
    EXPECT_EQ(zeigvec(n, 1, s.packed.data(), s.values.data(), z.data(), s.work.data()), c.code)
        << c.delta;
    if (c.code != -30) {
      EXPECT_LE(testing::residual(a, n, z.data(), s.values[0] - c.delta), 1e-9) << c.delta;
    }
  }
  // With more than one vector zeigvec reports the cluster step only, while
  // zeigen always passes the warning on.
  Solution s = solve(a, n, 0);
  s.values[0] += 1e-12;
  std::vector<double> z(2 * n);
  EXPECT_EQ(zeigvec(n, 2, s.packed.data(), s.values.data(), z.data(), s.work.data()), 0);
}

TEST(linalgEigenCodes, InvalidArgumentsMissingValuesAndBrokenState) {
  std::vector<double> a = {1.0, 0.5, 2.0};
  std::vector<double> w(2), z(4), work(18);
  EXPECT_EQ(zeigen(0, a.data(), w.data(), 0, nullptr, work.data()), 99);
  EXPECT_EQ(zeigen(2, a.data(), w.data(), 3, z.data(), work.data()), 99);
  EXPECT_EQ(zeigen(2, a.data(), w.data(), -1, z.data(), work.data()), 99);
  EXPECT_EQ(zeigen(2, a.data(), w.data(), 1, nullptr, work.data()), 99);
  EXPECT_EQ(zeigen(2, nullptr, w.data(), 0, nullptr, work.data()), 99);
  EXPECT_EQ(zeigen(2, a.data(), w.data(), 0, nullptr, nullptr), 99);
  std::vector<double> bad = {1.0, std::numeric_limits<double>::quiet_NaN(), 2.0};
  EXPECT_EQ(zeigen(2, bad.data(), w.data(), 0, nullptr, work.data()), 99);
  bad[1] = std::numeric_limits<double>::infinity();
  EXPECT_EQ(zeigen(2, bad.data(), w.data(), 0, nullptr, work.data()), 99);
  // zeigvec on a work area zeigen never prepared.
  std::fill(work.begin(), work.end(), 0.0);
  EXPECT_EQ(zeigvec(2, 1, a.data(), w.data(), z.data(), work.data()), 99);
  EXPECT_EQ(zeigvec(2, 3, a.data(), w.data(), z.data(), work.data()), 99);

  // A missing eigenvalue (the host's missing double) among the first m.
  ASSERT_EQ(zeigen(2, a.data(), w.data(), 0, nullptr, work.data()), 0);
  EXPECT_EQ(zeigvec(2, 0, a.data(), w.data(), z.data(), work.data()), 0);
  const std::uint64_t missingBits = 0xFFFFD10000000000ull;
  double missing;
  std::memcpy(&missing, &missingBits, sizeof missing);
  const double kept = w[1];
  w[1] = missing;
  EXPECT_EQ(zeigvec(2, 1, a.data(), w.data(), z.data(), work.data()), 0);
  EXPECT_EQ(zeigvec(2, 2, a.data(), w.data(), z.data(), work.data()), 98);
  w[1] = kept;
  EXPECT_EQ(zeigvec(2, 2, a.data(), w.data(), z.data(), work.data()), 0);
}

TEST(linalgEigenCodes, ClusterFailureWhenKeptVectorsAreCorrupted) {
  // Code 97 needs dependent cluster vectors, which the group step of
  // inverse iteration prevents; a Householder row damaged between the two
  // calls (the caller must keep it) makes the back-transformed vectors
  // unusable, and the cluster step must say so rather than pass them on.
  const Dense a = testing::withSpectrum({2.0, 2.0, 1.0, 0.5}, 9);
  Solution s = solve(a, 4, 0);
  ASSERT_EQ(s.code, 0);
  s.packed[testing::tri(3) + 1] = std::numeric_limits<double>::quiet_NaN();
  std::vector<double> z(8);
  EXPECT_EQ(zeigvec(4, 2, s.packed.data(), s.values.data(), z.data(), s.work.data()), 97);
}

}  // namespace
}  // namespace zulfact
