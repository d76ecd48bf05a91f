// Numeric thresholds of the module, each written to the last digit the
// algorithms use, in one place. Add a constant here rather than a literal in
// code; name it after what it decides.
#pragma once

namespace zulfact {

// Correlations, loadings and eigenvalues counted as zero.
inline constexpr double kZeroTolerance = 1.110223024625157E-13;
// Zero diagonal after partialling.
inline constexpr double kZeroDiagonalAfterSweep = 1.110223024625157E-12;
// Square root of half the machine epsilon: residuals and singular pivots.
inline constexpr double kSqrtHalfEpsilon = 1.0536712127723509E-8;

// Floor of the smallest eigenvalue in the iterated methods: 2^-53.
inline constexpr double kEigenEpsilon = 1.110223024625157e-16;

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

// Concentrated fit functions (ULS, ML, GLS): uniquenesses within this of 0
// count as 0; eigenvalues mu of T Psi T^T at or below it count as singular,
// their gamma = 1/mu standing at kHugeGamma.
inline constexpr double kTinyUniqueness = 1e-12;
inline constexpr double kSingularMu = 1e-12;
inline constexpr double kHugeGamma = 1e12;
// The exact second derivatives of ML and GLS are used when their Cholesky
// pivots stay above this fraction of their largest diagonal element (the
// optimiser's own pivot tolerance, so that it can factor them too).
inline constexpr double kExactHessianPivot = 1e-8;

// Newton-Raphson with a ridge: the gradient measure that counts as a
// solution, the pivot tolerance of the factored second derivatives
// (relative to their largest diagonal element), the first ridge, its
// growth and the ridge at which the optimiser gives up.
inline constexpr double kOptimGradientTolerance = 1e-8;
inline constexpr double kOptimPivotTolerance = 1e-8;
inline constexpr double kOptimFirstRidge = 0.03125;
inline constexpr double kOptimRidgeGrowth = 4.0;
inline constexpr double kOptimMaxRidge = 1024.0;
// A trial point must lower the criterion visibly: F_new + 1e-3 (F_old -
// F_new) must differ from F_new.
inline constexpr double kOptimImprovementFraction = 1e-3;
// A parameter whose distance to a bound, times this, vanishes against the
// width of the box sits on the bound; a step may overshoot a bound by this
// fraction of the distance before it is pulled back.
inline constexpr double kOptimOnBound = 1e-3;
inline constexpr double kOptimOvershoot = 1e-4;
// The largest number that counts as zero in the second derivatives when the
// ridge is scaled.
inline constexpr double kOptimZeroHessian = 2.2250738585072014e-304;
