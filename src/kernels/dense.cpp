// Dense matrix kernels; see dense.hpp for the storage and the order of
// summation.
#include "kernels/dense.hpp"

#include <cmath>
#include <cstddef>

#include "kernels/packed.hpp"

namespace kernels {

namespace {

// C (r x c) = A (r x k) * B, with element (l, j) of B at
// b[l * rowStep + j * colStep]. Column j of C is built by column updates
// c_j += a_l b_lj, l = 0, 1, ...: per element the same additions in the
// same order as a dot-product loop, with unit stride on A and C.
void multiplyStrided(const double* a, const double* b, double* c, int r, int k, int cols,
                     std::ptrdiff_t rowStep, std::ptrdiff_t colStep) {
  for (int j = 0; j < cols; ++j) {
    double* cj = c + static_cast<std::ptrdiff_t>(j) * r;
    for (int i = 0; i < r; ++i) cj[i] = 0.0;
    for (int l = 0; l < k; ++l) {
      const double blj = b[l * rowStep + j * colStep];
      const double* al = a + static_cast<std::ptrdiff_t>(l) * r;
      for (int i = 0; i < r; ++i) cj[i] += al[i] * blj;
    }
  }
}

}  // namespace

void multiply(const double* a, const double* b, double* c, int r, int k, int cols) noexcept {
  multiplyStrided(a, b, c, r, k, cols, 1, k);
}

void multiplyTransposed(const double* a, const double* b, double* c, int r, int k,
                        int cols) noexcept {
  multiplyStrided(a, b, c, r, k, cols, cols, 1);
}

void multiplyPacked(const double* a, const double* s, double* c, int r, int m) noexcept {
  for (int j = 0; j < m; ++j) {
    double* cj = c + static_cast<std::ptrdiff_t>(j) * r;
    for (int i = 0; i < r; ++i) cj[i] = 0.0;
    for (int l = 0; l < m; ++l) {
      const double slj = s[packedIndex(l, j)];
      const double* al = a + static_cast<std::ptrdiff_t>(l) * r;
      for (int i = 0; i < r; ++i) cj[i] += al[i] * slj;
    }
  }
}

double dot(const double* a, const double* b, int n) noexcept {
  // Four partial sums: shorter dependency chains, in a fixed order.
  double s0 = 0, s1 = 0, s2 = 0, s3 = 0;
  int i = 0;
  for (; i + 4 <= n; i += 4) {
    s0 += a[i] * b[i];
    s1 += a[i + 1] * b[i + 1];
    s2 += a[i + 2] * b[i + 2];
    s3 += a[i + 3] * b[i + 3];
  }
  for (; i < n; ++i) s0 += a[i] * b[i];
  return (s0 + s1) + (s2 + s3);
}

void crossProduct(const double* a, const double* b, double* c, int r, int k, int cols) noexcept {
  for (int j = 0; j < cols; ++j)
    for (int l = 0; l < k; ++l)
      c[l + static_cast<std::ptrdiff_t>(j) * k] =
          dot(a + static_cast<std::ptrdiff_t>(l) * r, b + static_cast<std::ptrdiff_t>(j) * r, r);
}

void normalizeColumns(double* a, int r, int c) noexcept {
  for (int j = 0; j < c; ++j) {
    double* col = a + static_cast<std::ptrdiff_t>(j) * r;
    const double norm = std::sqrt(dot(col, col, r));
    if (norm > 0.0)
      for (int i = 0; i < r; ++i) col[i] /= norm;
  }
}

void orthonormalize(double* q, int n) noexcept {
  for (int pass = 0; pass < 2; ++pass)
    for (int j = 0; j < n; ++j) {
      double* qj = q + static_cast<std::ptrdiff_t>(j) * n;
      for (int k = 0; k < j; ++k) {
        const double* qk = q + static_cast<std::ptrdiff_t>(k) * n;
        const double d = dot(qk, qj, n);
        for (int i = 0; i < n; ++i) qj[i] -= d * qk[i];
      }
      normalizeColumns(qj, n, 1);
    }
}

void kaiserScales(const double* a, int p, int m, double floor, double* scale,
                  double* sumsOfSquares) noexcept {
  for (int i = 0; i < p; ++i) {
    double h = 0.0;
    for (int j = 0; j < m; ++j) {
      const double x = a[i + static_cast<std::ptrdiff_t>(j) * p];
      h += x * x;
    }
    scale[i] = h > floor ? 1.0 / std::sqrt(h) : 1.0;
    if (sumsOfSquares != nullptr) sumsOfSquares[i] = h;
  }
}

}  // namespace kernels
