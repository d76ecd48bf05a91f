// The analytic Jacobian of a criterion rotation and the standard errors
// from its factored form.
//
// The transformation T is defined by m*m stationarity equations F(A, T) =
// 0 (see stationarity in rotation_errors.cpp), so d vec(T) / d vec(A) =
// -F_T^-1 F_A. Each column of F_A and F_T is F's derivative along one
// coordinate, taken here in forward mode: the derivative of the Kaiser
// normalisation, of the rotated pattern, and of the criterion's gradient G
// along dL, which is the criterion's Hessian applied to dL. Everything
// that does not depend on the direction is computed once.
//
// The rotated parts are Y = A M(T) or Phi(T), so their Jacobians are
// (M^T (x) I_p) + E D with small E; diag(J V J^T) then needs D V once
// (m*m x pm) instead of a product of two pm x pm matrices per part.
#include <algorithm>
#include <array>
#include <cmath>

#include "zulfact/inference/rotation_errors.hpp"

namespace zulfact {

namespace {

// Rows with a sum of squares at most this are not normalised (as the
// rotation engine leaves them).
constexpr double kTinyRow = 1e-300;
// A pivot not above this times the largest element makes a system singular.
constexpr double kPivotTolerance = 1e-13;

using Matrix = std::vector<double>;

size_t at(int i, int j, int rows) { return static_cast<size_t>(i) + static_cast<size_t>(j) * rows; }

// c (r x n) = a (r x k) b (k x n), or += when accumulate.
void multiply(const double* a, const double* b, int r, int k, int n, double* c, bool accumulate = false) {
  if (!accumulate) std::fill(c, c + static_cast<size_t>(r) * n, 0.0);
  for (int j = 0; j < n; ++j)
    for (int l = 0; l < k; ++l) {
      const double blj = b[at(l, j, k)];
      if (blj == 0.0) continue;
      const double* al = a + at(0, l, r);
      double* cj = c + at(0, j, r);
      for (int i = 0; i < r; ++i) cj[i] += al[i] * blj;
    }
}

// c (k x n) = a^T b with a r x k and b r x n, or += when accumulate.
void crossMultiply(const double* a, const double* b, int r, int k, int n, double* c,
                   bool accumulate = false) {
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < k; ++i) {
      double s = accumulate ? c[at(i, j, k)] : 0.0;
      for (int l = 0; l < r; ++l) s += a[at(l, i, r)] * b[at(l, j, r)];
      c[at(i, j, k)] = s;
    }
}

// Solves a x = b (n x n, nrhs right-hand sides, x into b) by Gaussian
// elimination with partial pivoting; false when a pivot is singular.
bool solve(Matrix a, double* b, int n, int nrhs) {
  double biggest = 0.0;
  for (double v : a) biggest = std::max(biggest, std::fabs(v));
  if (!(biggest > 0.0) || !std::isfinite(biggest)) return false;
  for (int k = 0; k < n; ++k) {
    int pivot = k;
    for (int i = k + 1; i < n; ++i)
      if (std::fabs(a[at(i, k, n)]) > std::fabs(a[at(pivot, k, n)])) pivot = i;
    if (!(std::fabs(a[at(pivot, k, n)]) > kPivotTolerance * biggest)) return false;
    if (pivot != k) {
      for (int j = 0; j < n; ++j) std::swap(a[at(k, j, n)], a[at(pivot, j, n)]);
      for (int j = 0; j < nrhs; ++j) std::swap(b[at(k, j, n)], b[at(pivot, j, n)]);
    }
    for (int i = k + 1; i < n; ++i) {
      const double f = a[at(i, k, n)] / a[at(k, k, n)];
      if (f == 0.0) continue;
      for (int j = k; j < n; ++j) a[at(i, j, n)] -= f * a[at(k, j, n)];
      for (int j = 0; j < nrhs; ++j) b[at(i, j, n)] -= f * b[at(k, j, n)];
    }
  }
  for (int j = 0; j < nrhs; ++j)
    for (int k = n - 1; k >= 0; --k) {
      double s = b[at(k, j, n)];
      for (int l = k + 1; l < n; ++l) s -= a[at(k, l, n)] * b[at(l, j, n)];
      b[at(k, j, n)] = s / a[at(k, k, n)];
    }
  return true;
}

bool invert(const Matrix& a, int n, Matrix& inv) {
  inv.assign(static_cast<size_t>(n) * n, 0.0);
  for (int i = 0; i < n; ++i) inv[at(i, i, n)] = 1.0;
  return solve(a, inv.data(), n, n);
}

Matrix transpose(const Matrix& a, int n) {
  Matrix t(a.size());
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < n; ++i) t[at(j, i, n)] = a[at(i, j, n)];
  return t;
}

