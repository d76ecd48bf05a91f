// Minimisation of a rotation criterion over its geometry by a Riemannian
// limited-memory BFGS method (Nocedal and Wright 2006, algorithm 7.4; on
// manifolds Absil, Mahony and Sepulchre 2008, section 8.2), started with a
// gradient-projection step (Jennrich 2001, 2002).
//
// Plain gradient projection converges linearly and needs thousands of
// iterations to bring the projected gradient to 1e-9; the quasi-Newton
// directions converge superlinearly near the optimum. The line search
// accepts a step by the Armijo condition, or, once the criterion's changes
// sink into its rounding error, by the approximate Wolfe conditions of
// Hager and Zhang (2005), which look at the slope only: without them no
// method gets the gradient below about the square root of the machine
// precision.
#pragma once

#include "qkxfac/rotation_geometry.hpp"
#include "zul/abi_engine.h"

namespace qkxfac {

struct OptimizerResult {
  int status = ZUL_ENGINE_STATUS_FAILED;  // zul_engine_status
  int iterations = 0;
  double criterion = 0;  // f at the solution
  double measure = 0;    // Jennrich's convergence measure there
};

// Iterates from the geometry's current point until measure <= tolerance,
// maxIter iterations, or no further progress. Leaves the geometry at the
// solution.
OptimizerResult minimizeCriterion(RotationGeometry& geometry, int maxIter, double tolerance);

}  // namespace qkxfac
