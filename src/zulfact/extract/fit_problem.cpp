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

bool FitProblem::iteration(const double* psi, double criterion, double ridge) {
  const int p = fs_.nVars;
  ++fs_.iteration;
  fs_.criterion = criterion;
  fs_.ridge = ridge;
  double change = 0.0;
  for (int i = 0; i < p; ++i) change = std::max(change, std::fabs(psi[i] - fs_.previousPsi[i]));
  onIteration(psi, change);
  std::memcpy(fs_.previousPsi, psi, p * sizeof(double));
  if (stopOnNegative_ && std::any_of(psi, psi + p, [](double v) { return v < 0.0; })) {
    negativeFound_ = true;
    return true;
  }
  return fs_.iteration >= 2 && change < convergence_;
}

}  // namespace zulfact
