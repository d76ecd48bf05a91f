#include "zulfact/inference/rotation_errors.hpp"

#include <algorithm>
#include <cmath>
#include <complex>

#include "kernels/linalg.hpp"
#include "zulfact/state/constants.hpp"
#include "zulfact/state/proc_state.hpp"

namespace zulfact {

namespace {

using Complex = std::complex<double>;
using CVector = std::vector<Complex>;

// The complex step: small enough that h^2 vanishes beside every value,
// large enough that h times any derivative here stays a normal number.
constexpr double kStep = 1e-30;
// Rows with a sum of squares at most this are not normalised (as the
// rotation engine leaves them).
constexpr double kTinyRow = 1e-300;
// PROMAX rows with a sum of squares at most this are not normalised (as
// the PROMAX target leaves them).
constexpr double kTinyPromaxRow = kZeroDiagonalAfterSweep;
// A pivot not above this times the largest element makes a system singular.
constexpr double kPivotTolerance = 1e-13;

double re(double v) { return v; }
double re(const Complex& v) { return v.real(); }

size_t size(int r, int c) { return static_cast<size_t>(r) * c; }

// c (r x n) = a (r x k) b (k x n).
template <class S>
std::vector<S> product(const S* a, const S* b, int r, int k, int n) {
  std::vector<S> c(size(r, n), S(0.0));
  for (int j = 0; j < n; ++j)
    for (int l = 0; l < k; ++l) {
      const S blj = b[l + size(j, k)];
      for (int i = 0; i < r; ++i) c[i + size(j, r)] += a[i + size(l, r)] * blj;
    }
  return c;
}

// c (k x n) = a^T b, a r x k, b r x n.
template <class S>
std::vector<S> crossProduct(const S* a, const S* b, int r, int k, int n) {
  std::vector<S> c(size(k, n), S(0.0));
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < k; ++i) {
      S s(0.0);
      for (int l = 0; l < r; ++l) s += a[l + size(i, r)] * b[l + size(j, r)];
      c[i + size(j, k)] = s;
    }
  return c;
}

template <class S>
std::vector<S> transposed(const std::vector<S>& a, int n) {
  std::vector<S> t(a.size());
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < n; ++i) t[j + size(i, n)] = a[i + size(j, n)];
  return t;
}

// Solves a x = b (a n x n, b n x nrhs, x into b) by Gaussian elimination
// with partial pivoting on the real parts, so that a complex step follows
// the pivots of the real system. False when a pivot is singular.
template <class S>
bool solveInPlace(std::vector<S> a, S* b, int n, int nrhs) {
  double biggest = 0.0;
  for (const S& v : a) biggest = std::max(biggest, std::fabs(re(v)));
  if (!(biggest > 0.0) || !std::isfinite(biggest)) return false;
  for (int k = 0; k < n; ++k) {
    int pivot = k;
    for (int i = k + 1; i < n; ++i)
      if (std::fabs(re(a[i + size(k, n)])) > std::fabs(re(a[pivot + size(k, n)]))) pivot = i;
    if (!(std::fabs(re(a[pivot + size(k, n)])) > kPivotTolerance * biggest)) return false;
    if (pivot != k) {
      for (int j = 0; j < n; ++j) std::swap(a[k + size(j, n)], a[pivot + size(j, n)]);
      for (int j = 0; j < nrhs; ++j) std::swap(b[k + size(j, n)], b[pivot + size(j, n)]);
    }
    const S d = a[k + size(k, n)];
    for (int i = k + 1; i < n; ++i) {
      const S f = a[i + size(k, n)] / d;
      if (f == S(0.0)) continue;
      for (int j = k; j < n; ++j) a[i + size(j, n)] -= f * a[k + size(j, n)];
      for (int j = 0; j < nrhs; ++j) b[i + size(j, n)] -= f * b[k + size(j, n)];
    }
  }
  for (int j = 0; j < nrhs; ++j)
    for (int k = n - 1; k >= 0; --k) {
      S s = b[k + size(j, n)];
      for (int l = k + 1; l < n; ++l) s -= a[k + size(l, n)] * b[l + size(j, n)];
      b[k + size(j, n)] = s / a[k + size(k, n)];
    }
  return true;
}

