// Numeric thresholds of the module, each written exactly as it is
// documented, in one place. Add a constant here rather than a literal in
// code; name it after what it decides.
#pragma once

namespace zulfact {

// Correlations, loadings and eigenvalues counted as zero.
inline constexpr double kZeroTolerance = 1.110223024625157E-13;
// Zero diagonal after partialling.
inline constexpr double kZeroDiagonalAfterSweep = 1.110223024625157E-12;
// Square root of half the machine epsilon: residuals and singular pivots.
inline constexpr double kSqrtHalfEpsilon = 1.0536712127723509E-8;

// Work arrays: a byte size of this or more is never requested.
inline constexpr double kMaxAllocationBytes = 2147483647.0;

// Matrix printer, round mode: entries beyond this print as the largest
// double instead of being multiplied by 100.
inline constexpr double kRoundLimit = 1.7976931348623156E306;

// Priors and variable weights: 1/max(1 - h2, kWeightUniquenessFloor) for
// the ML-type and Harris weights; 1/h2 for alpha only above the smallest
// normal double.
inline constexpr double kWeightUniquenessFloor = 0.001;
inline constexpr double kSmallestNormal = 2.2250738585072014e-308;

}  // namespace zulfact
