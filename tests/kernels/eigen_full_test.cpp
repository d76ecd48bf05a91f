// The full-storage entry point of the eigen solver, as the engine uses it:
// the packed solver's results (whose spectra, diagonal ones among them,
// eigen_test.cpp checks), the input left alone, a non-finite element refused.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "kernels/eigen.hpp"

namespace kernels {
namespace {

// The full-storage entry packs the lower triangle and hands it to zeigen,
// whose spectra are checked against closed forms in eigen_test.cpp: here
// the same values and vectors, bit for bit, and the input left alone.
TEST(SymmetricEigenFull, SameAsThePackedEntryLeavesTheInputAloneRefusesNaN) {
  const int n = 12;
  std::vector<double> full(static_cast<size_t>(n) * n), packed;
  for (int i = 0; i < n; ++i)
    for (int j = 0; j <= i; ++j) {
      const double x = i == j ? 1.0 : std::sin(1.0 + i * 7 + j * 3) * 0.3;
      full[i * n + j] = full[j * n + i] = x;
      packed.push_back(x);
    }
  const std::vector<double> before = full;
  const size_t nz = static_cast<size_t>(n) * n;
  std::vector<double> v1(n), v2(n), z1(nz), z2(nz), work(fullEigenWorkSize(n));
  ASSERT_EQ(symmetricEigenFull(n, full.data(), v1.data(), n, z1.data(), work.data()), 0);
  ASSERT_EQ(zeigen(n, packed.data(), v2.data(), n, z2.data(), work.data()), 0);
  EXPECT_EQ(full, before);
  EXPECT_EQ(v1, v2);
  EXPECT_EQ(z1, z2);
  double sum = 0.0;
  for (int k = 0; k < n; ++k) sum += v1[k];
  EXPECT_NEAR(sum, n, 1e-12);  // the trace
  // A non-finite element is refused.
  full[5 * n + 3] = std::numeric_limits<double>::quiet_NaN();
  EXPECT_FALSE(eigenUsable(symmetricEigenFull(n, full.data(), v1.data(), 0, nullptr, work.data())));
}

}  // namespace
}  // namespace kernels