// The inverse of the n x n matrix a into inv; false when singular.
template <class S>
bool inverse(const std::vector<S>& a, int n, std::vector<S>& inv) {
  inv.assign(size(n, n), S(0.0));
  for (int i = 0; i < n; ++i) inv[i + size(i, n)] = S(1.0);
  return solveInPlace(a, inv.data(), n, n);
}

// The rows of a scaled to unit length (Kaiser 1958).
template <class S>
std::vector<S> kaiserRows(const S* a, int p, int m, double tiny) {
  std::vector<S> b(a, a + size(p, m));
  for (int i = 0; i < p; ++i) {
    S h(0.0);
    for (int j = 0; j < m; ++j) h += b[i + size(j, p)] * b[i + size(j, p)];
    if (!(re(h) > tiny)) continue;
    const S scale = S(1.0) / std::sqrt(h);
    for (int j = 0; j < m; ++j) b[i + size(j, p)] *= scale;
  }
  return b;
}

// The gradient of the generalized Crawford-Ferguson criterion
// k1 (sum l^2)^2 + k2 sum_i (sum_j l^2)^2 + k3 sum_j (sum_i l^2)^2 + k4 sum l^4.
template <class S>
std::vector<S> criterionGradient(const std::array<double, 4>& k, const S* l, int p, int m) {
  std::vector<S> rows(p, S(0.0)), cols(m, S(0.0));
  S total(0.0);
  for (int j = 0; j < m; ++j)
    for (int i = 0; i < p; ++i) {
      const S sq = l[i + size(j, p)] * l[i + size(j, p)];
      rows[i] += sq;
      cols[j] += sq;
      total += sq;
    }
  std::vector<S> g(size(p, m));
  for (int j = 0; j < m; ++j)
    for (int i = 0; i < p; ++i) {
      const S v = l[i + size(j, p)];
      g[i + size(j, p)] = 4.0 * v * (k[0] * total + k[1] * rows[i] + k[2] * cols[j] + k[3] * v * v);
    }
  return g;
}

// The m*m equations whose zero defines the transformation t of a
// criterion rotation of a (see criterionJacobian); empty when a matrix in
// them is singular.
template <class S>
std::vector<S> stationarity(const S* a, const S* t, int p, int m, const RotationCriterion& c) {
  const std::vector<S> b = c.kaiser ? kaiserRows(a, p, m, kTinyRow) : std::vector<S>(a, a + size(p, m));
  const std::vector<S> phi = crossProduct(t, t, m, m, m);
  std::vector<S> x, phiInverse;
  if (c.oblique) {
    std::vector<S> tInverse;
    if (!inverse(std::vector<S>(t, t + size(m, m)), m, tInverse) || !inverse(phi, m, phiInverse))
      return {};
    x = transposed(tInverse, m);
  } else {
    x.assign(t, t + size(m, m));
  }
  const std::vector<S> l = product(b.data(), x.data(), p, m, m);
  const std::vector<S> g = criterionGradient(c.k, l.data(), p, m);
  std::vector<S> lg = crossProduct(l.data(), g.data(), p, m, m);
  if (c.oblique) lg = product(lg.data(), phiInverse.data(), m, m, m);
  std::vector<S> f;
  f.reserve(size(m, m));
  for (int j = 0; j < m; ++j)
    for (int i = 0; i < m; ++i) {
      const S lgij = lg[i + size(j, m)], phiij = phi[i + size(j, m)];
      if (c.oblique) f.push_back(i == j ? phiij - 1.0 : lgij);  // diag(Phi) = 1, off-diagonal zero
      else if (i < j) f.push_back(lgij - lg[j + size(i, m)]);   // L*^T G symmetric
      else f.push_back(phiij - (i == j ? 1.0 : 0.0));           // T^T T = I
    }
  return f;
}

