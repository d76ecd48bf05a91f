#include "qkxfac/rotation_geometry.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "kernels/dense.hpp"
#include "kernels/linalg.hpp"
#include "kernels/packed.hpp"

namespace qkxfac {

using kernels::dot;
using kernels::generalInverse;
using kernels::generalSolve;
using kernels::matrixProduct;
using kernels::matrixProductOp;
using kernels::normalizeColumns;
using kernels::orthonormalize;
using kernels::packedIndex;

namespace {

// Accepted steps between two re-orthonormalisations of T: the Cayley
// transform keeps T orthogonal only up to rounding, which adds up.
constexpr int kOrthonormalizeEvery = 16;

// Oblique: the largest entry of T^-1 allowed at a trial point, and the one
// from which the current point counts as degenerate. The loadings grow
// with T^-1 (L = A T^-T); beyond these the factors have all but merged.
constexpr double kRejectInverse = 1e6;
constexpr double kDegenerateInverse = 1e4;

double largestAbs(const std::vector<double>& v) {
  double big = 0.0;
  for (double x : v) big = std::max(big, std::fabs(x));
  return big;
}

// Index of the coordinate of pair (a, b), a < b, in the upper triangle
// taken column by column.
inline int pairIndex(int a, int b) { return b * (b - 1) / 2 + a; }

}  // namespace

RotationGeometry::RotationGeometry(const double* a, int p, int m, const CfCoefficients& k,
                                   const double* start)
    : a_(a), p_(p), m_(m), k_(k), scale_(cfStandardScale(k)),
      t_(start, start + static_cast<long>(m) * m), trialT_(t_),
      pattern_(static_cast<size_t>(p) * m), trialPattern_(pattern_), gradL_(pattern_),
      rowSums_(p), colSums_(m) {}

bool RotationGeometry::evaluateCriterion(bool maximise) {
  const CfWork work{rowSums_.data(), colSums_.data()};
  const CfValue v = cfEvaluate(k_, trialPattern_.data(), p_, m_, gradL_.data(), work);
  if (!std::isfinite(v.value)) return false;
  trialCriterion_ = v.value;
  trialMagnitude_ = v.magnitude;
  trialValue_ = maximise ? -v.value : v.value;
  if (maximise)
    for (double& g : gradL_) g = -g;
  return true;
}

// ---- orthogonal ----

OrthogonalGeometry::OrthogonalGeometry(const double* a, int p, int m, const CfCoefficients& k,
                                       const double* start)
    : RotationGeometry(a, p, m, k, start) {
  dimension_ = m * (m - 1) / 2;
  const size_t mm = static_cast<size_t>(m) * m;
  left_.resize(mm);
  cayley_.resize(mm);
  pivots_.resize(m);
  cross_.resize(mm);
}

bool OrthogonalGeometry::evaluateTrial(const double* direction, double alpha, double* grad) {
  const int m = m_;
  if (direction == nullptr || alpha == 0.0) {
    trialT_ = t_;
  } else {
    // C = (I - S/2)^-1 (I + S/2), an exact rotation for any skew S,
    // solved for directly rather than through the inverse.
    for (int b = 0; b < m; ++b)
      for (int a = 0; a < m; ++a) {
        double s = 0.0;
        if (a < b) s = alpha * direction[pairIndex(a, b)];
        else if (a > b) s = -alpha * direction[pairIndex(b, a)];
        const double id = a == b ? 1.0 : 0.0;
        left_[a + b * m] = id - 0.5 * s;
        cayley_[a + b * m] = id + 0.5 * s;
      }
    if (!generalSolve(m, m, left_.data(), pivots_.data(), cayley_.data())) return false;
    matrixProduct(m, m, m, t_.data(), cayley_.data(), trialT_.data());
  }
  matrixProduct(p_, m, m, a_, trialT_.data(), trialPattern_.data());
  if (!evaluateCriterion(true)) return false;
  // M = L^T G.
  matrixProductOp(true, false, m, p_, m, trialPattern_.data(), gradL_.data(), cross_.data());
  for (int b = 1; b < m; ++b)
    for (int a = 0; a < b; ++a) grad[pairIndex(a, b)] = cross_[a + b * m] - cross_[b + a * m];
  return true;
}

void OrthogonalGeometry::acceptTrial() {
  t_.swap(trialT_);
  pattern_.swap(trialPattern_);
  criterion_ = trialCriterion_;
  if (++accepted_ % kOrthonormalizeEvery == 0) {
    orthonormalize(t_.data(), m_);
    matrixProduct(p_, m_, m_, a_, t_.data(), pattern_.data());
  }
}

double OrthogonalGeometry::measure(const double* grad) const {
  // The projected gradient is T skew(M) and its norm that of skew(M):
  // each coordinate g_ab = M_ab - M_ba stands for two entries of size g/2.
  return std::sqrt(0.5 * dot(grad, grad, dimension_)) / scale_;
}

// The Cayley transform of a skew S turns each of its planes by
// 2 atan(sigma / 2), sigma an eigenvalue modulus of S, and no sigma exceeds
// the norm of the coordinates.
double OrthogonalGeometry::longestStep(const double* direction) const {
  const double norm = std::sqrt(dot(direction, direction, dimension_));
  return norm > 0.0 ? 2.0 * std::tan(0.5 * kMaxTurn) / norm : HUGE_VAL;
}

void OrthogonalGeometry::solution(double* pattern, double* transform) const {
  std::memcpy(pattern, pattern_.data(), sizeof(double) * pattern_.size());
  std::memcpy(transform, t_.data(), sizeof(double) * t_.size());
}

// ---- oblique ----

ObliqueGeometry::ObliqueGeometry(const double* a, int p, int m, const CfCoefficients& k,
                                 const double* start)
    : RotationGeometry(a, p, m, k, start) {
  dimension_ = m * m;
  const size_t mm = static_cast<size_t>(m) * m;
  normalizeColumns(t_.data(), m, m);
  inverse_.resize(mm);
  trialInverse_.resize(mm);
  work_.resize(mm);
  pivots_.resize(m);
  cross_.resize(mm);
  product_.resize(mm);
}

bool ObliqueGeometry::evaluateTrial(const double* direction, double alpha, double* grad) {
  const int m = m_;
  const long mm = static_cast<long>(m) * m;
  for (long i = 0; i < mm; ++i)
    trialT_[i] = t_[i] + ((direction != nullptr && alpha != 0.0) ? alpha * direction[i] : 0.0);
  normalizeColumns(trialT_.data(), m, m);
  if (!generalInverse(m, trialT_.data(), trialInverse_.data(), pivots_.data(), work_.data()))
    return false;
  if (largestAbs(trialInverse_) > kRejectInverse) return false;
  // L = A (T^-1)^T.
  matrixProductOp(false, true, p_, m, m, a_, trialInverse_.data(), trialPattern_.data());
  if (!evaluateCriterion(false)) return false;
  // dq/dT = -(L^T G T^-1)^T (Jennrich 2002), then projected column by
  // column on the tangent space of the unit sphere.
  matrixProductOp(true, false, m, p_, m, trialPattern_.data(), gradL_.data(), cross_.data());
  matrixProduct(m, m, m, cross_.data(), trialInverse_.data(), product_.data());
  for (int j = 0; j < m; ++j)
    for (int i = 0; i < m; ++i) grad[i + j * m] = -product_[j + i * m];
  for (int j = 0; j < m; ++j) {
    const double* tj = &trialT_[j * m];
    double* gj = grad + j * m;
    const double d = dot(tj, gj, m);
    for (int i = 0; i < m; ++i) gj[i] -= d * tj[i];
  }
  return true;
}

void ObliqueGeometry::acceptTrial() {
  t_.swap(trialT_);
  inverse_.swap(trialInverse_);
  pattern_.swap(trialPattern_);
  criterion_ = trialCriterion_;
}

void ObliqueGeometry::transport(double* v) const {
  for (int j = 0; j < m_; ++j) {
    const double* tj = &t_[j * m_];
    double* vj = v + j * m_;
    const double d = dot(tj, vj, m_);
    for (int i = 0; i < m_; ++i) vj[i] -= d * tj[i];
  }
}

double ObliqueGeometry::measure(const double* grad) const {
  return std::sqrt(dot(grad, grad, dimension_)) / scale_;
}

// Column j of T moves by a tangent vector alpha D_j and is normalised
// again: it turns by atan(alpha |D_j|), so the longest column sets the step.
double ObliqueGeometry::longestStep(const double* direction) const {
  double longest = 0.0;
  for (int j = 0; j < m_; ++j) {
    const double* dj = direction + static_cast<size_t>(j) * m_;
    longest = std::max(longest, dot(dj, dj, m_));
  }
  return longest > 0.0 ? std::tan(kMaxTurn) / std::sqrt(longest) : HUGE_VAL;
}

void ObliqueGeometry::solution(double* pattern, double* transform) const {
  std::memcpy(pattern, pattern_.data(), sizeof(double) * pattern_.size());
  // L = A X with X = (T^-1)^T.
  for (int j = 0; j < m_; ++j)
    for (int i = 0; i < m_; ++i) transform[i + j * m_] = inverse_[j + i * m_];
}

bool ObliqueGeometry::degenerate() const { return largestAbs(inverse_) > kDegenerateInverse; }

void ObliqueGeometry::factorCorrelations(double* packed) const {
  for (int i = 0; i < m_; ++i)
    for (int j = 0; j <= i; ++j)
      packed[packedIndex(i, j)] = i == j ? 1.0 : dot(&t_[i * m_], &t_[j * m_], m_);
}

}  // namespace qkxfac
