#include "qkxfac/rotation.hpp"

#include <cmath>
#include <cstring>
#include <memory>
#include <new>

#include "kernels/dense.hpp"
#include "kernels/eigen.hpp"
#include "qkxfac/column_alignment.hpp"
#include "qkxfac/rotation_geometry.hpp"
#include "qkxfac/rotation_optimizer.hpp"

namespace qkxfac {

using kernels::crossProduct;
using kernels::multiply;
using kernels::orthonormalize;

bool isKnownMethod(int32_t method) {
  return (method >= ZUL_METHOD_QUARTIMAX && method <= ZUL_METHOD_OBLIGENCF) ||
         method == ZUL_METHOD_HARRIS_KAISER;
}

bool isObliqueMethod(int32_t method) {
  return (method >= ZUL_METHOD_QUARTIMIN && method <= ZUL_METHOD_OBFACTOR_PARSIMONY) ||
         method == ZUL_METHOD_OBLIMIN || method == ZUL_METHOD_OBLICF ||
         method == ZUL_METHOD_OBLIGENCF;
}

namespace {

// Rows whose sum of squares is at most this are not normalised.
constexpr double kTinyRow = 1e-300;
// Extra random starts for criteria known to have local optima.
constexpr int kExtraStarts = 5;
// Fixed seed of those starts: the same request always gives the same result.
constexpr uint64_t kStartSeed = 0x9E3779B97F4A7C15ull;

// Multiplier of each row before the rotation: the Kaiser normalisation
// and the variable weight (1 unless Cureton-Mulaik or covariance weights).
void rowScales(const zul_rotation_request& req, const RotationInput& in,
               std::vector<double>& scale, std::vector<double>& weight) {
  const int p = in.p, m = in.m;
  scale.assign(p, 1.0);
  weight.assign(p, 1.0);
  const int code = req.normalization;
  const bool kaiser = code == ZUL_NORM_KAISER || code == ZUL_NORM_CURETON_MULAIK ||
                      (code == ZUL_NORM_BY_FLAG && req.rowNormalize != 0);
  std::vector<double> rowSquares(p);
  if (kaiser) kernels::kaiserScales(in.pattern, p, m, kTinyRow, scale.data(), rowSquares.data());
  for (int i = 0; i < p; ++i) {
    const double h = rowSquares[i];
    if (code == ZUL_NORM_CURETON_MULAIK && h > kTinyRow) {
      // Cureton and Mulaik (1975): by the angle of the normalised row to
      // the first unrotated factor, small for variables near that factor
      // or near none, 1 for those between.
      const double first = std::fabs(in.pattern[i]) * scale[i];
      const double cut = std::acos(1.0 / std::sqrt(static_cast<double>(m)));
      const double delta = first < 1.0 / std::sqrt(static_cast<double>(m)) ? M_PI / 2 : 0.0;
      const double ratio = (cut - std::acos(std::min(1.0, first))) / (cut - delta);
      const double c = std::cos(ratio * M_PI / 2);
      weight[i] = c * c + 0.001;
    }
    if (code == ZUL_NORM_COVARIANCE && in.variances != nullptr && in.variances[i] > 0.0)
      weight[i] = 1.0 / std::sqrt(in.variances[i]);
    scale[i] *= weight[i];
  }
}

// A rotation drawn at random (Gaussian matrix, orthonormalised), from a
// fixed generator.
void randomRotation(uint64_t& state, double* t, int m) {
  auto next = [&state]() {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return (static_cast<double>(state >> 11) + 0.5) * (1.0 / 9007199254740992.0);
  };
  for (int i = 0; i < m * m; ++i)
    t[i] = std::sqrt(-2.0 * std::log(next())) * std::cos(2.0 * M_PI * next());
  orthonormalize(t, m);
}

// Criteria with several local optima in practice, for which the best of
// several starts is kept: oblique criteria with a column-complexity term
// (biquartimin, covarimin, oblimin with tau > 0, the oblique
// Crawford-Ferguson criteria; Browne 2001) and orthomax criteria beyond
// varimax (equamax, parsimax, factor parsimony).
bool hasLocalOptima(bool oblique, const CfCoefficients& k, int p) {
  if (oblique) return k.k3 > 0.0;
  if (k.k4 <= 0.0) return true;
  return -k.k3 * p / k.k4 > 1.0 + 1e-12;
}

struct Solution {
  OptimizerResult result;
  std::vector<double> pattern, transform, factorCorr;
};

bool usable(int status) {
  return status == ZUL_ENGINE_STATUS_CONVERGED || status == ZUL_ENGINE_STATUS_AT_START ||
         status == ZUL_ENGINE_STATUS_STALLED;
}

// One optimisation of the p x m matrix b from start t0.
Solution solveFrom(const double* b, int p, int m, const CfCoefficients& k, bool oblique,
                   const double* t0, int maxIter, double tolerance) {
  std::unique_ptr<RotationGeometry> geo;
  if (oblique) geo = std::make_unique<ObliqueGeometry>(b, p, m, k, t0);
  else geo = std::make_unique<OrthogonalGeometry>(b, p, m, k, t0);
  Solution s;
  s.result = minimizeCriterion(*geo, maxIter, tolerance);
  s.pattern.resize(static_cast<size_t>(p) * m);
  s.transform.resize(static_cast<size_t>(m) * m);
  geo->solution(s.pattern.data(), s.transform.data());
  if (oblique) {
    s.factorCorr.resize(static_cast<size_t>(m) * (m + 1) / 2);
    geo->factorCorrelations(s.factorCorr.data());
  }
  return s;
}

// Harris-Kaiser (1964): the pattern A is written A = Q M^(1/2) V^T, with
// M the eigenvalues and V the eigenvectors of A^T A and Q = A V M^(-1/2)
// its unit-length principal axes. The rescaled axes B = Q M^(power/2) are
// what the orthogonal criterion rotates: power 0 rotates Q itself (the
// independent-cluster solution, case II, with correlated factors), power 1
// rotates A V, an orthogonal turn of A (an orthogonal solution). b receives
// B = A X0 and x0 = V M^((power-1)/2); weights the rescaling M^(power/2).
void harrisKaiserAxes(const double* a, int p, int m, double power, std::vector<double>& b,
                      std::vector<double>& x0, std::vector<double>& weights) {
  std::vector<double> ata(static_cast<size_t>(m) * m), values(m),
      vectors(static_cast<size_t>(m) * m), work(kernels::fullEigenWorkSize(m));
  crossProduct(a, a, ata.data(), p, m, m);
  kernels::symmetricEigenFull(m, ata.data(), values.data(), m, vectors.data(), work.data());
  weights.assign(m, 1.0);
  std::vector<double> toAxes(m, 1.0);  // M^((power-1)/2)
  for (int j = 0; j < m; ++j)
    if (values[j] > 0.0) {
      weights[j] = std::pow(values[j], power / 2.0);
      toAxes[j] = std::pow(values[j], (power - 1.0) / 2.0);
    }
  // V M^((power-1)/2), column-major like the solver's vectors.
  x0.resize(vectors.size());
  for (int j = 0; j < m; ++j)
    for (int i = 0; i < m; ++i) x0[i + j * m] = vectors[i + j * m] * toAxes[j];
  b.resize(static_cast<size_t>(p) * m);
  multiply(a, x0.data(), b.data(), p, m, m);
}

RotationOutput rotateChecked(const zul_rotation_request& req, const RotationInput& in) {
  RotationOutput out;
  const int p = in.p, m = in.m;
  if (!isKnownMethod(req.method)) {
    out.status = ZUL_ENGINE_STATUS_UNSUPPORTED;
    return out;
  }
  if (p < 1 || m < 1 || in.pattern == nullptr) {
    out.status = ZUL_ENGINE_STATUS_FAILED;
    return out;
  }
  for (long i = 0; i < static_cast<long>(p) * m; ++i)
    if (!std::isfinite(in.pattern[i])) {
      out.status = ZUL_ENGINE_STATUS_NO_PROGRESS;
      return out;
    }

  const CfCoefficients k{req.coefficients[0], req.coefficients[1], req.coefficients[2],
                         req.coefficients[3]};
  out.oblique = isObliqueMethod(req.method);
  out.harrisKaiser = !out.oblique &&
                     (req.method == ZUL_METHOD_HARRIS_KAISER || !zul_is_missing(req.hkPower));
  const double tolerance =
      zul_is_missing(req.convergence) || req.convergence < 0.0 ? 1e-9 : req.convergence;
  const int maxIter = req.maxIter < 0 ? 0 : req.maxIter;

  // What the criterion rotates: the pattern, or for Harris-Kaiser its
  // rescaled principal axes A X0; the row normalisation belongs to that
  // orthogonal rotation.
  std::vector<double> b(in.pattern, in.pattern + static_cast<size_t>(p) * m);
  std::vector<double> axes;  // Harris-Kaiser: X0
  if (out.harrisKaiser) {
    const double power = zul_is_missing(req.hkPower) ? 0.0 : req.hkPower;
    harrisKaiserAxes(in.pattern, p, m, power, b, axes, out.factorWeights);
  }
  std::vector<double> scale;
  rowScales(req, RotationInput{p, m, b.data(), in.variances}, scale, out.varWeights);
  for (int j = 0; j < m; ++j)
    for (int i = 0; i < p; ++i) b[i + j * p] *= scale[i];

  std::vector<double> start(static_cast<size_t>(m) * m, 0.0);
  for (int j = 0; j < m; ++j) start[j + j * m] = 1.0;
  Solution best = solveFrom(b.data(), p, m, k, out.oblique, start.data(), maxIter, tolerance);
  if (m > 1 && hasLocalOptima(out.oblique, k, p)) {
    // The factors of a solution from a random start come in any order and
    // of either sign: they are put where those of the solution from the
    // unrotated start (or, when that one is not usable, of the pattern
    // itself) lie.
    const std::vector<double> reference = usable(best.result.status) ? best.pattern : b;
    bool fromRandomStart = false;
    uint64_t state = kStartSeed;
    for (int s = 0; s < kExtraStarts; ++s) {
      randomRotation(state, start.data(), m);
      Solution other = solveFrom(b.data(), p, m, k, out.oblique, start.data(), maxIter, tolerance);
      if (!usable(other.result.status)) continue;
      const double gain = out.oblique ? best.result.criterion - other.result.criterion
                                      : other.result.criterion - best.result.criterion;
      // A clearly better optimum only: ties keep the solution from the
      // unrotated start.
      const double margin = 1e-10 * (1.0 + std::fabs(best.result.criterion));
      if (!usable(best.result.status) || gain > margin) {
        best = std::move(other);
        fromRandomStart = true;
      }
    }
    if (fromRandomStart)
      applyMatch(matchColumns(reference.data(), best.pattern.data(), p, m), p, m, best.pattern,
                 best.transform, best.factorCorr);
  }

  out.status = best.result.status;
  out.iterations = best.result.iterations;
  out.criterion = best.result.criterion;
  out.measure = best.result.measure;
  out.factorCorr = std::move(best.factorCorr);
  // The transformation of the original rows: L = A X, with X = X0 T for
  // Harris-Kaiser; the rotated pattern is formed from A so that the row
  // normalisation is undone exactly.
  if (out.harrisKaiser) {
    out.transform.resize(best.transform.size());
    multiply(axes.data(), best.transform.data(), out.transform.data(), m, m, m);
  } else {
    out.transform = std::move(best.transform);
  }
  out.pattern.resize(static_cast<size_t>(p) * m);
  multiply(in.pattern, out.transform.data(), out.pattern.data(), p, m, m);
  return out;
}

}  // namespace

RotationOutput rotate(const zul_rotation_request& request, const RotationInput& input) {
  try {
    return rotateChecked(request, input);
  } catch (const std::bad_alloc&) {
    RotationOutput out;
    out.status = ZUL_ENGINE_STATUS_FAILED;
    return out;
  }
}

}  // namespace qkxfac
