// Standard errors of rotated factor solutions by the delta method.
//
// A rotated solution is a smooth function of the unrotated pattern A
// (p x m): a criterion rotation through the stationarity conditions of its
// criterion, which define the transformation implicitly (the implicit
// function theorem; Jennrich 1973, 1974; Archer and Jennrich 1973; the
// constraint form of Jennrich's later work), a target rotation (PROCRUSTES,
// PROMAX) through its least-squares transformation. Each function here
// returns the Jacobian of the rotated solution with respect to vec(A);
// with the covariance V of vec(A) the covariance of the rotated estimates
// is J V J^T (solutionErrors).
//
// A criterion rotation is differentiated analytically (the criterion's
// gradient and its Hessian along a direction; criterion_jacobian.cpp) and
// its Jacobian kept in factored form, which the standard errors use
// without forming J V J^T. The target rotations are differentiated by
// complex steps (Squire and Trapp 1998): every map involved is analytic,
// so f(x + i h e) gives the derivative along e in its imaginary part,
// exact to rounding, without the cancellation of finite differences. The
// complex-step Jacobian of a criterion rotation is kept as the reference
// the analytic one is checked against.
//
// Matrices are column-major (element (i, j) of an r x c matrix at i + j*r);
// vec stacks the columns. Nothing here talks to the host.
#pragma once

#include <array>
#include <vector>

namespace zulfact {

// The criterion a rotation optimised: the four coefficients k1..k4 of the
// generalized Crawford-Ferguson criterion (as criterionCoefficients gives
// them), whether the rows were normalised to unit length before it
// (Kaiser 1958; the stationarity conditions are those of the normalised
// pattern), and whether the factors are oblique.
struct RotationCriterion {
  std::array<double, 4> k{};
  bool kaiser = true;
  bool oblique = false;
};

enum class RotationErrorStatus {
  kOk,
  kSingular,            // a system of the derivatives is singular
  kFactorCorrSingular,  // Phi cannot be inverted
};

// The Jacobian of one part Y of a criterion-rotated solution in the form
// J = (M^T (x) I_p) + E D: a direct part from A itself (Y = A M with M
// fixed; M empty when Y does not depend on A directly) and a part through
// the transformation, E (rows x m*m) times D = d vec(T) / d vec(A).
struct FactoredPart {
  std::vector<double> direct;   // M, m x m, or empty
  std::vector<double> through;  // E, rows x m*m
};

// d vec(X) / d vec(A) for the pattern, the factor correlations and the
// structure of a rotated solution: (rows x pm) matrices with rows the
// elements of X in column-major order. factorCorr (m*m rows) and structure
// are filled for oblique solutions only. A criterion rotation fills the
// pattern and, instead of the others, the factored form: D (m*m x pm)
// and the parts (factorCorr and structure oblique only).
struct SolutionJacobian {
  int p = 0, m = 0;
  bool oblique = false;
  std::vector<double> pattern;
  std::vector<double> factorCorr;
  std::vector<double> structure;
  std::vector<double> transformDerivative;
  FactoredPart patternParts, factorCorrParts, structureParts;
};

// Standard errors in the shapes of the estimates: pattern and structure
// p x m, factor correlations m x m (0 on the diagonal). factorCorr and
// structure are empty for an orthogonal solution.
struct SolutionErrors {
  std::vector<double> pattern;
  std::vector<double> factorCorr;
  std::vector<double> structure;
};

// What the standard-error step of a criterion rotation does.
enum class RotationErrorRule {
  kCompute,
  kNone,               // nothing, without a message: one factor, or no covariance of A kept
  kNotThisRotation,    // message 180/359: PROMAX, PROCRUSTES and Harris-Kaiser solutions
  kNotThisNormalization,  // message 180/360: NORM=WEIGHT or NORM=COV
};

// The rule for rotation `code` (HK for any Harris-Kaiser solution, also
// one of HKPOWER= with an orthogonal criterion) with NORM= code `norm`, m
// factors, and whether the covariance of the unrotated estimates was kept
// for the group.
RotationErrorRule rotationErrorRule(int code, int norm, int m, bool covarianceKept);

// The m x m transformation x with L = A x, by least squares (exact when L
// lies in the column space of A, as every rotation of A does). False when
// A^T A is singular.
bool transformFrom(const double* a, const double* l, int p, int m, std::vector<double>& x);

// The Jacobian of the criterion-rotated solution L = A x (x from
// transformFrom; for an oblique solution Phi = x^-1 x^-T) through the
// stationarity conditions of the criterion: orthogonal, L*^T G symmetric
// with x^T x = I; oblique, L*^T G Phi^-1 diagonal with diag(Phi) = 1; L*
// the (normalised) pattern the criterion sees and G its gradient there.
RotationErrorStatus criterionJacobian(const double* a, const double* x, int p, int m,
                                      const RotationCriterion& criterion, SolutionJacobian& out);

// The same Jacobian, explicit in every part, by complex steps through the
// stationarity conditions: slower, kept as the independent reference.
RotationErrorStatus criterionJacobianByComplexSteps(const double* a, const double* x, int p, int m,
                                                    const RotationCriterion& criterion,
                                                    SolutionJacobian& out);

// d vec(T) / d vec(A) (m*m x pm) of the stationarity conditions at A and
// T (T as criterionJacobian parametrises it: x itself when orthogonal,
// x^-T when oblique), analytically; false when they are singular in T.
bool transformDerivative(const double* a, const double* t, int p, int m, const RotationCriterion& c,
                         std::vector<double>& dt);

// The same by complex steps (the reference).
bool transformDerivativeByComplexSteps(const double* a, const double* t, int p, int m,
                                       const RotationCriterion& c, std::vector<double>& dt);

// The identity map: the Jacobian of the unrotated pattern itself, for a
// target rotation of a pattern that was not rotated before.
SolutionJacobian unrotatedJacobian(int p, int m);

// The Jacobian of the PROCRUSTES solution of A towards a fixed target
// (p x m): the least-squares transformation, Phi = (X^T X)^-1 and the
// factors rescaled to unit variance. The solution depends on A only
// through its column space and A A^T, so the transformation of any
// earlier rotation does not matter.
RotationErrorStatus procrustesJacobian(const double* a, const double* target, int p, int m,
                                       SolutionJacobian& out);

// The Jacobian of the PROMAX solution whose target is built from the
// prerotated pattern (p x m) with the given power and row normalisation;
// `prerotation` is that pattern's Jacobian (criterionJacobian, or
// unrotatedJacobian when it was not rotated), through which the target
// moves with A.
RotationErrorStatus promaxJacobian(const double* a, const double* prerotated,
                                   const SolutionJacobian& prerotation, int p, int m, double power,
                                   bool normalizeRows, SolutionJacobian& out);

// The standard errors sqrt(diag(J V J^T)) of each part of the solution,
// with `covariance` the pm x pm covariance of vec(A) (full, column-major).
SolutionErrors solutionErrors(const SolutionJacobian& jacobian, const double* covariance);

// The standard errors of a criterion rotation from its factored Jacobian
// (solutionErrors calls it when the Jacobian has one).
SolutionErrors factoredErrors(const SolutionJacobian& jacobian, const double* covariance);

// Bytes that the Jacobian and the standard errors of a rotated solution
// need at most for p variables and m factors (the memory check before
// they are computed).
double rotationErrorsBytes(int p, int m);

}  // namespace zulfact
