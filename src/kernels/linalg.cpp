// Matrix utilities on packed symmetric and triangular matrices; see
// linalg.hpp for the storage and the contracts.
#include "kernels/linalg.hpp"

#include <cblas.h>

#include <cmath>
#include <cstddef>

#include "kernels/lu.hpp"

// LAPACK through its Fortran interface (the hidden length of each
// character argument last).
extern "C" {
void dpotrf_(const char* uplo, const int* n, double* a, const int* lda, int* info, std::size_t);
void dpotri_(const char* uplo, const int* n, double* a, const int* lda, int* info, std::size_t);
void dgesv_(const int* n, const int* nrhs, double* a, const int* lda, int* ipiv, double* b,
            const int* ldb, int* info);
void dgetrf_(const int* m, const int* n, double* a, const int* lda, int* ipiv, int* info);
void dgetri_(const int* n, double* a, const int* lda, const int* ipiv, double* work,
             const int* lwork, int* info);
}

namespace kernels {

namespace {

// A correlation within this of 0 (500 * 2^-52) is set to exactly 0.
constexpr double kZeroCorrelation = 1.110223024625157E-13;
// A pivot at or below this share of the largest element makes
// generalInverse's matrix numerically singular (as invert in lu.cpp).
constexpr double kSingularPivot = 1e-13;

}  // namespace

double ddot(int n, const double* x, const double* y) noexcept {
  if (n < 1 || x == nullptr || y == nullptr) return 0.0;
  return cblas_ddot(n, x, 1, y, 1);
}

void daxpy(int n, double alpha, const double* x, double* y) noexcept {
  if (n < 1 || x == nullptr || y == nullptr) return;
  cblas_daxpy(n, alpha, x, 1, y, 1);
}

int idamax(int n, const double* x) noexcept {
  if (n < 1 || x == nullptr) return -1;
  return static_cast<int>(cblas_idamax(n, x, 1));
}

void matrixProduct(int r, int k, int c, const double* a, const double* b, double* out) noexcept {
  if (r < 1 || k < 1 || c < 1 || a == nullptr || b == nullptr || out == nullptr) return;
  cblas_dgemm(CblasColMajor, CblasNoTrans, CblasNoTrans, r, c, k, 1.0, a, r, b, k, 0.0, out, r);
}

void matrixProductOp(bool transA, bool transB, int r, int k, int c, const double* a,
                     const double* b, double* out) noexcept {
  matrixProductBlock(transA, transB, r, k, c, a, transA ? k : r, b, transB ? c : k, out, r);
}

void matrixProductBlock(bool transA, bool transB, int r, int k, int c, const double* a, int lda,
                        const double* b, int ldb, double* out, int ldc) noexcept {
  if (r < 1 || k < 1 || c < 1 || a == nullptr || b == nullptr || out == nullptr) return;
  cblas_dgemm(CblasColMajor, transA ? CblasTrans : CblasNoTrans,
              transB ? CblasTrans : CblasNoTrans, r, c, k, 1.0, a, lda, b, ldb, 0.0, out, ldc);
}

bool generalSolve(int n, int nrhs, double* a, int* pivots, double* b) noexcept {
  if (n < 1 || nrhs < 1 || a == nullptr || pivots == nullptr || b == nullptr) return false;
  int info = 0;
  dgesv_(&n, &nrhs, a, &n, pivots, b, &n, &info);
  return info == 0;
}

bool generalInverse(int n, const double* a, double* inv, int* pivots, double* work) noexcept {
  if (n < 1 || a == nullptr || inv == nullptr || pivots == nullptr || work == nullptr)
    return false;
  const double biggest = copyForInverse(n, a, inv);
  if (!(biggest > 0.0)) return false;
  int info = 0;
  dgetrf_(&n, &n, inv, &n, pivots, &info);
  if (info != 0) return false;
  for (int k = 0; k < n; ++k)
    if (!(std::fabs(inv[k + static_cast<std::size_t>(k) * n]) > kSingularPivot * biggest))
      return false;
  const int lwork = n * n;
  dgetri_(&n, inv, &n, pivots, work, &lwork, &info);
  return info == 0;
}

int positiveDefiniteInverse(int n, double* a, double tol) noexcept {
  if (n < 1 || a == nullptr) return -1;
  int info = 0;
  dpotrf_("L", &n, a, &n, &info, 1);
  if (info < 0) return -1;
  // dpotrf stops at a pivot that is not positive; below it the pivots
  // are l_kk^2.
  const int factored = info > 0 ? info - 1 : n;
  for (int k = 0; k < factored; ++k) {
    const double l = a[k + static_cast<std::size_t>(k) * n];
    if (!(l * l >= tol)) return k + 1;
  }
  if (info > 0) return info;
  dpotri_("L", &n, a, &n, &info, 1);
  if (info != 0) return info > 0 ? info : -1;
  for (int j = 0; j < n; ++j)
    for (int i = j + 1; i < n; ++i)
      a[j + static_cast<std::size_t>(i) * n] = a[i + static_cast<std::size_t>(j) * n];
  return 0;
}

double vectorSum(const double* x, int n) noexcept {
  double sum = 0.0;
  if (x == nullptr) return sum;
  for (int i = 0; i < n; ++i) sum += x[i];
  return sum;
}

void packedSymv(int n, const double* a, const double* x, double* y) noexcept {
  if (n < 1 || a == nullptr || x == nullptr || y == nullptr) return;
  for (int j = 0; j < n; ++j) y[j] = 0.0;
  for (int j = 0; j < n; ++j) {
    const double* row = a + packedRow(j);
    y[j] += ddot(j, row, x) + row[j] * x[j];
    daxpy(j, x[j], row, y);
  }
}

int sweepInvert(int n, double* a, double* work, int m, double* b, double tol) noexcept {
  if (n < 0 || m < 0 || (n > 0 && (a == nullptr || work == nullptr)) ||
      (n > 0 && m > 0 && b == nullptr)) {
    return -1;
  }
  // Sweeping every pivot leaves -A^-1, which the last loop negates; the
  // right-hand sides come out as +A^-1 B directly.
  int singular = 0;
  for (int k = 0; k < n; ++k) {
    const double pivot = a[packedIndex(k, k)];
    if (!(pivot >= tol)) {
      for (int j = 0; j < n; ++j) a[packedIndex(k, j)] = 0.0;
      for (int c = 0; c < m; ++c) b[static_cast<std::size_t>(c) * n + k] = 0.0;
      ++singular;
      continue;
    }
    sweepPivotWith(n, a, k, false, work, daxpy);
    for (int c = 0; c < m; ++c) {
      double* col = b + static_cast<std::size_t>(c) * n;
      const double bk = col[k];
      if (bk != 0.0) {
        const double saved = work[k];
        work[k] = 0.0;  // row k itself is divided, not corrected
        daxpy(n, -bk / pivot, work, col);
        work[k] = saved;
      }
      col[k] = bk / pivot;
    }
  }
  // 0.0 - x rather than -x, so that zeroed rows stay +0.0.
  const std::size_t size = packedRow(static_cast<std::size_t>(n));
  for (std::size_t i = 0; i < size; ++i) a[i] = 0.0 - a[i];
  return singular;
}

double choleskyRow(int i, double* a, double tol) noexcept {
  if (i < 0 || a == nullptr) return 0.0;
  double* row = a + packedRow(i);
  for (int j = 0; j < i; ++j) {
    const double* rowJ = a + packedRow(j);
    const double ljj = rowJ[j];
    row[j] = ljj == 0.0 ? 0.0 : (row[j] - ddot(j, row, rowJ)) / ljj;
  }
  const double d = row[i] - ddot(i, row, row);
  row[i] = d > tol ? std::sqrt(d) : 0.0;
  return d;
}

int invertLower(double* t, int n, double* work, double tol) noexcept {
  if (n < 0 || (n > 0 && t == nullptr)) return 1;
  for (int k = 0; k < n; ++k) {
    double* rowK = t + packedRow(k);
    const double pivot = rowK[k];
    if (!(std::fabs(pivot) > tol)) return 1;
    // Row k left of the diagonal first, so that each later row needs one
    // update with the new row: l_ij += l_ik * (-l_kj / l_kk).
    for (int j = 0; j < k; ++j) rowK[j] = -rowK[j] / pivot;
    rowK[k] = 1.0 / pivot;
    for (int i = k + 1; i < n; ++i) {
      double* rowI = t + packedRow(i);
      daxpy(k, rowI[k], rowK, rowI);
      rowI[k] /= pivot;
    }
  }
  return 0;
}

void solveLower(int n, const double* t, double* x) noexcept {
  if (n < 1 || t == nullptr || x == nullptr) return;
  for (int i = 0; i < n; ++i) {
    const double* row = t + packedRow(i);
    x[i] = row[i] == 0.0 ? 0.0 : (x[i] - ddot(i, row, x)) / row[i];
  }
}

void quadForm(const double* a, int n, const double* x, int m, double* out, double* work,
              bool accumulate) noexcept {
  if (n < 1 || m < 1 || a == nullptr || x == nullptr || out == nullptr) return;
  if (m == 1) {
    double value = 0.0;
    for (int i = 0; i < n; ++i) {
      const double* row = a + packedRow(i);
      value += x[i] * (2.0 * ddot(i, row, x) + row[i] * x[i]);
    }
    out[0] = accumulate ? out[0] + value : value;
    return;
  }
  if (work == nullptr) return;
  for (int k = 0; k < m; ++k) {
    packedSymv(n, a, x + static_cast<std::size_t>(k) * n, work);
    for (int j = k; j < m; ++j) {
      const double value = ddot(n, x + static_cast<std::size_t>(j) * n, work);
      double& cell = out[packedIndex(j, k)];
      cell = accumulate ? cell + value : value;
    }
  }
}

void covToCorr(int n, double* a, double* s) noexcept {
  if (n < 1 || a == nullptr || s == nullptr) return;
  for (int i = 0; i < n; ++i) {
    const double v = a[packedIndex(i, i)];
    s[i] = v > 0.0 ? std::sqrt(v) : 0.0;
  }
  for (int i = 0; i < n; ++i) {
    double* row = a + packedRow(i);
    for (int j = 0; j < i; ++j) {
      double r = 0.0;
      if (s[i] != 0.0 && s[j] != 0.0) r = row[j] / (s[i] * s[j]);
      if (std::fabs(r) <= kZeroCorrelation) r = 0.0;
      row[j] = r;
    }
    row[i] = s[i] != 0.0 ? 1.0 : 0.0;
  }
}

}  // namespace kernels