// Everything at (A, T) that the derivatives along every direction share.
struct Point {
  int p = 0, m = 0;
  bool oblique = false, kaiser = false;
  std::array<double, 4> k{};
  Matrix b, t, x, phiInverse, l, g, lg, lgPhiInverse;  // x: T^-T oblique, T orthogonal
  Matrix rows, cols, rowScale;           // rowScale: 1/|a_i|, 0 when not normalised
  double total = 0.0;
};

// The criterion's gradient G at L with the row, column and total sums of
// squares it is built from (the generalized Crawford-Ferguson criterion
// k1 (sum l^2)^2 + k2 sum_i (sum_j l^2)^2 + k3 sum_j (sum_i l^2)^2 + k4
// sum l^4).
void gradientAt(Point& pt) {
  const int p = pt.p, m = pt.m;
  pt.rows.assign(p, 0.0);
  pt.cols.assign(m, 0.0);
  pt.total = 0.0;
  for (int j = 0; j < m; ++j)
    for (int i = 0; i < p; ++i) {
      const double sq = pt.l[at(i, j, p)] * pt.l[at(i, j, p)];
      pt.rows[i] += sq;
      pt.cols[j] += sq;
      pt.total += sq;
    }
  pt.g.resize(pt.l.size());
  for (int j = 0; j < m; ++j)
    for (int i = 0; i < p; ++i) {
      const double v = pt.l[at(i, j, p)];
      pt.g[at(i, j, p)] =
          4.0 * v * (pt.k[0] * pt.total + pt.k[1] * pt.rows[i] + pt.k[2] * pt.cols[j] + pt.k[3] * v * v);
    }
}

bool pointAt(const double* a, const double* t, int p, int m, const RotationCriterion& c, Point& pt) {
  pt.p = p;
  pt.m = m;
  pt.oblique = c.oblique;
  pt.kaiser = c.kaiser;
  pt.k = c.k;
  pt.b.assign(a, a + at(0, m, p));
  pt.rowScale.assign(p, 0.0);
  for (int i = 0; c.kaiser && i < p; ++i) {
    double h = 0.0;
    for (int j = 0; j < m; ++j) h += a[at(i, j, p)] * a[at(i, j, p)];
    if (!(h > kTinyRow)) continue;
    pt.rowScale[i] = 1.0 / std::sqrt(h);
    for (int j = 0; j < m; ++j) pt.b[at(i, j, p)] *= pt.rowScale[i];
  }
  pt.t.assign(t, t + at(0, m, m));
  if (c.oblique) {
    Matrix tInverse, phi(at(0, m, m));
    crossMultiply(t, t, m, m, m, phi.data());
    if (!invert(pt.t, m, tInverse) || !invert(phi, m, pt.phiInverse)) return false;
    pt.x = transpose(tInverse, m);
  } else {
    pt.x = pt.t;
  }
  pt.l.resize(at(0, m, p));
  multiply(pt.b.data(), pt.x.data(), p, m, m, pt.l.data());
  gradientAt(pt);
  pt.lg.resize(at(0, m, m));
  crossMultiply(pt.l.data(), pt.g.data(), p, m, m, pt.lg.data());
  if (c.oblique) {
    pt.lgPhiInverse.resize(pt.lg.size());
    multiply(pt.lg.data(), pt.phiInverse.data(), m, m, m, pt.lgPhiInverse.data());
  }
  return true;
}

// Work arrays of the directional derivative, reused for every direction.
struct Work {
  Matrix dl, dg, dx, dlg, dphi, tmp, tmp2, dr, dc;
};

