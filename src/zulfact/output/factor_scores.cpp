#include "zulfact/output/factor_scores.hpp"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "zulfact/host/host.hpp"
#include "zulfact/indb/indb.hpp"
#include "kernels/linalg.hpp"
#include "zulfact/state/codes.hpp"

namespace zulfact {

using kernels::ddot;
using kernels::packedIndex;

void scoreRow(const ScoreRowPlan& plan, double* x, double* z, double* out) {
  const int p = plan.p, q = plan.q;
  for (int i = 0; i < p + q; ++i) {
    if (!plan.noint) x[i] -= plan.center[i];
    if (plan.scale[i] > 0) x[i] /= plan.scale[i];
  }
  double* scores = out;
  if (q > 0) {
    // The standardized residual of each analysis variable on the partial
    // variables (the swept rows hold the regression weights), rescaled to
    // unit variance for scoring and to the variable's units for output.
    for (int k = 0; k < q; ++k) {
      const double xk = x[p + k];
      for (int i = 0; i < p; ++i) x[i] -= plan.partialWeights[packedIndex(p + k, i)] * xk;
    }
    for (int i = 0; i < p; ++i) {
      // A variable explained entirely by the partial variables has no
      // residual left to score.
      z[i] = plan.residualScale[i] > 0 ? x[i] / plan.residualScale[i] : 0.0;
      out[i] = x[i] * plan.scale[i];
    }
    scores = out + p;
  } else {
    std::copy(x, x + p, z);
  }
  for (int f = 0; f < plan.r; ++f)
    scores[f] = ddot(p, z, plan.coefficients + static_cast<int64_t>(f) * p);
}

namespace {

void writeRows(ProcState& ps) {
  Host& h = host();
  ps.groupRowsCopied = true;
  if (ps.indb.used) {
    // The rows never leave the database: one insert ... select per group.
    const int code = scoreInDatabase(ps);
    raiseCode(ps, code);
    if (code > 999) h.endStep(code);
    return;
  }
  const int p = ps.opt.nVars;
  const int nAll = ps.opt.nAll;
  const int q = ps.opt.nPartial;
  const int r = ps.scoresReady ? std::max(0, std::min(ps.factorsRetained, ps.opt.nScoreColumns)) : 0;
  const int nAdded = (q > 0 ? p : 0) + ps.opt.nScoreColumns;

  ScoreRowPlan plan;
  plan.p = p;
  plan.q = q;
  plan.r = r;
  plan.noint = ps.opt.flags.noIntercept;
  plan.center = q > 0 && ps.rawMeans ? ps.rawMeans : ps.means;
  plan.scale = q > 0 && ps.rawStdDevs ? ps.rawStdDevs : ps.stdDevs;
  plan.partialWeights = ps.corrMatrix;
  plan.residualScale = ps.residualScale;
  plan.coefficients = ps.scoreCoefficients;
  if (q > 0 && (!plan.partialWeights || !plan.residualScale)) {
    raiseCode(ps, kCodeInternal);
    h.endStep(kCodeInternal);
  }

  if (h.rewind(ps.opt.mainInput) != 0) {
    raiseCode(ps, kCodeEngine);
    h.endStep(kCodeEngine);
  }
  zul_readlist* list = h.readListCreate(ps.opt.mainInput, nAll);
  if (!list) {
    raiseCode(ps, kCodeEngine);
    h.endStep(kCodeEngine);
  }
  struct Release {
    zul_readlist* l;
    ~Release() { host().readListRelease(l); }
  } release{list};
  for (int i = 0; i < nAll; ++i) h.readListBind(list, i, ps.opt.varNumbers[i], false, 8);
  // Parsing ahead on the host's helper threads, as the data pass did.
  const bool threaded = ps.readThreads > 1;
  if (threaded) h.threadedRead(ps.opt.mainInput, true);
  struct ThreadedOff {
    zul_table* table;
    bool on;
    ~ThreadedOff() {
      if (on) host().threadedRead(table, false);
    }
  } threadedOff{ps.opt.mainInput, threaded};

  const double missing = zul_missing();
  std::vector<double> x(static_cast<size_t>(nAll)), z(static_cast<size_t>(p));
  std::vector<double> out(static_cast<size_t>(std::max(nAdded, 1)), missing);
  int status = 0;
  while (h.readNext(list, x.data(), nullptr, status) == 1) {
    if (!readOk(status)) break;
    std::fill(out.begin(), out.end(), missing);
    const bool complete =
        std::none_of(x.begin(), x.end(), [](double v) { return zul_is_missing(v) != 0; });
    if (complete && r > 0) scoreRow(plan, x.data(), z.data(), out.data());
    const int rc = h.appendRow(ps.opt.outTable, out.data(), nullptr);
    if (rc != 0) {
      h.statusReport(rc);
      raiseCode(ps, kCodeEngine);
      h.endStep(kCodeEngine);
    }
  }
  if (!readOk(status)) {
    raiseCode(ps, kCodeEngine);
    h.endStep(kCodeEngine);
  }
}

}  // namespace

void writeFactorScores(ProcState& ps) {
  if (!ps.opt.outTable || !ps.opt.mainInput) return;
  ps.outScored = true;
  writeRows(ps);
}

void copyUnscoredGroup(ProcState& ps) {
  // Without BY groups the one group is the step: its rows hold no result,
  // and the table is not written (markUnscoredOutput).
  if (!ps.opt.flags.outRequested || !ps.opt.outTable || !ps.opt.mainInput) return;
  if (ps.groupRowsCopied || ps.opt.nBy < 1) return;
  // Coefficients left by a rotation that failed later are not this
  // group's solution.
  ps.scoresReady = false;
  zul_table* input = ps.opt.indbInput ? ps.opt.indbInput : ps.opt.mainInput;
  host().logLine(ZUL_LOG_NOTE, "The observations of the BY group " + host().byDescription(input) +
                                   " are copied to the OUT= table with missing scores: the"
                                   " group has no factor solution.");
  writeRows(ps);
}

void markUnscoredOutput(ProcState& ps) {
  // Rows without a single score would replace an earlier table of the name
  // as surely as no rows at all: the host leaves both unwritten.
  if (ps.opt.flags.outRequested && ps.opt.outTable && !ps.outScored)
    (void)host().setAttribute(ps.opt.outTable, ZUL_ATTR_SET_NO_RESULT, "");
}

}  // namespace zulfact
