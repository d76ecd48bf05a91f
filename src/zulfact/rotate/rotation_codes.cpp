#include "zulfact/rotate/rotation_codes.hpp"

#include "zul/abi.h"
#include "zulfact/state/message_ids.hpp"

namespace zulfact {

RotationKind rotationKind(int code) {
  switch (code) {
    case kRotQuartimax: return {ZUL_METHOD_QUARTIMAX, msg::kQuartimaxName, 0};
    case kRotVarimax: return {ZUL_METHOD_VARIMAX, msg::kVarimaxName, 0};
    case kRotBiquartimax: return {ZUL_METHOD_BIQUARTIMAX, msg::kBiquartimaxName, 0};
    case kRotEquamax: return {ZUL_METHOD_EQUAMAX, msg::kEquamaxName, 0};
    case kRotParsimax: return {ZUL_METHOD_PARSIMAX, msg::kParsimaxName, 0};
    case kRotFactorParsimax: return {ZUL_METHOD_FACTOR_PARSIMONY, msg::kFactorParsimaxName, 0};
    case kRotPromax: return {0, msg::kPromaxName, 1};
    case kRotHk: return {ZUL_METHOD_HARRIS_KAISER, msg::kHarrisKaiserName, 1};
    case kRotProcrustes: return {0, msg::kProcrustesName, 0};
    case kRotQuartimin: return {ZUL_METHOD_QUARTIMIN, msg::kQuartiminName, 0};
    case kRotBiquartimin: return {ZUL_METHOD_BIQUARTIMIN, msg::kBiquartiminName, 0};
    case kRotCovarimin: return {ZUL_METHOD_COVARIMIN, msg::kCovariminName, 0};
    case kRotObquartimax: return {ZUL_METHOD_OBQUARTIMAX, msg::kObquartimaxName, 0};
    case kRotObvarimax: return {ZUL_METHOD_OBVARIMAX, msg::kObvarimaxName, 0};
    case kRotObbiquartimax: return {ZUL_METHOD_OBBIQUARTIMAX, msg::kObbiquartimaxName, 0};
    case kRotObequamax: return {ZUL_METHOD_OBEQUAMAX, msg::kObequamaxName, 0};
    case kRotObparsimax: return {ZUL_METHOD_OBPARSIMAX, msg::kObparsimaxName, 0};
    case kRotObfactorParsimax: return {ZUL_METHOD_OBFACTOR_PARSIMONY, msg::kObfactorParsimaxName, 0};
    case kRotOrthomax: return {ZUL_METHOD_ORTHOMAX, msg::kOrthomaxName, 1};
    case kRotOblimin: return {ZUL_METHOD_OBLIMIN, msg::kObliminName, 1};
    case kRotOrthcf: return {ZUL_METHOD_ORTHCF, msg::kOrthcfName, 2};
    case kRotOblicf: return {ZUL_METHOD_OBLICF, msg::kOblicfName, 2};
    case kRotOrthgencf: return {ZUL_METHOD_ORTHGENCF, msg::kOrthgencfName, 4};
    case kRotObligencf: return {ZUL_METHOD_OBLIGENCF, msg::kObligencfName, 4};
    default: return {0, {0, 0}, 0};
  }
}

bool isEngineOblique(int code) {
  return code == kRotPromax || code == kRotProcrustes ||
         (code >= kRotQuartimin && code <= kRotObfactorParsimax) || code == kRotOblimin ||
         code == kRotOblicf || code == kRotObligencf;
}

bool isObliqueSolution(int code) { return isEngineOblique(code) || code == kRotHk; }

RotationParams rotationParams(const StepOptions& ps, int index) {
  RotationParams params;
  params.fill(zul_missing());
  if (index == -1) {
    for (int i = 0; i < ps.prerotationParamCount && i < 4; ++i) params[i] = ps.prerotationParams[i];
  } else if (index >= 0 && ps.rotationParams != nullptr && ps.rotationParamPositions != nullptr) {
    int filled = 0;
    bool inRun = false;
    for (int i = 0; i < ps.rotationParamCount; ++i) {
      if (ps.rotationParamPositions[i] == index + 1) {
        if (filled < 4) params[filled++] = ps.rotationParams[i];
        inRun = true;
      } else if (inRun) {
        break;  // the first run only
      }
    }
  }
  return params;
}

double hkPowerFor(const StepOptions& ps, int index) {
  double power = ps.hkPower;
  auto take = [&](int code, int at) {
    if (code != kRotHk) return;
    const double x = rotationParams(ps, at)[0];
    if (!zul_is_missing(x)) power = x;
  };
  take(ps.prerotation, -1);
  if (index == -1 || ps.rotationList == nullptr) return power;
  const int last = index == -2 ? ps.rotationListLength - 1 : index;
  for (int k = 0; k <= last && k < ps.rotationListLength; ++k) take(ps.rotationList[k], k);
  return power;
}

bool followsAnotherRotation(const StepOptions& ps, int index) {
  if (index == -1) return false;
  if (ps.prerotation == kRotNone && (index == 0 || (index == -2 && ps.rotationCount == 0)))
    return false;
  return true;
}

RotationParams criterionCoefficients(int code, int p, int m, const RotationParams& params) {
  const double dp = p, dm = m, a = params[0], b = params[1];
  switch (code) {
    case kRotQuartimax: return {0, 0, 0, 1};
    case kRotVarimax: return {0, 0, -1, dp};
    case kRotBiquartimax: return {0, 0, -1, 2 * dp};
    case kRotEquamax: return {0, 0, -dm, 2 * dp};
    case kRotParsimax: return {0, 0, -(dm - 1), dp + dm - 2};
    case kRotFactorParsimax: return {0, 0, -1, 1};
    case kRotHk:
    case kRotOrthomax: return {0, 0, -a, dp};
    case kRotOrthcf: return {0, 0, -b, a + b};
    case kRotObquartimax: return {0, 1, 0, -1};
    case kRotObvarimax: return {0, dp - 1, 1, -dp};
    case kRotObbiquartimax: return {0, 2 * dp - 1, 1, -2 * dp};
    case kRotObequamax: return {0, 2 * dp - dm, dm, -2 * dp};
    case kRotObparsimax: return {0, dp - 1, dm - 1, -(dp + dm - 2)};
    case kRotObfactorParsimax: return {0, 0, 1, -1};
    case kRotOblicf: return {0, a, b, -(a + b)};
    case kRotQuartimin: return {0, 1, 0, -1};
    case kRotBiquartimin: return {-0.5 / dp, 1, 0.5 / dp, -1};
    case kRotCovarimin: return {-1 / dp, 1, 1 / dp, -1};
    case kRotOblimin: return {-a / dp, 1, a / dp, -1};
    case kRotOrthgencf:
    case kRotObligencf: return params;
    default: return {0, 0, 0, 0};
  }
}

}  // namespace zulfact
