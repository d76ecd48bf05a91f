#include "zulfact/inference/unrotated_errors.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "kernels/linalg.hpp"
#include "kernels/lu.hpp"
#include "kernels/packed.hpp"

namespace zulfact {

namespace {

using Index = std::ptrdiff_t;

// A dense n x n column-major matrix.
struct Square {
  int n = 0;
  std::vector<double> a;
  explicit Square(int order) : n(order), a(static_cast<std::size_t>(order) * order, 0.0) {}
  double& operator()(Index i, Index j) { return a[static_cast<std::size_t>(j * n + i)]; }
  double operator()(Index i, Index j) const { return a[static_cast<std::size_t>(j * n + i)]; }
};

// A packed symmetric matrix (lower triangle by rows); (i, j) and (j, i)
// are the same element.
struct Packed {
  int n = 0;
  std::vector<double> a;
  explicit Packed(int order) : n(order), a(kernels::packedSize(order), 0.0) {}
  double& operator()(Index i, Index j) { return a[kernels::packedIndex(i, j)]; }
  double operator()(Index i, Index j) const { return a[kernels::packedIndex(i, j)]; }
};

// The model matrices at the solution: A = Sigma^-1, B = A S A, M = A - B
// (the gradient of F in Sigma), and X Lambda, Lambda' X Lambda for X = A, B.
struct ModelTerms {
  Square a, b, m;
  std::vector<double> aL, bL;  // p x m
  Square gA, gB;               // m x m
  ModelTerms(int p, int k) : a(p), b(p), m(p), gA(k), gB(k) {}
};

bool sigmaInverse(const UnrotatedErrorsInput& in, const double* psi, Square& inv) {
  const int p = in.p, k = in.m;
  Square sigma(p);
  for (int i = 0; i < p; ++i)
    for (int j = 0; j < p; ++j) {
      double s = i == j ? psi[i] : 0.0;
      for (int l = 0; l < k; ++l) s += in.loadings[l * p + i] * in.loadings[l * p + j];
      sigma(i, j) = s;
    }
  std::vector<double> lu(sigma.a.size());
  std::vector<int> pivots(static_cast<std::size_t>(p));
  return kernels::invert(sigma.a.data(), inv.a.data(), p, lu.data(), pivots.data());
}

// X Lambda (p x m) and Lambda' X Lambda (m x m) of a symmetric X.
void loadingProducts(const Square& x, const double* lambda, int p, int k,
                     std::vector<double>& xl, Square& g) {
  xl.assign(static_cast<std::size_t>(p) * k, 0.0);
  for (int l = 0; l < k; ++l)
    for (int j = 0; j < p; ++j)
      for (int i = 0; i < p; ++i) xl[l * p + i] += x(i, j) * lambda[l * p + j];
  for (int l = 0; l < k; ++l)
    for (int c = 0; c < k; ++c) {
      double s = 0.0;
      for (int i = 0; i < p; ++i) s += lambda[l * p + i] * xl[c * p + i];
      g(l, c) = s;
    }
}

bool modelTerms(const UnrotatedErrorsInput& in, const double* psi, ModelTerms& t) {
  const int p = in.p;
  if (!sigmaInverse(in, psi, t.a)) return false;
  Square as(p);  // A S
  for (int j = 0; j < p; ++j)
    for (int l = 0; l < p; ++l) {
      const double s = in.corr[kernels::packedIndex(std::max(l, j), std::min(l, j))];
      for (int i = 0; i < p; ++i) as(i, j) += t.a(i, l) * s;
    }
  for (int j = 0; j < p; ++j)
    for (int l = 0; l < p; ++l)
      for (int i = 0; i < p; ++i) t.b(i, j) += as(i, l) * t.a(l, j);
  for (std::size_t e = 0; e < t.m.a.size(); ++e) t.m.a[e] = t.a.a[e] - t.b.a[e];
  loadingProducts(t.a, in.loadings, p, in.m, t.aL, t.gA);
  loadingProducts(t.b, in.loadings, p, in.m, t.bL, t.gB);
  return true;
}

// Adds c * tr(X Sigma_u Y Sigma_v) to h(u, v) for every pair u >= v of
// parameters, with Sigma_u the derivative of Sigma in parameter u:
// e_i l_k' + l_k e_i' for loading (i, k) at u = k*p + i, e_j e_j' for psi_j
// at u = p*m + j. One term alone is not symmetric, the sum of the terms of
// the information is: its lower triangle is the sum of theirs.
void addTraceTerm(const Square& x, const std::vector<double>& xl, const Square& gx,
                  const Square& y, const std::vector<double>& yl, const Square& gy, int p, int k,
                  double c, Packed& h) {
  const Index q0 = static_cast<Index>(p) * k;
  for (int kk = 0; kk < k; ++kk)
    for (int i = 0; i < p; ++i) {
      const Index u = kk * p + i;
      for (int l = 0; l <= kk; ++l)
        for (int j = 0; j < (l == kk ? i + 1 : p); ++j) {
          const double t = xl[l * p + i] * yl[kk * p + j] + x(i, j) * gy(kk, l) +
                           y(i, j) * gx(kk, l) + xl[kk * p + j] * yl[l * p + i];
          h(u, l * p + j) += c * t;
        }
      for (int j = 0; j < p; ++j)  // psi_j comes after every loading
        h(q0 + j, u) += c * (x(i, j) * yl[kk * p + j] + xl[kk * p + j] * y(i, j));
    }
  for (int i = 0; i < p; ++i)
    for (int j = 0; j <= i; ++j) h(q0 + i, q0 + j) += c * x(i, j) * y(i, j);
}

// The observed information: the second derivatives of F in theta,
// -T(A, A) + T(A, B) + T(B, A) + tr(M Sigma_uv), where only two loadings of
// one factor have a second derivative of Sigma (e_i e_j' + e_j e_i').
void observedInformation(const ModelTerms& t, int p, int k, Packed& h) {
  addTraceTerm(t.a, t.aL, t.gA, t.a, t.aL, t.gA, p, k, -1.0, h);
  addTraceTerm(t.a, t.aL, t.gA, t.b, t.bL, t.gB, p, k, 1.0, h);
  addTraceTerm(t.b, t.bL, t.gB, t.a, t.aL, t.gA, p, k, 1.0, h);
  for (int kk = 0; kk < k; ++kk)
    for (int i = 0; i < p; ++i)
      for (int j = 0; j <= i; ++j) h(kk * p + i, kk * p + j) += 2.0 * t.m(i, j);
}

// The gradients (r x q, one row a condition) of the conditions that
// Lambda' Psi^-1 Lambda is diagonal: sum_i lambda_ik lambda_il / psi_i = 0
// for k < l.
std::vector<double> conditionGradients(const double* lambda, const double* psi, int p, int k) {
  const int q = p * k + p, pm = p * k, r = k * (k - 1) / 2;
  std::vector<double> c(static_cast<std::size_t>(r) * q, 0.0);
  int row = 0;
  for (int a = 0; a < k; ++a)
    for (int b = a + 1; b < k; ++b, ++row)
      for (int i = 0; i < p; ++i) {
        const double la = lambda[a * p + i], lb = lambda[b * p + i];
        c[static_cast<std::size_t>(a * p + i) * r + row] = lb / psi[i];
        c[static_cast<std::size_t>(b * p + i) * r + row] = la / psi[i];
        c[static_cast<std::size_t>(pm + i) * r + row] = -la * lb / (psi[i] * psi[i]);
      }
  return c;
}

// The leading q x q block of the inverse of the bordered matrix
// [H C'; C 0], through LU; false when it is singular.
bool borderedInverse(const Packed& h, const std::vector<double>& c, std::vector<double>& out) {
  const int q = h.n, r = static_cast<int>(c.size()) / std::max(q, 1), n = q + r;
  Square bordered(n);
  double largest = 0.0;
  for (int j = 0; j < q; ++j) {
    for (int i = 0; i < q; ++i) bordered(i, j) = h(i, j);
    for (int row = 0; row < r; ++row) bordered(q + row, j) = bordered(j, q + row) = c[j * r + row];
  }
  for (double v : bordered.a) largest = std::max(largest, std::fabs(v));
  std::vector<int> pivots(static_cast<std::size_t>(n));
  if (largest == 0.0 || kernels::luFactor(n, bordered.a.data(), pivots.data(), 1e-13 * largest) != 0)
    return false;
  out.assign(static_cast<std::size_t>(q) * q, 0.0);
  std::vector<double> column(static_cast<std::size_t>(n));
  for (int j = 0; j < q; ++j) {
    std::fill(column.begin(), column.end(), 0.0);
    column[j] = 1.0;
    kernels::luSolve(n, bordered.a.data(), pivots.data(), column.data());
    std::copy_n(column.begin(), q, out.begin() + static_cast<std::ptrdiff_t>(j) * q);
  }
  return true;
}

// The same block when G = H + C'C is positive definite, as at a proper
// minimum where only the rotation leaves H singular: adding C'C changes
// nothing on the directions the conditions allow, and the block is
// G^-1 - G^-1 C' (C G^-1 C')^-1 C G^-1. A Cholesky inverse of G costs a
// fraction of the bordered LU. False when a pivot is not above 1e-10 of
// G's largest diagonal element.
bool augmentedInverse(const Packed& h, const std::vector<double>& c, std::vector<double>& out) {
  const int q = h.n, r = static_cast<int>(c.size()) / std::max(q, 1);
  const std::size_t qq = static_cast<std::size_t>(q) * q;
  std::vector<double> ct(static_cast<std::size_t>(q) * r);  // C', q x r
  for (int row = 0; row < r; ++row)
    for (int j = 0; j < q; ++j) ct[static_cast<std::size_t>(row) * q + j] = c[j * r + row];
  out.resize(qq);  // G, then its inverse
  double largest = 0.0;
  for (int j = 0; j < q; ++j)
    for (int i = j; i < q; ++i) {
      double v = h(i, j);
      for (int row = 0; row < r; ++row) v += c[i * r + row] * c[j * r + row];
      out[static_cast<std::size_t>(j) * q + i] = out[static_cast<std::size_t>(i) * q + j] = v;
      if (i == j) largest = std::max(largest, v);
    }
  if (!(largest > 0.0) || kernels::positiveDefiniteInverse(q, out.data(), 1e-10 * largest) != 0)
    return false;
  std::vector<double> gc(ct.size());  // G^-1 C', q x r
  kernels::matrixProduct(q, q, r, out.data(), ct.data(), gc.data());
  std::vector<double> cgc(static_cast<std::size_t>(r) * r), inv(cgc.size()), lu(cgc.size());
  for (int a = 0; a < r; ++a)
    for (int b = 0; b < r; ++b) {
      double v = 0.0;
      for (int j = 0; j < q; ++j) v += c[j * r + a] * gc[static_cast<std::size_t>(b) * q + j];
      cgc[b * r + a] = v;
    }
  std::vector<int> pivots(static_cast<std::size_t>(r));
  if (r > 0 && !kernels::invert(cgc.data(), inv.data(), r, lu.data(), pivots.data())) return false;
  // G^-1 - (G^-1 C') (C G^-1 C')^-1 (C G^-1), with (C G^-1)' = G^-1 C'.
  std::vector<double> w(static_cast<std::size_t>(r) * q), correction(qq);  // w: r x q
  for (int j = 0; j < q; ++j)
    for (int a = 0; a < r; ++a) {
      double v = 0.0;
      for (int b = 0; b < r; ++b) v += inv[b * r + a] * gc[static_cast<std::size_t>(b) * q + j];
      w[static_cast<std::size_t>(j) * r + a] = v;
    }
  kernels::matrixProduct(q, r, q, gc.data(), w.data(), correction.data());
  for (std::size_t k = 0; k < qq; ++k) out[k] -= correction[k];
  for (int j = 0; j < q; ++j)  // symmetric to the last bit
    for (int i = j + 1; i < q; ++i) out[static_cast<std::size_t>(i) * q + j] = out[static_cast<std::size_t>(j) * q + i];
  return true;
}

// cov(theta) = 2 P / d with P the constrained inverse of the information;
// false when it is singular or not finite.
bool constrainedCovariance(const Packed& h, const std::vector<double>& c, double divisor,
                           std::vector<double>& out) {
  for (double v : h.a)
    if (!std::isfinite(v)) return false;
  for (double v : c)
    if (!std::isfinite(v)) return false;
  if (!augmentedInverse(h, c, out) && !borderedInverse(h, c, out)) return false;
  for (double& v : out) {
    v *= 2.0 / divisor;
    if (!std::isfinite(v)) return false;
  }
  return true;
}

std::vector<double> uniquenesses(const UnrotatedErrorsInput& in) {
  std::vector<double> psi(static_cast<std::size_t>(in.p), 1.0);
  for (int k = 0; k < in.m; ++k)
    for (int i = 0; i < in.p; ++i) psi[i] -= in.loadings[k * in.p + i] * in.loadings[k * in.p + i];
  return psi;
}

// cov(vec Lambda*) = J cov(theta) J' for the standardised loadings
// lambda*_ik = lambda_ik / sqrt(sigma_ii), sigma_ii = sum_l lambda_il^2 + psi_i.
std::vector<double> standardisedCov(const UnrotatedErrorsInput& in, const double* psi,
                                    const std::vector<double>& covTheta) {
  const int p = in.p, k = in.m;
  const Index pm = static_cast<Index>(p) * k, q = pm + p;
  const double* lambda = in.loadings;
  std::vector<double> scale(static_cast<std::size_t>(p));  // 1 / sqrt(sigma_ii)
  for (int i = 0; i < p; ++i) {
    double sigma = psi[i];
    for (int c = 0; c < k; ++c) sigma += lambda[c * p + i] * lambda[c * p + i];
    scale[i] = 1.0 / std::sqrt(sigma);
  }
  // Row (i, kk) of J has entries at the loadings (i, l), l < k, and at
  // psi_i (l = k): jac[(kk * p + i) * (k + 1) + l].
  const int width = k + 1;
  std::vector<double> jac(static_cast<std::size_t>(pm) * width);
  for (int kk = 0; kk < k; ++kk)
    for (int i = 0; i < p; ++i) {
      const double sc = scale[i], s3 = sc * sc * sc, lik = lambda[kk * p + i];
      double* row = &jac[static_cast<std::size_t>(kk * p + i) * width];
      for (int l = 0; l < k; ++l) row[l] = (l == kk ? sc : 0.0) - lik * lambda[l * p + i] * s3;
      row[k] = -0.5 * lik * s3;
    }
  auto column = [&](int i, int l) { return l == k ? pm + i : static_cast<Index>(l) * p + i; };
  std::vector<double> jc(static_cast<std::size_t>(pm * q));  // (J cov(theta))', q x pm
  for (Index v = 0; v < q; ++v) {
    const double* cv = &covTheta[static_cast<std::size_t>(v * q)];
    for (int kk = 0; kk < k; ++kk)
      for (int i = 0; i < p; ++i) {
        const double* row = &jac[static_cast<std::size_t>(kk * p + i) * width];
        double s = 0.0;
        for (int l = 0; l < k; ++l) s += row[l] * cv[l * p + i];
        jc[v * pm + kk * p + i] = s + row[k] * cv[pm + i];
      }
  }
  std::vector<double> out(static_cast<std::size_t>(pm * pm));
  for (int kb = 0; kb < k; ++kb)
    for (int ib = 0; ib < p; ++ib) {
      const double* row = &jac[static_cast<std::size_t>(kb * p + ib) * width];
      double* o = &out[static_cast<std::size_t>((static_cast<Index>(kb) * p + ib) * pm)];
      for (Index a = 0; a < pm; ++a) o[a] = 0.0;
      for (int l = 0; l <= k; ++l) {
        const double* src = &jc[static_cast<std::size_t>(column(ib, l) * pm)];
        for (Index a = 0; a < pm; ++a) o[a] += src[a] * row[l];
      }
    }
  return out;
}

// Relative to the largest variance, what rounding may leave below zero.
constexpr double kNegativeVarianceTolerance = 1e-8;

}  // namespace

double unrotatedErrorsBytes(int p, int m) {
  const double pm = double(p) * m, q = pm + p, n = q + m * (m - 1) / 2.0;
  return 8.0 * (2.0 * n * n + 3.0 * q * q + 2.0 * pm * pm + pm * q + 8.0 * p * p) + 4.0 * n;
}

std::vector<double> covarianceStructureCov(const UnrotatedErrorsInput& in, const double* psi,
                                           UnrotatedErrorsStatus& status) {
  status = UnrotatedErrorsStatus::Ok;
  const int p = in.p, k = in.m;
  std::vector<double> own;
  if (psi == nullptr) {
    own = uniquenesses(in);
    psi = own.data();
  }
  for (int i = 0; i < p; ++i)
    if (!(psi[i] >= kTinyUniqueness)) {
      status = UnrotatedErrorsStatus::NonPositiveUniqueness;
      return {};
    }
  const int q = p * k + p;
  // More free parameters than distinct moments (negative degrees of
  // freedom): the information is singular however the inverse comes out,
  // and its rounding noise printed standard errors of 0.
  if (static_cast<double>(p) * (p + 1) / 2.0 < q - k * (k - 1) / 2.0) {
    status = UnrotatedErrorsStatus::Singular;
    return {};
  }
  ModelTerms terms(p, k);
  std::vector<double> cov;
  Packed h(q);
  if (modelTerms(in, psi, terms)) {
    observedInformation(terms, p, k, h);
    if (constrainedCovariance(h, conditionGradients(in.loadings, psi, p, k), in.divisor, cov))
      return cov;
  }
  status = UnrotatedErrorsStatus::Singular;
  return {};
}

UnrotatedErrors unrotatedStdErrors(const UnrotatedErrorsInput& in) {
  UnrotatedErrors out;
  const std::vector<double> psi = uniquenesses(in);
  if (in.fittedUniquenesses != nullptr)
    for (int i = 0; i < in.p; ++i)
      if (!(in.fittedUniquenesses[i] >= kTinyUniqueness)) {
        out.status = UnrotatedErrorsStatus::NonPositiveUniqueness;
        return out;
      }
  const std::vector<double> covTheta = covarianceStructureCov(in, psi.data(), out.status);
  if (out.status != UnrotatedErrorsStatus::Ok) return out;
  const Index pm = static_cast<Index>(in.p) * in.m, q = pm + in.p;
  if (in.correlationStructure) {
    out.covariance = standardisedCov(in, psi.data(), covTheta);
  } else {
    out.covariance.resize(static_cast<std::size_t>(pm * pm));
    for (Index j = 0; j < pm; ++j)
      std::copy_n(covTheta.begin() + j * q, pm, out.covariance.begin() + j * pm);
  }
  // A variance below zero beyond rounding means the inverse is not that of
  // a positive definite information (a nearly unidentified solution): no
  // errors, rather than an error of 0 that reads as a loading known exactly.
  double largest = 0.0;
  for (Index a = 0; a < pm; ++a) largest = std::max(largest, out.covariance[a * pm + a]);
  for (Index a = 0; a < pm; ++a)
    if (out.covariance[a * pm + a] < -kNegativeVarianceTolerance * largest) {
      out.covariance.clear();
      out.status = UnrotatedErrorsStatus::Singular;
      return out;
    }
  out.stdErrors.resize(static_cast<std::size_t>(pm));
  for (Index a = 0; a < pm; ++a) out.stdErrors[a] = std::sqrt(std::max(0.0, out.covariance[a * pm + a]));
  return out;
}

}  // namespace zulfact
