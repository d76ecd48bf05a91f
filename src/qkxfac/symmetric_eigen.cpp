#include "qkxfac/symmetric_eigen.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace qkxfac {

namespace {

// sqrt(a^2 + b^2): the plain formula, several times faster than std::hypot,
// unless the sum of squares leaves the range where it is exact enough.
inline double pythag(double a, double b) {
  const double s = a * a + b * b;
  if (s > 1e-290 && s < 1e290) return std::sqrt(s);
  return std::hypot(a, b);
}

}  // namespace

SymmetricEigen::SymmetricEigen(int n)
    : n_(std::max(n, 0)),
      a_(static_cast<size_t>(n_) * n_),
      beta_(static_cast<size_t>(n_)),
      d_(static_cast<size_t>(n_)),
      e_(static_cast<size_t>(n_)),
      v_(static_cast<size_t>(n_)),
      w_(static_cast<size_t>(n_)) {}

// Column k below the diagonal, x = a(k+1.., k), is mapped onto a multiple
// of the first unit vector by H = I - beta v v' with v = x - alpha e1 and
// alpha = -sign(x1) |x| (the sign that avoids cancellation). The trailing
// block becomes H A H = A - v w' - w v', where p = beta A v and
// w = p - (beta v'p / 2) v. Only the trailing block changes, so v can be
// kept in column k for the accumulation of Q.
void SymmetricEigen::tridiagonalize(bool keepReflections) {
  const int n = n_;
  double* a = a_.data();
  double* v = v_.data();
  double* w = w_.data();
  for (int k = 0; k + 2 < n; ++k) {
    d_[k] = a[k * n + k];
    const int m = n - k - 1;
    double* column = a + (k + 1) * n + k;  // x_i at column[i * n]
    double tail = 0.0;
    for (int i = 1; i < m; ++i) tail += column[i * n] * column[i * n];
    const double x0 = column[0];
    if (tail == 0.0) {  // already tridiagonal in this column
      e_[k] = x0;
      beta_[k] = 0.0;
      continue;
    }
    const double norm = std::sqrt(x0 * x0 + tail);
    const double alpha = x0 >= 0.0 ? -norm : norm;
    const double beta = 1.0 / (norm * (norm + std::fabs(x0)));  // 2 / v'v
    e_[k] = alpha;
    beta_[k] = beta;
    for (int i = 0; i < m; ++i) v[i] = column[i * n];
    v[0] = x0 - alpha;
    if (keepReflections) column[0] = v[0];

    double vp = 0.0;
    for (int i = 0; i < m; ++i) {
      const double* row = a + (k + 1 + i) * n + (k + 1);
      double s = 0.0;
      for (int j = 0; j < m; ++j) s += row[j] * v[j];
      w[i] = beta * s;
      vp += v[i] * w[i];
    }
    const double half = 0.5 * beta * vp;
    for (int i = 0; i < m; ++i) w[i] -= half * v[i];
    for (int i = 0; i < m; ++i) {
      double* row = a + (k + 1 + i) * n + (k + 1);
      const double vi = v[i], wi = w[i];
      for (int j = 0; j < m; ++j) row[j] -= vi * w[j] + wi * v[j];
    }
  }
  if (n >= 2) {
    d_[n - 2] = a[(n - 2) * n + (n - 2)];
    e_[n - 2] = a[(n - 1) * n + (n - 2)];
    beta_[n - 2] = 0.0;
  }
  d_[n - 1] = a[(n - 1) * n + (n - 1)];
  e_[n - 1] = 0.0;
  beta_[n - 1] = 0.0;
}

