// Newton-Raphson minimisation with a ridge (Levenberg 1944; Marquardt
// 1963), on n parameters with optional lower and upper bounds: the
// optimiser of the concentrated ULS, ML and GLS fit functions.
//
// Each iteration factors the second derivatives H (packed) by Cholesky and
// steps to x - H^-1 g. A failed factorisation or a trial point that does
// not lower the criterion raises the ridge r (0.03125 first, then times 4),
// which adds r sqrt(sum h_ij^2)/n to the diagonal; an accepted point
// quarters it. Parameters on a bound whose descent direction leaves the box
// are held there for the iteration.
#pragma once

#include <cstddef>

namespace zulfact {

// What the optimiser minimises.
class OptimProblem {
 public:
  virtual ~OptimProblem() = default;
  // The criterion at x.
  virtual double objective(const double* x) = 0;
  // Gradient (n) and packed second derivatives (n(n+1)/2) at the x of the
  // last objective call.
  virtual void derivatives(double* gradient, double* hessian) = 0;
  // Told of every accepted point, with its criterion and the ridge of the
  // step that reached it; returns true to stop (counted as convergence).
  virtual bool iteration(const double* x, double criterion, double ridge) = 0;
};

// Termination codes.
enum OptimCode {
  kOptimConverged = 0,
  kOptimIterationLimit = 1,   // more than maxIter iterations
  kOptimNoImprovement = 2,    // trial points kept failing to lower the criterion
  kOptimRidgeLimit = 3,       // the ridge could not make H positive definite
  kOptimNotPositive = 4,      // converged, but H without ridge is not positive definite
};

// Doubles of work memory zoptim needs for n parameters.
std::size_t zoptimDoubles(int n);

// Minimises from x (n values, replaced by the last accepted point). lower
// and upper are both given or both absent. scale (may be absent: 1): the
// typical size of each parameter. tolerance: a gradient measure at or
// below it is a solution, the measure being the largest |g_i| scale_i over
// the free parameters, divided by |F| when that exceeds 1. After
// maxIter accepted iterations the run ends with code 1, unless the gradient
// is below 1.0536712127723509e-8. A rejected full Newton step whose
// promised decrease -g'step/2 is itself too small to be seen by the
// acceptance test also ends the run as converged: no later step could be
// accepted. Returns an OptimCode.
int zoptim(int n, int maxIter, double tolerance, OptimProblem& problem, double* x,
           const double* lower, const double* upper, const double* scale, double* work);

}  // namespace zulfact
