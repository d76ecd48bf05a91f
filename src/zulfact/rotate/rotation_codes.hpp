// What each rotation code means to the rotation steps: its kind, the
// engine's method code, the message that names it and how many parameters
// its heading shows; the four coefficients of the generalized
// Crawford-Ferguson criterion that the engine optimises; and the
// parameters a rotation takes from the statement.
#pragma once

#include <array>

#include "zulfact/state/message_ids.hpp"
#include "zulfact/state/proc_state.hpp"

namespace zulfact {

// The engine's method code of the Harris-Kaiser rotation.
constexpr int kEngineHarrisKaiser = 23;

struct RotationKind {
  int engineMethod;   // engine method code; 0: not an engine rotation
  msg::Id name;       // the message that names the method; number 0: none
  int shownParams;    // parameters shown in the heading
};

// The row of the code; a code without a row gives {0, {0, 0}, 0}.
RotationKind rotationKind(int code);

// Codes rotated obliquely by the engine or by the target rotation (PROMAX,
// PROCRUSTES and the oblique criteria).
bool isEngineOblique(int code);

// The oblique-solution codes: isEngineOblique and HK.
bool isObliqueSolution(int code);

using RotationParams = std::array<double, 4>;

// The method parameters of rotation `index` (-1 the prerotation, k the
// ROTATE= entry k, -2 the implied rotation): the PREROTATE= values, the
// values of the first run of ROTATE= parameters numbered k + 1, or none;
// missing where not given.
RotationParams rotationParams(const StepOptions& ps, int index);

// The HKPOWER= value in effect for rotation `index`: an HK(x) of this or
// an earlier rotation of the group (the prerotation runs first, then the
// ROTATE= entries in order, then the implied rotation) replaces HKPOWER=
// for it and the later ones; missing when neither was given. Derived each
// time, so the options stay as parsed for the next BY group.
double hkPowerFor(const StepOptions& ps, int index);

// Whether rotation `index` continues one made before it in the group, so
// that its T is composed with the earlier one into the transformation from
// the unrotated pattern. The first rotation of a group may be a ROTATE=
// entry after NONE entries; it composes with the identity the unrotated
// solution leaves in ps.transform.
bool followsAnotherRotation(const StepOptions& ps, int index);

// k1..k4 of the criterion of `code` for p variables and m factors, with a
// and b the first two parameters (codes 12 and 30 to 35). Orthogonal rows
// are maximised, oblique rows minimised; ORTHOMAX with a = 1 is VARIMAX,
// OBLIMIN with a = 0 is QUARTIMIN.
RotationParams criterionCoefficients(int code, int p, int m, const RotationParams& params);

}  // namespace zulfact
