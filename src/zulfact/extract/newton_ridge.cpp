#include "zulfact/extract/newton_ridge.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "zulfact/state/constants.hpp"
#include "kernels/linalg.hpp"
#include "kernels/packed.hpp"

namespace zulfact {

using kernels::ddot;
using kernels::daxpy;
using kernels::choleskyRow;
using kernels::solveLower;
using kernels::packedIndex;
using kernels::packedSize;
using kernels::packedRow;

namespace {


struct Box {
  const double* lower;
  const double* upper;
  bool given() const { return lower != nullptr && upper != nullptr; }
  // Distance d to a bound sits on it when width + 1e-3 d == width.
  bool onBound(int i, double x, bool low) const {
    const double width = upper[i] - lower[i];
    const double distance = low ? x - lower[i] : upper[i] - x;
    return width + kOptimOnBound * distance == width;
  }
};

// The system of one iteration: g and H of the current point with the
// parameters held on a bound taken out (gradient 0, row and column 0, a
// diagonal of sqrt(s/n) from the sum of squares s removed, 1 when s = 0),
// plus the ridge on the diagonal. Returns the largest |g_i| scale_i of the
// free parameters.
double prepareSystem(int n, const double* x, const double* g, const double* h, const Box& box,
                     const double* scale, double ridge, double* gw, double* hw) {
  std::memcpy(gw, g, n * sizeof(double));
  std::memcpy(hw, h, packedSize(n) * sizeof(double));
  if (box.given()) {
    for (int i = 0; i < n; ++i) {
      // Held when the descent direction -g leaves the box.
      const bool held = (box.onBound(i, x[i], true) && g[i] >= -kOptimGradientTolerance) ||
                        (box.onBound(i, x[i], false) && g[i] <= kOptimGradientTolerance);
      if (!held) continue;
      gw[i] = 0.0;
      double s = 0.0;
      for (int l = 0; l < n; ++l) {
        double& e = hw[packedIndex(i, l)];
        s += e * e;
        e = 0.0;
      }
      hw[packedIndex(i, i)] = s == 0.0 ? 1.0 : std::sqrt(s / n);
    }
  }
  double measure = 0.0;
  for (int i = 0; i < n; ++i)
    measure = std::max(measure, std::fabs(gw[i]) * (scale != nullptr ? scale[i] : 1.0));
  if (ridge > 0.0) {
    double sumSquares = 0.0;
    bool allZero = true;
    for (std::size_t e = 0; e < packedSize(n); ++e) {
      sumSquares += hw[e] * hw[e];
      if (std::fabs(hw[e]) > kOptimZeroHessian) allZero = false;
    }
    const double add = allZero ? ridge : ridge * std::sqrt(sumSquares) / n;
    for (int i = 0; i < n; ++i) hw[packedIndex(i, i)] += add;
  }
  return measure;
}

// Cholesky factor in place, row by row, with pivots relative to the largest
// diagonal element; false when a pivot is not above that tolerance.
bool factor(int n, double* hw) {
  double largest = 0.0;
  for (int i = 0; i < n; ++i) largest = std::max(largest, hw[packedIndex(i, i)]);
  const double tol = kOptimPivotTolerance * largest;
  for (int i = 0; i < n; ++i)
    if (!(choleskyRow(i, hw, tol) > tol)) return false;
  return true;
}

// step = -(L L^T)^-1 g: forward substitution, then backward with L^T
// reading each packed row of L once.
void newtonStep(int n, const double* l, const double* g, double* step) {
  for (int i = 0; i < n; ++i) step[i] = -g[i];
  solveLower(n, l, step);
  for (int i = n - 1; i >= 0; --i) {
    const double* row = l + packedRow(i);
    step[i] /= row[i];
    daxpy(i, -step[i], row, step);
  }
}

// x + step, pulled back along the step to the nearest bound it would cross
// by more than 1e-4 of its distance; parameters already on a bound are
// kept inside the box as they are.
void trialPoint(int n, const double* x, const double* step, const Box& box, double* trial) {
  double alpha = 1.0;
  if (box.given()) {
    for (int i = 0; i < n; ++i) {
      const double t = x[i] + step[i];
      if (t < box.lower[i] && x[i] > box.lower[i] &&
          box.lower[i] - t > kOptimOvershoot * (x[i] - box.lower[i]))
        alpha = std::min(alpha, (box.lower[i] - x[i]) / step[i]);
      if (t > box.upper[i] && x[i] < box.upper[i] &&
          t - box.upper[i] > kOptimOvershoot * (box.upper[i] - x[i]))
        alpha = std::min(alpha, (box.upper[i] - x[i]) / step[i]);
    }
  }
  for (int i = 0; i < n; ++i) {
    double t = x[i] + alpha * step[i];
    if (box.given()) t = std::clamp(t, box.lower[i], box.upper[i]);
    trial[i] = t;
  }
}

}  // namespace

std::size_t zoptimDoubles(int n) { return 4 * static_cast<std::size_t>(n) + 2 * packedSize(n); }

int zoptim(int n, int maxIter, double tolerance, OptimProblem& problem, double* x,
           const double* lower, const double* upper, const double* scale, double* work) {
  double* g = work;
  double* gw = g + n;
  double* step = gw + n;
  double* trial = step + n;
  double* h = trial + n;
  double* hw = h + packedSize(n);
  const Box box{lower, upper};

  double f = problem.objective(x);
  problem.derivatives(g, h);
  double ridge = 0.0;
  int iterations = 0;
  // A failure raises the ridge; past its limit the run ends.
  auto raiseRidge = [&ridge] {
    ridge = ridge == 0.0 ? kOptimFirstRidge : ridge * kOptimRidgeGrowth;
    return ridge <= kOptimMaxRidge;
  };

  for (;;) {
    // The gradient measure: per unit of each parameter's scale, relative
    // to the criterion once it exceeds 1.
    const double measure =
        prepareSystem(n, x, g, h, box, scale, ridge, gw, hw) / std::max(1.0, std::fabs(f));
    if (measure <= tolerance) break;
    if (iterations >= maxIter) {
      if (measure < kSqrtHalfEpsilon) break;
      return kOptimIterationLimit;
    }
    if (!factor(n, hw)) {
      if (!raiseRidge()) return kOptimRidgeLimit;
      continue;
    }
    newtonStep(n, hw, gw, step);
    trialPoint(n, x, step, box, trial);
    const double ft = problem.objective(trial);
    const bool better = ft < f && ft + kOptimImprovementFraction * (f - ft) != ft;
    if (!better) {
      // A full Newton step that promises no decrease the test above could
      // see: the point is a solution to the precision of the criterion.
      const double promised = -0.5 * ddot(n, gw, step);
      if (ridge == 0.0 && f - promised + kOptimImprovementFraction * promised == f - promised)
        break;
      if (!raiseRidge()) return kOptimNoImprovement;
      continue;
    }
    std::memcpy(x, trial, n * sizeof(double));
    f = ft;
    problem.derivatives(g, h);
    ++iterations;
    const bool stop = problem.iteration(x, f, ridge);
    ridge = ridge / kOptimRidgeGrowth < kOptimFirstRidge ? 0.0 : ridge / kOptimRidgeGrowth;
    if (stop) break;
  }
  // A solution reached with help of the ridge: is H itself positive definite?
  if (ridge > 0.0) {
    prepareSystem(n, x, g, h, box, scale, 0.0, gw, hw);
    if (!factor(n, hw)) return kOptimNotPositive;
  }
  return kOptimConverged;
}

}  // namespace zulfact
