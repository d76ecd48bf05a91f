#include "zulfact/extract/fit_problem.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace zulfact {

double FitProblem::objective(const double* x) {
  const double f = fitObjective(fs_, x);
  onEigen(fs_.eigenCode);
  return f;
}

void FitProblem::derivatives(double* gradient, double* hessian) {
  fitDerivatives(fs_);
  onEigen(fs_.eigenCode);
  const int p = fs_.nVars;
  std::memcpy(gradient, fs_.gradient, p * sizeof(double));
  std::memcpy(hessian, fs_.hessian, static_cast<std::size_t>(p) * (p + 1) / 2 * sizeof(double));
}

double FitProblem::communality(int i, double x) const {
  if (metric_ == nullptr) return 1.0 - x;
  return metric_[i] > 0.0 ? 1.0 - x / metric_[i] : 0.0;
}

bool FitProblem::iteration(const double* psi, double criterion, double ridge) {
  const int p = fs_.nVars;
  ++fs_.iteration;
  fs_.criterion = criterion;
  fs_.ridge = ridge;
  double change = 0.0;
  for (int i = 0; i < p; ++i) {
    double d = std::fabs(psi[i] - fs_.previousPsi[i]);
    if (metric_ != nullptr && metric_[i] > 0.0) d /= metric_[i];
    change = std::max(change, d);
  }
  onIteration(psi, change);
  std::memcpy(fs_.previousPsi, psi, p * sizeof(double));
  if (stopOnNegative_ && std::any_of(psi, psi + p, [](double v) { return v < 0.0; })) {
    negativeFound_ = true;
    return true;
  }
  return fs_.iteration >= 2 && change < convergence_;
}

}  // namespace zulfact
