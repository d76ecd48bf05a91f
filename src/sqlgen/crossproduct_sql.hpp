// The crossproducts of a table computed inside its database: one aggregate
// statement that returns, per BY group, the counts, the sums and the packed
// crossproducts of the analysis variables about a shift, with the
// observation rules of the row path written in SQL.
//
// Observation rules, in the order the row path applies them: a FREQ value
// that is missing or whose integer part is at most 0 drops the record as
// non-positive (the frequency is the integer part); so does a WEIGHT that
// is missing or at most 0; then a record with a missing value in any
// variable is dropped as missing. A null, a NaN and an infinity are all
// missing. Every column is cast to double precision before anything is
// multiplied (PostgreSQL integers overflow at 2^31).
//
// The shift. Sums and crossproducts about a value near the mean keep the
// corrected crossproducts accurate when the means are large against the
// spread (values near 1e6 with unit variance lose every digit in raw sums:
// West 1979; Chan, Golub and LeVeque 1983). Two shifts are offered:
//  - kMeans: the group's own means, taken by a first aggregate over the
//    same rows in the same statement (two passes over the table);
//  - kConstant: one vector of values given by the caller, such as the first
//    usable row taken by firstUsableRowStatement() (one cheap query, then
//    one pass); the same for every BY group.
//  - kZero: raw sums (moments about zero, NOINT).
// Sums about a common constant shift add up across parts of a table (the
// partitions of a partitioned table, or tables summarised by parts).
//
// Result columns, per group in BY order (missing BY values first): the BY
// columns, then
//   _USED_ _FREQ_ _WGT_        records used, frequencies used, weights used
//   _SHIFT1_ .. _SHIFTn_       the shift
//   _S1_ .. _Sn_               sums of weight * (x - shift)
//   _Q1_1_ _Q2_1_ _Q2_2_ ..    crossproducts of the deviations, the lower
//                              triangle by rows (packed order)
//   _READ_ _MISS_ _NONPOS_     records read, dropped for a missing value,
//                              dropped for a weight or frequency
//   _FREAD_ _WREAD_            frequencies read, weights read
// A group without a usable record has sums 0 and a null shift.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "sqlgen/dialect.hpp"

