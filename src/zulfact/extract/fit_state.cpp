#include "zulfact/extract/fit_state.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "zulfact/state/constants.hpp"
#include "zulfact/extract/fit_hessian.hpp"
#include "kernels/eigen.hpp"
#include "kernels/linalg.hpp"
#include "kernels/packed.hpp"

namespace zulfact {

using kernels::ddot;
using kernels::daxpy;
using kernels::choleskyRow;
using kernels::invertLower;
using kernels::packedIndex;
using kernels::packedRow;
using kernels::packedSize;
using kernels::zeigen;
using kernels::zeigvec;

namespace {

std::size_t square(int p) { return static_cast<std::size_t>(p) * p; }

// The directions whose vectors the derivatives need: the p - k discarded
// ones for ML and GLS (largest mu first), the k retained ones for ULS.
int vectorsNeeded(const FitState& fs) {
  return fs.isUls ? fs.nFactors : fs.nVars - fs.nFactors;
}

// x_j = sqrt(gamma_j) T^T z_j for the first m vectors. (T^T z)_i sums
// t_li z_l over l >= i: each packed row l of T is added in once.
void scaledVectors(FitState& fs, int m) {
  const int p = fs.nVars;
  for (int j = 0; j < m; ++j) {
    const double* z = fs.vectors + static_cast<std::size_t>(j) * p;
    double* x = fs.scaled + static_cast<std::size_t>(j) * p;
    std::fill(x, x + p, 0.0);
    for (int l = 0; l < p; ++l) daxpy(l + 1, z[l], fs.matrix + packedRow(l), x);
    const double root = std::sqrt(fs.gammas[j]);
    for (int i = 0; i < p; ++i) x[i] *= root;
  }
}

// Replaces the approximate second derivatives by the exact ones when those
// are finite and positive definite (a Cholesky factor with pivots above
// 1e-12 of the largest diagonal element); otherwise the approximation and
// the optimiser's ridge keep the steps downhill. The scaled vectors are
// free by now and hold the y_j.
void useExactWherePositive(FitState& fs) {
  const int p = fs.nVars;
  const double* mu = fs.values;
  for (int j = 0; j < p; ++j)
    if (!(mu[j] > kSingularMu)) return;
  if (!exactFitHessian(fs.isMl, p, fs.nFactors, fs.matrix, mu, fs.vectors, fs.scaled, fs.exact))
    return;
  std::memcpy(fs.exactFactor, fs.exact, packedSize(p) * sizeof(double));
  double largest = 0.0;
  for (int i = 0; i < p; ++i) largest = std::max(largest, fs.exact[packedIndex(i, i)]);
  const double tol = kExactHessianPivot * largest;
  for (int i = 0; i < p; ++i)
    if (!(choleskyRow(i, fs.exactFactor, tol) > tol)) return;
  std::memcpy(fs.hessian, fs.exact, packedSize(p) * sizeof(double));
  fs.exactUsed = true;
}

}  // namespace

std::size_t fitStateDoubles(int p) {
  // psi, gradient, previousPsi, evaluatedPsi, values, gammas: 6p;
  // hessian, work, exact and exactFactor: 4 packed; vectors and scaled:
  // 2 p^2; eigen work 9p.
  return 15 * static_cast<std::size_t>(p) + 4 * packedSize(p) + 2 * square(p);
}

void fitStateInit(FitState& fs, FitKind kind, int p, int k, const double* matrix,
                  const double* weights, double* block) {
  std::memset(&fs, 0, sizeof fs);
  fs.isUls = kind == FitKind::Uls;
  fs.isMl = kind == FitKind::Ml;
  fs.isGls = kind == FitKind::Gls;
  fs.nVars = p;
  fs.nFactors = k;
  fs.residualCount = p - k;
  fs.matrix = matrix;
  fs.weights = weights;
  double* next = block;
  auto take = [&next](std::size_t n) {
    double* at = next;
    next += n;
    return at;
  };
  fs.psi = take(p);
  fs.gradient = take(p);
  fs.previousPsi = take(p);
  fs.evaluatedPsi = take(p);
  fs.values = take(p);
  fs.gammas = take(p);
  fs.hessian = take(packedSize(p));
  fs.work = take(packedSize(p));
  fs.exact = take(packedSize(p));
  fs.exactFactor = take(packedSize(p));
  fs.exactHessian = !fs.isUls;
  fs.vectors = take(square(p));
  fs.scaled = take(square(p));
  fs.eigenWork = take(9 * static_cast<std::size_t>(p));
}

void fitWorkMatrix(FitState& fs, const double* psi) {
  const int p = fs.nVars;
  fs.decomposed = false;
  for (int i = 0; i < p; ++i) fs.evaluatedPsi[i] = std::fabs(psi[i]) < kTinyUniqueness ? 0.0 : psi[i];
  const double* u = fs.evaluatedPsi;
  if (fs.isUls) {
    std::memcpy(fs.work, fs.matrix, packedSize(p) * sizeof(double));
    for (int i = 0; i < p; ++i)
      fs.work[packedIndex(i, i)] = (fs.weights ? fs.weights[i] : 1.0) - u[i];
    return;
  }
  // M_ij = sum_{l <= min(i,j)} psi_l t_il t_jl: row i of T scaled by psi
  // (in the gamma scratch, free until the eigenvalues arrive) against the
  // packed rows j <= i of T.
  double* scaledRow = fs.gammas;
  for (int i = 0; i < p; ++i) {
    const double* ti = fs.matrix + packedRow(i);
    for (int l = 0; l <= i; ++l) scaledRow[l] = ti[l] * u[l];
    double* mi = fs.work + packedRow(i);
    for (int j = 0; j <= i; ++j) mi[j] = ddot(j + 1, scaledRow, fs.matrix + packedRow(j));
  }
}

double fitObjective(FitState& fs, const double* psi) {
  const int p = fs.nVars;
  const int k = fs.nFactors;
  ++fs.functionCalls;
  // The optimiser starts where the preliminary eigenvalues were taken, and
  // the final solution is usually the point evaluated last: the
  // decomposition kept from that evaluation serves again.
  bool same = fs.decomposed;
  for (int i = 0; same && i < p; ++i)
    same = (std::fabs(psi[i]) < kTinyUniqueness ? 0.0 : psi[i]) == fs.evaluatedPsi[i];
  if (!same) {
    fitWorkMatrix(fs, psi);
    fs.eigenCode = zeigen(p, fs.work, fs.values, 0, nullptr, fs.eigenWork);
    fs.decomposed = true;
  }
  double f = 0.0;
  if (fs.isUls) {
    for (int j = k; j < p; ++j) f += fs.values[j] * fs.values[j];
    f *= 0.5;
  } else {
    // values keep the solver's mu: fitDerivatives asks it for their vectors.
    for (int j = 0; j < p; ++j) fs.gammas[j] = fs.values[j] <= kSingularMu ? kHugeGamma : 1.0 / fs.values[j];
    for (int j = 0; j < p - k; ++j) {
      const double g = fs.gammas[j];
      if (fs.isMl) {
        f += g - 1.0 - std::log(g);
      } else {
        const double d = 1.0 / g - 1.0;
        f += 0.5 * d * d;
      }
    }
  }
  fs.criterion = f;
  return f;
}

void fitDerivatives(FitState& fs) {
  const int p = fs.nVars;
  const int k = fs.nFactors;
  // The exact second derivatives need every eigenvector.
  const int m = vectorsNeeded(fs);
  const bool exact = fs.exactHessian && !fs.isUls && fs.iteration >= 1;
  const int computed = exact ? p : m;
  ++fs.gradientCalls;
  fs.exactUsed = false;
  if (computed > 0)
    fs.eigenCode = zeigvec(p, computed, fs.work, fs.values, fs.vectors, fs.eigenWork);

  double* g = fs.gradient;
  double* h = fs.hessian;
  if (fs.isUls) {
    // The retained directions complete the discarded ones: sum over j >= k
    // of lambda_j z_ij^2 is a_ii minus the sum over j < k, and of
    // z_ij z_lj it is delta_il minus the same.
    for (int i = 0; i < p; ++i) {
      double s = (fs.weights ? fs.weights[i] : 1.0) - fs.evaluatedPsi[i];
      for (int j = 0; j < k; ++j) {
        const double z = fs.vectors[static_cast<std::size_t>(j) * p + i];
        s -= fs.values[j] * z * z;
      }
      g[i] = -s;
    }
    for (int i = 0; i < p; ++i) {
      for (int l = 0; l <= i; ++l) {
        double s = i == l ? 1.0 : 0.0;
        for (int j = 0; j < k; ++j) {
          const double* z = fs.vectors + static_cast<std::size_t>(j) * p;
          s -= z[i] * z[l];
        }
        h[packedIndex(i, l)] = s * s;
      }
    }
    return;
  }

  scaledVectors(fs, m);
  std::fill(g, g + p, 0.0);
  for (int j = 0; j < m; ++j) {
    const double gamma = fs.gammas[j];
    const double c = fs.isMl ? 1.0 - gamma : 1.0 / (gamma * gamma) - 1.0 / gamma;
    const double* x = fs.scaled + static_cast<std::size_t>(j) * p;
    for (int i = 0; i < p; ++i) g[i] += c * x[i] * x[i];
  }
  // h_il = (sum_j c_j x_ij x_lj)^2: the packed X C X^T built column by
  // column of X (each x_j adds its outer product), then squared element by
  // element. ML: c_j = 1 (Joreskog 1967). GLS: c_j = mu_j = 1/gamma_j, the
  // expected second derivatives of 1/2 tr((I - R^-1 Sigma)^2) (Joreskog and
  // Goldberger 1972); the ML form misjudges them when mu is far from 1.
  std::fill(h, h + packedSize(p), 0.0);
  for (int j = 0; j < m; ++j) {
    const double* x = fs.scaled + static_cast<std::size_t>(j) * p;
    const double c = fs.isGls ? 1.0 / fs.gammas[j] : 1.0;
    for (int i = 0; i < p; ++i) daxpy(i + 1, c * x[i], x, h + packedRow(i));
  }
  for (std::size_t e = 0; e < packedSize(p); ++e) h[e] *= h[e];
  // The first step from the start values keeps the approximation, which
  // like Fisher scoring steps well far from the optimum (on well-fitting
  // data the exact step from there took more iterations); Newton's
  // method finishes from the first accepted point on.
  if (exact && fs.eigenCode == 0) useExactWherePositive(fs);
}

bool inverseCholeskyFactor(int p, double* r, double singularity, double& lnDet) {
  lnDet = 0.0;
  for (int i = 0; i < p; ++i) {
    const double d = choleskyRow(i, r, singularity);
    lnDet += std::log(std::max(singularity, d));
    if (!(d > singularity)) return false;
  }
  return invertLower(r, p, nullptr, singularity) == 0;
}

int fitFullDecomposition(FitState& fs, const double* psi) {
  const int p = fs.nVars;
  fitObjective(fs, psi);
  fs.eigenCode = zeigvec(p, p, fs.work, fs.values, fs.vectors, fs.eigenWork);
  return fs.eigenCode;
}

}  // namespace zulfact
