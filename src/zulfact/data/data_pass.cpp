// The data pass of one BY group: moments and the (partial) correlation
// matrix, the tables that show them, the save-area copy, the leading
// OUTSTAT= rows and the hand-off to the numeric engine.
#include "zulfact/data/data_pass.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "zulfact/state/codes.hpp"
#include "zulfact/state/constants.hpp"
#include "zulfact/data/crossproduct_engine.hpp"
#include "zulfact/data/crossproducts.hpp"
#include "zulfact/data/stored_matrix.hpp"
#include "zulfact/data/vardef.hpp"
#include "zulfact/host/host.hpp"
#include "kernels/linalg.hpp"
#include "zulfact/output/matrix_printer.hpp"
#include "zulfact/output/outstat_rows.hpp"
#include "zulfact/output/table_writer.hpp"
#include "zulfact/output/vector_table.hpp"
#include "zulfact/state/message_ids.hpp"
#include "zul/abi_engine.h"

namespace zulfact {

using kernels::covToCorr;
using kernels::packedIndex;

namespace {


inline bool isMissing(double x) { return zul_is_missing(x) != 0; }

const char* varName(const ProcState& ps, int i) {
  return ps.opt.varNames ? ps.opt.varNames + 33 * static_cast<size_t>(i) : "";
}

[[noreturn]] void endWith(ProcState& ps, int code) {
  raiseCode(ps, code);
  host().endStep(code, 0);
}

double* poolArray(ProcState& ps, double*& array, int count) {
  if (!array) {
    array = static_cast<double*>(host().alloc(8.0 * std::max(count, 1)));
    if (!array) endWith(ps, kCodeMemory);
  }
  return array;
}

// Per-group defaults.
void resetGroup(ProcState& ps) {
  for (int i = 0; i < ps.opt.nVars; ++i) {
    if (ps.means) ps.means[i] = 0.0;
    if (ps.stdDevs) ps.stdDevs[i] = 1.0;
  }
  if (ps.opt.flags.reorder && ps.varOrder)
    for (int i = 0; i < ps.opt.nVars; ++i) ps.varOrder[i] = i;
  if (ps.factorCorr && ps.nFactors > 0) {
    const int m = ps.nFactors;
    for (int i = 0; i < m; ++i)
      for (int j = 0; j <= i; ++j) ps.factorCorr[packedIndex(i, j)] = i == j ? 1.0 : 0.0;
  }
  ps.factorsRetained = ps.nFactors;
  // Each group's solution starts orthogonal: an oblique count left by the
  // previous group would print its Phi as this group's and write its
  // oblique rows.
  ps.obliqueCount = 0;
  ps.scoresReady = false;
  ps.groupParallel = ps.groupMap = false;  // set again when the engine has run
  ps.nObs = ps.opt.nObsOption;
  ps.nPartialUsed = 0;
}

// The observation counts; dataN is the N of a stored matrix as read.
void printObsCounts(ProcState& ps, double dataN) {
  TableWriter out(ps.sink);
  if (!out.enabled()) return;
  out.beginTable("NObs");
  const int cLabel = out.column(Column::text("Label", 48, {}, ColumnRole::HeaderText));
  const int cN = out.column(Column::number("N", "BEST12."));
  auto row = [&](const char* label, double value) {
    out.set(cLabel, std::string_view(label));
    out.set(cN, value);
    out.emitRow();
  };
  const ObsCounts& c = ps.obsCounts;
  if (!ps.opt.flags.rawInput) {
    // A stored matrix has no records to count: its N row stands for them.
    row("N of the Input Table", dataN);
  } else {
    row("Number of Observations Read", c.recordsRead);
    row("Number of Observations Used", c.recordsUsed);
  }
  if (ps.opt.flags.rawInput && ps.opt.freqVarNumber > 0) {
    row("Sum of Frequencies Read", c.freqRead);
    row("Sum of Frequencies Used", c.freqUsed);
  }
  if (ps.opt.flags.rawInput && ps.opt.weightVarNumber > 0) {
    row("Sum of Weights Read", c.weightsRead);
    row("Sum of Weights Used", c.weightsUsed);
  }
  if (!isMissing(ps.opt.nObsOption))
    row("Number of Observations Specified (NOBS=)", ps.opt.nObsOption);
  // NOBS= and the partial variables are applied by now: the N the tests
  // use.
  row("N for Significance Tests", ps.nObs);
  out.endTable();
}

// The moments and the correlations of all variables as read, kept for the
// tables when partialling has replaced them by then.
struct MomentsAsRead {
  std::vector<double> means, stdDevs, corr;
};

void keepMomentsAsRead(const ProcState& ps, MomentsAsRead& kept) {
  const size_t n = static_cast<size_t>(ps.opt.nAll);
  if (ps.sink && ps.opt.flags.simple) {
    kept.means.assign(ps.means, ps.means + n);
    kept.stdDevs.assign(ps.stdDevs, ps.stdDevs + n);
  }
  if (ps.sink && ps.opt.flags.corr)
    kept.corr.assign(ps.corrMatrix, ps.corrMatrix + n * (n + 1) / 2);
}

// SIMPLE: means and standard deviations of all variables.
void printSimpleStatistics(ProcState& ps, const MomentsAsRead& kept) {
  if (!ps.sink || !ps.opt.flags.simple) return;
  VectorTable t;
  t.name = "SimpleStatistics";
  t.labelKind = 'V';
  t.nRows = ps.opt.nAll;
  const bool asRead = !kept.means.empty();
  t.columns.push_back({"Mean", "Mean", asRead ? kept.means.data() : ps.means});
  t.columns.push_back({"StdDev", "Std Dev", asRead ? kept.stdDevs.data() : ps.stdDevs});
  printVectorTable(ps, t);
}

// The VARDEF= value without its trailing blanks.
std::string vardefText(const ProcState& ps) {
  std::string v(ps.opt.vardef, 8);
  while (!v.empty() && (v.back() == ' ' || v.back() == '\0')) v.pop_back();
  return v;
}

// Partial variables swept out of the correlation matrix. `dataN` is the N
// of the observations read: the conditional variances divide by it (less
// the fitted partial variables), as the variances of the data pass do,
// whatever NOBS= gives the significance tests. `explained` flags the
// variables with a variance that the partial variables take away whole.
// False when no degrees of freedom are left: the group is not analysed.
bool partialOut(ProcState& ps, double dataN, std::vector<char>& explained) {
  Host& h = host();
  const int nAll = ps.opt.nAll;
  const int p = ps.opt.nVars;
  double* r = ps.corrMatrix;

  if (ps.opt.flags.outRequested) {
    std::memcpy(poolArray(ps, ps.rawMeans, nAll), ps.means, sizeof(double) * nAll);
    std::memcpy(poolArray(ps, ps.rawStdDevs, nAll), ps.stdDevs, sizeof(double) * nAll);
  }
  if (ps.nObs <= ps.opt.nPartial) {
    h.message(msg::kPartialsUseAllObservations, {ps.opt.nPartial, ps.nObs});
    ps.nObs = ps.opt.nPartial;
  }

  std::fill(ps.sweepFlags, ps.sweepFlags + nAll, '0');
  // The matrix swept here is a correlation matrix: every variable's scale
  // before sweeping is its diagonal, 1, so the singularity test compares
  // 1 - R^2 of the pivot on the partial variables swept before with
  // SINGULAR=. (The roots of the raw sums of squares would make the test
  // depend on the units of the variable.)
  for (int i = 0; i < nAll; ++i) ps.scaleVector[i] = 1.0;
  int k = ps.opt.nPartial;
  for (int j = 0; j < ps.opt.nPartial; ++j) {
    const int pivot = p + j;
    h.sweep(r, pivot, nAll, ps.sweepFlags, ps.scaleVector, ps.opt.singularity);
    if (ps.sweepFlags[pivot] == '0') {
      // Linearly dependent on the partial variables before it: dropped.
      h.message(msg::kPartialNotSwept, {std::string_view(varName(ps, pivot))});
      --k;
      for (int i = 0; i < nAll; ++i) r[packedIndex(pivot, i)] = 0.0;
    }
  }
  ps.nPartialUsed = k;

  const double d2 = vardefDivisorLogged(std::string_view(ps.opt.vardef, 8), dataN,
                                        ps.opt.flags.noIntercept ? k : k + 1, ps.sumWeights);
  if (!(d2 > 0)) {
    // Standard deviations of 0 would pass for variables without variance,
    // and the sum of weights less k for a negative one.
    h.message(msg::kPartialDivisorNotPositive, {k, vardefText(ps)});
    raiseCode(ps, kCodeNoData);
    ps.factorsRetained = -1;
    return false;
  }
  const double f = std::sqrt(ps.varianceDivisor / d2);
  // The tests see the residuals of N observations on k regressors: N - k
  // observations, whatever divisor VARDEF= gives the variances (their
  // multiplier is N - 1 - ... under every VARDEF=, Bartlett 1950).
  // Without weights the sum of weights is the count and loses the same
  // degrees of freedom; kept apart, it would go to OUTSTAT= as a SUMWGT row
  // that no weight made. VARDEF=WDF takes them off the weights as well.
  if (ps.sumWeights == ps.nObs || vardefIs(std::string_view(ps.opt.vardef, 8), "WDF"))
    ps.sumWeights -= k;
  ps.nObs -= k;

  for (int i = 0; i < p; ++i) {
    if (r[packedIndex(i, i)] <= kZeroDiagonalAfterSweep)
      for (int j = 0; j < p; ++j) r[packedIndex(i, j)] = 0.0;
  }
  covToCorr(p, r, ps.scaleVector);
  // The scores of OUT= standardize each residual by its root.
  if (ps.residualScale && p > 0) std::memcpy(ps.residualScale, ps.scaleVector, sizeof(double) * p);
  explained.assign(static_cast<size_t>(p), 0);
  for (int i = 0; i < p; ++i) {
    ps.means[i] = 0.0;
    explained[i] = ps.stdDevs[i] > 0 && ps.scaleVector[i] <= 0;
    ps.stdDevs[i] = f * ps.scaleVector[i] * ps.stdDevs[i];
    double& d = r[packedIndex(i, i)];
    if (d <= kZeroTolerance) d = 0.0;
  }

  return true;
}

// The conditional standard deviations and the partial correlations.
void printPartialTables(ProcState& ps) {
  const int p = ps.opt.nVars;
  if (ps.sink && ps.opt.flags.simple) {
    VectorTable t;
    t.name = "CondStdDev";
    t.title = titleLine(msg::kCondStdDevTitle, {}, true);
    t.labelKind = 'V';
    t.nRows = p;
    t.columns.push_back({"StdDev", "Std Dev", ps.stdDevs});
    printVectorTable(ps, t);
  }
  if (ps.sink && ps.opt.flags.corr)
    printMatrixTable(ps, {.storage = 'S', .values = ps.corrMatrix, .nRows = p, .nCols = p,
                          .rowLabels = 'V', .colLabels = 'V', .title = kTitlePartialCorr,
                          .name = "PartialCorr", .role = MatrixRole::Correlation});
}

// The group's R, kept unchanged for the later steps of the group (the
// extraction works on a copy in corrMatrix).
void saveCorrelations(ProcState& ps) {
  const int p = ps.opt.nVars;
  if (ps.groupCorr)
    std::memcpy(ps.groupCorr, ps.corrMatrix, sizeof(double) * static_cast<size_t>(p) * (p + 1) / 2);
}

// MEAN, STD/USTD, N, [SUMWGT], CORR/UCORR rows.
void writeStatisticsRows(ProcState& ps, bool corrComputed) {
  if (!ps.opt.outstatTable) return;
  zul_table* input = ps.opt.indbInput ? ps.opt.indbInput : ps.opt.mainInput;
  zul_table* current = nullptr;
  host().getAttribute(input, ZUL_ATTR_CURRENT_REF, &current);
  const int p = ps.opt.nVars;
  const bool noint = ps.opt.flags.noIntercept;
  appendStatRow(ps, "MEAN", {}, ps.means, p);
  appendStatRow(ps, noint ? "USTD" : "STD", {}, ps.stdDevs, p);
  appendStatRowConstant(ps, "N", ps.nObs);
  if (ps.sumWeights != ps.nObs) appendStatRowConstant(ps, "SUMWGT", ps.sumWeights);
  if (!corrComputed) return;
  std::vector<double> row(static_cast<size_t>(p));
  const std::string prefix =
      ps.opt.nPartial > 0 ? std::string(ps.opt.parPrefix, static_cast<size_t>(std::max(0, ps.opt.parPrefixLength)))
                      : std::string();
  for (int i = 0; i < p; ++i) {
    for (int j = 0; j < p; ++j) row[j] = ps.corrMatrix[packedIndex(i, j)];
    std::string name = (prefix + varName(ps, i)).substr(0, 32);
    appendStatRow(ps, noint ? "UCORR" : "CORR", name, row.data(), p);
  }
}

zul_engine* engineOf(ProcState& ps) {
  auto* engine = static_cast<zul_engine*>(ps.factorEngine);
  if (!engine || !engine->ops) endWith(ps, kCodeEngine);
  return engine;
}

void engineSet(ProcState& ps, int item, const void* buffer, int64_t bytes) {
  zul_engine* engine = engineOf(ps);
  const int status = engine->ops->set ? engine->ops->set(engine, item, buffer, bytes) : -1;
  if (status != ZUL_ENGINE_OK) {
    host().message(msg::kEngineItemFailed, {"set", item, status});
    endWith(ps, kCodeEngine);
  }
}

// A result the engine cannot give ends the run with 1012; `missing` (none
// when its number is 0) says which analysis is without results, so that the
// log explains the stop. The parallel analysis keeps every simulation's
// eigenvalues: when memory runs out for them, the log says so, since a
// smaller NSIMS= is the remedy.
void engineGet(ProcState& ps, int item, void* buffer, int64_t bytes, msg::Id missing = {}) {
  zul_engine* engine = engineOf(ps);
  int64_t length = bytes;
  const int status = engine->ops->get ? engine->ops->get(engine, item, buffer, &length, 0, 0) : -1;
  if (status != ZUL_ENGINE_OK) {
    if (status == ZUL_ENGINE_NO_MEMORY && missing.number == msg::kNoParallelResults.number)
      host().message(msg::kParallelNoMemory, {ps.opt.nSims, ps.opt.nVars});
    else if (missing.number != 0)
      host().message(missing);
    else
      host().message(msg::kEngineItemFailed, {"get", item, status});
    endWith(ps, kCodeEngine);
  }
}

// N, the standard deviations and R to the engine; its parallel
// analysis and MAP results back.
void engineHandOff(ProcState& ps, bool corrComputed) {
  const int p = ps.opt.nVars;
  engineSet(ps, ZUL_ITEM_NOBS, &ps.nObs, sizeof(double));
  if (ps.stdDevs) engineSet(ps, ZUL_ITEM_STDDEVS, ps.stdDevs, 8 * static_cast<int64_t>(p));
  if (corrComputed && ps.corrMatrix)
    engineSet(ps, ZUL_ITEM_CORR, ps.corrMatrix, 8 * static_cast<int64_t>(p) * (p + 1) / 2);

  Host& h = host();
  ps.groupParallel = ps.opt.parallelRun != 0;
  ps.groupMap = ps.opt.mapRun != 0;
  if (ps.nObs < p) {
    // NFACTORS=PARALLEL or MAP without its test: the group has no count of
    // its own (the one held is an earlier group's), so it is not analysed;
    // the other groups are, each deciding for itself.
    if (ps.opt.parallelCriterion || ps.opt.mapVariant != 0) {
      h.message(ps.opt.parallelCriterion ? msg::kParallelNeedsObservations
                                         : msg::kMapNeedsObservations);
      raiseCode(ps, kCodeNoData);
      ps.factorsRetained = -1;
      return;
    }
    if (ps.groupParallel) {
      h.message(msg::kParallelSkipped);
      ps.groupParallel = false;
    }
    if (ps.groupMap) {
      h.message(msg::kMapSkipped);
      ps.groupMap = false;
    }
  }
  // Without a correlation matrix, or when the engine has no result for a
  // request, the message says which analysis is missing.
  const int64_t vectorBytes = 8 * static_cast<int64_t>(p);
  int32_t count = 0;
  if (ps.groupMap) {
    if (!corrComputed) {
      h.message(msg::kNoMapResults);
      endWith(ps, kCodeEngine);
    }
    engineGet(ps, ZUL_ITEM_MAP_FACTORS2, &count, 4, msg::kNoMapResults);
    ps.mapFactors2 = count;
    engineGet(ps, ZUL_ITEM_MAP_AVERAGE2, poolArray(ps, ps.mapSquared, p), vectorBytes,
              msg::kNoMapResults);
    engineGet(ps, ZUL_ITEM_MAP_FACTORS4, &count, 4, msg::kNoMapResults);
    ps.mapFactors4 = count;
    engineGet(ps, ZUL_ITEM_MAP_AVERAGE4, poolArray(ps, ps.mapFourth, p), vectorBytes,
              msg::kNoMapResults);
  }
  if (ps.groupParallel) {
    if (!corrComputed) {
      h.message(msg::kNoParallelResults);
      endWith(ps, kCodeEngine);
    }
    engineGet(ps, ZUL_ITEM_PARALLEL_FACTORS, &count, 4, msg::kNoParallelResults);
    ps.parallelFactors = count;
    engineGet(ps, ZUL_ITEM_PARALLEL_MEAN, poolArray(ps, ps.parallelMean, p), vectorBytes,
              msg::kNoParallelResults);
    engineGet(ps, ZUL_ITEM_PARALLEL_CRITICAL, poolArray(ps, ps.parallelCritical, p), vectorBytes,
              msg::kNoParallelResults);
    engineGet(ps, ZUL_ITEM_OBSERVED_EIGEN, poolArray(ps, ps.observedEigen, p), vectorBytes,
              msg::kNoParallelResults);
  }
}

// Under COV the variances weight the analysis: a variance beyond the
// largest double (a standard deviation above about 1.3e154), or variances
// whose sum is, cannot be analysed, although the correlations can. Nor
// can variances that are all below the smallest normal double (standard
// deviations under about 1.5e-154): the covariances lose their digits or
// vanish, and no eigenvector can be found from them. (Beside larger ones,
// such a variance is only negligible.) The variable with the largest
// variance is named. False when the group stops.
bool variancesUsable(ProcState& ps) {
  if (!ps.opt.flags.covariance || ps.opt.nVars < 1) return true;
  double sum = 0.0;
  int largest = 0;
  for (int i = 0; i < ps.opt.nVars; ++i) {
    const double sd = std::fabs(ps.stdDevs[i]);
    sum += sd * sd;
    if (!(sd <= std::fabs(ps.stdDevs[largest]))) largest = i;
  }
  const double top = std::fabs(ps.stdDevs[largest]);
  const bool large = !std::isfinite(sum);
  const bool small = top > 0.0 && top * top < kSmallestNormal;
  if (!large && !small) return true;
  host().message(large ? msg::kVarianceTooLarge : msg::kVarianceTooSmall,
                 {std::string_view(varName(ps, largest))});
  raiseCode(ps, kCodeNoData);
  ps.factorsRetained = -1;
  return false;
}

}  // namespace

void dataPass(ProcState& ps) {
  Host& h = host();
  resetGroup(ps);

  // Read.
  int status = 0;
  if (ps.opt.flags.rawInput) {
    status = crossproductEngine(ps);
  } else if (ps.opt.flags.correlationNeeded) {
    status = readStoredMatrix(ps);
  } else {
    status = readStoredMoments(ps);
  }
  raiseCode(ps, status);
  if (status > kCodeWarning) {
    ps.factorsRetained = -1;
    return;
  }
  if (ps.factorsRetained < 0 || !variancesUsable(ps)) return;
  const bool corrComputed = ps.opt.flags.rawInput || ps.opt.flags.correlationNeeded;

  // NOBS=, then partialling, before the observation counts: they show the
  // N that the tests use. The tables of the data as read print from copies.
  const double dataN = ps.nObs;
  if (!isMissing(ps.opt.nObsOption)) ps.nObs = ps.opt.nObsOption;
  const bool tooFew = ps.nObs <= ps.opt.nAll;
  const bool partial = corrComputed && ps.opt.nPartial >= 1;
  MomentsAsRead kept;
  std::vector<char> explained;
  if (partial) keepMomentsAsRead(ps, kept);
  const bool analysable = !partial || partialOut(ps, dataN, explained);
  printObsCounts(ps, dataN);
  if (!analysable) return;
  if (tooFew) {
    h.message(msg::kTooFewObservations);
    raiseCode(ps, kCodeWarning);
  }

  // Simple statistics and correlations of all variables, then the partial ones.
  printSimpleStatistics(ps, kept);
  const double* corrAsRead = kept.corr.empty() ? ps.corrMatrix : kept.corr.data();
  if (ps.sink && ps.opt.flags.corr && corrComputed)
    printMatrixTable(ps, {.storage = 'S', .values = corrAsRead, .nRows = ps.opt.nAll,
                          .nCols = ps.opt.nAll, .rowLabels = 'V', .colLabels = 'V',
                          .title = kTitleCorr, .name = "Corr", .role = MatrixRole::Correlation});
  if (partial) printPartialTables(ps);

  // Variables without variance stay, with zero correlations.
  for (int i = 0; i < ps.opt.nVars; ++i) {
    if (ps.stdDevs[i] > 0) continue;
    const bool byPartials = static_cast<size_t>(i) < explained.size() && explained[i];
    h.message(byPartials ? msg::kExplainedByPartials : msg::kZeroVariance,
              {std::string_view(varName(ps, i))});
  }

  // 9 - 12.
  if (corrComputed) saveCorrelations(ps);
  writeStatisticsRows(ps, corrComputed);
  engineHandOff(ps, corrComputed);
}

}  // namespace zulfact
