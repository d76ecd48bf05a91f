// The analysis of one BY group, step by step: data pass, method heading,
// extraction, unrotated solution, prerotation, the ROTATE= list, the
// implied final rotation, and the outputs of the group.
//
// Solution indices tell the printing and output steps which solution they
// serve: 1 initial, -1 prerotated, 0 and up the ROTATE= list entries, -2 the
// final rotation.
#include "zulfact/extract/driver.hpp"

#include <algorithm>

#include "zulfact/state/codes.hpp"
#include "zulfact/data/data_pass.hpp"
#include "zulfact/extract/priors.hpp"
#include "zulfact/host/host.hpp"
#include "zulfact/extract/communality_bound.hpp"
#include "zulfact/extract/image.hpp"
#include "zulfact/extract/input_solution.hpp"
#include "zulfact/extract/iterated.hpp"
#include "zulfact/extract/likelihood.hpp"
#include "zulfact/extract/pending_steps.hpp"
#include "zulfact/extract/principal.hpp"
#include "zulfact/extract/residuals.hpp"
#include "zulfact/output/matrix_printer.hpp"
#include "zulfact/output/factor_scores.hpp"
#include "zulfact/output/outstat_rows.hpp"
#include "zulfact/output/scoring.hpp"
#include "zulfact/output/table_writer.hpp"
#include "zulfact/rotate/criterion_rotate.hpp"
#include "zulfact/rotate/rotation_codes.hpp"
#include "zulfact/rotate/standard_errors.hpp"
#include "zulfact/rotate/target_rotate.hpp"
#include "zulfact/rotate/unrotated_pattern.hpp"
#include "zulfact/state/message_ids.hpp"

