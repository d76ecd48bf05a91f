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
  ps_.opt.flags.noPromaxNorm = rec_.bit(kBitNoPromaxNorm);
  ps_.opt.flags.promaxNorm = !ps_.opt.flags.noPromaxNorm;

  ps_.opt.gamma = rec_.number(kSlotGamma, missing_);
  ps_.opt.tau = rec_.number(kSlotTau, missing_);
  ps_.opt.power = rec_.number(kSlotPower, missing_);
  ps_.opt.hkPower = rec_.number(kSlotHkPower, missing_);
  ps_.opt.rotationMaxIter = toInt(rec_.number(kSlotRiter, std::max(100, 10 * p_)));
  ps_.opt.rotationConvergence = rec_.number(kSlotRconverge, 1e-9);
  prerotationGiven_ = rec_.given(kSlotPrerotate);
  if (const zul_code_list* pre = rec_.codes(kSlotPrerotate)) {
    ps_.opt.prerotation = pre->codes[0];
    ps_.opt.prerotationParamCount = std::min(pre->nParams, 4);
    std::copy(pre->params, pre->params + ps_.opt.prerotationParamCount, ps_.opt.prerotationParams);
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
  ps_.opt.rotationListLength = static_cast<int32_t>(rotations_.size());
  ps_.opt.rotationList = arrays_.get<int32_t>(ps_.opt.rotationListLength);
  ps_.opt.rotationParamCount = static_cast<int32_t>(rotationParams.size());
  ps_.opt.rotationParams = arrays_.get<double>(ps_.opt.rotationParamCount);
  ps_.opt.rotationParamPositions = arrays_.get<int32_t>(ps_.opt.rotationParamCount);
  if (!ps_.opt.rotationList || !ps_.opt.rotationParams || !ps_.opt.rotationParamPositions) {
    h_.message(msg::kArraysTooLarge);
    stop(ps_, kCodeMemory);
  }
  std::copy(rotations_.begin(), rotations_.end(), ps_.opt.rotationList);
  std::copy(rotationParams.begin(), rotationParams.end(), ps_.opt.rotationParams);
  std::copy(rotationPositions.begin(), rotationPositions.end(), ps_.opt.rotationParamPositions);

  // The rotation implied by other options, when ROTATE= gave none.
  ps_.opt.finalRotation = kRotNone;
  if (rotations_.empty()) {
    if (ps_.opt.flags.targetGiven) {
      ps_.opt.finalRotation = kRotProcrustes;
    } else if (!zul_is_missing(ps_.opt.power) || prerotationGiven_) {
      ps_.opt.finalRotation = kRotPromax;
    } else {
      if (!zul_is_missing(ps_.opt.hkPower)) ps_.opt.finalRotation = kRotVarimax;
      if (!zul_is_missing(ps_.opt.tau)) ps_.opt.finalRotation = kRotOblimin;
      if (!zul_is_missing(ps_.opt.gamma)) ps_.opt.finalRotation = kRotOrthomax;
    }
  }

  // Promax rotates a prerotated solution; no other rotation takes one.
  const int mainRotation = rotations_.empty() ? ps_.opt.finalRotation : rotations_.front();
  if (mainRotation == kRotPromax) {
    if (!prerotationGiven_) {
      ps_.opt.prerotation = !zul_is_missing(ps_.opt.gamma) ? kRotOrthomax
                        : !zul_is_missing(ps_.opt.tau) ? kRotOblimin
                                                   : kRotVarimax;
      ps_.opt.prerotationParamCount = 0;
    }
  } else {
    ps_.opt.prerotation = kRotNone;
    ps_.opt.prerotationParamCount = 0;
  }

  // Procrustes needs its target.
  bool procrustes =
      ps_.opt.finalRotation == kRotProcrustes || ps_.opt.prerotation == kRotProcrustes ||
      std::find(rotations_.begin(), rotations_.end(), kRotProcrustes) != rotations_.end();
  if (procrustes && !ps_.opt.flags.targetGiven) {
    h_.message(msg::kProcrustesNeedsTarget);
    raiseCode(ps_, kCodeConflict);
  }

  bool oblique = false;
  if (!classifyOblique(ps_.opt.prerotation, oblique) && !classifyOblique(ps_.opt.finalRotation, oblique)) {
    for (int code : rotations_)
      if (classifyOblique(code, oblique)) break;
  }
  ps_.opt.flags.oblique = oblique;

  // Rotations that do something.
  ps_.opt.rotationCount = static_cast<int32_t>(
      std::count_if(rotations_.begin(), rotations_.end(), [](int c) { return c != kRotNone; }));
  ps_.opt.flags.rotationRequested =
      !(ps_.opt.prerotation == kRotNone && ps_.opt.finalRotation == kRotNone && ps_.opt.rotationCount == 0);
  checkPowerUsed();
}

// POWER= is the power of a promax written without its own in parentheses;
// with none such among the rotations it would be dropped without a word.
void StatementParser::checkPowerUsed() {
  if (zul_is_missing(ps_.opt.power) || rotations_.empty()) return;
  if (ps_.opt.prerotation == kRotPromax && ps_.opt.prerotationParamCount == 0) return;
  const int32_t* positions = ps_.opt.rotationParamPositions;
  const int32_t* end = positions + ps_.opt.rotationParamCount;
  for (size_t k = 0; k < rotations_.size(); ++k) {
    const bool ownPower = std::find(positions, end, static_cast<int32_t>(k + 1)) != end;
    if (rotations_[k] == kRotPromax && !ownPower) return;
  }
  h_.message(msg::kPowerNotUsed, {ps_.opt.power});
}

}  // namespace zulfact::detail
