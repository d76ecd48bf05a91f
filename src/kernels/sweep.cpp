#include "kernels/sweep.hpp"

namespace kernels {

namespace {

void plainAxpy(int n, double alpha, const double* x, double* y) noexcept {
  for (int j = 0; j < n; ++j) y[j] += alpha * x[j];
}

}  // namespace

void sweepPivot(int n, double* a, int k, bool reverse, double* work) noexcept {
  sweepPivotWith(n, a, k, reverse, work, plainAxpy);
}

}  // namespace kernels
