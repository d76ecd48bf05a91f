// How many factors: NFACTORS=, MINEIGEN=, PROPORTION=, the MAP test
// (Velicer 1976) and parallel analysis (Horn 1965) as criteria or as
// tables, their settings, and the RANDOM= seed.
#include <cmath>

#include "zulfact/options/grammar.hpp"
#include "zulfact/options/seed.hpp"
#include "zulfact/options/statement_parser.hpp"
#include "zulfact/state/message_ids.hpp"

namespace zulfact::detail {

void StatementParser::factorCountOptions() {
  nFactorsGiven_ = rec_.given(kSlotNFactors);
  // -1 asks for the correlations alone; anything lower has no meaning of
  // its own and counts as 0, which the user should hear about.
  if (nFactorsGiven_ && rec_.number(kSlotNFactors, 0) < -1)
    h_.message(msg::kNFactorsBelowMinusOne, {toInt(rec_.number(kSlotNFactors, 0))});
  ps_.opt.nFactorsRequested =
      nFactorsGiven_ ? toInt(std::min<double>(rec_.number(kSlotNFactors, 0), p_)) : -99;

  ps_.opt.parallelCriterion = rec_.bit(kBitParallelCriterion) ? 1 : 0;
  const bool map2 = rec_.bit(kBitMapCriterion2), map4 = rec_.bit(kBitMapCriterion4);
  if (map2 && map4) {
    h_.message(msg::kTwoMapCriteria);
    raiseCode(ps_, kCodeConflict);
  }
  ps_.opt.mapVariant = map4 ? 4 : map2 ? 2 : 0;
  if (ps_.opt.mapVariant && ps_.opt.parallelCriterion) {
    h_.message(msg::kMapAndParallelCriteria);
    raiseCode(ps_, kCodeConflict);
  }
  const bool otherRule =
      nFactorsGiven_ || rec_.given(kSlotMinEigen) || rec_.given(kSlotProportion);
  if (ps_.opt.parallelCriterion && otherRule) h_.message(msg::kParallelOverridesRules);
  if (ps_.opt.mapVariant && otherRule) h_.message(msg::kMapOverridesRules);
  ps_.opt.flags.parallelOption = rec_.bit(kBitParallel);
  ps_.opt.flags.mapOption = rec_.bit(kBitMap);
  ps_.opt.parallelRun = (ps_.opt.parallelCriterion || ps_.opt.flags.parallelOption) ? 1 : 0;
  ps_.opt.mapRun = (ps_.opt.mapVariant || ps_.opt.flags.mapOption) ? 1 : 0;

  if (!nFactorsGiven_ || ps_.opt.parallelCriterion || ps_.opt.mapVariant)
    ps_.nFactors = p_;
  else
    ps_.nFactors = std::max(0, std::min(toInt(rec_.number(kSlotNFactors, 0)), p_));
  ps_.factorsRetained = ps_.nFactors;
  m_ = ps_.nFactors;
  ps_.opt.minEigen = rec_.number(kSlotMinEigen, missing_);
  ps_.opt.proportion = rec_.number(kSlotProportion, missing_);
  if (!zul_is_missing(ps_.opt.proportion) && ps_.opt.proportion > 1) ps_.opt.proportion /= 100;
}

// 2^31 - 1, the generator's modulus, is no state of it: given as a seed it
// is replaced by a clock seed, which the user would not expect of a seed
// written in the program, so the log says so.
void StatementParser::warnSeedIsModulus(const char* option, double seed) {
  if (seed == static_cast<double>(kSeedModulus)) h_.message(msg::kSeedIsModulus, {option});
}

void StatementParser::randomSeed() {
  double v = rec_.number(kSlotRandom, 0);
  if (v < 1) v = 0;
  v = foldSeed(v);
  warnSeedIsModulus("RANDOM", v);
  ps_.seed = static_cast<int32_t>(v);
  seedRoutine(SeedMode::Check, ps_.seed);
}

// Methods that take no eigenvalues have no use for MAP and parallel
// analysis; one variable has no MAP test.
void StatementParser::criteriaAgainstMethod() {
  const OptionFlags& f = ps_.opt.flags;
  if (ps_.opt.method == kMethodPattern || ps_.opt.method == kMethodScore || ps_.opt.method == kMethodImage) {
    const char* word = methodWord(ps_.opt.method);
    if (ps_.opt.mapVariant) {
      h_.message(msg::kCriterionNotWithMethod, {ps_.opt.mapVariant == 4 ? "MAP4" : "MAP2", word});
      stop(ps_, kCodeConflict);
    }
    if (ps_.opt.plots.map2 || ps_.opt.plots.map4) {
      h_.message(msg::kPlotNotWithMethod, {"MAP", word});
      ps_.opt.plots.map2 = ps_.opt.plots.map4 = false;
      ps_.opt.mapRun = f.mapOption ? 1 : 0;
    }
    if (ps_.opt.parallelCriterion) {
      h_.message(msg::kCriterionNotWithMethod, {"PARALLEL", word});
      stop(ps_, kCodeConflict);
    }
    if (ps_.opt.plots.parallel) {
      h_.message(msg::kPlotNotWithMethod, {"PARALLEL", word});
      ps_.opt.plots.parallel = false;
      ps_.opt.parallelRun = f.parallelOption ? 1 : 0;
    }
  }
  if (p_ == 1) {
    if ((ps_.opt.plots.map2 || ps_.opt.plots.map4) && !ps_.opt.mapVariant) {
      h_.message(msg::kMapPlotNeedsTwoVariables);
      ps_.opt.plots.map2 = ps_.opt.plots.map4 = false;
      ps_.opt.mapRun = f.mapOption ? 1 : 0;
    }
    if (ps_.opt.mapVariant) {
      h_.message(msg::kMapNeedsTwoVariables);
      raiseCode(ps_, kCodeConflict);
    }
  }
}

// PARALLEL(ALPHA=, NSIMS=, SEED=): the level must leave a simulated
// eigenvalue to pick among NSIMS.
void StatementParser::parallelSettings() {
  ps_.opt.parallelLevel = rec_.number(kSlotParallelAlpha, 0.05);
  ps_.opt.nSims = toInt(rec_.number(kSlotParallelNSims, 1000));
  double s = rec_.number(kSlotParallelSeed, 0);
  ps_.opt.parallelSeed = s >= 1 ? static_cast<int32_t>(foldSeed(s)) : 0;
  if (!ps_.opt.parallelRun) return;
  const int32_t given = ps_.opt.parallelSeed;
  if (s >= 1) warnSeedIsModulus("SEED", foldSeed(s));
  seedRoutine(SeedMode::CheckAndPublish, ps_.opt.parallelSeed);
  // A clock seed is the only record of how the simulations ran: without
  // it in the log, a run under NOPRINT could not be repeated.
  if (ps_.opt.parallelSeed != given) h_.message(msg::kParallelClockSeed, {ps_.opt.parallelSeed});
  if (!(ps_.opt.parallelLevel > 0 && ps_.opt.parallelLevel < 1)) {
    h_.message(msg::kParallelLevelRange, {ps_.opt.parallelLevel});
    raiseCode(ps_, kCodeConflict);
  } else {
    double k = std::floor((1 - ps_.opt.parallelLevel) * (ps_.opt.nSims + 1.0));
    if (!(k > 0 && k < ps_.opt.nSims)) {
      h_.message(msg::kParallelLevelLeavesNone, {ps_.opt.parallelLevel, ps_.opt.nSims});
      raiseCode(ps_, kCodeConflict);
    }
  }
}

}  // namespace zulfact::detail
