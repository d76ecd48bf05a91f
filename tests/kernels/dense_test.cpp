// Dense kernels: products against the plain loops the callers wrote
// before (bit for bit: listings depend on the order of summation), the
// product with a packed symmetric matrix, Kaiser's row scales and the
// orthonormalisation.
#include "kernels/dense.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "kernels/packed.hpp"

namespace kernels {
namespace {

using Matrix = std::vector<double>;

Matrix randomMatrix(int rows, int cols, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  Matrix a(static_cast<size_t>(rows) * cols);
  for (double& x : a) x = u(gen);
  return a;
}

// C = A B by the loop `s += a(i, l) * b(l, j)`, column-major.
Matrix loopProduct(const Matrix& a, const Matrix& b, int r, int k, int c) {
  Matrix out(static_cast<size_t>(r) * c);
  for (int j = 0; j < c; ++j)
    for (int i = 0; i < r; ++i) {
      double s = 0.0;
      for (int l = 0; l < k; ++l) s += a[i + l * r] * b[l + j * k];
      out[i + j * r] = s;
    }
  return out;
}

TEST(DenseKernels, ProductsSumInTheOrderOfAPlainLoop) {
  const int r = 17, k = 5, c = 4;
  const Matrix a = randomMatrix(r, k, 1), b = randomMatrix(k, c, 2);
  Matrix got(static_cast<size_t>(r) * c);
  multiply(a.data(), b.data(), got.data(), r, k, c);
  EXPECT_EQ(got, loopProduct(a, b, r, k, c));

  // A B^T with B stored c x k.
  Matrix bt(static_cast<size_t>(c) * k);
  for (int l = 0; l < k; ++l)
    for (int j = 0; j < c; ++j) bt[j + l * c] = b[l + j * k];
  multiplyTransposed(a.data(), bt.data(), got.data(), r, k, c);
  EXPECT_EQ(got, loopProduct(a, b, r, k, c));

  // A S for a packed symmetric S equals A times its full form.
  const Matrix s = randomMatrix(k, k, 3);
  Matrix full(static_cast<size_t>(k) * k), packed(packedSize(k));
  for (int i = 0; i < k; ++i)
    for (int j = 0; j <= i; ++j)
      full[i + j * k] = full[j + i * k] = packed[packedIndex(i, j)] = s[i + j * k];
  Matrix structure(static_cast<size_t>(r) * k);
  multiplyPacked(a.data(), packed.data(), structure.data(), r, k);
  EXPECT_EQ(structure, loopProduct(a, full, r, k, k));

  // A^T A by crossProduct is symmetric and matches the dot products.
  Matrix ata(static_cast<size_t>(k) * k);
  crossProduct(a.data(), a.data(), ata.data(), r, k, k);
  for (int i = 0; i < k; ++i)
    for (int j = 0; j < k; ++j) {
      EXPECT_EQ(ata[i + j * k], ata[j + i * k]);
      EXPECT_EQ(ata[i + j * k], dot(a.data() + i * r, a.data() + j * r, r));
    }
}

TEST(DenseKernels, KaiserScalesAndTheRowsLeftAlone) {
  // Rows (3, 4), (0, 0) and (1e-7, 0): h = 25, 0 and 1e-14.
  const Matrix a = {3, 0, 1e-7, 4, 0, 0};
  Matrix scale(3), h(3);
  kaiserScales(a.data(), 3, 2, 1e-12, scale.data(), h.data());
  EXPECT_EQ(scale[0], 0.2);
  EXPECT_EQ(scale[1], 1.0);  // a zero row stays
  EXPECT_EQ(scale[2], 1.0);  // at or below the floor
  EXPECT_EQ(h[0], 25.0);
  kaiserScales(a.data(), 3, 2, 1e-300, scale.data(), nullptr);
  EXPECT_NEAR(scale[2], 1e7, 1e-6);
}

TEST(DenseKernels, OrthonormalizeAndNormalizeColumns) {
  const int n = 5;
  Matrix q = randomMatrix(n, n, 4);
  orthonormalize(q.data(), n);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j)
      EXPECT_NEAR(dot(q.data() + i * n, q.data() + j * n, n), i == j ? 1.0 : 0.0, 1e-14);
  Matrix c = {3, 4, 0, 0};
  normalizeColumns(c.data(), 2, 2);
  EXPECT_EQ(c, (Matrix{0.6, 0.8, 0, 0}));
}

}  // namespace
}  // namespace kernels
