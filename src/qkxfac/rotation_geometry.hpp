// The two spaces a rotation moves in, as seen by the optimiser.
//
// Orthogonal: L = A T with T orthogonal. A step is T <- T C(S), C the
// Cayley transform of a skew-symmetric S, whose m(m-1)/2 upper entries are
// the coordinates. Gradients are taken in the same left-trivialised
// coordinates (g_ab = M_ab - M_ba, M = L^T dq/dL), so they do not depend on
// where T is and need no transport between points.
//
// Oblique: L = A (T^T)^-1 with the columns of T of unit length, so that
// Phi = T^T T has a unit diagonal (Jennrich 2002). Coordinates are the m*m
// entries of T; gradients are projected on the tangent space of the unit
// columns, a step is T <- normalise(T + D), and vectors move to a new point
// by projection on its tangent space.
//
// Both minimise q: -f for the orthogonal (maximised) criteria, f for the
// oblique ones. The convergence measure is the Frobenius norm of the
// projected gradient of the standardised criterion (Jennrich 2001, 2002).
#pragma once

#include <vector>

#include "qkxfac/crawford_ferguson.hpp"

namespace qkxfac {

// Largest turn of a factor in one step, pi/8: copies of an optimum lie a
// quarter turn (pi/2) apart, and a step of pi/4 would reach half way to
// the next one.
constexpr double kMaxTurn = 0.125 * 3.14159265358979323846;

class RotationGeometry {
 public:
  // a: the p x m pattern to rotate (normalised rows); it must outlive the
  // geometry. start: the m x m starting T (orthogonal; unit columns).
  RotationGeometry(const double* a, int p, int m, const CfCoefficients& k, const double* start);
  virtual ~RotationGeometry() = default;

  int dimension() const { return dimension_; }
  // Evaluates q at the current point moved by alpha * direction (direction
  // null: the current point itself); gradient coordinates into grad.
  // Returns false when the point cannot be used (a singular T, values
  // that are not finite).
  virtual bool evaluateTrial(const double* direction, double alpha, double* grad) = 0;
  // Makes the last evaluated trial the current point.
  virtual void acceptTrial() = 0;
  // Moves a vector of the previous point to the tangent space of the
  // current one.
  virtual void transport(double* v) const = 0;
  // Jennrich's measure: norm of the projected gradient of f / cfStandardScale.
  virtual double measure(const double* grad) const = 0;
  // The largest alpha for which alpha * direction turns no factor by more
  // than kMaxTurn (infinity for a zero direction). The criteria do not
  // change when factors are reflected or swapped, so their optima repeat a
  // quarter turn apart in each plane; a longer step can leap past the
  // nearest one to a copy with factors reflected or swapped, which is not
  // where the rotation from the start would have left them.
  virtual double longestStep(const double* direction) const = 0;
  // The pattern L and the transformation that maps A to it (L = A X), at
  // the current point.
  virtual void solution(double* pattern, double* transform) const = 0;
  // Packed lower triangle of Phi (oblique only).
  virtual void factorCorrelations(double* packed) const {}
  // True when the current point is close to a singular Phi: some oblique
  // criteria (covarimin, oblimin with a large tau) decrease without bound
  // as factors collapse onto each other, and no optimum exists there.
  virtual bool degenerate() const { return false; }

  double trialValue() const { return trialValue_; }          // q at the last trial
  double trialMagnitude() const { return trialMagnitude_; }  // its rounding size
  double criterion() const { return criterion_; }            // f at the current point
  double standardScale() const { return scale_; }

 protected:
  // f and dq/dL at the trial pattern; false when not finite.
  bool evaluateCriterion(bool maximise);

  const double* a_;
  int p_, m_, dimension_ = 0;
  CfCoefficients k_;
  double scale_;
  std::vector<double> t_, trialT_;            // m x m
  std::vector<double> pattern_, trialPattern_;  // p x m
  std::vector<double> gradL_;                 // p x m, dq/dL at the trial
  std::vector<double> rowSums_, colSums_;
  double trialValue_ = 0, trialMagnitude_ = 0, trialCriterion_ = 0, criterion_ = 0;
};

class OrthogonalGeometry : public RotationGeometry {
 public:
  OrthogonalGeometry(const double* a, int p, int m, const CfCoefficients& k, const double* start);
  bool evaluateTrial(const double* direction, double alpha, double* grad) override;
  void acceptTrial() override;
  void transport(double*) const override {}
  double measure(const double* grad) const override;
  double longestStep(const double* direction) const override;
  void solution(double* pattern, double* transform) const override;

 private:
  std::vector<double> left_, cayley_, cross_;
  std::vector<int> pivots_;
  int accepted_ = 0;
};

class ObliqueGeometry : public RotationGeometry {
 public:
  ObliqueGeometry(const double* a, int p, int m, const CfCoefficients& k, const double* start);
  bool evaluateTrial(const double* direction, double alpha, double* grad) override;
  void acceptTrial() override;
  void transport(double* v) const override;
  double measure(const double* grad) const override;
  double longestStep(const double* direction) const override;
  void solution(double* pattern, double* transform) const override;
  void factorCorrelations(double* packed) const override;
  bool degenerate() const override;

 private:
  std::vector<double> inverse_, trialInverse_, work_, cross_, product_;
  std::vector<int> pivots_;
};

}  // namespace qkxfac
