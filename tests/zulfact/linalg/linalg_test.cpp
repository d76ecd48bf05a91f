// Matrix utilities: packed indexing, BLAS wrappers, covariance to
// correlation, sweeping, Cholesky rows, triangular inversion and solution,
// quadratic forms. Expected values are hand calculations (noted at each
// case) or dense reference arithmetic written here independently.
#include "linalg/linalg.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "matrix_fixtures.hpp"

namespace zulfact {
namespace {

using testing::Dense;
using testing::pack;
using testing::unpack;

// Dense inverse of an SPD matrix through its Cholesky factor: L, then
// A^-1 = L^-T L^-1 by forward and back substitution on unit columns.
Dense choleskyInverse(const Dense& a, int n) {
  Dense l(static_cast<std::size_t>(n) * n, 0.0);
  for (int j = 0; j < n; ++j) {
    double s = a[j * n + j];
    for (int k = 0; k < j; ++k) s -= l[j * n + k] * l[j * n + k];
    l[j * n + j] = std::sqrt(s);
    for (int i = j + 1; i < n; ++i) {
      double t = a[i * n + j];
      for (int k = 0; k < j; ++k) t -= l[i * n + k] * l[j * n + k];
      l[i * n + j] = t / l[j * n + j];
    }
  }
  Dense inv(static_cast<std::size_t>(n) * n, 0.0);
  std::vector<double> y(n);
  for (int c = 0; c < n; ++c) {
    for (int i = 0; i < n; ++i) {
      double t = i == c ? 1.0 : 0.0;
      for (int k = 0; k < i; ++k) t -= l[i * n + k] * y[k];
      y[i] = t / l[i * n + i];
    }
    for (int i = n - 1; i >= 0; --i) {
      double t = y[i];
      for (int k = i + 1; k < n; ++k) t -= l[k * n + i] * inv[k * n + c];
      inv[i * n + c] = t / l[i * n + i];
    }
  }
  return inv;
}

TEST(linalgPackedIndex, LowerTriangleByRowsEitherOrder) {
  // Rows (0), (1,0 1,1), (2,0 2,1 2,2): (2,1) is the fifth element.
  EXPECT_EQ(packedIndex(2, 1), 4u);
  EXPECT_EQ(packedIndex(1, 2), 4u);
  EXPECT_EQ(packedIndex(0, 0), 0u);
  EXPECT_EQ(packedIndex(3, 3), 9u);
  EXPECT_EQ(packedRow(4), 10u);
}

TEST(linalgBlas, LevelOneWrappers) {
  const double x[] = {1.0, -7.0, 7.0, 2.0};
  const double y[] = {4.0, 5.0, 6.0, 0.5};
  // 4 - 35 + 42 + 1 = 12.
  EXPECT_DOUBLE_EQ(ddot(4, x, y), 12.0);
  EXPECT_EQ(ddot(0, x, y), 0.0);
  double z[] = {1.0, 1.0, 1.0, 1.0};
  daxpy(3, 2.0, x, z);  // 1 + 2x for the first three only
  EXPECT_EQ(z[0], 3.0);
  EXPECT_EQ(z[1], -13.0);
  EXPECT_EQ(z[2], 15.0);
  EXPECT_EQ(z[3], 1.0);
  // |-7| and |7| tie: the first one wins.
  EXPECT_EQ(idamax(4, x), 1);
  EXPECT_EQ(idamax(0, x), -1);
  EXPECT_EQ(vectorSum(x, 4), 3.0);
  EXPECT_EQ(vectorSum(x, 0), 0.0);
}

TEST(linalgCovToCorr, DocumentedCasesAndZeroVariance) {
  // 2/(2*3) = 1/3; s = (sqrt 4, sqrt 9).
  double a[] = {4.0, 2.0, 9.0};
  double s[2];
  covToCorr(2, a, s);
  EXPECT_EQ(a[0], 1.0);
  EXPECT_DOUBLE_EQ(a[1], 0.3333333333333333);
  EXPECT_EQ(a[2], 1.0);
  EXPECT_EQ(s[0], 2.0);
  EXPECT_EQ(s[1], 3.0);

  // The second variable has no variance: zero row, column and diagonal.
  double b[] = {4.0, 0.0, 0.0};
  covToCorr(2, b, s);
  EXPECT_EQ(b[0], 1.0);
  EXPECT_EQ(b[1], 0.0);
  EXPECT_EQ(b[2], 0.0);
  EXPECT_EQ(s[1], 0.0);

  // A negative variance counts as none; a correlation of 1e-13 (below
  // 1.110223024625157e-13) becomes exactly 0, 2e-13 stays.
  double c[] = {1.0, 1e-13, 1.0, 2e-13, 0.5, 1.0, 0.3, 0.2, 0.1, -2.0};
  double t[4];
  covToCorr(4, c, t);
  EXPECT_EQ(c[1], 0.0);
  EXPECT_DOUBLE_EQ(c[3], 2e-13);
  EXPECT_DOUBLE_EQ(c[4], 0.5);
  EXPECT_EQ(c[6], 0.0);
  EXPECT_EQ(c[9], 0.0);
  EXPECT_EQ(t[3], 0.0);
}

TEST(linalgSweepInvert, IdentityAndSingularDiagonal) {
  double id[] = {1.0, 0.0, 1.0, 0.0, 0.0, 1.0};
  double work[3];
  EXPECT_EQ(sweepInvert(3, id, work, 0, nullptr, 1e-7), 0);
  const double expected[] = {1.0, 0.0, 1.0, 0.0, 0.0, 1.0};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(id[i], expected[i]) << i;

  double d[] = {1.0, 0.0, 0.0};
  EXPECT_EQ(sweepInvert(2, d, work, 0, nullptr, 1e-7), 1);
  EXPECT_EQ(d[0], 1.0);
  EXPECT_EQ(d[1], 0.0);
  EXPECT_EQ(d[2], 0.0);
  EXPECT_FALSE(std::signbit(d[2]));

  // A pivot equal to the tolerance is used.
  double e[] = {1e-7};
  EXPECT_EQ(sweepInvert(1, e, work, 0, nullptr, 1e-7), 0);
  EXPECT_DOUBLE_EQ(e[0], 1e7);
}

TEST(linalgSweepInvert, DependentRowGivesGeneralisedInverse) {
  // [[1,1,0],[1,1,0],[0,0,2]]: after pivot 0 the second diagonal is 1 - 1
  // = 0, so pivot 1 is singular. By hand the result is diag(1, 0, 1/2) and
  // b = (1, 2, 3) becomes (1, 0, 3/2).
  double a[] = {1.0, 1.0, 1.0, 0.0, 0.0, 2.0};
  double b[] = {1.0, 2.0, 3.0};
  double work[3];
  EXPECT_EQ(sweepInvert(3, a, work, 1, b, 1e-7), 1);
  const double expected[] = {1.0, 0.0, 0.0, 0.0, 0.0, 0.5};
  for (int i = 0; i < 6; ++i) EXPECT_DOUBLE_EQ(a[i], expected[i]) << i;
  EXPECT_DOUBLE_EQ(b[0], 1.0);
  EXPECT_EQ(b[1], 0.0);
  EXPECT_DOUBLE_EQ(b[2], 1.5);

  // A NaN pivot counts as singular instead of spreading through the row.
  double c[] = {std::numeric_limits<double>::quiet_NaN(), 0.0, 4.0};
  EXPECT_EQ(sweepInvert(2, c, work, 0, nullptr, 1e-7), 1);
  EXPECT_EQ(c[0], 0.0);
  EXPECT_DOUBLE_EQ(c[2], 0.25);

  EXPECT_EQ(sweepInvert(2, c, nullptr, 0, nullptr, 1e-7), -1);
  EXPECT_EQ(sweepInvert(2, c, work, 1, nullptr, 1e-7), -1);
}

TEST(linalgSweepInvert, RandomSpdAgainstCholeskyInverseWithRightHandSides) {
  for (int n : {1, 2, 3, 7, 25, 60}) {
    const Dense a = testing::randomSpd(n, 100 + n);
    const Dense inv = choleskyInverse(a, n);
    std::vector<double> p = pack(a, n);
    const int m = 3;
    std::vector<double> b(static_cast<std::size_t>(n) * m);
    for (int c = 0; c < m; ++c)
      for (int i = 0; i < n; ++i) b[c * n + i] = std::sin(1.0 + i + 7.0 * c);
    const std::vector<double> b0 = b;
    std::vector<double> work(n);
    ASSERT_EQ(sweepInvert(n, p.data(), work.data(), m, b.data(), 1e-10), 0) << n;
    const Dense got = unpack(p, n);
    double scale = testing::normInf(inv, n);
    for (int i = 0; i < n * n; ++i) EXPECT_NEAR(got[i], inv[i], 1e-12 * scale) << n << " " << i;
    for (int c = 0; c < m; ++c)
      for (int i = 0; i < n; ++i) {
        double x = 0.0;
        for (int k = 0; k < n; ++k) x += inv[i * n + k] * b0[c * n + k];
        EXPECT_NEAR(b[c * n + i], x, 1e-12 * scale * n) << n << " " << c << " " << i;
      }
  }
}

TEST(linalgCholeskyRow, SingularSecondRowAndRandomFactor) {
  // [[4,2],[2,1]]: l00 = 2, l10 = 2/2 = 1, d = 1 - 1 = 0, so l11 = 0.
  for (double tol : {0.0, 1e-8, 0.5}) {
    double a[] = {4.0, 2.0, 1.0};
    EXPECT_EQ(choleskyRow(0, a, tol), 4.0);
    EXPECT_EQ(a[0], 2.0);
    EXPECT_EQ(choleskyRow(1, a, tol), 0.0);
    EXPECT_EQ(a[1], 1.0);
    EXPECT_EQ(a[2], 0.0);
  }
  // A zero pivot row gives zero multipliers below it.
  double z[] = {0.0, 3.0, 5.0};
  EXPECT_EQ(choleskyRow(0, z, 1e-8), 0.0);
  EXPECT_EQ(choleskyRow(1, z, 1e-8), 5.0);
  EXPECT_EQ(z[1], 0.0);
  EXPECT_DOUBLE_EQ(z[2], std::sqrt(5.0));

  const int n = 12;
  const Dense a = testing::randomSpd(n, 7);
  std::vector<double> l = pack(a, n);
  for (int i = 0; i < n; ++i) EXPECT_GT(choleskyRow(i, l.data(), 1e-12), 0.0);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j <= i; ++j) {
      double s = 0.0;
      for (int k = 0; k <= j; ++k) s += l[packedIndex(i, k)] * l[packedIndex(j, k)];
      EXPECT_NEAR(s, a[i * n + j], 1e-12 * n) << i << " " << j;
    }
}

TEST(linalgTriangularKernels, InvertAndSolveLower) {
  // [[2,0],[1,4]]^-1 = [[1/2,0],[-1/8,1/4]] (by hand).
  double t[] = {2.0, 1.0, 4.0};
  double work[2];
  EXPECT_EQ(invertLower(t, 2, work, 1e-12), 0);
  EXPECT_DOUBLE_EQ(t[0], 0.5);
  EXPECT_DOUBLE_EQ(t[1], -0.125);
  EXPECT_DOUBLE_EQ(t[2], 0.25);

  double bad[] = {2.0, 1.0, 1e-14};
  EXPECT_EQ(invertLower(bad, 2, work, 1e-12), 1);

  // Random lower triangle: L * L^-1 = I, and solveLower agrees with it.
  const int n = 9;
  std::vector<double> l(testing::tri(n));
  for (std::size_t k = 0; k < l.size(); ++k) l[k] = std::cos(0.7 * k);
  for (int i = 0; i < n; ++i) l[packedIndex(i, i)] = 2.0 + i;
  std::vector<double> inv = l;
  std::vector<double> w(n);
  ASSERT_EQ(invertLower(inv.data(), n, w.data(), 1e-12), 0);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j <= i; ++j) {
      double s = 0.0;
      for (int k = j; k <= i; ++k) s += l[packedIndex(i, k)] * inv[packedIndex(k, j)];
      EXPECT_NEAR(s, i == j ? 1.0 : 0.0, 1e-13) << i << " " << j;
    }
  std::vector<double> x(n);
  for (int i = 0; i < n; ++i) x[i] = 1.0 + i;
  const std::vector<double> b = x;
  solveLower(n, l.data(), x.data());
  for (int i = 0; i < n; ++i) {
    double s = 0.0;
    for (int k = 0; k <= i; ++k) s += l[packedIndex(i, k)] * x[k];
    EXPECT_NEAR(s, b[i], 1e-13 * n) << i;
  }