template <class S>
struct RotatedValues {
  std::vector<S> pattern, factorCorr, structure;
};

// The criterion-rotated solution of a with transformation t: orthogonal
// L = A T; oblique L = A T^-T, Phi = T^T T, structure L Phi = A T.
template <class S>
bool criterionSolution(const S* a, const S* t, int p, int m, bool oblique, RotatedValues<S>& s) {
  if (!oblique) {
    s.pattern = product(a, t, p, m, m);
    return true;
  }
  std::vector<S> tInverse;
  if (!inverse(std::vector<S>(t, t + size(m, m)), m, tInverse)) return false;
  const std::vector<S> x = transposed(tInverse, m);
  s.pattern = product(a, x.data(), p, m, m);
  s.factorCorr = crossProduct(t, t, m, m, m);
  s.structure = product(a, t, p, m, m);
  return true;
}

// The least-squares target rotation of a towards target: X0 = (A^T A)^-1
// A^T target, Phi0 = (X0^T X0)^-1, then the factors rescaled to unit
// variance: L = A X0 D, Phi = D^-1 Phi0 D^-1 with D^2 = diag(Phi0).
template <class S>
bool targetSolution(const S* a, const S* target, int p, int m, RotatedValues<S>& s) {
  std::vector<S> x = crossProduct(a, target, p, m, m);
  if (!solveInPlace(crossProduct(a, a, p, m, m), x.data(), m, m)) return false;
  std::vector<S> phi;
  if (!inverse(crossProduct(x.data(), x.data(), m, m, m), m, phi)) return false;
  std::vector<S> d(m);
  for (int j = 0; j < m; ++j) d[j] = std::sqrt(phi[j + size(j, m)]);
  for (int j = 0; j < m; ++j)
    for (int i = 0; i < m; ++i) {
      x[i + size(j, m)] *= d[j];
      phi[i + size(j, m)] /= d[i] * d[j];
    }
  s.pattern = product(a, x.data(), p, m, m);
  s.structure = product(s.pattern.data(), phi.data(), p, m, m);
  s.factorCorr = std::move(phi);
  return true;
}

// The PROMAX target of the pattern l: rows normalised unless not asked,
// then each element t replaced by t |t|^(power - 1), written t (t^2)^((power
// - 1)/2) so that it stays analytic for the complex step.
template <class S>
std::vector<S> promaxTargetOf(const S* l, int p, int m, double power, bool normalizeRows) {
  std::vector<S> t = normalizeRows ? kaiserRows(l, p, m, kTinyPromaxRow)
                                   : std::vector<S>(l, l + size(p, m));
  for (S& v : t) v = re(v) == 0.0 ? S(0.0) : v * std::pow(v * v, (power - 1.0) / 2.0);
  return t;
}

CVector complexOf(const double* v, size_t n) { return CVector(v, v + n); }

// Column k of a Jacobian from the imaginary parts of a complex step.
void putColumn(const CVector& v, std::vector<double>& jacobian, int k) {
  const size_t rows = v.size();
  for (size_t r = 0; r < rows; ++r) jacobian[r + rows * k] = v[r].imag() / kStep;
}

void startJacobian(SolutionJacobian& out, int p, int m, bool oblique) {
  out.p = p;
  out.m = m;
  out.oblique = oblique;
  const size_t pm = size(p, m);
  out.pattern.assign(pm * pm, 0.0);
  out.factorCorr.assign(oblique ? size(m, m) * pm : 0, 0.0);
  out.structure.assign(oblique ? pm * pm : 0, 0.0);
}

// Column k of each part of the Jacobian from a complex-stepped solution.
void putSolution(const RotatedValues<Complex>& s, SolutionJacobian& out, int k) {
  putColumn(s.pattern, out.pattern, k);
  if (!out.oblique) return;
  putColumn(s.factorCorr, out.factorCorr, k);
  putColumn(s.structure, out.structure, k);
}

}  // namespace

