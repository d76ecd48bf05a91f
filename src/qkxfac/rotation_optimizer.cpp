#include "qkxfac/rotation_optimizer.hpp"

#include <algorithm>
#include <cmath>
#include <deque>
#include <vector>

#include "kernels/dense.hpp"

namespace qkxfac {

using kernels::dot;

namespace {

constexpr int kMemory = 40;            // correction pairs kept
constexpr double kArmijo = 1e-4;       // sufficient decrease
constexpr double kCurvature = 0.9;     // approximate Wolfe: slope bounds
constexpr double kApproxSlope = 0.8;   //   (2 delta - 1) with delta = 0.1
constexpr double kNoiseLevel = 1e-12;  // relative rounding level of q
constexpr int kMaxTrials = 60;
// First steepest-descent step: a rotation of about this angle (radians).
constexpr double kFirstStep = 0.1;

struct Pair {
  std::vector<double> s, y;
  double rho;
};

// Direction -H g by the two-loop recursion; H0 = gamma I.
void quasiNewtonDirection(const std::deque<Pair>& pairs, const std::vector<double>& g,
                          double gamma, std::vector<double>& d, std::vector<double>& alpha) {
  const int n = static_cast<int>(g.size());
  d = g;
  const int k = static_cast<int>(pairs.size());
  for (int i = k - 1; i >= 0; --i) {
    alpha[i] = pairs[i].rho * dot(pairs[i].s.data(), d.data(), n);
    for (int j = 0; j < n; ++j) d[j] -= alpha[i] * pairs[i].y[j];
  }
  for (double& v : d) v *= gamma;
  for (int i = 0; i < k; ++i) {
    const double beta = pairs[i].rho * dot(pairs[i].y.data(), d.data(), n);
    for (int j = 0; j < n; ++j) d[j] += (alpha[i] - beta) * pairs[i].s[j];
  }
  for (double& v : d) v = -v;
}

// Backtracking with quadratic interpolation along d from the accepted
// point (criterion q, slope g.d), starting at `step`: true when a step is
// accepted, by the Armijo condition or, within the rounding level `noise`
// of q, by the approximate Wolfe conditions; the geometry's trial point
// and trialG are then at that step.
bool lineSearch(RotationGeometry& geo, const std::vector<double>& d, double q, double slope,
                double noise, double& step, std::vector<double>& trialG) {
  const int n = static_cast<int>(d.size());
  for (int trial = 0; trial < kMaxTrials && step > 0.0; ++trial) {
    if (!geo.evaluateTrial(d.data(), step, trialG.data())) {
      step *= 0.1;  // singular or overflowing point: much shorter
      continue;
    }
    const double qt = geo.trialValue();
    const double slopeT = dot(trialG.data(), d.data(), n);
    const bool armijo = qt <= q + kArmijo * step * slope;
    const bool approxWolfe =
        qt <= q + noise && slopeT >= kCurvature * slope && slopeT <= -kApproxSlope * slope;
    if (armijo || approxWolfe) return true;
    const double denom = 2.0 * (qt - q - slope * step);
    double next = denom > 0.0 ? -slope * step * step / denom : 0.5 * step;
    step = std::clamp(next, 0.1 * step, 0.5 * step);
  }
  return false;
}

// After an accepted step: the stored pairs and the gradient g of the
// previous point are carried to the new point, and the new pair (s, y)
// is kept when its curvature is positive; gamma scales H0 by it. pr is
// scratch whose storage is that of the pair last dropped: m*m doubles for
// an oblique rotation, not worth allocating and clearing at every step.
void updatePairs(RotationGeometry& geo, const std::vector<double>& d, double step,
                 std::vector<double>& g, const std::vector<double>& trialG,
                 std::deque<Pair>& pairs, Pair& pr, double& gamma) {
  const int n = static_cast<int>(d.size());
  pr.s.resize(n);
  for (int j = 0; j < n; ++j) pr.s[j] = step * d[j];
  geo.transport(pr.s.data());
  geo.transport(g.data());
  pr.y.resize(n);
  for (int j = 0; j < n; ++j) pr.y[j] = trialG[j] - g[j];
  for (Pair& old : pairs) {
    geo.transport(old.s.data());
    geo.transport(old.y.data());
  }
  const double sy = dot(pr.s.data(), pr.y.data(), n);
  const double yy = dot(pr.y.data(), pr.y.data(), n);
  const double ss = dot(pr.s.data(), pr.s.data(), n);
  if (sy > 1e-12 * std::sqrt(ss * yy)) {
    pr.rho = 1.0 / sy;
    gamma = sy / yy;
    Pair dropped;
    if (static_cast<int>(pairs.size()) == kMemory) {
      dropped = std::move(pairs.front());
      pairs.pop_front();
    }
    pairs.push_back(std::move(pr));
    pr = std::move(dropped);
  }
}

}  // namespace

OptimizerResult minimizeCriterion(RotationGeometry& geo, int maxIter, double tolerance) {
  const int n = geo.dimension();
  OptimizerResult out;
  std::vector<double> g(n), trialG(n), d(n), twoLoop(kMemory);
  if (!geo.evaluateTrial(nullptr, 0.0, g.data())) {
    out.status = ZUL_ENGINE_STATUS_NO_PROGRESS;
    return out;
  }
  geo.acceptTrial();
  double q = geo.trialValue();
  double magnitude = geo.trialMagnitude();
  std::deque<Pair> pairs;
  Pair scratch;
  double gamma = 0.0;  // scale of H0 from the latest pair; 0: none yet

  for (int iter = 0;; ++iter) {
    out.iterations = iter;
    out.criterion = geo.criterion();
    out.measure = geo.measure(g.data());
    if (out.measure <= tolerance) {
      out.status = iter == 0 ? ZUL_ENGINE_STATUS_AT_START : ZUL_ENGINE_STATUS_CONVERGED;
      return out;
    }
    if (geo.degenerate()) {
      out.status = ZUL_ENGINE_STATUS_NO_PROGRESS;
      return out;
    }
    if (iter >= maxIter) {
      out.status = ZUL_ENGINE_STATUS_ITERATION_LIMIT;
      return out;
    }

    const double gNorm = std::sqrt(dot(g.data(), g.data(), n));
    double step = 1.0;
    if (!pairs.empty()) {
      quasiNewtonDirection(pairs, g, gamma, d, twoLoop);
    } else {
      for (int j = 0; j < n; ++j) d[j] = -g[j];
      step = gamma > 0.0 ? gamma : kFirstStep / gNorm;
    }
    double slope = dot(g.data(), d.data(), n);
    if (!(slope < 0.0)) {  // not a descent direction: start afresh
      pairs.clear();
      for (int j = 0; j < n; ++j) d[j] = -g[j];
      slope = -gNorm * gNorm;
      step = gamma > 0.0 ? gamma : kFirstStep / gNorm;
    }

    step = std::min(step, geo.longestStep(d.data()));

    const bool accepted = lineSearch(geo, d, q, slope, kNoiseLevel * magnitude, step, trialG);

    if (!accepted) {
      if (!pairs.empty()) {  // retry from a steepest-descent step
        pairs.clear();
        --iter;
        continue;
      }
      const double floor = 1e-6 * std::max(1.0, magnitude / geo.standardScale());
      out.status = out.measure <= floor ? ZUL_ENGINE_STATUS_STALLED : ZUL_ENGINE_STATUS_NO_PROGRESS;
      return out;
    }

    geo.acceptTrial();
    updatePairs(geo, d, step, g, trialG, pairs, scratch, gamma);
    g.swap(trialG);
    q = geo.trialValue();
    magnitude = geo.trialMagnitude();
  }
}

}  // namespace qkxfac
