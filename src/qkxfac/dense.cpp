#include "qkxfac/dense.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

namespace qkxfac {

namespace {

// C (r x c) = A (r x k) * B, with element (l, j) of B at b[l * rowStep + j * colStep].
void multiplyStrided(const double* a, const double* b, double* c, int r, int k, int cols,
                     long rowStep, long colStep) {
  for (int j = 0; j < cols; ++j) {
    double* cj = c + static_cast<long>(j) * r;
    std::fill(cj, cj + r, 0.0);
    for (int l = 0; l < k; ++l) {
      const double blj = b[l * rowStep + j * colStep];
      if (blj == 0.0) continue;
      const double* al = a + static_cast<long>(l) * r;
      for (int i = 0; i < r; ++i) cj[i] += al[i] * blj;
    }
  }
}

}  // namespace

void multiply(const double* a, const double* b, double* c, int r, int k, int cols) {
  multiplyStrided(a, b, c, r, k, cols, 1, k);
}

void multiplyTransposed(const double* a, const double* b, double* c, int r, int k, int cols) {
  multiplyStrided(a, b, c, r, k, cols, cols, 1);
}

double dot(const double* a, const double* b, int n) {
  // Four partial sums: shorter dependency chains, and the order is fixed,
  // so the result does not depend on anything but the data.
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

void crossProduct(const double* a, const double* b, double* c, int r, int k, int cols) {
  for (int j = 0; j < cols; ++j)
    for (int l = 0; l < k; ++l)
      c[l + static_cast<long>(j) * k] =
          dot(a + static_cast<long>(l) * r, b + static_cast<long>(j) * r, r);
}

bool invert(const double* a, double* inv, int n, double* work) {
  double* lu = work;
  double* perm = work + static_cast<long>(n) * n;
  double biggest = 0.0;
  for (long i = 0; i < static_cast<long>(n) * n; ++i) {
    if (!std::isfinite(a[i])) return false;
    biggest = std::max(biggest, std::fabs(a[i]));
    lu[i] = a[i];
  }
  if (biggest == 0.0) return false;
  const double tiny = 1e-13 * biggest;
  for (int i = 0; i < n; ++i) perm[i] = i;
  for (int col = 0; col < n; ++col) {
    int pivot = col;
    for (int i = col + 1; i < n; ++i)
      if (std::fabs(lu[i + col * n]) > std::fabs(lu[pivot + col * n])) pivot = i;
    if (std::fabs(lu[pivot + col * n]) <= tiny) return false;
    if (pivot != col) {
      for (int j = 0; j < n; ++j) std::swap(lu[pivot + j * n], lu[col + j * n]);
      std::swap(perm[pivot], perm[col]);
    }
    const double d = lu[col + col * n];
    for (int i = col + 1; i < n; ++i) {
      const double f = (lu[i + col * n] /= d);
      if (f == 0.0) continue;
      for (int j = col + 1; j < n; ++j) lu[i + j * n] -= f * lu[col + j * n];
    }
  }
  // Solve L U x = P e_j for each unit vector.
  for (int j = 0; j < n; ++j) {
    double* x = inv + static_cast<long>(j) * n;
    for (int i = 0; i < n; ++i) x[i] = (static_cast<int>(perm[i]) == j) ? 1.0 : 0.0;
    for (int i = 0; i < n; ++i)
      for (int l = 0; l < i; ++l) x[i] -= lu[i + l * n] * x[l];
    for (int i = n - 1; i >= 0; --i) {
      for (int l = i + 1; l < n; ++l) x[i] -= lu[i + l * n] * x[l];
      x[i] /= lu[i + i * n];
    }
  }
  return true;
}

void normalizeColumns(double* a, int r, int c) {
  for (int j = 0; j < c; ++j) {
    double* col = a + static_cast<long>(j) * r;
    const double norm = std::sqrt(dot(col, col, r));
    if (norm > 0.0)
      for (int i = 0; i < r; ++i) col[i] /= norm;
  }
}

void orthonormalize(double* q, int n) {
  for (int pass = 0; pass < 2; ++pass)
    for (int j = 0; j < n; ++j) {
      double* qj = q + static_cast<long>(j) * n;
      for (int k = 0; k < j; ++k) {
        const double* qk = q + static_cast<long>(k) * n;
        const double d = dot(qk, qj, n);
        for (int i = 0; i < n; ++i) qj[i] -= d * qk[i];
      }
      normalizeColumns(qj, n, 1);
    }
}

}  // namespace qkxfac