// Q = H_0 H_1 ... H_{n-3}, accumulated backwards: Q <- H_k Q, where H_k
// touches rows and columns k+1 .. n-1 only.
void SymmetricEigen::formQ(double* q) const {
  const int n = n_;
  const double* a = a_.data();
  std::fill(q, q + static_cast<size_t>(n) * n, 0.0);
  for (int i = 0; i < n; ++i) q[i * n + i] = 1.0;
  double* s = const_cast<double*>(w_.data());
  for (int k = n - 3; k >= 0; --k) {
    const double beta = beta_[k];
    if (beta == 0.0) continue;
    const int m = n - k - 1;
    const double* column = a + (k + 1) * n + k;
    // s' = beta v' Q22, then Q22 -= v s'.
    std::fill(s, s + m, 0.0);
    for (int i = 0; i < m; ++i) {
      const double vi = beta * column[i * n];
      const double* row = q + (k + 1 + i) * n + (k + 1);
      for (int j = 0; j < m; ++j) s[j] += vi * row[j];
    }
    for (int i = 0; i < m; ++i) {
      const double vi = column[i * n];
      double* row = q + (k + 1 + i) * n + (k + 1);
      for (int j = 0; j < m; ++j) row[j] -= vi * s[j];
    }
  }
}

// Implicit QL with Wilkinson shifts on (d_, e_), the rotations applied to
// the columns of q when it is given. A subdiagonal element counts as zero
// below machine epsilon times the largest |d| + |e| met so far.
bool SymmetricEigen::diagonalize(double* q) {
  const int n = n_;
  double* d = d_.data();
  double* e = e_.data();
  const double eps = std::numeric_limits<double>::epsilon();
  const int maxSweeps = 30 * std::max(n, 1);
  double shift = 0.0, scale = 0.0;
  int sweeps = 0;
  for (int l = 0; l < n; ++l) {
    scale = std::max(scale, std::fabs(d[l]) + std::fabs(e[l]));
    int m = l;
    while (m < n - 1 && !(std::fabs(e[m]) <= eps * scale)) ++m;
    if (m > l) {
      do {
        if (++sweeps > maxSweeps) return false;
        double g = d[l];
        double p = (d[l + 1] - g) / (2.0 * e[l]);
        double r = pythag(p, 1.0);
        if (p < 0) r = -r;
        d[l] = e[l] / (p + r);
        d[l + 1] = e[l] * (p + r);
        const double dl1 = d[l + 1];
        double h = g - d[l];
        for (int i = l + 2; i < n; ++i) d[i] -= h;
        shift += h;

        p = d[m];
        double c = 1.0, c2 = 1.0, c3 = 1.0;
        const double el1 = e[l + 1];
        double s = 0.0, s2 = 0.0;
        for (int i = m - 1; i >= l; --i) {
          c3 = c2;
          c2 = c;
          s2 = s;
          g = c * e[i];
          h = c * p;
          r = pythag(p, e[i]);
          e[i + 1] = s * r;
          s = e[i] / r;
          c = p / r;
          p = c * d[i] - s * g;
          d[i + 1] = h + s * (c * g + s * d[i]);
          if (q) {
            for (int k = 0; k < n; ++k) {
              double* row = q + k * n;
              const double t = row[i + 1];
              row[i + 1] = s * row[i] + c * t;
              row[i] = c * row[i] - s * t;
            }
          }
        }
        p = -s * s2 * c3 * el1 * e[l] / dl1;
        e[l] = s * p;
        d[l] = c * p;
      } while (!(std::fabs(e[l]) <= eps * scale));
    }
    d[l] += shift;
    e[l] = 0.0;
  }
  return true;
}

int SymmetricEigen::solve(double* values, double* vectors) {
  const int n = n_;
  if (n == 0) return 0;
  tridiagonalize(vectors != nullptr);
  if (vectors) formQ(vectors);
  if (!diagonalize(vectors)) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    std::fill(values, values + n, nan);
    if (vectors) std::fill(vectors, vectors + static_cast<size_t>(n) * n, nan);
    return -1;
  }
  // Descending order; selection sort keeps the columns in step and is
  // cheap next to the O(n^3) reduction.
  std::copy(d_.begin(), d_.end(), values);
  for (int i = 0; i < n; ++i) {
    int best = i;
    for (int j = i + 1; j < n; ++j)
      if (values[j] > values[best]) best = j;
    if (best == i) continue;
    std::swap(values[i], values[best]);
    if (vectors)
      for (int k = 0; k < n; ++k) std::swap(vectors[k * n + i], vectors[k * n + best]);
  }
  return 0;
}

}  // namespace qkxfac
