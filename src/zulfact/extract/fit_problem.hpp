// The concentrated fit of fit_state.hpp as a problem of the Newton-Raphson
// optimiser: objective and derivatives from the FitState, and after each
// accepted point the iteration count, the change of the uniquenesses, the
// stop on a negative uniqueness (a Heywood case) and the convergence test.
// Host-free; the module's extraction adds its history and eigen notes
// through the two hooks.
#pragma once

#include "zulfact/extract/fit_state.hpp"
#include "zulfact/extract/newton_ridge.hpp"

namespace zulfact {

class FitProblem : public OptimProblem {
 public:
  // convergence: the change of the uniquenesses (largest absolute) below
  // which the fit stops, from the second iteration on. stopOnNegative:
  // a negative uniqueness stops the fit (negativeFound() then tells).
  // metric: when given, parameter i is a unique variance in a metric of
  // w_i = metric[i] (weighted ULS) and its change counts divided by w_i
  // (when w_i > 0), as a change of the proportion.
  FitProblem(FitState& fs, double convergence, bool stopOnNegative,
             const double* metric = nullptr)
      : fs_(fs), convergence_(convergence), stopOnNegative_(stopOnNegative), metric_(metric) {}

  // The communality 1 - x_i/w_i of parameter value x (0 when w_i <= 0).
  double communality(int i, double x) const;

  double objective(const double* x) override;
  void derivatives(double* gradient, double* hessian) override;
  bool iteration(const double* psi, double criterion, double ridge) override;

  bool negativeFound() const { return negativeFound_; }

 protected:
  // After every eigen decomposition, with the solver's code.
  virtual void onEigen(int /*code*/) {}
  // After every accepted point, with the change of the uniquenesses.
  virtual void onIteration(const double* /*psi*/, double /*change*/) {}

  FitState& fs_;

 private:
  double convergence_;
  bool stopOnNegative_;
  const double* metric_;
  bool negativeFound_ = false;
};

}  // namespace zulfact
