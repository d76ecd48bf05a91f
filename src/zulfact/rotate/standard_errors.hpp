// The standard-error step of ML solutions (RotationStdErrors): the
// unrotated loadings (code kUnrotatedErrors) from the information matrix
// of the estimates (inference/unrotated_errors.hpp), whose covariance is
// kept in ProcState for the rotations of the same BY group; a rotation
// from that kept covariance. Every failure is a message and no standard
// errors: the tables are printed without them and the run goes on.
#pragma once

#include "zulfact/state/proc_state.hpp"

namespace zulfact {

// The code of the unrotated solution, beside the rotation codes.
inline constexpr int kUnrotatedErrors = 14;

// Fills ps.stdErrPattern (and for an oblique rotation ps.stdErrFactorCorr
// and ps.stdErrStructure). `coefficients`: the four Crawford-Ferguson
// coefficients of a criterion rotation, null for the unrotated solution.
void RotationStdErrors(ProcState& ps, int code, const double* coefficients);

// Releases the standard errors of the current solution (before each
// rotation, and when a group starts).
void releaseStdErrors(ProcState& ps);

// Releases the covariance kept for the rotations (when a group starts).
void releaseKeptCovariance(ProcState& ps);

}  // namespace zulfact