namespace zulfact {

namespace {

constexpr int kInitial = 1;
constexpr int kPrerotated = -1;
constexpr int kFinal = -2;

bool isNone(int code) { return code == kRotNone || code == 0; }

// The heading message (group 180) of each method.
int methodHeading(const StepOptions& ps) {
  switch (ps.method) {
    case kMethodPrincipal:
      return (ps.priorsMethod == kPriorsOne ? msg::kPrincipalComponentsName
                                            : msg::kPrincipalFactorsName).number;
    case kMethodUls: return msg::kUlsName.number;
    case kMethodPrinit: return msg::kPrinitName.number;
    case kMethodAlpha: return msg::kAlphaName.number;
    case kMethodMl: return msg::kMlName.number;
    case kMethodGls: return msg::kGlsName.number;
    case kMethodFuller: return msg::kFullerName.number;
    case kMethodHarris: return msg::kHarrisName.number;
    case kMethodImage: return msg::kImageName.number;
    case kMethodPattern: return msg::kInputPatternName.number;
    case kMethodScore: return msg::kInputScoringName.number;
    default: return msg::kPrincipalFactorsName.number;
  }
}

// Each rotation starts without standard errors: only a rotation that
// computes its own shows any.
void releaseRotationWork(ProcState& ps) {
  for (double*& block : ps.rotWork) {
    if (block != nullptr) host().release(block);
    block = nullptr;
  }
  releaseStdErrors(ps);
}

// Scoring coefficients, pattern plot and loadings graph of a rotated
// solution.
void afterRotation(ProcState& ps, bool oblique, int index) {
  if (ps.opt.flags.score) computeScoringCoefficients(ps);
  if (ps.sink == nullptr) return;
  if ((index == kPrerotated ? ps.opt.flags.preplot : ps.opt.flags.plot)) patternPlot(ps, oblique, index);
  if (ps.graphicsEnabled) loadingsGraph(ps, oblique, index);
}

// Rotation with code as solution index; codes 11 and 13 (13 only for the
// prerotation) go to the target rotation, all others to the engine. A
// rotation that fails (the engine found no usable result, the TARGET=
// table cannot be read) returns a completion code; the step ends with it.
// False when the group failed (a singular Phi, too few TARGET= rows): its
// remaining steps are skipped.
bool rotate(ProcState& ps, int code, int index) {
  releaseRotationWork(ps);
  const bool target = code == kRotProcrustes || (index != kPrerotated && code == kRotPromax);
  const int failed = target ? TargetRotate(ps, code, index) : CriterionRotate(ps, code, index);
  if (failed != 0) {
    raiseCode(ps, failed);
    host().endStep(ps.completionCode);
  }
  return !groupRowsFailed();
}

// The group's factor count stays an option for the next group: the
// extraction narrows ps.nFactors for the steps of this group only.
struct FactorBound {
  ProcState& ps;
  int32_t saved;
  explicit FactorBound(ProcState& s) : ps(s), saved(s.nFactors) {}
  ~FactorBound() { ps.nFactors = saved; }
};

void endGroup(ProcState& ps) {
  TableWriter(ps.sink).closeAll();
}

// Steps after the unrotated solution; returns when the group is done.
void rotationsAndOutputs(ProcState& ps) {
  const bool outstat = ps.opt.flags.outstatRequested;
  bool doList = false, doFinal = false;

  if (ps.opt.flags.score && !ps.opt.flags.rotationRequested) computeScoringCoefficients(ps);
  if (ps.opt.flags.residuals) residualCorrelations(ps);
  if (ps.sink != nullptr) {
    if (ps.opt.flags.plot) patternPlot(ps, ps.obliqueCount > 0, kInitial);
    if (ps.graphicsEnabled) loadingsGraph(ps, ps.obliqueCount > 0, kInitial);
  }

  if (!isNone(ps.opt.prerotation)) {
    if (!rotate(ps, ps.opt.prerotation, kPrerotated)) return;
    afterRotation(ps, isObliqueSolution(ps.opt.prerotation), kPrerotated);
    if (ps.opt.rotationCount == 0 && isNone(ps.opt.finalRotation)) {
      // straight to the closing outputs
    } else {
      if (outstat) writeSolutionRows(ps, 0);
      doList = ps.opt.rotationCount != 0;
      doFinal = true;
    }
  } else if (ps.opt.rotationCount == 0) {
    doFinal = !isNone(ps.opt.finalRotation);
  } else {
    doList = true;
    doFinal = true;
  }

  if (doList) {
    int processed = 0;
    for (int k = 0; processed < ps.opt.rotationCount && k < ps.opt.rotationListLength; ++k) {
      const int code = ps.opt.rotationList[k];
      if (code == kRotNone) continue;
      if (!rotate(ps, code, k)) return;
      afterRotation(ps, isObliqueSolution(code), k);
      ++processed;
    }
    if (outstat) writeSolutionRows(ps, 1);
  }

  if (doFinal && !isNone(ps.opt.finalRotation)) {
    const int code = ps.opt.finalRotation;
    if (!rotate(ps, code, kFinal) || ps.factorsRetained < 1) return;
    afterRotation(ps, isObliqueSolution(code), kFinal);
    if (outstat) writeSolutionRows(ps, 1);
  }

  // Closing outputs.
  if (ps.opt.rotationCount == 0 && isNone(ps.opt.finalRotation) && outstat) {
    writeSolutionRows(ps, 1);
  }
  if (ps.opt.flags.outRequested) writeFactorScores(ps);
  if (ps.sink != nullptr && ps.graphicsEnabled) pathDiagram(ps);
}

}  // namespace

void analysisDriver(ProcState& ps) {
  Host& h = host();
  FactorBound bound(ps);
  ps.priorsUsed = ps.opt.priorsMethod;
  // No standard errors of an earlier group reach this one's tables.
  releaseStdErrors(ps);
  releaseKeptCovariance(ps);

  dataPass(ps);
  if (ps.factorsRetained < 0) return endGroup(ps);

  if (ps.opt.nFactorsRequested == -1) {
    if (ps.opt.flags.correlationNeeded && (ps.opt.flags.msa || ps.opt.priorsMethod != kPriorsOne))
      computePriors(ps);
    return endGroup(ps);
  }

  openSection(ps, SectionKind::Initial, methodHeading(ps.opt));

  switch (ps.opt.method) {
    case kMethodPrincipal:
    case kMethodHarris:
      principalExtract(ps);
      break;
    case kMethodUls:
    case kMethodMl:
    case kMethodGls:
      likelihoodExtract(ps);
      break;
    case kMethodPrinit:
    case kMethodAlpha:
      iteratedExtract(ps);
      break;
    case kMethodImage:
      imageExtract(ps);
      break;
    case kMethodPattern:
    case kMethodScore:
      samplingAdequacyOnly(ps);
      inputSolution(ps);
      break;
    default:
      h.message(msg::kMethodStops);
      h.endStep(kCodeInternal);
  }

  boundCommunalities(ps);
  // The retained factors are the factors of this group from here on.
  ps.nFactors = std::max(0, ps.factorsRetained);
  FinishUnrotatedPattern(ps);
  if (ps.factorsRetained >= 1) rotationsAndOutputs(ps);
  endGroup(ps);
}

}  // namespace zulfact
