#include "zulfact/extract/iteration_history.hpp"

#include <algorithm>

#include "zulfact/state/codes.hpp"
#include "zulfact/state/constants.hpp"
#include "zulfact/state/message_ids.hpp"
#include "zulfact/host/host.hpp"
#include "zulfact/output/vector_table.hpp"

namespace zulfact {

int heywoodAdjust(int p, bool heywood, bool ultraHeywood, double* communalities) {
  int status = 1;
  if (ultraHeywood) return status;
  // A communality of 1 recomputed from p eigenvectors (every factor of a
  // unit diagonal, or a variable the factors explain fully) comes out a
  // few units in the last place either side of 1: that is 1, not a
  // Heywood case that ends the analysis.
  const double rounding = 1.0 + std::max(p, 1) * kZeroTolerance;
  for (int i = 0; i < p; ++i) {
    if (!(communalities[i] > 1.0)) continue;
    if (communalities[i] <= rounding) {
      communalities[i] = 1.0;
      continue;
    }
    if (heywood) {
      communalities[i] = 1.0;
      if (status > 0) status = 0;
    } else {
      status = -1;
    }
  }
  return status;
}

void heywoodCheck(ProcState& ps, double* communalities) {
  ps.heywoodStatus = heywoodAdjust(ps.opt.nVars, ps.opt.flags.heywood, ps.opt.flags.ultraHeywood,
                                   communalities);
  if (ps.heywoodStatus >= 0) return;
  heywoodCaseEnds(ps, msg::kHeywoodCase, msg::kHeywoodAdvice);
}

void heywoodCaseEnds(ProcState& ps, msg::Id why, msg::Id advice) {
  raiseCode(ps, kCodeSingular);
  ps.factorsRetained = -1;
  Host& h = host();
  h.message(why);
  h.message(advice);
  if (ps.sink != nullptr) TableWriter(ps.sink).note("HeywoodNote", Text(h.formatMessage(why)));
}

void IterationHistory::open(bool withCriterion) {
  if (!out_.enabled() || open_) return;
  open_ = true;
  withCriterion_ = withCriterion;
  out_.beginTable("IterHistory");
  out_.title(Text::message(msg::kIterHistoryTitle));
  out_.column(Column::number("Iteration", "8.0"));
  if (withCriterion) {
    out_.column(Column::number("Criterion", "12.8"));
    out_.column(Column::number("Ridge", "8.4"));
  }
  out_.column(Column::number("Change", "10.7"));
  // Each variable's estimate is headed "EstCommunal" with the variable's
  // name beneath it (the listing wraps the header between the words).
  for (int i = 0; i < ps_.opt.nVars; ++i) {
    const std::string name = variableName(ps_, i);
    out_.column(Column::number(name, "8.5", Text("EstCommunal " + name)));
  }
}

void IterationHistory::addRow(int iteration, double criterion, double ridge, double change,
                              const double* estimates) {
  if (!open_) return;
  int c = 0;
  out_.set(c++, iteration);
  if (withCriterion_) {
    out_.set(c++, criterion);
    out_.set(c++, ridge);
  }
  out_.set(c++, change);
  for (int i = 0; i < ps_.opt.nVars; ++i) out_.set(c++, estimates[i]);
  out_.emitRow();
}

void IterationHistory::close() {
  if (!open_) return;
  out_.endTable();
  open_ = false;
}

std::string headingOr(msg::Id id, std::string_view fallback) {
  int status = 0;
  std::string text = host().messageText(id, &status);
  return status < 0 ? std::string(fallback) : text;
}

std::string reducedEigenvalueHeading(const ProcState& ps, bool covariance, bool fallback) {
  const msg::Id id = covariance           ? msg::kEigenReducedCovTitle
                     : ps.opt.flags.weighted ? msg::kEigenWeightedReducedCorrTitle
                                         : msg::kEigenReducedCorrTitle;
  int status = 0;
  std::string text = host().messageText(id, &status);
  if (status >= 0) return text;
  if (!fallback) {
    host().statusReport(status);
    host().endStep(kCodeWorkFile);
  }
  return covariance          ? "Eigenvalues of the Reduced Covariance Matrix"
         : ps.opt.flags.weighted ? "Eigenvalues of the Weighted Reduced Correlation Matrix"
                             : "Eigenvalues of the Reduced Correlation Matrix";
}

void printFactorValues(ProcState& ps, const char* name, msg::Id title, const double* values) {
  VectorTable t;
  t.name = name;
  t.title = titleLine(title, {});
  t.labelKind = 'F';
  t.nRows = ps.factorsRetained;
  t.columns.push_back({name, " ", values});
  printVectorTable(ps, t);
}

void printConvergenceStatus(ProcState& ps) {
  if (ps.sink == nullptr) return;
  const std::string reason = host().messageText(msg::general(ps.convergenceReason));
  TableWriter out(ps.sink);
  out.beginTable("ConvergenceStatus");
  out.title(Text::message(msg::kConvergenceStatusTitle));
  out.column(Column::number("Status", "8.0"));
  out.column(Column::text("Reason", static_cast<int>(reason.size() > 0 ? reason.size() : 1)));
  out.row({ps.convergenceStatus, reason});
  out.endTable();
}

}  // namespace zulfact
