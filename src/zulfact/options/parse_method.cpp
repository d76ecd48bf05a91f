// METHOD= and what goes with it: NOBS=, the variance divisor, NORM=,
// SINGULAR=, the iteration limits, standard errors and tests, weighting,
// the prior communalities, and the checks of the method against the
// options and the input.
#include "zulfact/options/grammar.hpp"
#include "zulfact/options/statement_parser.hpp"
#include "zulfact/state/message_ids.hpp"

namespace zulfact::detail {

void StatementParser::methodOptions() {
  ps_.opt.method = static_cast<int32_t>(rec_.number(
      kSlotMethod, inputType_.rfind("FAC", 0) == 0 ? kMethodPattern : kMethodPrincipal));
  ps_.opt.nObsOption = rec_.number(kSlotNObs, missing_);
  ps_.opt.priorsMethod = static_cast<int32_t>(rec_.number(kSlotPriors, kPriorsNone));
  std::string vardef = rec_.text(kSlotVardef);
  setPadded(ps_.opt.vardef, 8, vardef.empty() ? "DF" : vardef);
  ps_.opt.norm = static_cast<int32_t>(rec_.number(kSlotNorm, 0));
  ps_.opt.singularity = rec_.number(kSlotSingular, 1e-7);
  ps_.opt.convergence = rec_.number(kSlotConverge, 0.001);
  ps_.opt.maxIter = toInt(rec_.number(kSlotMaxIter, 30));
}

// HYPVALUE=, ALPHA=, COVER=, SE and the tails: a test of a hypothesised
// value replaces the confidence intervals.
void StatementParser::testOptions() {
  hypGiven_ = rec_.given(kSlotHypValue);
  ps_.opt.hypValue = rec_.number(kSlotHypValue, missing_);
  ps_.opt.flags.oneTail = rec_.bit(kBitOneTail);
  ps_.opt.flags.twoTail = rec_.bit(kBitTwoTail);
  if (hypGiven_) {
    // The tests take the place of the limits: say so rather than drop
    // ALPHA= and COVER without a word.
    if (rec_.bit(kBitCover) || rec_.given(kSlotCover) || rec_.given(kSlotAlpha))
      h_.message(msg::kHypValueReplacesLimits);
    ps_.opt.stdErrLevel = missing_;
    ps_.opt.coverValue = missing_;
    if (ps_.opt.hypValue == 0.0) {
      ps_.opt.flags.testsOneSided = false;
      if (ps_.opt.flags.oneTail) h_.message(msg::kHypValueZeroTwoSided);
    } else {
      ps_.opt.flags.testsOneSided = !(ps_.opt.flags.twoTail && !ps_.opt.flags.oneTail);
    }
  } else {
    ps_.opt.coverValue = rec_.number(kSlotCover, missing_);
    ps_.opt.stdErrLevel = rec_.number(kSlotAlpha, missing_);
    if (!zul_is_missing(ps_.opt.stdErrLevel) && ps_.opt.stdErrLevel > 1) ps_.opt.stdErrLevel /= 100;
  }
  ps_.opt.flags.confidenceDisplay = (rec_.bit(kBitCover) || rec_.given(kSlotAlpha)) && !hypGiven_;
  ps_.opt.flags.stderrRequested = rec_.bit(kBitStderr);
  ps_.opt.flags.needStdErr = ps_.opt.flags.stderrRequested || hypGiven_ || ps_.opt.flags.confidenceDisplay;
  if (ps_.opt.flags.confidenceDisplay) {
    // Limits at level 0 or 1 would be infinite or empty, and are not printed.
    const double level = ps_.opt.stdErrLevel;
    if (!zul_is_missing(level) && !(level > 0.0 && level < 1.0))
      h_.message(msg::kAlphaGivesNoLimits, {rec_.number(kSlotAlpha, missing_)});
    if (zul_is_missing(ps_.opt.stdErrLevel)) ps_.opt.stdErrLevel = 0.05;
    if (zul_is_missing(ps_.opt.coverValue)) ps_.opt.coverValue = 0;
  }
}

// ALL, weighting and whether the correlations are needed at all.
void StatementParser::weighting() {
  OptionFlags& f = ps_.opt.flags;
  if (f.all) {
    f.residuals = f.score = f.eigenvectors = f.print = true;
    if (f.rawInput) f.corr = f.simple = f.msa = true;
  }
  f.weighted = f.covariance || f.weightOption ||
               (ps_.opt.method >= kMethodAlpha && ps_.opt.method <= kMethodHarris);
  bool outstatCounts = f.outstatRequested && !f.nocorr;
  f.correlationNeeded = !(ps_.opt.method == kMethodPattern && !f.residuals && !f.score && !f.corr &&
                          !f.msa && !outstatCounts);
}

// The PRIORS statement (a method or one value per variable) over PRIORS=,
// and the default of the method.
void StatementParser::priors() {
  const zul_slot& priorsStatement = rec_.slot(kSlotPriorsStatement);
  const bool priorValues = priorsStatement.given && priorsStatement.kind == ZUL_VALUE_NUMBERS;
  // Both written: the statement wins, and the user learns which.
  if (priorsStatement.given && rec_.given(kSlotPriors))
    h_.message(msg::kPriorsStatementReplacesOption, {priorsWord(ps_.opt.priorsMethod)});
  if (priorsStatement.given && !priorValues)
    ps_.opt.priorsMethod = static_cast<int32_t>(priorsStatement.v.number);
  priorsStatementWord_ = priorsStatement.given;
  ps_.priorCommunalities = arrays_.get<double>(p_);
  if (!priorValues) {
    if (ps_.opt.priorsMethod == kPriorsNone && ps_.nFactors >= 0)
      ps_.opt.priorsMethod = (ps_.opt.method == kMethodPrincipal || ps_.opt.method == kMethodPrinit)
                             ? kPriorsOne
                             : kPriorsSmc;
  } else {
    if (priorsStatement.count != p_) {
      h_.message(msg::kPriorValuesCount, {static_cast<int>(priorsStatement.count), p_});
      raiseCode(ps_, kCodeConflict);
    } else if (ps_.priorCommunalities) {
      const auto* values = static_cast<const double*>(priorsStatement.data);
      std::copy(values, values + p_, ps_.priorCommunalities);
      ps_.opt.priorValues = arrays_.get<double>(p_);
      if (ps_.opt.priorValues) std::copy(values, values + p_, ps_.opt.priorValues);
    }
    ps_.opt.priorsMethod = kPriorsNumeric;
  }
  if ((ps_.opt.method == kMethodHarris || ps_.opt.method == kMethodImage) &&
      ps_.opt.priorsMethod != kPriorsSmc) {
    h_.message(
        priorsStatementWord_ ? msg::kPriorsStatementNotWithMethod : msg::kPriorsNotWithMethod,
        {priorsWord(ps_.opt.priorsMethod), methodWord(ps_.opt.method)});
    raiseCode(ps_, kCodeNotAllowed);
  }
  // A stored solution has its own priors: a step run again from its
  // OUTSTAT= table without METHOD= would otherwise show the old solution
  // as if the new priors had made it.
  const bool stored = ps_.opt.method == kMethodPattern || ps_.opt.method == kMethodScore;
  if (stored && (priorsStatement.given || rec_.given(kSlotPriors)))
    h_.message(msg::kPriorsNotUsedByStoredSolution,
               {priorsStatement.given ? "The PRIORS statement" : "PRIORS=",
                methodWord(ps_.opt.method),
                rec_.given(kSlotMethod) ? "" : "the default for a TYPE=FACTOR table"});
}

// The method against the options and the input.
void StatementParser::methodChecks() {
  OptionFlags& f = ps_.opt.flags;
  if (ps_.opt.method == kMethodImage && f.msa) h_.message(msg::kMsaNotWithImage);
  if (ps_.opt.method != kMethodMl && (f.needStdErr || hypGiven_)) {
    h_.message(msg::kStdErrNeedsMl);
    f.needStdErr = f.confidenceDisplay = f.stderrRequested = false;
    ps_.opt.hypValue = missing_;
  }
  if (f.weightOption) {
    switch (ps_.opt.method) {
      case kMethodAlpha: case kMethodMl: case kMethodGls: case kMethodHarris:
      case kMethodPattern: case kMethodScore:
        h_.message(msg::kWeightNotWithMethod, {methodWord(ps_.opt.method)});
        raiseCode(ps_, kCodeNotAllowed);
        break;
      default:
        break;
    }
  }
  if (f.heywood && f.ultraHeywood) {
    h_.message(msg::kHeywoodOverridesUltra);
    f.ultraHeywood = false;
  }
  if (inputType_.rfind("FACTOR", 0) == 0) {
    if (ps_.opt.typeVarNumber == 0) {
      h_.message(msg::kFactorTableLacksVariable, {"_TYPE_"});
      raiseCode(ps_, kCodeBadVariables);
    }
    if (ps_.opt.nameVarNumber == 0) {
      h_.message(msg::kFactorTableLacksVariable, {"_NAME_"});
      raiseCode(ps_, kCodeBadVariables);
    }
  }
  if (f.rawInput) {
    if (ps_.opt.priorsMethod == kPriorsInput) {
      h_.message(priorsStatementWord_ ? msg::kPriorsStatementInputNeedsMatrix
                                      : msg::kPriorsInputNeedsMatrix,
                 {inputType_});
      raiseCode(ps_, kCodeNotAllowed);
    }
    if (f.weightOption) {
      h_.message(msg::kWeightNeedsMatrix, {inputType_});
      raiseCode(ps_, kCodeNotAllowed);
    }
    if (ps_.opt.method == kMethodPattern || ps_.opt.method == kMethodScore) {
      h_.message(msg::kStoredSolutionNeeded, {inputType_});
      raiseCode(ps_, kCodeNotAllowed);
    }
  }
}

}  // namespace zulfact::detail