// dG = the criterion's Hessian at L applied to dL.
void gradientDerivative(const Point& pt, Work& w) {
  const int p = pt.p, m = pt.m;
  w.dr.assign(p, 0.0);
  w.dc.assign(m, 0.0);
  double dtotal = 0.0;
  for (int j = 0; j < m; ++j)
    for (int i = 0; i < p; ++i) {
      const double d = 2.0 * pt.l[at(i, j, p)] * w.dl[at(i, j, p)];
      w.dr[i] += d;
      w.dc[j] += d;
      dtotal += d;
    }
  w.dg.resize(w.dl.size());
  for (int j = 0; j < m; ++j)
    for (int i = 0; i < p; ++i) {
      const double v = pt.l[at(i, j, p)], dv = w.dl[at(i, j, p)];
      const double level =
          pt.k[0] * pt.total + pt.k[1] * pt.rows[i] + pt.k[2] * pt.cols[j] + 3.0 * pt.k[3] * v * v;
      const double change = pt.k[0] * dtotal + pt.k[1] * w.dr[i] + pt.k[2] * w.dc[j];
      w.dg[at(i, j, p)] = 4.0 * (dv * level + v * change);
    }
}

// The derivative of the stationarity equations along a direction in which
// L moves by w.dl and (when dt is given) T by dt; into f (m*m).
void stationarityDerivative(const Point& pt, const double* dt, Work& w, double* f) {
  const int p = pt.p, m = pt.m, mm = m * m;
  gradientDerivative(pt, w);
  w.dlg.resize(mm);
  crossMultiply(w.dl.data(), pt.g.data(), p, m, m, w.dlg.data());
  crossMultiply(pt.l.data(), w.dg.data(), p, m, m, w.dlg.data(), true);
  w.dphi.assign(mm, 0.0);
  if (dt != nullptr) {  // dPhi = dT^T T + T^T dT
    crossMultiply(dt, pt.t.data(), m, m, m, w.dphi.data());
    crossMultiply(pt.t.data(), dt, m, m, m, w.dphi.data(), true);
  }
  if (pt.oblique) {
    // d(LG Phi^-1) = dLG Phi^-1 - (LG Phi^-1) dPhi Phi^-1.
    w.tmp.resize(mm);
    w.tmp2.resize(mm);
    multiply(pt.lgPhiInverse.data(), w.dphi.data(), m, m, m, w.tmp2.data());
    for (double& v : w.tmp2) v = -v;
    multiply(w.dlg.data(), pt.phiInverse.data(), m, m, m, w.tmp.data());
    multiply(w.tmp2.data(), pt.phiInverse.data(), m, m, m, w.tmp.data(), true);
  }
  for (int j = 0, r = 0; j < m; ++j)
    for (int i = 0; i < m; ++i, ++r) {
      if (pt.oblique) f[r] = i == j ? w.dphi[at(i, i, m)] : w.tmp[at(i, j, m)];
      else if (i < j) f[r] = w.dlg[at(i, j, m)] - w.dlg[at(j, i, m)];
      else f[r] = w.dphi[at(i, j, m)];
    }
}

// F_T (m*m x m*m): along each element of T, L moves by b dX with dX =
// -X dT^T X (oblique) or dT (orthogonal).
void derivativeInT(const Point& pt, Work& w, Matrix& ft) {
  const int p = pt.p, m = pt.m, mm = m * m;
  ft.assign(at(0, mm, mm), 0.0);
  Matrix dt(mm, 0.0);
  w.dx.resize(mm);
  w.dl.resize(at(0, m, p));
  for (int q = 0; q < mm; ++q) {
    dt[q] = 1.0;
    const int c = q % m, d = q / m;  // dT = e_c e_d^T
    for (int j = 0; j < m; ++j)
      for (int i = 0; i < m; ++i)
        w.dx[at(i, j, m)] = pt.oblique ? -pt.x[at(i, d, m)] * pt.x[at(c, j, m)] : dt[at(i, j, m)];
    multiply(pt.b.data(), w.dx.data(), p, m, m, w.dl.data());
    stationarityDerivative(pt, dt.data(), w, ft.data() + at(0, q, mm));
    dt[q] = 0.0;
  }
}

