#include "kernels/lu.hpp"

#include <cmath>
#include <cstddef>
#include <utility>

namespace kernels {

namespace {

// A pivot at or below this share of the largest element makes invert's
// matrix numerically singular.
constexpr double kSingularPivot = 1e-13;

inline std::size_t at(int i, int j, int n) {
  return static_cast<std::size_t>(i) + static_cast<std::size_t>(j) * static_cast<std::size_t>(n);
}

}  // namespace

int luFactor(int n, double* a, int* pivots, double tol) noexcept {
  if (n < 0 || (n > 0 && (!a || !pivots))) return -1;
  for (int k = 0; k < n; ++k) {
    // Partial pivoting: the largest |a_ik| at or below the diagonal.
    int pivot = k;
    double largest = std::fabs(a[at(k, k, n)]);
    for (int i = k + 1; i < n; ++i) {
      const double v = std::fabs(a[at(i, k, n)]);
      if (v > largest) {
        largest = v;
        pivot = i;
      }
    }
    pivots[k] = pivot;
    if (!(largest > tol)) return k + 1;
    if (pivot != k)
      for (int j = 0; j < n; ++j) std::swap(a[at(k, j, n)], a[at(pivot, j, n)]);
    const double d = a[at(k, k, n)];
    for (int i = k + 1; i < n; ++i) a[at(i, k, n)] /= d;
    // Rank-1 update of the trailing block, column by column.
    for (int j = k + 1; j < n; ++j) {
      const double ukj = a[at(k, j, n)];
      if (ukj == 0.0) continue;
      double* column = a + at(0, j, n);
      const double* l = a + at(0, k, n);
      for (int i = k + 1; i < n; ++i) column[i] -= l[i] * ukj;
    }
  }
  return 0;
}

void luSolve(int n, const double* lu, const int* pivots, double* b) noexcept {
  if (n <= 0 || !lu || !pivots || !b) return;
  for (int k = 0; k < n; ++k)
    if (pivots[k] != k) std::swap(b[k], b[pivots[k]]);
  // L y = P b (unit lower triangle), column-oriented.
  for (int k = 0; k < n; ++k) {
    const double yk = b[k];
    if (yk == 0.0) continue;
    for (int i = k + 1; i < n; ++i) b[i] -= lu[at(i, k, n)] * yk;
  }
  // U x = y.
  for (int k = n - 1; k >= 0; --k) {
    b[k] /= lu[at(k, k, n)];
    const double xk = b[k];
    if (xk == 0.0) continue;
    for (int i = 0; i < k; ++i) b[i] -= lu[at(i, k, n)] * xk;
  }
}

double copyForInverse(int n, const double* a, double* out) noexcept {
  const std::size_t size = static_cast<std::size_t>(n) * static_cast<std::size_t>(n);
  double biggest = 0.0;
  for (std::size_t i = 0; i < size; ++i) {
    if (!std::isfinite(a[i])) return -1.0;
    biggest = std::fmax(biggest, std::fabs(a[i]));
    out[i] = a[i];
  }
  return biggest;
}

bool invert(const double* a, double* inv, int n, double* lu, int* pivots) noexcept {
  if (n < 1 || !a || !inv || !lu || !pivots) return false;
  const double biggest = copyForInverse(n, a, lu);
  if (!(biggest > 0.0)) return false;
  if (luFactor(n, lu, pivots, kSingularPivot * biggest) != 0) return false;
  for (int j = 0; j < n; ++j) {
    double* x = inv + at(0, j, n);
    for (int i = 0; i < n; ++i) x[i] = i == j ? 1.0 : 0.0;
    luSolve(n, lu, pivots, x);
  }
  return true;
}

}  // namespace kernels
