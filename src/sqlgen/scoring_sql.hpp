// Factor scores computed inside the database: the `insert ... select`
// statement that standardises the input columns, takes out the partial
// variables when there are any, forms each score as a linear combination
// and writes the rows straight into the output table, and the statements
// around it (the column-type probe, the check of a BY format).
//
// The statement has three levels: the inner view (_view1_) casts each
// input and partial column to double precision (dates to days, times and
// timestamps to seconds since 1 January 1960; a NaN or an infinity to
// null, so that its row gets missing scores), centres and scales it; the
// middle view (_view2_, only with partial variables) forms the residual of
// each standardised input on the partials, divided by its conditional
// standard deviation; the outer select writes the copied columns, the BY
// values, the residuals in the variables' own units and the scores, all
// null in a row with a missing input or partial value ("_ok_" null).
// Aliases "_v0_", "_p0_" and "_r0_" name the standardised inputs, partials
// and residuals, "_c0_" the copied columns: the views hold no name of the
// input's, which could otherwise be taken for an alias.
//
// The generator knows nothing of factor analysis beyond the descriptor.
#pragma once

#include <string>
#include <vector>

#include "sqlgen/dialect.hpp"

namespace sqlgen {

// One BY variable with the current group's value.
struct ByValue {
  std::string name;        // column name (unquoted)
  bool numeric = true;
  double number = 0;       // a NaN when missing
  std::string text;        // character value (trailing blanks do not count; may hold NULs)
  // The display format: name ("" for "w.d", "$" for character), width and
  // decimals; formatWidth 0 when the variable has none.
  std::string formatName;
  int formatWidth = 0;
  int formatDecimals = 0;
};

// Score coefficients and everything that goes with them. An empty vector
// is an absent field. n = inputNames.size(), q = partialNames.size(),
// k = outputNames.size().
struct ScoringSpec {
  Dialect dialect = Dialect::kSqlite;
  std::string inputTable;   // table references as written (quoted by the caller)
  std::string outputTable;
  std::string inputWhere;   // conditions, or empty
  std::string outputWhere;
  std::vector<std::string> copied;  // columns copied unchanged (unquoted names)
  bool byConstants = false;  // BY values written as constant columns; else they select the rows
  std::vector<ByValue> by;
  std::vector<std::string> inputNames, outputNames, residualNames, partialNames;
  std::vector<double> inputMean, inputStd;      // n
  std::vector<double> intercept;                // k
  std::vector<double> score;                    // k x n, row j the coefficients of score j
  std::vector<double> eigval;                   // k
  std::vector<double> partialMean, partialStd;  // q
  std::vector<double> partial;                  // q x n, (k, i) at k * n + i
  std::vector<double> condStd, prsq;            // n
  std::vector<int> columnTypes;  // n + q classes of column_types.hpp; empty: all numeric
  // The class of each copied column (column_types.hpp; empty or missing:
  // numeric): booleans and reals, copied or BY columns, are written and
  // compared as the numbers zul reads (0 and 1, the decimal text); BY
  // dates, times and timestamps are compared as days and seconds since 1960.
  std::vector<int> copiedTypes;
  bool lowerInsertNames = false;  // the output table's columns are named in lower case
  std::string locale = "EN_US";  // the host's locale and encoding, for formatted BY values
  std::string encoding = "wlatin1";
};

// Below this fraction of the first eigenvalue a score is written as 0.
inline constexpr double kTinyEigenvalueRatio = 1.1368683772161608E-13;
// At or above this squared multiple correlation with the partials an input
// is taken as wholly explained: its residual is 0.
inline constexpr double kResidualPrsqLimit = 0.9999999999998863;

// The statement that computes and inserts the scores, ending in ";".
std::string scoringStatement(const ScoringSpec& s);

// " select " + the input and partial columns + " from " + the input: the
// statement prepared (not run) to learn the columns' types.
std::string typeProbeStatement(const ScoringSpec& s);

// The expression of a formatted BY value, and the query that checks that
// the database can compute it (the first row only).
std::string formattedValue(const ScoringSpec& s, const ByValue& b);
std::string formatCheckStatement(const ScoringSpec& s, const ByValue& b);

}  // namespace sqlgen
