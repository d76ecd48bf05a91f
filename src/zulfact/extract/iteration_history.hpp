// What the iterative extractions (PRINIT, ALPHA, ULS, ML, GLS) share: the
// Heywood check of communality estimates, the "IterHistory" table with one
// row per iteration, and the "ConvergenceStatus" table.
#pragma once

#include <string>
#include <string_view>

#include "zulfact/state/message_ids.hpp"
#include "zulfact/state/proc_state.hpp"
#include "zulfact/output/table_writer.hpp"

namespace zulfact {

// Communalities above 1 (a Heywood case); one within p * 1.1e-13 of 1 is
// rounding, set to 1. Sets ps.heywoodStatus: 1 when none was met; with
// HEYWOOD they are set to 1 and the status is 0; with ULTRAHEYWOOD they
// are left alone (status 1). Otherwise the status is -1:
// completion code at least 112, ps.factorsRetained = -1, messages 180/42 and
// 180/55, and 180/42 as a note in the listing.
void heywoodCheck(ProcState& ps, double* communalities);
// The rule alone on p estimates: the status heywoodCheck would set.
int heywoodAdjust(int p, bool heywood, bool ultraHeywood, double* communalities);

// The end of a group's analysis by an inadmissible communality: completion
// code at least 112, ps.factorsRetained = -1, message `why` and 180/55 (or
// `advice`), and `why` as a note in the listing.
void heywoodCaseEnds(ProcState& ps, msg::Id why, msg::Id advice);

// The "IterHistory" table: "Iteration", with the criterion "Criterion" and
// "Ridge", "Change", and the current estimate of each analysis variable.
// Does nothing without an output sink; the table is published on close()
// or when the object goes away.
class IterationHistory {
 public:
  explicit IterationHistory(ProcState& ps) : ps_(ps), out_(ps.sink) {}
  bool isOpen() const { return open_; }
  void open(bool withCriterion);
  void addRow(int iteration, double criterion, double ridge, double change,
              const double* estimates);
  void close();

 private:
  ProcState& ps_;
  TableWriter out_;
  bool open_ = false;
  bool withCriterion_ = false;
};

// Heading of the final Eigenvalues table of a reduced matrix: message
// 180/64 when `covariance`, 180/66 when ps is weighted, else 180/68. A
// failed lookup gives the English text when `fallback`, else ends the run
// with 1020.
std::string reducedEigenvalueHeading(const ProcState& ps, bool covariance, bool fallback);

// A heading from the message file, or `fallback` when it has none.
std::string headingOr(msg::Id id, std::string_view fallback);

// A table of one value per retained factor (coefficient alpha, squared
// canonical correlations): `name` is the table and its value column,
// `title` its title line. Nothing without an output sink.
void printFactorValues(ProcState& ps, const char* name, msg::Id title, const double* values);

// The "ConvergenceStatus" table: ps.convergenceStatus and the text of
// message 0/ps.convergenceReason. Nothing without an output sink.
void printConvergenceStatus(ProcState& ps);

}  // namespace zulfact
