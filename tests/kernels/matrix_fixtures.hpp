// Test matrices and dense reference arithmetic for the kernel tests: plain
// loops, deliberately independent of the kernels under test.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <random>
#include <vector>

namespace kernels::testing {

using Dense = std::vector<double>;  // n x n, row-major: (i, j) at i*n + j

inline std::size_t tri(int n) { return static_cast<std::size_t>(n) * (n + 1) / 2; }

inline std::vector<double> pack(const Dense& a, int n) {
  std::vector<double> p;
  for (int i = 0; i < n; ++i)
    for (int j = 0; j <= i; ++j) p.push_back(a[i * n + j]);
  return p;
}

// Uniform on (-1, 1), symmetric.
inline Dense randomSymmetric(int n, unsigned seed) {
  std::mt19937_64 gen(seed);
  std::uniform_real_distribution<double> dist(-1.0, 1.0);
  Dense a(static_cast<std::size_t>(n) * n);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j <= i; ++j) a[i * n + j] = a[j * n + i] = dist(gen);
  return a;
}

inline Dense multiply(const Dense& a, const Dense& b, int n, bool transposeB) {
  Dense c(static_cast<std::size_t>(n) * n, 0.0);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j)
      for (int k = 0; k < n; ++k)
        c[i * n + j] += a[i * n + k] * (transposeB ? b[j * n + k] : b[k * n + j]);
  return c;
}

// B B^T + n I: symmetric positive definite, well conditioned.
inline Dense randomSpd(int n, unsigned seed) {
  Dense b = randomSymmetric(n, seed);
  Dense a = multiply(b, b, n, true);
  for (int i = 0; i < n; ++i) a[i * n + i] += n;
  return a;
}

// Q diag(lambda) Q^T with Q a product of n random Householder reflections.
inline Dense withSpectrum(const std::vector<double>& lambda, unsigned seed) {
  const int n = static_cast<int>(lambda.size());
  std::mt19937_64 gen(seed);
  std::normal_distribution<double> dist;
  Dense q(static_cast<std::size_t>(n) * n, 0.0);
  for (int i = 0; i < n; ++i) q[i * n + i] = 1.0;
  std::vector<double> v(n);
  for (int r = 0; r < n; ++r) {
    double norm2 = 0.0;
    for (double& x : v) {
      x = dist(gen);
      norm2 += x * x;
    }
    for (int i = 0; i < n; ++i) {
      double s = 0.0;
      for (int k = 0; k < n; ++k) s += q[i * n + k] * v[k];
      for (int k = 0; k < n; ++k) q[i * n + k] -= 2.0 * s * v[k] / norm2;
    }
  }
  Dense ql = q;
  for (int i = 0; i < n; ++i)
    for (int k = 0; k < n; ++k) ql[i * n + k] *= lambda[k];
  Dense a = multiply(ql, q, n, true);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < i; ++j) a[j * n + i] = a[i * n + j];
  return a;
}

// Largest absolute row sum (bounds the 2-norm).
inline double normInf(const Dense& a, int n) {
  double best = 0.0;
  for (int i = 0; i < n; ++i) {
    double s = 0.0;
    for (int j = 0; j < n; ++j) s += std::fabs(a[i * n + j]);
    best = std::max(best, s);
  }
  return best;
}

// Euclidean norm of A v - lambda v.
inline double residual(const Dense& a, int n, const double* v, double lambda) {
  double sum = 0.0;
  for (int i = 0; i < n; ++i) {
    double s = -lambda * v[i];
    for (int j = 0; j < n; ++j) s += a[i * n + j] * v[j];
    sum += s * s;
  }
  return std::sqrt(sum);
}

// Largest |V^T V - I| over m vectors of length n stored one after another.
inline double orthogonalityError(const double* z, int n, int m) {
  double worst = 0.0;
  for (int j = 0; j < m; ++j)
    for (int k = 0; k <= j; ++k) {
      double s = 0.0;
      for (int i = 0; i < n; ++i) s += z[j * n + i] * z[k * n + i];
      worst = std::max(worst, std::fabs(s - (j == k ? 1.0 : 0.0)));
    }
  return worst;
}

}  // namespace kernels::testing