  // A zero diagonal gives x_i = 0: [[2,0],[5,0]] x = (4, 1) -> (2, 0).
  double z[] = {2.0, 5.0, 0.0};
  double y[] = {4.0, 1.0};
  solveLower(2, z, y);
  EXPECT_EQ(y[0], 2.0);
  EXPECT_EQ(y[1], 0.0);
}

TEST(linalgQuadForm, SingleAndSeveralVectorsStoreOrAccumulate) {
  // A = [[2,1],[1,3]], x = (1,2): 2*1 + 2*1*1*2 + 3*4 = 18 (by hand).
  const double a[] = {2.0, 1.0, 3.0};
  const double x[] = {1.0, 2.0};
  double out = 5.0;
  quadForm(a, 2, x, 1, &out, nullptr, false);
  EXPECT_EQ(out, 18.0);
  quadForm(a, 2, x, 1, &out, nullptr, true);
  EXPECT_EQ(out, 36.0);

  // The unit vectors give back A itself.
  const double units[] = {1.0, 0.0, 0.0, 1.0};
  double work[2];
  double m[3] = {1.0, 1.0, 1.0};
  quadForm(a, 2, units, 2, m, work, false);
  EXPECT_EQ(m[0], 2.0);
  EXPECT_EQ(m[1], 1.0);
  EXPECT_EQ(m[2], 3.0);
  quadForm(a, 2, units, 2, m, work, true);
  EXPECT_EQ(m[1], 2.0);

  // Random case against dense X^T A X.
  const int n = 11;
  const int k = 4;
  const Dense d = testing::randomSymmetric(n, 3);
  const std::vector<double> p = pack(d, n);
  std::vector<double> xs(n * k);
  for (int i = 0; i < n * k; ++i) xs[i] = std::sin(0.3 * i);
  std::vector<double> out2(testing::tri(k));
  std::vector<double> w(n);
  quadForm(p.data(), n, xs.data(), k, out2.data(), w.data(), false);
  for (int r = 0; r < k; ++r)
    for (int c = 0; c <= r; ++c) {
      double s = 0.0;
      for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) s += xs[r * n + i] * d[i * n + j] * xs[c * n + j];
      EXPECT_NEAR(out2[packedIndex(r, c)], s, 1e-12 * n) << r << " " << c;
    }
}

}  // namespace
}  // namespace zulfact
