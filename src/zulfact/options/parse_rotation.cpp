// ROTATE=, PREROTATE= and the rotation parameters: the rotation list, the
// rotation other options imply when ROTATE= names none, the prerotation of
// promax (Hendrickson & White 1964), the target of Procrustes rotation, and
// whether the solution is oblique.
#include "zulfact/options/grammar.hpp"
#include "zulfact/options/statement_parser.hpp"
#include "zulfact/state/message_ids.hpp"

namespace zulfact::detail {

namespace {

// Classification for the oblique flag: the engine-oblique set answers yes
// and sets the flag; HK sets the flag but answers no (its obliqueness is
// settled by the later entries); any other code clears it.
bool classifyOblique(int code, bool& oblique) {
  bool engineOblique = code == kRotPromax || code == kRotProcrustes ||
                       (code >= kRotQuartimin && code <= kRotObfactorParsimax) ||
                       code == kRotOblimin || code == kRotOblicf || code == kRotObligencf;
  if (engineOblique) {
    oblique = true;
    return true;
  }
  oblique = code == kRotHk;
  return false;
}

// The largest promax power, as POWER= takes it.
constexpr double kMaxPromaxPower = 32767;

// Whether a parameter in parentheses is one its rotation can use (the
// program reader has already refused numbers beyond a double). The
// promax power raises loadings of at most 1 in absolute value
// (Hendrickson and White 1964); below 1 it would make the small loadings
// the larger ones in the target, so it ranges as POWER= does, though it
// need not be an integer. The other parameters (HK, ORTHOMAX, OBLIMIN and
// the Crawford-Ferguson weights) define a criterion for any real value.
bool usableParameter(int code, double value) {
  if (code == kRotPromax) return value >= 1.0 && value <= kMaxPromaxPower;
  return true;
}

}  // namespace

// Each parameter against its rotation (codes[k - 1] for position k): an
// error naming the option and the value, code 3000.
void StatementParser::checkRotationParameters(const char* option, const int32_t* codes,
                                              const double* values, const int32_t* positions,
                                              int count) {
  for (int k = 0; k < count; ++k) {
    if (usableParameter(codes[positions[k] - 1], values[k])) continue;
    h_.message(msg::kPromaxPowerRange, {option, values[k]});
    raiseCode(ps_, kCodeConflict);
  }
}

void StatementParser::rotationOptions() {
  ps_.flags.noPromaxNorm = rec_.bit(kBitNoPromaxNorm);
  ps_.flags.promaxNorm = !ps_.flags.noPromaxNorm;

  ps_.gamma = rec_.number(kSlotGamma, missing_);
  ps_.tau = rec_.number(kSlotTau, missing_);
  ps_.power = rec_.number(kSlotPower, missing_);
  ps_.hkPower = rec_.number(kSlotHkPower, missing_);
  ps_.rotationMaxIter = toInt(rec_.number(kSlotRiter, std::max(100, 10 * p_)));
  ps_.rotationConvergence = rec_.number(kSlotRconverge, 1e-9);
  prerotationGiven_ = rec_.given(kSlotPrerotate);
  if (const zul_code_list* pre = rec_.codes(kSlotPrerotate)) {
    ps_.prerotation = pre->codes[0];
    ps_.prerotationParamCount = std::min(pre->nParams, 4);
    std::copy(pre->params, pre->params + ps_.prerotationParamCount, ps_.prerotationParams);
  }
  // A ROTATE= given more than once keeps only its last list.
  std::vector<double> rotationParams;
  std::vector<int32_t> rotationPositions;
  if (const zul_code_list* rot = rec_.codes(kSlotRotate)) {
    int boundary = rot->nBoundaries > 0 ? rot->boundaries[rot->nBoundaries - 1] : 0;
    checkRotationParameters("ROTATE", rot->codes, rot->params, rot->paramPositions,
                            rot->nParams);
    rotations_.assign(rot->codes + boundary, rot->codes + rot->count);
    for (int k = 0; k < rot->nParams; ++k) {
      if (rot->paramPositions[k] <= boundary) continue;
      rotationParams.push_back(rot->params[k]);
      rotationPositions.push_back(rot->paramPositions[k] - boundary);
    }
  }
  ps_.rotationListLength = static_cast<int32_t>(rotations_.size());
  ps_.rotationList = arrays_.get<int32_t>(ps_.rotationListLength);
  ps_.rotationParamCount = static_cast<int32_t>(rotationParams.size());
  ps_.rotationParams = arrays_.get<double>(ps_.rotationParamCount);
  ps_.rotationParamPositions = arrays_.get<int32_t>(ps_.rotationParamCount);
  if (!ps_.rotationList || !ps_.rotationParams || !ps_.rotationParamPositions) {
    h_.message(msg::kArraysTooLarge);
    stop(ps_, kCodeMemory);
  }
  std::copy(rotations_.begin(), rotations_.end(), ps_.rotationList);
  std::copy(rotationParams.begin(), rotationParams.end(), ps_.rotationParams);
  std::copy(rotationPositions.begin(), rotationPositions.end(), ps_.rotationParamPositions);

  // The rotation implied by other options, when ROTATE= gave none.
  ps_.finalRotation = kRotNone;
  if (rotations_.empty()) {
    if (ps_.flags.targetGiven) {
      ps_.finalRotation = kRotProcrustes;
    } else if (!zul_is_missing(ps_.power) || prerotationGiven_) {
      ps_.finalRotation = kRotPromax;
    } else {
      if (!zul_is_missing(ps_.hkPower)) ps_.finalRotation = kRotVarimax;
      if (!zul_is_missing(ps_.tau)) ps_.finalRotation = kRotOblimin;
      if (!zul_is_missing(ps_.gamma)) ps_.finalRotation = kRotOrthomax;
    }
  }

  // Promax rotates a prerotated solution; no other rotation takes one.
  const int mainRotation = rotations_.empty() ? ps_.finalRotation : rotations_.front();
  if (mainRotation == kRotPromax) {
    if (!prerotationGiven_) {
      ps_.prerotation = !zul_is_missing(ps_.gamma) ? kRotOrthomax
                        : !zul_is_missing(ps_.tau) ? kRotOblimin
                                                   : kRotVarimax;
      ps_.prerotationParamCount = 0;
    }
  } else {
    ps_.prerotation = kRotNone;
    ps_.prerotationParamCount = 0;
  }

  // Procrustes needs its target.
  bool procrustes =
      ps_.finalRotation == kRotProcrustes || ps_.prerotation == kRotProcrustes ||
      std::find(rotations_.begin(), rotations_.end(), kRotProcrustes) != rotations_.end();
  if (procrustes && !ps_.flags.targetGiven) {
    h_.message(msg::kProcrustesNeedsTarget);
    raiseCode(ps_, kCodeConflict);
  }

  bool oblique = false;
  if (!classifyOblique(ps_.prerotation, oblique) && !classifyOblique(ps_.finalRotation, oblique)) {
    for (int code : rotations_)
      if (classifyOblique(code, oblique)) break;
  }
  ps_.flags.oblique = oblique;

  // Rotations that do something.
  ps_.rotationCount = static_cast<int32_t>(
      std::count_if(rotations_.begin(), rotations_.end(), [](int c) { return c != kRotNone; }));
  ps_.flags.rotationRequested =
      !(ps_.prerotation == kRotNone && ps_.finalRotation == kRotNone && ps_.rotationCount == 0);
}

}  // namespace zulfact::detail
