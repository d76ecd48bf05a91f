// Test matrices and dense reference arithmetic for the kernel tests. Plain
// dense loops, deliberately independent of the kernels under test.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <random>
#include <vector>

namespace zulfact::testing {

using Dense = std::vector<double>;  // n x n, row-major: (i, j) at i*n + j

inline std::size_t tri(int n) { return static_cast<std::size_t>(n) * (n + 1) / 2; }

inline std::vector<double> pack(const Dense& a, int n) {
  std::vector<double> p;
  p.reserve(tri(n));
  for (int i = 0; i < n; ++i)
    for (int j = 0; j <= i; ++j) p.push_back(a[i * n + j]);
  return p;
}

inline Dense unpack(const std::vector<double>& p, int n) {
  Dense a(static_cast<std::size_t>(n) * n);
  std::size_t k = 0;
  for (int i = 0; i < n; ++i)
    for (int j = 0; j <= i; ++j, ++k) a[i * n + j] = a[j * n + i] = p[k];
  return a;
}

inline Dense randomSymmetric(int n, unsigned seed, double lo = -1.0, double hi = 1.0) {
  std::mt19937_64 gen(seed);
  std::uniform_real_distribution<double> dist(lo, hi);
  Dense a(static_cast<std::size_t>(n) * n);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j <= i; ++j) a[i * n + j] = a[j * n + i] = dist(gen);
  return a;
}

// B B^T + n I: symmetric positive definite and well conditioned.
inline Dense randomSpd(int n, unsigned seed) {
  std::mt19937_64 gen(seed);
  std::uniform_real_distribution<double> dist(-1.0, 1.0);
  Dense b(static_cast<std::size_t>(n) * n);
  for (double& x : b) x = dist(gen);
  Dense a(static_cast<std::size_t>(n) * n, 0.0);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) {
      double s = 0.0;
      for (int k = 0; k < n; ++k) s += b[i * n + k] * b[j * n + k];
      a[i * n + j] = s + (i == j ? n : 0.0);
    }
  return a;
}

// A random orthogonal matrix as a product of n Householder reflections.
inline Dense randomOrthogonal(int n, unsigned seed) {
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
    for (int i = 0; i < n; ++i) {  // q <- q (I - 2 v v^T / |v|^2)
      double s = 0.0;
      for (int k = 0; k < n; ++k) s += q[i * n + k] * v[k];
      for (int k = 0; k < n; ++k) q[i * n + k] -= 2.0 * s * v[k] / norm2;
    }
  }
  return q;
}

// Q diag(lambda) Q^T.
inline Dense withSpectrum(const std::vector<double>& lambda, unsigned seed) {
  const int n = static_cast<int>(lambda.size());
  const Dense q = randomOrthogonal(n, seed);
  Dense a(static_cast<std::size_t>(n) * n, 0.0);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) {
      double s = 0.0;
      for (int k = 0; k < n; ++k) s += q[i * n + k] * lambda[k] * q[j * n + k];
      a[i * n + j] = s;
    }
  for (int i = 0; i < n; ++i)  // exactly symmetric
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

}  // namespace zulfact::testing
