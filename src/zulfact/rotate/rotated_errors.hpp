// The rotation case of the standard-error step of ML solutions: when a
// rotated solution gets standard errors (messages 180/355 to 180/360), the
// memory check, and the results put where the tables and the OUTSTAT= rows
// find them (ProcState::stdErrPattern, stdErrFactorCorr, stdErrStructure,
// which the driver releases before the next rotation). The numbers come
// from inference/rotation_errors. A failure leaves the solution without
// standard errors; the step goes on.
#pragma once

#include <vector>

#include "zulfact/inference/rotation_errors.hpp"
#include "zulfact/rotate/rotation_codes.hpp"
#include "zulfact/state/proc_state.hpp"

namespace zulfact {

// Whether the step computes standard errors: METHOD=ML with STDERR, CI,
// COVER= or HYPVALUE=, and something takes them: the printed tables (and
// the JSON file and graphs, which come from them) or the OUTSTAT= table.
// Under NOPRINT without OUTSTAT= nothing does, and they are the costliest
// part of a large fit (800 variables, 12 factors: 75 s and 2.4 GB).
bool rotatedErrorsWanted(const ProcState& ps);

// After criterion rotation `code` of the pattern in hand (kRotHk for any
// Harris-Kaiser solution), with the four coefficients of its criterion.
void criterionStdErrors(ProcState& ps, int code, const double* coefficients);

// What a target rotation needs of the pattern in hand before it rotates
// it: a copy, and its Jacobian with respect to the unrotated pattern (the
// kept one when it belongs to this pattern, the identity when the pattern
// is the unrotated one; otherwise none, and PROMAX has no standard errors).
struct PatternInHand {
  std::vector<double> pattern;
  SolutionJacobian jacobian;
  bool known = false;
};
PatternInHand patternInHand(const ProcState& ps);

// After target rotation `code` (PROMAX or PROCRUSTES) towards `target`;
// for PROMAX `before` is the pattern it started from and `power` its power.
void targetStdErrors(ProcState& ps, int code, const double* target, const PatternInHand& before,
                     double power);

}  // namespace zulfact
