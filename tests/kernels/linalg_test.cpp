// Matrix utilities. Expected values are hand calculations (noted at each
// case) or dense reference arithmetic written here independently.
#include "kernels/linalg.hpp"
#include "kernels/lu.hpp"
#include "kernels/sweep.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "matrix_fixtures.hpp"

namespace kernels {
namespace {

using testing::Dense;
using testing::pack;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

void expectPacked(const double* got, std::vector<double> expected, double tol = 0.0) {
  for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_NEAR(got[i], expected[i], tol) << i;
}

// Dense inverse of an SPD matrix from its Cholesky factor: L, then the
// columns of A^-1 by forward and back substitution.
Dense choleskyInverse(const Dense& a, int n) {
  Dense l(a.size(), 0.0), inv(a.size(), 0.0);
  for (int j = 0; j < n; ++j)
    for (int i = j; i < n; ++i) {
      double t = a[i * n + j];
      for (int k = 0; k < j; ++k) t -= l[i * n + k] * l[j * n + k];
      l[i * n + j] = i == j ? std::sqrt(t) : t / l[j * n + j];
    }
  std::vector<double> y(n);
  for (int c = 0; c < n; ++c) {
    for (int i = 0; i < n; ++i) {
      y[i] = i == c ? 1.0 : 0.0;
      for (int k = 0; k < i; ++k) y[i] -= l[i * n + k] * y[k];
      y[i] /= l[i * n + i];
    }
    for (int i = n - 1; i >= 0; --i) {
      double t = y[i];
      for (int k = i + 1; k < n; ++k) t -= l[k * n + i] * inv[k * n + c];
      inv[i * n + c] = t / l[i * n + i];
    }
  }
  return inv;
}

TEST(linalgPacked, IndexAndLevelOneRoutines) {
  // Rows (0), (1,0 1,1), (2,0 2,1 2,2): (2,1) is the fifth element.
  EXPECT_EQ(packedIndex(2, 1), 4u);
  EXPECT_EQ(packedIndex(1, 2), 4u);
  EXPECT_EQ(packedIndex(0, 0), 0u);
  const double x[] = {1.0, -7.0, 7.0, 2.0};
  const double y[] = {4.0, 5.0, 6.0, 0.5};
  EXPECT_EQ(ddot(4, x, y), 12.0);  // 4 - 35 + 42 + 1
  double z[] = {1.0, 1.0, 1.0, 1.0};
  daxpy(3, 2.0, x, z);
  expectPacked(z, {3.0, -13.0, 15.0, 1.0});
  EXPECT_EQ(idamax(4, x), 1);  // |-7| and |7| tie: the first wins
  EXPECT_EQ(idamax(0, x), -1);
  EXPECT_EQ(vectorSum(x, 4), 3.0);
}

TEST(linalgCovToCorr, DocumentedCasesZeroVarianceAndCleanUp) {
  double a[] = {4.0, 2.0, 9.0}, s[4];
  covToCorr(2, a, s);  // 2/(2*3) = 1/3
  expectPacked(a, {1.0, 0.3333333333333333, 1.0}, 1e-16);
  expectPacked(s, {2.0, 3.0});
  double b[] = {4.0, 0.0, 0.0};
  covToCorr(2, b, s);
  expectPacked(b, {1.0, 0.0, 0.0});
  EXPECT_EQ(s[1], 0.0);
  // 1e-13 is within 1.110223024625157e-13 and becomes 0, 2e-13 stays; a
  // negative variance counts as none (zero row, column and diagonal).
  double c[] = {1.0, 1e-13, 1.0, 2e-13, 0.5, 1.0, 0.3, 0.2, 0.1, -2.0};
  covToCorr(4, c, s);
  expectPacked(c, {1.0, 0.0, 1.0, 2e-13, 0.5, 1.0, 0.0, 0.0, 0.0, 0.0}, 1e-28);
}

TEST(linalgSweepInvert, IdentitySingularPivotsAndNaN) {
  double work[3];
  double id[] = {1.0, 0.0, 1.0, 0.0, 0.0, 1.0};
  EXPECT_EQ(sweepInvert(3, id, work, 0, nullptr, 1e-7), 0);
  expectPacked(id, {1.0, 0.0, 1.0, 0.0, 0.0, 1.0});
  double d[] = {1.0, 0.0, 0.0};
  EXPECT_EQ(sweepInvert(2, d, work, 0, nullptr, 1e-7), 1);
  expectPacked(d, {1.0, 0.0, 0.0});
  EXPECT_FALSE(std::signbit(d[2]));
  double e[] = {1e-7};  // a pivot equal to the tolerance is used
  EXPECT_EQ(sweepInvert(1, e, work, 0, nullptr, 1e-7), 0);
  EXPECT_DOUBLE_EQ(e[0], 1e7);
  // [[1,1,0],[1,1,0],[0,0,2]]: after pivot 0 the second diagonal is 0. By
  // hand: diag(1, 0, 1/2), and b = (1, 2, 3) becomes (1, 0, 3/2).
  double a[] = {1.0, 1.0, 1.0, 0.0, 0.0, 2.0}, b[] = {1.0, 2.0, 3.0};
  EXPECT_EQ(sweepInvert(3, a, work, 1, b, 1e-7), 1);
  expectPacked(a, {1.0, 0.0, 0.0, 0.0, 0.0, 0.5}, 1e-15);
  expectPacked(b, {1.0, 0.0, 1.5}, 1e-15);
  // A NaN pivot counts as singular instead of spreading.
  double c[] = {kNaN, 0.0, 4.0};
  EXPECT_EQ(sweepInvert(2, c, work, 0, nullptr, 1e-7), 1);
  expectPacked(c, {0.0, 0.0, 0.25});
  EXPECT_EQ(sweepInvert(2, c, nullptr, 0, nullptr, 1e-7), -1);
  EXPECT_EQ(sweepInvert(2, c, work, 1, nullptr, 1e-7), -1);
}

TEST(linalgSweepPivot, ForwardThenReverseRestoresAndSweepingAllInverts) {
  // [[4, 2], [2, 3]] swept on pivot 0, by hand: a00 = -1/4, a10 = 2/4,
  // a11 = 3 - 2*2/4 = 2 (the residual variance of the second given the first).
  double a[] = {4.0, 2.0, 3.0}, work[2];
  sweepPivot(2, a, 0, false, work);
  expectPacked(a, {-0.25, 0.5, 2.0});
  EXPECT_EQ(work[0], 4.0);  // the pivot row as it was
  EXPECT_EQ(work[1], 2.0);
  sweepPivot(2, a, 0, true, work);  // the reverse sweep undoes it
  expectPacked(a, {4.0, 2.0, 3.0}, 1e-15);
  // Sweeping every pivot gives -A^-1, as sweepInvert (whose row updates
  // go through BLAS daxpy) finds it.
  const int n = 6;
  const Dense spd = testing::randomSpd(n, 11);
  std::vector<double> swept = pack(spd, n), inverted = swept, w(n);
  for (int k = 0; k < n; ++k) sweepPivot(n, swept.data(), k, false, w.data());
  ASSERT_EQ(sweepInvert(n, inverted.data(), w.data(), 0, nullptr, 1e-12), 0);
  for (std::size_t i = 0; i < swept.size(); ++i)
    EXPECT_NEAR(-swept[i], inverted[i], 1e-12 * std::fabs(inverted[i])) << i;
}

TEST(linalgSweepInvert, RandomSpdAgainstCholeskyInverseWithRightHandSides) {
  for (int n : {1, 2, 3, 7, 40}) {
    const Dense a = testing::randomSpd(n, 100 + n);
    const Dense inv = choleskyInverse(a, n);
    std::vector<double> p = pack(a, n), work(n), b(2 * n);
    for (int i = 0; i < 2 * n; ++i) b[i] = std::sin(1.0 + i);
    const std::vector<double> b0 = b;
    ASSERT_EQ(sweepInvert(n, p.data(), work.data(), 2, b.data(), 1e-10), 0);
    const double tol = 1e-13 * n * testing::normInf(inv, n);
    expectPacked(p.data(), pack(inv, n), tol);
    for (int c = 0; c < 2; ++c)
      for (int i = 0; i < n; ++i) {
        double x = 0.0;
        for (int k = 0; k < n; ++k) x += inv[i * n + k] * b0[c * n + k];
        EXPECT_NEAR(b[c * n + i], x, tol) << n;
      }
  }
}

TEST(linalgPositiveDefiniteInverse, AgreesWithTheSweepAndRefusesItsPivots) {
  // n = 200 passes LAPACK's block size, so the blocked paths run.
  for (int n : {1, 3, 40, 200}) {
    const Dense a = testing::randomSpd(n, 300 + n);
    std::vector<double> full(a.begin(), a.end()), p = pack(a, n), work(n);
    ASSERT_EQ(positiveDefiniteInverse(n, full.data(), 1e-10), 0);
    ASSERT_EQ(sweepInvert(n, p.data(), work.data(), 0, nullptr, 1e-10), 0);
    const double tol = 1e-12 * n * testing::normInf(full, n);
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j) {
        EXPECT_NEAR(full[i * n + j], p[packedIndex(std::max(i, j), std::min(i, j))], tol) << n;
        EXPECT_EQ(full[i * n + j], full[j * n + i]);
      }
  }
  // [[1,1,0],[1,1,0],[0,0,2]]: the second pivot is 0, which the sweep
  // refuses too; a pivot equal to the tolerance is used, as by the sweep.
  double s[] = {1.0, 1.0, 0.0, 1.0, 1.0, 0.0, 0.0, 0.0, 2.0};
  EXPECT_EQ(positiveDefiniteInverse(3, s, 1e-7), 2);
  double e[] = {0.25};
  EXPECT_EQ(positiveDefiniteInverse(1, e, 0.25), 0);
  EXPECT_DOUBLE_EQ(e[0], 4.0);
  double small[] = {4.0, 2.0, 2.0, 1.0 + 1e-9};  // second pivot 1e-9
  EXPECT_EQ(positiveDefiniteInverse(2, small, 1e-7), 2);
  double nan[] = {kNaN};
  EXPECT_EQ(positiveDefiniteInverse(1, nan, 1e-7), 1);
  EXPECT_EQ(positiveDefiniteInverse(0, e, 1e-7), -1);
}

// A general (non-symmetric) n x n matrix, column-major, kept away from
// singularity by its diagonal.
std::vector<double> randomGeneral(int n, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::vector<double> a(static_cast<std::size_t>(n) * n);
  for (double& x : a) x = u(gen);
  for (int i = 0; i < n; ++i) a[i + static_cast<std::size_t>(i) * n] += 0.5 * n;
  return a;
}

TEST(linalgGeneral, ProductsWithTransposesInverseAndSolveAgreeWithThePlainKernels) {
  // Rectangular sizes catch a wrong leading dimension for each transpose.
  const int r = 7, k = 5, c = 3;
  const std::vector<double> a = randomGeneral(7, 1), b = randomGeneral(7, 2);
  for (bool ta : {false, true})
    for (bool tb : {false, true}) {
      std::vector<double> got(r * c);
      matrixProductOp(ta, tb, r, k, c, a.data(), b.data(), got.data());
      for (int i = 0; i < r; ++i)
        for (int j = 0; j < c; ++j) {
          double want = 0.0;
          for (int l = 0; l < k; ++l)
            want += (ta ? a[l + i * k] : a[i + l * r]) * (tb ? b[j + l * c] : b[l + j * k]);
          EXPECT_NEAR(got[i + j * r], want, 1e-14) << ta << tb << i << j;
        }
    }
  // Blocks inside larger arrays (9 rows each) give the same products, and
  // nothing outside the output block is written.
  for (bool ta : {false, true})
    for (bool tb : {false, true}) {
      const int ld = 9;
      const std::vector<double> big = randomGeneral(ld, 3);
      std::vector<double> a(ta ? k * r : r * k), b(tb ? c * k : k * c);
      const int ar = ta ? k : r, br = tb ? c : k;
      for (size_t e = 0; e < a.size(); ++e) a[e] = big[1 + e % ar + (e / ar) * ld];
      for (size_t e = 0; e < b.size(); ++e) b[e] = big[2 + e % br + (e / br) * ld];
      std::vector<double> want(r * c), got(static_cast<size_t>(ld) * c, -7.0);
      matrixProductOp(ta, tb, r, k, c, a.data(), b.data(), want.data());
      matrixProductBlock(ta, tb, r, k, c, big.data() + 1, ld, big.data() + 2, ld, got.data() + 1,
                         ld);
      for (int j = 0; j < c; ++j)
        for (int i = 0; i < ld; ++i) {
          const double g = got[i + static_cast<size_t>(j) * ld];
          if (i < 1 || i > r) EXPECT_EQ(g, -7.0) << ta << tb << i << j;
          else EXPECT_NEAR(g, want[i - 1 + j * r], 1e-14) << ta << tb << i << j;
        }
    }
  // n = 200 passes LAPACK's block size, so the blocked paths run.
  for (int n : {1, 3, 40, 200}) {
    const std::vector<double> g = randomGeneral(n, 50 + n), rhs = randomGeneral(n, 90 + n);
    const std::size_t nn = static_cast<std::size_t>(n) * n;
    std::vector<double> inv(nn), plain(nn), work(nn), lu(nn), x(rhs);
    std::vector<int> piv(n);
    ASSERT_TRUE(generalInverse(n, g.data(), inv.data(), piv.data(), work.data())) << n;
    ASSERT_TRUE(invert(g.data(), plain.data(), n, lu.data(), piv.data())) << n;
    for (std::size_t i = 0; i < nn; ++i) EXPECT_NEAR(inv[i], plain[i], 1e-14) << n << " " << i;
    std::vector<double> copy(g);
    ASSERT_TRUE(generalSolve(n, n, copy.data(), piv.data(), x.data())) << n;
    for (int j = 0; j < n; ++j)
      for (int i = 0; i < n; ++i) {
        double want = 0.0;
        for (int l = 0; l < n; ++l) want += plain[i + l * n] * rhs[l + j * n];
        EXPECT_NEAR(x[i + j * n], want, 1e-13) << n << " " << i << " " << j;
      }
  }
  // Refused as by invert: singular relative to the largest element, all
  // zero, not finite, no size; an exactly singular system.
  std::vector<double> inv(4), work(4);
  int piv[2];
  const double nearlySingular[] = {1, 1, 1, 1 + 1e-14}, zero[] = {0, 0, 0, 0};
  const double nan[] = {1, kNaN, 0, 1};
  EXPECT_FALSE(generalInverse(2, nearlySingular, inv.data(), piv, work.data()));
  EXPECT_FALSE(generalInverse(2, zero, inv.data(), piv, work.data()));
  EXPECT_FALSE(generalInverse(2, nan, inv.data(), piv, work.data()));
  EXPECT_FALSE(generalInverse(0, zero, inv.data(), piv, work.data()));
  double singular[] = {1, 2, 2, 4}, rhs[] = {1, 1};
  EXPECT_FALSE(generalSolve(2, 1, singular, piv, rhs));
}

TEST(linalgTriangular, CholeskyRowInvertLowerSolveLower) {
  // [[4,2],[2,1]]: l00 = 2, l10 = 1, d = 1 - 1 = 0, so l11 = 0 for any tol.
  for (double tol : {0.0, 0.5}) {
    double a[] = {4.0, 2.0, 1.0};
    EXPECT_EQ(choleskyRow(0, a, tol), 4.0);
    EXPECT_EQ(choleskyRow(1, a, tol), 0.0);
    expectPacked(a, {2.0, 1.0, 0.0});
  }
  // A random factor reproduces its matrix.
  const int n = 9;
  const Dense spd = testing::randomSpd(n, 7);
  std::vector<double> l = pack(spd, n);
  for (int i = 0; i < n; ++i) EXPECT_GT(choleskyRow(i, l.data(), 1e-12), 0.0);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j <= i; ++j) {
      double s = 0.0;
      for (int k = 0; k <= j; ++k) s += l[packedIndex(i, k)] * l[packedIndex(j, k)];
      EXPECT_NEAR(s, spd[i * n + j], 1e-12 * n);
    }
  // [[2,0],[1,4]]^-1 = [[1/2,0],[-1/8,1/4]] by hand; a tiny pivot fails.
  double t[] = {2.0, 1.0, 4.0}, work[2];
  EXPECT_EQ(invertLower(t, 2, work, 1e-12), 0);
  expectPacked(t, {0.5, -0.125, 0.25});
  double bad[] = {2.0, 1.0, 1e-14};
  EXPECT_EQ(invertLower(bad, 2, work, 1e-12), 1);
  // L L^-1 = I and L x = b for the random factor.
  std::vector<double> inv = l, x(n), w(n);
  ASSERT_EQ(invertLower(inv.data(), n, w.data(), 1e-12), 0);
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j <= i; ++j) {
      double s = 0.0;
      for (int k = j; k <= i; ++k) s += l[packedIndex(i, k)] * inv[packedIndex(k, j)];
      EXPECT_NEAR(s, i == j ? 1.0 : 0.0, 1e-13);
    }
    x[i] = 1.0 + i;
  }
  solveLower(n, l.data(), x.data());
  for (int i = 0; i < n; ++i) {
    double s = 0.0;
    for (int k = 0; k <= i; ++k) s += l[packedIndex(i, k)] * x[k];
    EXPECT_NEAR(s, 1.0 + i, 1e-12);
  }
  double z[] = {2.0, 5.0, 0.0}, y[] = {4.0, 1.0};  // zero l11 gives x1 = 0
  solveLower(2, z, y);
  expectPacked(y, {2.0, 0.0});
}

