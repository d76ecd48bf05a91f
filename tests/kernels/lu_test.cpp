// The LU solver: a system solved by hand, one that needs a row interchange
// to be solved at all, many right-hand sides against A x, and the
// singular and invalid cases.
#include "kernels/lu.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace kernels {
namespace {

// Column-major from rows written as they read.
std::vector<double> columns(int n, std::vector<double> rows) {
  std::vector<double> a(rows.size());
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) a[i + j * n] = rows[i * n + j];
  return a;
}

TEST(LuSolver, SolvesByHandAndNeedsTheRowInterchange) {
  // [0 1; 2 3] x = [2; 8]: the first pivot is 0, so without pivoting the
  // factorisation would fail; by hand x2 = 2, x1 = (8 - 6)/2 = 1.
  std::vector<double> a = columns(2, {0, 1, 2, 3});
  int piv[2];
  ASSERT_EQ(luFactor(2, a.data(), piv, 0.0), 0);
  EXPECT_EQ(piv[0], 1);
  double b[2] = {2, 8};
  luSolve(2, a.data(), piv, b);
  EXPECT_DOUBLE_EQ(b[0], 1.0);
  EXPECT_DOUBLE_EQ(b[1], 2.0);

  // Order 1 and order 0.
  double one = 4.0, rhs = 2.0;
  int p1;
  ASSERT_EQ(luFactor(1, &one, &p1, 0.0), 0);
  luSolve(1, &one, &p1, &rhs);
  EXPECT_DOUBLE_EQ(rhs, 0.5);
  EXPECT_EQ(luFactor(0, nullptr, nullptr, 0.0), 0);
}

TEST(LuSolver, FactorOnceSolveManyColumnsOfANonsymmetricMatrix) {
  // A zero-diagonal matrix like the image coefficients: B = A X for a
  // known X, then every column of X recovered from its column of B.
  const int n = 5, m = 3;
  std::vector<double> rows(n * n);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) rows[i * n + j] = i == j ? 0.0 : std::sin(1.0 + 3 * i + j);
  std::vector<double> a = columns(n, rows), lu = a;
  std::vector<double> x(n * m), b(n * m, 0.0);
  for (int k = 0; k < n * m; ++k) x[k] = std::cos(0.5 * k);
  for (int c = 0; c < m; ++c)
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j) b[i + c * n] += a[i + j * n] * x[j + c * n];
  std::vector<int> piv(n);
  ASSERT_EQ(luFactor(n, lu.data(), piv.data(), 1e-12), 0);
  for (int c = 0; c < m; ++c) {
    luSolve(n, lu.data(), piv.data(), b.data() + c * n);
    for (int i = 0; i < n; ++i) EXPECT_NEAR(b[i + c * n], x[i + c * n], 1e-12) << i << "," << c;
  }
}

TEST(LuSolver, SingularAndInvalidInput) {
  // Rank 1: the second pivot is 0 after elimination.
  std::vector<double> a = columns(2, {1, 2, 2, 4});
  int piv[2];
  EXPECT_EQ(luFactor(2, a.data(), piv, 1e-12), 2);
  // A pivot equal to the tolerance counts as singular.
  double d = 1e-9;
  EXPECT_EQ(luFactor(1, &d, piv, 1e-9), 1);
  double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(luFactor(1, &nan, piv, 0.0), 1);
  EXPECT_EQ(luFactor(-1, a.data(), piv, 0.0), -1);
  EXPECT_EQ(luFactor(2, nullptr, piv, 0.0), -1);
}

TEST(LuSolver, InverseOfAGeneralMatrixAndItsRefusals) {
  // [[0, 2], [1, 1]]^-1 = [[-1/2, 1], [1/2, 0]] by hand (det -2); the zero
  // first pivot needs the interchange.
  const std::vector<double> a = columns(2, {0, 2, 1, 1});
  std::vector<double> inv(4), lu(4);
  int piv[2];
  ASSERT_TRUE(invert(a.data(), inv.data(), 2, lu.data(), piv));
  const std::vector<double> want = columns(2, {-0.5, 1, 0.5, 0});
  for (int i = 0; i < 4; ++i) EXPECT_DOUBLE_EQ(inv[i], want[i]) << i;
  // Singular relative to the largest element, all zero, not finite.
  const std::vector<double> nearlySingular = columns(2, {1, 1, 1, 1 + 1e-14});
  EXPECT_FALSE(invert(nearlySingular.data(), inv.data(), 2, lu.data(), piv));
  const std::vector<double> zero(4, 0.0);
  EXPECT_FALSE(invert(zero.data(), inv.data(), 2, lu.data(), piv));
  const std::vector<double> nan = {1, std::numeric_limits<double>::quiet_NaN(), 0, 1};
  EXPECT_FALSE(invert(nan.data(), inv.data(), 2, lu.data(), piv));
}

}  // namespace
}  // namespace kernels