// d vec(T) / d vec(A) = -F_T^-1 F_A from the stationarity equations F;
// false when F_T is singular.
bool transformDerivativeByComplexSteps(const double* a, const double* t, int p, int m,
                                       const RotationCriterion& c, std::vector<double>& dt) {
  const int mm = m * m, pm = p * m;
  CVector ac = complexOf(a, size(p, m)), tc = complexOf(t, size(m, m));
  std::vector<double> ft(size(mm, mm)), fa(size(mm, pm));
  for (int q = 0; q < mm; ++q) {
    tc[q] += Complex(0.0, kStep);
    const CVector f = stationarity(ac.data(), tc.data(), p, m, c);
    tc[q] = t[q];
    if (f.empty()) return false;
    putColumn(f, ft, q);
  }
  for (int k = 0; k < pm; ++k) {
    ac[k] += Complex(0.0, kStep);
    const CVector f = stationarity(ac.data(), tc.data(), p, m, c);
    ac[k] = a[k];
    if (f.empty()) return false;
    putColumn(f, fa, k);
  }
  if (!solveInPlace(ft, fa.data(), mm, pm)) return false;
  dt.resize(fa.size());
  std::transform(fa.begin(), fa.end(), dt.begin(), [](double v) { return -v; });
  return true;
}

namespace {

// The standard errors of the rows of a (rows x n) Jacobian under the
// covariance v (n x n).
std::vector<double> errorsOf(const std::vector<double>& jacobian, const double* v, int n) {
  if (jacobian.empty()) return {};
  const int rows = static_cast<int>(jacobian.size() / n);
  // rows x n^2 products: thousands of parameters make this the step's
  // whole cost, so it goes to BLAS.
  std::vector<double> jv(size(rows, n));
  kernels::matrixProduct(rows, n, n, jacobian.data(), v, jv.data());
  std::vector<double> se(rows);
  for (int r = 0; r < rows; ++r) {
    double s = 0.0;
    for (int c = 0; c < n; ++c) s += jv[r + size(c, rows)] * jacobian[r + size(c, rows)];
    se[r] = std::sqrt(std::max(0.0, s));
  }
  return se;
}

}  // namespace

RotationErrorRule rotationErrorRule(int code, int norm, int m, bool covarianceKept) {
  // PROMAX and PROCRUSTES compute theirs in the target rotation; a
  // Harris-Kaiser solution has none.
  if (code == kRotPromax || code == kRotHk || code == kRotProcrustes)
    return RotationErrorRule::kNotThisRotation;
  if (norm == kNormWeight || norm == kNormCov) return RotationErrorRule::kNotThisNormalization;
  if (m < 2 || !covarianceKept) return RotationErrorRule::kNone;
  return RotationErrorRule::kCompute;
}

bool transformFrom(const double* a, const double* l, int p, int m, std::vector<double>& x) {
  x = crossProduct(a, l, p, m, m);
  return solveInPlace(crossProduct(a, a, p, m, m), x.data(), m, m);
}

RotationErrorStatus criterionJacobianByComplexSteps(const double* a, const double* x, int p, int m,
                                                    const RotationCriterion& criterion,
                                                    SolutionJacobian& out) {
  const std::vector<double> xv(x, x + size(m, m));
  std::vector<double> t = xv;
  if (criterion.oblique) {
    // Jennrich's (2002) parametrisation: L = A T^-T with Phi = T^T T.
    std::vector<double> xInverse, phiInverse;
    if (!inverse(xv, m, xInverse)) return RotationErrorStatus::kSingular;
    t = transposed(xInverse, m);
    if (!inverse(crossProduct(t.data(), t.data(), m, m, m), m, phiInverse))
      return RotationErrorStatus::kFactorCorrSingular;
  }
  std::vector<double> dt;
  if (!transformDerivativeByComplexSteps(a, t.data(), p, m, criterion, dt)) return RotationErrorStatus::kSingular;

  const int pm = p * m, mm = m * m;
  startJacobian(out, p, m, criterion.oblique);
  CVector ac = complexOf(a, size(p, m)), tc(t.size());
  for (int k = 0; k < pm; ++k) {
    ac[k] += Complex(0.0, kStep);
    for (int q = 0; q < mm; ++q) tc[q] = Complex(t[q], kStep * dt[q + size(k, mm)]);
    RotatedValues<Complex> s;
    if (!criterionSolution(ac.data(), tc.data(), p, m, criterion.oblique, s))
      return RotationErrorStatus::kSingular;
    ac[k] = a[k];
    putSolution(s, out, k);
  }
  return RotationErrorStatus::kOk;
}

