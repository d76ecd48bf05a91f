// The engine's Householder/QL eigen solver on matrices with known spectra.
#include "qkxfac/symmetric_eigen.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <vector>

namespace qkxfac {
namespace {

// The 1-2-1 Toeplitz matrix of order n has eigenvalues 2 - 2 cos(k pi/(n+1)).
void fillToeplitz(SymmetricEigen& eig) {
  const int n = eig.order();
  double* a = eig.matrix();
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) a[i * n + j] = i == j ? 2.0 : (std::abs(i - j) == 1 ? -1.0 : 0.0);
}

TEST(SymmetricEigen, ToeplitzValuesAndVectorsForSizesWithTheirOwnPaths) {
  for (int n : {1, 2, 3, 4, 10, 37}) {
    SymmetricEigen eig(n);
    fillToeplitz(eig);
    std::vector<double> a(eig.matrix(), eig.matrix() + n * n);
    std::vector<double> values(n), vectors(n * n);
    ASSERT_EQ(eig.solve(values.data(), vectors.data()), 0) << n;
    for (int k = 0; k < n; ++k) {
      // Descending: the k-th value is the (n - k)-th of the formula.
      const double want = 2.0 - 2.0 * std::cos((n - k) * std::numbers::pi / (n + 1));
      EXPECT_NEAR(values[k], want, 1e-13 * 4) << "n=" << n << " k=" << k;
      double norm = 0.0, residual = 0.0;
      for (int i = 0; i < n; ++i) {
        double av = 0.0;
        for (int j = 0; j < n; ++j) av += a[i * n + j] * vectors[j * n + k];
        residual = std::max(residual, std::fabs(av - values[k] * vectors[i * n + k]));
        norm += vectors[i * n + k] * vectors[i * n + k];
      }
      EXPECT_NEAR(norm, 1.0, 1e-13);
      EXPECT_LE(residual, 16 * n * std::numeric_limits<double>::epsilon() * 4);
    }
  }
}

TEST(SymmetricEigen, ValuesAloneMatchValuesWithVectorsOnADenseMatrix) {
  const int n = 12;
  SymmetricEigen withVectors(n), alone(n);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j <= i; ++j) {
      const double x = i == j ? 1.0 : std::sin(1.0 + i * 7 + j * 3) * 0.3;
      withVectors.matrix()[i * n + j] = withVectors.matrix()[j * n + i] = x;
      alone.matrix()[i * n + j] = alone.matrix()[j * n + i] = x;
    }
  double trace = n;
  std::vector<double> v1(n), v2(n), z(n * n);
  ASSERT_EQ(withVectors.solve(v1.data(), z.data()), 0);
  ASSERT_EQ(alone.solve(v2.data(), nullptr), 0);
  double sum = 0.0;
  for (int k = 0; k < n; ++k) {
    EXPECT_NEAR(v1[k], v2[k], 1e-13);
    if (k > 0) {
      EXPECT_GE(v1[k - 1], v1[k]);
    }
    sum += v1[k];
  }
  EXPECT_NEAR(sum, trace, 1e-12);  // the trace is kept
}

TEST(SymmetricEigen, DiagonalAndNonFiniteInput) {
  SymmetricEigen diag(3);
  const double d[9] = {1, 0, 0, 0, 3, 0, 0, 0, 2};
  std::copy(d, d + 9, diag.matrix());
  double values[3];
  ASSERT_EQ(diag.solve(values, nullptr), 0);
  EXPECT_EQ(values[0], 3.0);
  EXPECT_EQ(values[1], 2.0);
  EXPECT_EQ(values[2], 1.0);

  SymmetricEigen bad(3);
  const double b[9] = {1, 0.5, 0.2, 0.5, std::numeric_limits<double>::quiet_NaN(), 0.1, 0.2, 0.1, 1};
  std::copy(b, b + 9, bad.matrix());
  EXPECT_EQ(bad.solve(values, nullptr), -1);
  EXPECT_TRUE(std::isnan(values[0]));
}

}  // namespace
}  // namespace qkxfac