// F_A (m*m x pm): along a_ij only row i of the normalised pattern moves,
// db_i = (e_j - b_i b_ij) / |a_i| (Kaiser) or e_j.
void derivativeInA(const Point& pt, Work& w, Matrix& fa) {
  const int p = pt.p, m = pt.m, mm = m * m;
  fa.assign(at(0, p * m, mm), 0.0);
  std::vector<double> db(m);
  w.dl.assign(at(0, m, p), 0.0);
  for (int j = 0; j < m; ++j)
    for (int i = 0; i < p; ++i) {
      const double s = pt.rowScale[i];
      for (int c = 0; c < m; ++c)
        db[c] = s > 0.0 ? s * ((c == j ? 1.0 : 0.0) - pt.b[at(i, c, p)] * pt.b[at(i, j, p)])
                        : (c == j ? 1.0 : 0.0);
      for (int c = 0; c < m; ++c) {
        double v = 0.0;
        for (int e = 0; e < m; ++e) v += db[e] * pt.x[at(e, c, m)];
        w.dl[at(i, c, p)] = v;
      }
      stationarityDerivative(pt, nullptr, w, fa.data() + at(0, at(i, j, p), mm));
      for (int c = 0; c < m; ++c) w.dl[at(i, c, p)] = 0.0;
    }
}

// -F_T^-1 F_A at the point; false when F_T is singular.
bool derivativeAt(const Point& pt, Matrix& dt) {
  Work w;
  Matrix ft;
  derivativeInT(pt, w, ft);
  derivativeInA(pt, w, dt);
  if (!solve(ft, dt.data(), pt.m * pt.m, pt.p * pt.m)) return false;
  for (double& v : dt) v = -v;
  return true;
}

// E of a part A M(T) with dM = dT (M = T): E[(i,j),(c,d)] = a_ic [d = j].
Matrix throughOfProduct(const double* a, int p, int m) {
  const int pm = p * m, mm = m * m;
  Matrix e(at(0, mm, pm), 0.0);
  for (int c = 0; c < m; ++c)
    for (int j = 0; j < m; ++j)
      for (int i = 0; i < p; ++i) e[at(i + j * p, c + j * m, pm)] = a[at(i, c, p)];
  return e;
}

// E of the oblique pattern L = A T^-T: dL = -L dT^T X, so
// E[(i,j),(c,d)] = -l_id x_cj.
Matrix throughOfObliquePattern(const Matrix& l, const Matrix& x, int p, int m) {
  const int pm = p * m, mm = m * m;
  Matrix e(at(0, mm, pm));
  for (int d = 0; d < m; ++d)
    for (int c = 0; c < m; ++c)
      for (int j = 0; j < m; ++j)
        for (int i = 0; i < p; ++i) e[at(i + j * p, c + d * m, pm)] = -l[at(i, d, p)] * x[at(c, j, m)];
  return e;
}

// E of Phi = T^T T: dPhi_ij = sum_c dT_ci t_cj + t_ci dT_cj.
Matrix throughOfFactorCorr(const Matrix& t, int m) {
  const int mm = m * m;
  Matrix e(at(0, mm, mm), 0.0);
  for (int j = 0; j < m; ++j)
    for (int i = 0; i < m; ++i)
      for (int c = 0; c < m; ++c) {
        e[at(i + j * m, c + i * m, mm)] += t[at(c, j, m)];
        e[at(i + j * m, c + j * m, mm)] += t[at(c, i, m)];
      }
  return e;
}

// The explicit Jacobian (M^T (x) I_p) + E D of a p x m part.
Matrix explicitPart(const FactoredPart& part, const Matrix& d, int p, int m) {
  const int pm = p * m, mm = m * m;
  Matrix j(at(0, pm, pm));
  multiply(part.through.data(), d.data(), pm, mm, pm, j.data());
  for (int a = 0; a < m; ++a)
    for (int col = 0; col < m; ++col)
      for (int i = 0; i < p; ++i) j[at(i + col * p, i + a * p, pm)] += part.direct[at(a, col, m)];
  return j;
}

void fillParts(const double* a, const Point& pt, SolutionJacobian& out) {
  const int p = pt.p, m = pt.m;
  if (!pt.oblique) {
    out.patternParts = {pt.t, throughOfProduct(a, p, m)};
    return;
  }
  Matrix l(at(0, m, p));
  multiply(a, pt.x.data(), p, m, m, l.data());
  out.patternParts = {pt.x, throughOfObliquePattern(l, pt.x, p, m)};
  out.structureParts = {pt.t, throughOfProduct(a, p, m)};
  out.factorCorrParts = {{}, throughOfFactorCorr(pt.t, m)};
}