TEST(linalgQuadForm, SingleAndSeveralVectorsStoreOrAccumulate) {
  // A = [[2,1],[1,3]], x = (1,2): 2 + 2*1*2 + 3*4 = 18 by hand.
  const double a[] = {2.0, 1.0, 3.0}, x[] = {1.0, 2.0}, units[] = {1.0, 0.0, 0.0, 1.0};
  double out = 5.0, work[2], m[3] = {1.0, 1.0, 1.0};
  quadForm(a, 2, x, 1, &out, nullptr, false);
  EXPECT_EQ(out, 18.0);
  quadForm(a, 2, x, 1, &out, nullptr, true);
  EXPECT_EQ(out, 36.0);
  quadForm(a, 2, units, 2, m, work, false);  // unit vectors give A back
  expectPacked(m, {2.0, 1.0, 3.0});
  quadForm(a, 2, units, 2, m, work, true);
  expectPacked(m, {4.0, 2.0, 6.0});
  // Several random vectors against dense X^T A X.
  const int n = 11, k = 4;
  const Dense d = testing::randomSymmetric(n, 3);
  const std::vector<double> p = pack(d, n);
  std::vector<double> xs(n * k), res(testing::tri(k)), w(n);
  for (int i = 0; i < n * k; ++i) xs[i] = std::sin(0.3 * i);
  quadForm(p.data(), n, xs.data(), k, res.data(), w.data(), false);
  for (int r = 0; r < k; ++r)
    for (int c = 0; c <= r; ++c) {
      double s = 0.0;
      for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) s += xs[r * n + i] * d[i * n + j] * xs[c * n + j];
      EXPECT_NEAR(res[packedIndex(r, c)], s, 1e-12 * n);
    }
}

}  // namespace
}  // namespace kernels
