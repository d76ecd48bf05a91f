// The full-storage entry point of the eigen solver, as the engine uses it:
// known spectra, vectors in zeigen's layout, the input left alone, and a
// non-finite element refused.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <vector>

#include "kernels/eigen.hpp"

namespace kernels {
namespace {

// The 1-2-1 Toeplitz matrix of order n has eigenvalues 2 - 2 cos(k pi/(n+1)).
std::vector<double> toeplitz(int n) {
  std::vector<double> a(static_cast<size_t>(n) * n);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) a[i * n + j] = i == j ? 2.0 : (std::abs(i - j) == 1 ? -1.0 : 0.0);
  return a;
}

TEST(SymmetricEigenFull, ToeplitzValuesAndVectors) {
  for (int n : {1, 2, 3, 4, 10, 37}) {
    const std::vector<double> a = toeplitz(n);
    const std::vector<double> before = a;
    std::vector<double> values(n), vectors(static_cast<size_t>(n) * n), work(fullEigenWorkSize(n));
    ASSERT_TRUE(eigenUsable(symmetricEigenFull(n, a.data(), values.data(), n, vectors.data(),
                                               work.data())))
        << n;
    EXPECT_EQ(a, before);
    for (int k = 0; k < n; ++k) {
      // Descending: the k-th value is the (n - k)-th of the formula.
      const double want = 2.0 - 2.0 * std::cos((n - k) * std::numbers::pi / (n + 1));
      EXPECT_NEAR(values[k], want, 4e-13) << "n=" << n << " k=" << k;
      const double* z = vectors.data() + static_cast<size_t>(k) * n;
      double norm = 0.0, residual = 0.0;
      for (int i = 0; i < n; ++i) {
        double az = 0.0;
        for (int j = 0; j < n; ++j) az += a[i * n + j] * z[j];
        residual = std::max(residual, std::fabs(az - values[k] * z[i]));
        norm += z[i] * z[i];
      }
      EXPECT_NEAR(norm, 1.0, 1e-13);
      EXPECT_LE(residual, 64 * n * std::numeric_limits<double>::epsilon());
    }
  }
}

TEST(SymmetricEigenFull, SameAsThePackedEntryAndKeepsTheTrace) {
  const int n = 12;
  std::vector<double> full(static_cast<size_t>(n) * n), packed;
  for (int i = 0; i < n; ++i)
    for (int j = 0; j <= i; ++j) {
      const double x = i == j ? 1.0 : std::sin(1.0 + i * 7 + j * 3) * 0.3;
      full[i * n + j] = full[j * n + i] = x;
      packed.push_back(x);
    }
  std::vector<double> v1(n), v2(n), work(fullEigenWorkSize(n));
  ASSERT_EQ(symmetricEigenFull(n, full.data(), v1.data(), 0, nullptr, work.data()), 0);
  ASSERT_EQ(zeigen(n, packed.data(), v2.data(), 0, nullptr, work.data()), 0);
  double sum = 0.0;
  for (int k = 0; k < n; ++k) {
    EXPECT_EQ(v1[k], v2[k]);
    if (k > 0) {
      EXPECT_GE(v1[k - 1], v1[k]);
    }
    sum += v1[k];
  }
  EXPECT_NEAR(sum, n, 1e-12);
}

TEST(SymmetricEigenFull, DiagonalAndNonFiniteInput) {
  const double d[9] = {1, 0, 0, 0, 3, 0, 0, 0, 2};
  double values[3];
  std::vector<double> work(fullEigenWorkSize(3));
  ASSERT_EQ(symmetricEigenFull(3, d, values, 0, nullptr, work.data()), 0);
  EXPECT_EQ(values[0], 3.0);
  EXPECT_EQ(values[1], 2.0);
  EXPECT_EQ(values[2], 1.0);

  const double b[9] = {1, 0.5, 0.2, 0.5, std::numeric_limits<double>::quiet_NaN(), 0.1, 0.2, 0.1, 1};
  EXPECT_FALSE(eigenUsable(symmetricEigenFull(3, b, values, 0, nullptr, work.data())));
}

}  // namespace
}  // namespace kernels
