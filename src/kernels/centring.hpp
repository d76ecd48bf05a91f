// Sums of squares taken about a shift rather than the mean: Q - S^2/W is
// the corrected sum, and cancels when the shift lies far from the mean
// against the spread (Chan, Golub and LeVeque 1983). The one test of that,
// for the host's CROSSPRODUCTS statement and the module's data pass.
#pragma once

#include <cmath>

namespace kernels {

// Whether raw (Q, the sum of squares about the shift) minus centring
// (S^2/W) keeps less than 40 of raw's 53 bits: the sums are then worth
// taking again about the means.
inline bool centringCancels(double raw, double centring) noexcept {
  return raw > 0 && std::isfinite(raw) && raw - centring < std::ldexp(raw, -13);
}

}  // namespace kernels
