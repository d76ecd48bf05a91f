#include "zulfact/rotate/rotated_errors.hpp"

#include <algorithm>
#include <cmath>

#include "kernels/packed.hpp"
#include "zulfact/host/host.hpp"
#include "zulfact/rotate/standard_errors.hpp"
#include "zulfact/state/message_ids.hpp"

namespace zulfact {

using kernels::packedIndex;

namespace {

// Loadings of the pattern in hand that differ from the unrotated ones by
// no more than this still make it the unrotated pattern (the loadings at
// or below 1.11e-13 are set to 0 after the unrotated step).
constexpr double kSamePattern = 1e-12;

size_t patternSize(const ProcState& ps) { return static_cast<size_t>(ps.opt.nVars) * ps.nFactors; }

bool covarianceKept(const ProcState& ps) {
  return ps.unrotatedCov != nullptr && ps.unrotatedCopy != nullptr &&
         ps.unrotatedCovFactors == ps.nFactors && ps.nFactors > 0;
}

bool samePattern(const double* a, const double* b, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (!(std::fabs(a[i] - b[i]) <= kSamePattern)) return false;
  return true;
}

// The memory check: message 180/358 when the host has less memory than
// the computation needs (a host that cannot tell does not stop it).
bool enoughMemory(ProcState& ps) {
  const double available = host().availableMemory();
  if (available < 0.0 || available >= rotationErrorsBytes(ps.opt.nVars, ps.nFactors) / 1024.0) return true;
  host().message(msg::kErrorsNoMemory);
  return false;
}

// Messages 180/355 and 180/357; true when the computation succeeded.
bool succeeded(ProcState& ps, RotationErrorStatus status) {
  if (status == RotationErrorStatus::kOk) return true;
  host().message(status == RotationErrorStatus::kFactorCorrSingular ? msg::kFactorCorrErrorsSingular
                                                                     : msg::kRotatedErrorsSingular);
  return false;
}

// A host block holding v; null when refused.
double* hostCopy(const std::vector<double>& v) {
  auto* block = static_cast<double*>(host().alloc(8.0 * static_cast<double>(v.size())));
  if (block != nullptr) std::copy(v.begin(), v.end(), block);
  return block;
}

// The standard errors of the solution in hand (factor correlations
// packed); message 180/358 when memory is refused.
void putErrors(ProcState& ps, const SolutionErrors& e) {
  const int m = ps.nFactors;
  releaseStdErrors(ps);
  std::vector<double> phi;
  if (!e.factorCorr.empty()) {
    phi.resize(static_cast<size_t>(m) * (m + 1) / 2);
    for (int i = 0; i < m; ++i)
      for (int j = 0; j <= i; ++j) phi[packedIndex(i, j)] = e.factorCorr[i + static_cast<size_t>(j) * m];
  }
  ps.stdErrPattern = hostCopy(e.pattern);
  if (!e.structure.empty()) ps.stdErrStructure = hostCopy(e.structure);
  if (!phi.empty()) ps.stdErrFactorCorr = hostCopy(phi);
  if (ps.stdErrPattern == nullptr || (!e.structure.empty() && ps.stdErrStructure == nullptr) ||
      (!phi.empty() && ps.stdErrFactorCorr == nullptr)) {
    host().message(msg::kErrorsNoMemory);
    releaseStdErrors(ps);
  }
}

// Keeps the pattern's Jacobian, with the pattern it belongs to, for a
// target rotation that follows; without memory nothing is kept.
void keepJacobian(ProcState& ps, const SolutionJacobian& j) {
  if (ps.patternJacobian != nullptr) host().release(ps.patternJacobian);
  const size_t pm = patternSize(ps);
  double* block = static_cast<double*>(host().alloc(8.0 * static_cast<double>(2 + pm * pm + pm)));
  ps.patternJacobian = block;
  if (block == nullptr) return;
  block[0] = ps.opt.nVars;
  block[1] = ps.nFactors;
  std::copy(j.pattern.begin(), j.pattern.end(), block + 2);
  std::copy(ps.loadings, ps.loadings + pm, block + 2 + pm * pm);
}

// The kept Jacobian when it belongs to the pattern in hand (of this BY
// group's size and values), else null.
const double* keptJacobianOfPattern(const ProcState& ps) {
  const double* block = ps.patternJacobian;
  if (block == nullptr || block[0] != ps.opt.nVars || block[1] != ps.nFactors) return nullptr;
  const size_t pm = patternSize(ps);
  return samePattern(ps.loadings, block + 2 + pm * pm, pm) ? block + 2 : nullptr;
}

// The solution's Jacobian into standard errors and kept.
void finish(ProcState& ps, const SolutionJacobian& j) {
  putErrors(ps, solutionErrors(j, ps.unrotatedCov));
  keepJacobian(ps, j);
}

}  // namespace

bool rotatedErrorsWanted(const ProcState& ps) {
  const bool used = ps.sink != nullptr || ps.opt.outstatTable != nullptr;
  return ps.opt.method == kMethodMl && ps.opt.flags.needStdErr && used;
}

void criterionStdErrors(ProcState& ps, int code, const double* coefficients) {
  Host& h = host();
  switch (rotationErrorRule(code, ps.opt.norm, ps.nFactors, covarianceKept(ps))) {
    case RotationErrorRule::kNotThisRotation: h.message(msg::kErrorsNotForTargetRotation); return;
    case RotationErrorRule::kNotThisNormalization: h.message(msg::kErrorsNotForNorm); return;
    case RotationErrorRule::kNone: return;
    case RotationErrorRule::kCompute: break;
  }
  if (!enoughMemory(ps)) return;
  const int p = ps.opt.nVars, m = ps.nFactors;
  RotationCriterion criterion;
  criterion.k = {coefficients[0], coefficients[1], coefficients[2], coefficients[3]};
  criterion.kaiser = ps.opt.norm == 0 || ps.opt.norm == kNormKaiser;
  criterion.oblique = isEngineOblique(code);
  std::vector<double> x;
  SolutionJacobian j;
  const RotationErrorStatus status = transformFrom(ps.unrotatedCopy, ps.loadings, p, m, x)
                                         ? criterionJacobian(ps.unrotatedCopy, x.data(), p, m, criterion, j)
                                         : RotationErrorStatus::kSingular;
  if (succeeded(ps, status)) finish(ps, j);
}

PatternInHand patternInHand(const ProcState& ps) {
  PatternInHand in;
  const size_t pm = patternSize(ps);
  in.pattern.assign(ps.loadings, ps.loadings + pm);
  if (!covarianceKept(ps)) return in;
  if (samePattern(ps.loadings, ps.unrotatedCopy, pm)) {
    in.jacobian = unrotatedJacobian(ps.opt.nVars, ps.nFactors);
    in.known = true;
  } else if (const double* kept = keptJacobianOfPattern(ps)) {
    in.jacobian.p = ps.opt.nVars;
    in.jacobian.m = ps.nFactors;
    in.jacobian.pattern.assign(kept, kept + pm * pm);
    in.known = true;
  }
  return in;
}

void targetStdErrors(ProcState& ps, int code, const double* target, const PatternInHand& before,
                     double power) {
  if (!covarianceKept(ps) || ps.nFactors < 2) return;
  // A PROMAX whose starting pattern has no known derivatives (its
  // prerotation had no standard errors, with the message that said why)
  // has none either.
  if (code == kRotPromax && !before.known) return;
  if (!enoughMemory(ps)) return;
  const int p = ps.opt.nVars, m = ps.nFactors;
  SolutionJacobian j;
  const RotationErrorStatus status =
      code == kRotPromax ? promaxJacobian(ps.unrotatedCopy, before.pattern.data(), before.jacobian, p, m,
                                          power, !ps.opt.flags.noPromaxNorm, j)
                         : procrustesJacobian(ps.unrotatedCopy, target, p, m, j);
  if (succeeded(ps, status)) finish(ps, j);
}

}  // namespace zulfact
