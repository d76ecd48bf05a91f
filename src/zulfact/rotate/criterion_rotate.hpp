// Criterion rotations through the numeric engine: the rotation code and
// its parameters become an engine method code, a normalisation code and
// the four coefficients of the generalized Crawford-Ferguson criterion
// (criterionSetup, engineRequest); the engine rotates the pattern in hand
// (runCriterionEngine, which talks to the engine only); CriterionRotate
// reports: the heading, the engine's status, the results into ProcState,
// the orthogonal-solution tables here and the oblique ones through
// FinishOblique and PrintObliqueTables.
#pragma once

#include <string>
#include <vector>

#include "zul/abi_engine.h"
#include "zulfact/rotate/rotation_codes.hpp"
#include "zulfact/state/proc_state.hpp"

namespace zulfact {

// What a criterion rotation does, from the options alone.
struct CriterionSetup {
  bool harrisKaiser = false;   // the orthoblique step of Harris and Kaiser (1964)
  bool engineOblique = false;  // an oblique criterion
  bool hkPowerIgnored = false; // HKPOWER= given with an oblique criterion
  double hkPower = 0.0;        // the Harris-Kaiser power, 0 when not given
  double hkPowerGiven = 0.0;   // HKPOWER= or HK(x) in effect; missing: none
  msg::Id name{0, 0};          // the method's name in the heading
  int shownParams = 0;         // parameters shown in the heading
  RotationParams shown{};      // their values (missing: not shown)
  RotationParams coefficients{};  // k1..k4 of the criterion
  int engineMethod = 0;
};

// The setup of rotation `code` as solution `index` (-1 prerotation, k
// ROTATE= entry k, -2 the implied rotation).
CriterionSetup criterionSetup(const ProcState& ps, int code, int index);

// The engine's request for the setup.
zul_rotation_request engineRequest(const ProcState& ps, const CriterionSetup& setup);

// What the engine returned; ok is false when a property could not be set
// or read or the engine has no run operation.
struct CriterionResult {
  bool ok = false;
  int status = 0, iterations = 0;
  double criterion = 0.0, measure = 0.0;
  std::vector<double> pattern;        // p x m
  std::vector<double> transform;      // m x m
  std::vector<double> factorCorr;     // packed m (oblique criteria)
  std::vector<double> varWeights;     // p (when asked)
  std::vector<double> factorWeights;  // m (when asked)
};

// Runs the engine on the p x m pattern, in the order of its interface:
// set the sizes and the pattern, run, get the weights asked for, the
// status, the iterations, the criterion, the measure, the pattern, Phi
// (oblique criteria) and the transformation.
CriterionResult runCriterionEngine(zul_engine* engine, const zul_rotation_request& request,
                                   const double* pattern, int p, int m, bool wantVarWeights,
                                   bool wantFactorWeights, bool wantFactorCorr);

// C with Phi = C C^T (lower triangular, m x m, column-major) of the packed
// Phi; false when Phi is not positive definite. The pattern L C of an
// oblique solution is the same common-factor space in an orthogonal basis.
bool orthogonalBasis(const double* packedPhi, int m, std::vector<double>& c);

// Fewer than two factors to rotate: a message in the log and as a note.
void tooFewFactors(ProcState& ps, int m);

// Rotates ps.loadings with `code` as solution `index`. PROMAX, PROCRUSTES
// and NONE return at once. An engine failure or a status that means no
// usable result: message, code 1012 raised and the completion code
// returned for the caller to end the step with. Returns 0 otherwise.
int CriterionRotate(ProcState& ps, int code, int index);

}  // namespace zulfact
