#include "zulfact/rotate/standard_errors.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <string_view>

#include "zulfact/data/vardef.hpp"
#include "zulfact/host/host.hpp"
#include "zulfact/inference/unrotated_errors.hpp"
#include "zulfact/rotate/rotated_errors.hpp"
#include "zulfact/state/message_ids.hpp"

namespace zulfact {

namespace {

void releaseBlock(double*& block) {
  if (block != nullptr) host().release(block);
  block = nullptr;
}

// A copy of `values` in host memory; nullptr when there is none to have.
double* hostCopy(const std::vector<double>& values) {
  auto* block = static_cast<double*>(host().alloc(8.0 * static_cast<double>(values.size())));
  if (block != nullptr) std::copy(values.begin(), values.end(), block);
  return block;
}

// The memory check: too little memory available for `bytes` is message
// 180/358 (an unknown amount passes).
bool enoughMemory(double bytes) {
  const double available = host().availableMemory();
  if (available < 0.0 || available >= bytes / 1024.0) return true;
  host().message(msg::kErrorsNoMemory);
  return false;
}

// The divisor d of cov(theta) = 2 P / d: the data pass's variance divisor,
// or, when NOBS= gives the number of observations, the count divisor of
// that number (N - 1 under VARDEF=DF, N under VARDEF=N), so that the
// standard errors rest on the N of the chi-square tests. The divisor of a
// matrix stored without its N (10000 taken) made them far too small.
// VARDEF=WEIGHT and WDF divide by the weights, which NOBS= does not give.
// The partial variables swept out take one degree of freedom each under
// VARDEF=DF and WDF, as they do from the divisor of the conditional
// variances (VARDEF=N and WEIGHT divide those by N and W).
double errorsDivisor(const ProcState& ps) {
  const std::string_view vardef(ps.opt.vardef, 8);
  const double partials = ps.nPartialUsed;
  const bool perDegree = vardefIs(vardef, "DF") || vardefIs(vardef, "WDF");
  if (zul_is_missing(ps.opt.nObsOption) || !(vardefIs(vardef, "DF") || vardefIs(vardef, "N")))
    return perDegree ? std::max(0.0, ps.varianceDivisor - partials) : ps.varianceDivisor;
  return vardefDivisor(vardef, ps.opt.nObsOption, (ps.opt.flags.noIntercept ? 0.0 : 1.0) + partials,
                       ps.sumWeights);
}

void unrotatedCase(ProcState& ps) {
  Host& h = host();
  const int p = ps.opt.nVars, m = ps.nFactors;
  if (!enoughMemory(unrotatedErrorsBytes(p, m))) return;
  UnrotatedErrorsInput in;
  in.corr = ps.groupCorr;
  in.loadings = ps.loadings;
  in.p = p;
  in.m = m;
  in.divisor = errorsDivisor(ps);
  in.correlationStructure = !ps.opt.flags.covariance;
  // The ML fit leaves 1/psi_i as the variable weights, missing where the
  // fit drove psi_i to zero or below.
  std::vector<double> fitted(static_cast<std::size_t>(p), 0.0);
  if (ps.varWeights != nullptr) {
    for (int i = 0; i < p; ++i) {
      const double w = ps.varWeights[i];
      fitted[i] = w > 0.0 && std::isfinite(w) && !zul_is_missing(w) ? 1.0 / w : 0.0;
    }
    in.fittedUniquenesses = fitted.data();
  }
  if (in.corr == nullptr || !(in.divisor > 0.0)) {
    h.message(msg::kInformationSingular);
    return;
  }
  const UnrotatedErrors out = unrotatedStdErrors(in);
  if (out.status == UnrotatedErrorsStatus::NonPositiveUniqueness) {
    h.message(msg::kErrorsHeywood);
    return;
  }
  if (out.status != UnrotatedErrorsStatus::Ok) {
    h.message(msg::kInformationSingular);
    return;
  }
  const std::vector<double> pattern(ps.loadings, ps.loadings + static_cast<std::ptrdiff_t>(p) * m);
  ps.stdErrPattern = hostCopy(out.stdErrors);
  ps.unrotatedCov = hostCopy(out.covariance);
  ps.unrotatedCopy = hostCopy(pattern);
  if (ps.stdErrPattern == nullptr || ps.unrotatedCov == nullptr || ps.unrotatedCopy == nullptr) {
    h.message(msg::kErrorsNoMemory);
    releaseStdErrors(ps);
    releaseKeptCovariance(ps);
    return;
  }
  ps.unrotatedCovFactors = m;
}

}  // namespace

void releaseStdErrors(ProcState& ps) {
  releaseBlock(ps.stdErrPattern);
  releaseBlock(ps.stdErrStructure);
  releaseBlock(ps.stdErrFactorCorr);
}

void releaseKeptCovariance(ProcState& ps) {
  releaseBlock(ps.unrotatedCov);
  releaseBlock(ps.unrotatedCopy);
  ps.unrotatedCovFactors = 0;
}

void RotationStdErrors(ProcState& ps, int code, const double* coefficients) {
  (void)coefficients;
  if (code == kUnrotatedErrors) {
    releaseStdErrors(ps);
    releaseKeptCovariance(ps);
    if (ps.nFactors >= 1) unrotatedCase(ps);
    return;
  }
  criterionStdErrors(ps, code, coefficients);
}

}  // namespace zulfact