// sqrt(diag(J V J^T)) of one factored part, with U = D V and C = D V D^T.
std::vector<double> partErrors(const FactoredPart& part, const double* v, const Matrix& u, const Matrix& c,
                               int p, int m) {
  const int mm = m * m, pm = p * m;
  const int rows = static_cast<int>(part.through.size() / mm);
  Matrix ec(at(0, mm, rows));
  multiply(part.through.data(), c.data(), rows, mm, mm, ec.data());
  std::vector<double> se(rows);
  for (int r = 0; r < rows; ++r) {
    double s = 0.0;
    for (int q = 0; q < mm; ++q) s += ec[at(r, q, rows)] * part.through[at(r, q, rows)];
    if (!part.direct.empty()) {
      const int i = r % p, j = r / p;
      const double* mj = part.direct.data() + at(0, j, m);
      for (int a = 0; a < m; ++a)
        for (int b = 0; b < m; ++b) s += mj[a] * mj[b] * v[at(i + a * p, i + b * p, pm)];
      for (int q = 0; q < mm; ++q) {
        double ku = 0.0;
        for (int a = 0; a < m; ++a) ku += mj[a] * u[at(q, i + a * p, mm)];
        s += 2.0 * ku * part.through[at(r, q, rows)];
      }
    }
    se[r] = std::sqrt(std::max(0.0, s));
  }
  return se;
}

}  // namespace

bool transformDerivative(const double* a, const double* t, int p, int m, const RotationCriterion& c,
                         std::vector<double>& dt) {
  Point pt;
  return pointAt(a, t, p, m, c, pt) && derivativeAt(pt, dt);
}

RotationErrorStatus criterionJacobian(const double* a, const double* x, int p, int m,
                                      const RotationCriterion& criterion, SolutionJacobian& out) {
  Matrix t(x, x + at(0, m, m));
  if (criterion.oblique) {
    // Jennrich's (2002) parametrisation: L = A T^-T with Phi = T^T T.
    Matrix xInverse, phi(t.size()), phiInverse;
    if (!invert(t, m, xInverse)) return RotationErrorStatus::kSingular;
    t = transpose(xInverse, m);
    crossMultiply(t.data(), t.data(), m, m, m, phi.data());
    if (!invert(phi, m, phiInverse)) return RotationErrorStatus::kFactorCorrSingular;
  }
  Point pt;
  if (!pointAt(a, t.data(), p, m, criterion, pt)) return RotationErrorStatus::kSingular;
  out = SolutionJacobian();
  out.p = p;
  out.m = m;
  out.oblique = criterion.oblique;
  if (!derivativeAt(pt, out.transformDerivative)) return RotationErrorStatus::kSingular;
  fillParts(a, pt, out);
  out.pattern = explicitPart(out.patternParts, out.transformDerivative, p, m);
  return RotationErrorStatus::kOk;
}

SolutionErrors factoredErrors(const SolutionJacobian& jacobian, const double* covariance) {
  const int p = jacobian.p, m = jacobian.m, pm = p * m, mm = m * m;
  const Matrix& d = jacobian.transformDerivative;
  Matrix u(at(0, pm, mm)), c(at(0, mm, mm));
  multiply(d.data(), covariance, mm, pm, pm, u.data());  // D V
  for (int s = 0; s < mm; ++s)                            // (D V) D^T
    for (int q = 0; q < mm; ++q) {
      double sum = 0.0;
      for (int k = 0; k < pm; ++k) sum += u[at(q, k, mm)] * d[at(s, k, mm)];
      c[at(q, s, mm)] = sum;
    }
  SolutionErrors e;
  e.pattern = partErrors(jacobian.patternParts, covariance, u, c, p, m);
  if (!jacobian.oblique) return e;
  e.structure = partErrors(jacobian.structureParts, covariance, u, c, p, m);
  e.factorCorr = partErrors(jacobian.factorCorrParts, covariance, u, c, p, m);
  return e;
}

}  // namespace zulfact