namespace sqlgen {

struct CrossRequest {
  Dialect dialect = Dialect::kSqlite;
  std::string from;   // a table reference written by the caller (quoted), or "(query) as q"
  std::string where;  // a condition on the rows, or empty
  std::vector<std::string> variables;  // analysis (then partial) columns, unquoted names
  // The class of each variable's column (column_types.hpp): dates count
  // days, times and timestamps seconds, from 1 January 1960, as they do to
  // the row path and to the scoring statement. Empty: all numeric.
  std::vector<int> types;
  std::vector<std::string> by;         // BY columns, unquoted names
  // The display format of each BY column ("w.d" or "$w.", put_format.hpp),
  // empty for none (missing entries too). A formatted BY variable forms its
  // groups by the formatted value (zul_put): its result column holds the
  // smallest raw value of the group, the value of the group's first row in
  // ascending BY order. The format is monotone, so the groups come in the
  // order of these values.
  std::vector<std::string> byFormats;
  // True for each character BY column (missing entries: numeric). Its
  // values form groups as zul compares them: without trailing blanks, in
  // the order of their bytes (comparedText(), inByteOrder()).
  std::vector<bool> byCharacter;
  // The class of each numeric BY column, as `types` (empty: numeric): a
  // date BY variable's format writes its day count.
  std::vector<int> byTypes;
  std::string freq;                    // FREQ column, or empty
  std::string weight;                  // WEIGHT column, or empty
  // The derived tables end with the dialect's fence (dialect.hpp), so
  // that each row's values are computed once. Off only where the whole
  // aggregate must stay one plain query over the table (a part on another
  // server: its aggregate is sent there only when it reads the table itself).
  bool fenced = true;
};

enum class ShiftKind { kMeans, kConstant, kZero };

// The aggregate statement. `shift` holds one value per variable for
// kConstant (a missing or non-finite value is taken as 0).
std::string crossproductStatement(const CrossRequest& r, ShiftKind kind,
                                  const std::vector<double>& shift = {});

// The same result for a table split into parts (the leaf partitions of a
// partitioned table: `parts` are their quoted references, at least one):
// one aggregate per part, joined by "union all", whose rows are added up
// per BY group by an outer statement. Each part's aggregate is a plain
// aggregate over one table, so a database that keeps the part on another
// server (a foreign table) can run it there whole and send back one row per
// group. The parts are added about one common shift: kMeans is taken as
// kConstant, since sums about each part's own means do not add.
std::string partsCrossproductStatement(const CrossRequest& r, const std::vector<std::string>& parts,
                                       ShiftKind kind, const std::vector<double>& shift = {});

// Whether one BY group keeps its digits when summed about the common
// `shift` of partsCrossproductStatement(): `moments` is the group's row of
// that statement about zero (ShiftKind::kZero), the columns after the BY
// columns; or about the shift itself, `shift` then left empty, which keeps
// the digits of the variances when the shift is near. A group whose means
// lie more than 10 standard deviations from the shift would lose their
// square's worth of digits to cancellation (groups near 0 and near 1e6
// cannot share a shift); such a table is summed whole, about each group's
// own means. `maxSquaredDistance` is that limit in variances (10 standard
// deviations: 100).
bool commonShiftFits(const std::vector<double>& moments, int n, const std::vector<double>& shift,
                     double maxSquaredDistance = 100.0);

// PostgreSQL: the leaf partitions of a partitioned table, one quoted
// reference ("schema"."name") a row in column _PART_, nested partitions
// followed down to their leaves; no row when `table` (a quoted reference)
// is not partitioned, or when no leaf is a foreign table: the database
// sums local partitions itself as well, and a plain table keeps the
// two-pass shift of each group's means. No row either when the role may
// not read every leaf by its name, or when any table of the tree has row
// security: the parent's rows are not those of its leaves read apart.
std::string leafPartitionsQuery(std::string_view table);

// Statements have only so many result columns (PostgreSQL 1664, SQLite
// 2000 by default), and the packed crossproducts of n variables need about
// n^2/2. A wider request is written as several blocks of the same result
// row, one per output row of its BY group: the BY columns, "_BLOCK_" (0,
// 1, ...) and "_C1_" .. "_Ck_", block b holding the columns b*k .. b*k+k-1
// of the order above (null beyond the last). The blocks are a union of
// aggregates over one common table expression of the deviations, so that
// every block is summed about the same shift; or over the table
// `deviationTable` that deviationTableStatement() made. SQLite copies a
// common table expression into every select that names it, so that its
// statement would grow like n^3; a temporary table keeps it like n^2.
inline constexpr const char* kCrossBlockColumn = "_BLOCK_";
std::string crossproductBlockStatement(const CrossRequest& r, ShiftKind kind, const std::vector<double>& shift,
                                       int blockColumns, const std::string& deviationTable = {});
// Creates the temporary table `table` of the deviations the blocks sum.
std::string deviationTableStatement(const CrossRequest& r, ShiftKind kind, const std::vector<double>& shift,
                                    const std::string& table);
int crossBlockCount(int n, int blockColumns);
std::string crossBlockValueName(int k);  // "_C1_" for k = 0

// The first usable row's values of the variables (one row, n columns, or
// none when no record is usable): a cheap shift for kConstant.
std::string firstUsableRowStatement(const CrossRequest& r);

// Where each part of a result row stands, after the BY columns.
struct CrossLayout {
  int nBy = 0, n = 0;
  int used() const { return nBy; }
  int freqUsed() const { return nBy + 1; }
  int weightsUsed() const { return nBy + 2; }
  int shift(int i) const { return nBy + 3 + i; }
  int sum(int i) const { return nBy + 3 + n + i; }
  int cross(int packedIndex) const { return nBy + 3 + 2 * n + packedIndex; }
  int tail() const { return nBy + 3 + 2 * n + n * (n + 1) / 2; }
  int recordsRead() const { return tail(); }
  int missing() const { return tail() + 1; }
  int nonPositive() const { return tail() + 2; }
  int freqRead() const { return tail() + 3; }
  int weightsRead() const { return tail() + 4; }
  int columns() const { return tail() + 5; }
};

// The names of the result columns after the BY columns, in order.
std::vector<std::string> crossColumnNames(int n);

}  // namespace sqlgen
