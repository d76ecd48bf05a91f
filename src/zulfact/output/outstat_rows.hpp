// Rows of the statistics output table (OUTSTAT=): one place that fills the
// _TYPE_ and _NAME_ texts and the value columns and appends the row.
//
// The table's columns are the copied BY variables, then _TYPE_ (character
// 8), _NAME_ (character outstatNameWidth(ps)), then one numeric column per
// analysis variable in VAR order. The BY columns are filled by the host
// from the input's current group.
#pragma once

#include <string_view>

#include "zulfact/state/proc_state.hpp"

namespace zulfact {

// Width of the _NAME_ column: min(32, max(8, factorNameWidth, L)), where L
// is the longest analysis-variable name plus the length of the partial-row
// prefix (PARPREFIX=) when there are partial variables. The parser declares
// the column with it; outstatNameWidth gives the declared width (nameWidth)
// once there is one.
int nameColumnWidth(const ProcState& ps);

// The 8-character _TYPE_ of a row as the readers of saved solutions take
// it: upper case, and "FACTOR" read as "PATTERN", "USCORE" (written under
// NOINT) as "SCORE". upper9 receives the 8 characters and a terminator.
std::string_view solutionRowType(const char* type8, char* upper9);
int outstatNameWidth(const ProcState& ps);

// Appends one row: `type` (cut or blank padded to 8), `name` (cut or blank
// padded to the _NAME_ width; empty for vector rows) and `count` values,
// the remaining analysis-variable columns holding the missing value. Does
// nothing without an OUTSTAT= table. A failed append is reported through
// the host's status service with the writer's code.
void appendStatRow(ProcState& ps, std::string_view type, std::string_view name,
                   const double* values, int count);

// The rows of a BY group are held back while it is analysed: a group that
// fails must leave no rows behind, and the host writes no table to which
// no row was appended. holdGroupRows() starts a group (dropping anything
// still held); releaseGroupRows() appends the held rows when keep is true
// and drops them otherwise. Outside a group rows are appended at once.
// failGroupRows() marks the group in hand as failed where a failure leaves
// it with no factors rather than a negative count (its rows then go too).
void holdGroupRows();
void failGroupRows();
bool groupRowsFailed();  // the group in hand was marked failed
void releaseGroupRows(ProcState& ps, bool keep);

// The same row with one value in every column ("N", "SUMWGT").
void appendStatRowConstant(ProcState& ps, std::string_view type, double value);

// m rows, row k holding column k of the p x m matrix (column-major), named
// by factor k ("UNROTATE", "PATTERN", ...).
void appendFactorColumnRows(ProcState& ps, std::string_view type, const double* matrix, int m);

// The image analysis rows: p rows "IMAGE", row i holding row i of the
// image coefficients (p x p, row i contiguous), then p rows "IMAGECOV" of
// the packed image covariance matrix; each named by its variable.
void writeImageRows(ProcState& ps, const double* coefficients, const double* packedCov);

// How a solution matrix becomes m rows of the table.
enum class SolutionRowShape {
  VariableColumns,  // p x m, row k = column k (p values)
  FactorColumns,    // m x m dense, row k = column k (m values)
  PackedFactors,    // packed m x m, row k = element (k, j), j = 1..m
};

// One kind of solution row: its _TYPE_ for the final solution and for a
// prerotation, the matrix it is written from and when it is written. The
// catalogue (solutionRowKinds) lists them in table order; a new kind of
// row is one more entry there.
struct SolutionRowKind {
  const char* finalType;
  const char* preType;
  SolutionRowShape shape;
  const double* (*matrix)(const ProcState& ps);  // null: nothing to write
  bool (*written)(const ProcState& ps);
};
const SolutionRowKind* solutionRowKinds(int& count);

// True when `type` (upper case, trailing blanks ignored, compared on its
// first 8 characters) is one this table's rows are written with: the data
// pass's, the unrotated solution's, the catalogue's (final, prerotation and
// USCORE), the residual and image rows. A stored-matrix reader uses it so
// that a row it passes over is quoted only when no writer could have made it.
bool isStatRowType(std::string_view type);

// Appends the rows of the solution in hand, "TRANSFOR" to "SCORE", each
// kind only when its condition holds: final = 1 with the final names,
// final = 0 with the prerotation names. Nothing without OUTSTAT=.
void writeSolutionRows(ProcState& ps, int final);

}  // namespace zulfact