SolutionJacobian unrotatedJacobian(int p, int m) {
  SolutionJacobian j;
  startJacobian(j, p, m, false);
  const size_t pm = size(p, m);
  for (size_t k = 0; k < pm; ++k) j.pattern[k + pm * k] = 1.0;
  return j;
}

RotationErrorStatus procrustesJacobian(const double* a, const double* target, int p, int m,
                                       SolutionJacobian& out) {
  const int pm = p * m;
  startJacobian(out, p, m, true);
  CVector ac = complexOf(a, size(p, m));
  const CVector tc = complexOf(target, size(p, m));
  for (int k = 0; k < pm; ++k) {
    ac[k] += Complex(0.0, kStep);
    RotatedValues<Complex> s;
    if (!targetSolution(ac.data(), tc.data(), p, m, s)) return RotationErrorStatus::kSingular;
    ac[k] = a[k];
    putSolution(s, out, k);
  }
  return RotationErrorStatus::kOk;
}

RotationErrorStatus promaxJacobian(const double* a, const double* prerotated,
                                   const SolutionJacobian& prerotation, int p, int m, double power,
                                   bool normalizeRows, SolutionJacobian& out) {
  const int pm = p * m;
  if (prerotation.pattern.size() != size(pm, pm)) return RotationErrorStatus::kSingular;
  startJacobian(out, p, m, true);
  CVector ac = complexOf(a, size(p, m)), lc(size(p, m));
  for (int k = 0; k < pm; ++k) {
    ac[k] += Complex(0.0, kStep);
    // The prerotated pattern moves with A along its own Jacobian.
    for (int r = 0; r < pm; ++r)
      lc[r] = Complex(prerotated[r], kStep * prerotation.pattern[r + size(k, pm)]);
    const CVector target = promaxTargetOf(lc.data(), p, m, power, normalizeRows);
    RotatedValues<Complex> s;
    if (!targetSolution(ac.data(), target.data(), p, m, s)) return RotationErrorStatus::kSingular;
    ac[k] = a[k];
    putSolution(s, out, k);
  }
  return RotationErrorStatus::kOk;
}

SolutionErrors solutionErrors(const SolutionJacobian& jacobian, const double* covariance) {
  const int n = jacobian.p * jacobian.m;
  SolutionErrors e;
  if (!jacobian.transformDerivative.empty()) {
    e = factoredErrors(jacobian, covariance);
  } else {
    e.pattern = errorsOf(jacobian.pattern, covariance, n);
    e.factorCorr = errorsOf(jacobian.factorCorr, covariance, n);
    e.structure = errorsOf(jacobian.structure, covariance, n);
  }
  // Phi has a unit diagonal whatever A is.
  for (int j = 0; j < jacobian.m && !e.factorCorr.empty(); ++j) e.factorCorr[j + size(j, jacobian.m)] = 0.0;
  return e;
}

double rotationErrorsBytes(int p, int m) {
  const double n = static_cast<double>(p) * m, mm = static_cast<double>(m) * m;
  // Three Jacobians, J V, the kept Jacobian; the derivatives of the
  // stationarity conditions; complex work of a few patterns.
  return 8.0 * (5.0 * n * n + mm * mm + mm * n) + 16.0 * 8.0 * (n + mm);
}

}  // namespace zulfact
