// The crossproduct table ("_MKXPX_"): the counts, sums and crossproducts of
// a table's variables, one row per BY group, written once and analysed many
// times (FACTOR DATA=lib._MKXPX_ reads it in place of the observations).
//
// Columns, in order:
//   _NREAD_ _NUSED_ _NMISS_   records read, used, dropped for a missing value
//   _FREAD_ _FUSED_           frequencies read, used
//   _WREAD_ _WUSED_           weights read, used (the weights of the sums)
//   _NVAR_                    n, the number of variables summarised
//   _KEY_                     the BY group's number, from 1 in BY order (0 without BY)
//   _DNAME_                   "LIB.MEMBER" of the data summarised (42 characters)
//   the BY variables          the group's values, under their own names
//   the n variables           under their own names: sum of w * (x - shift)
//   _Q1_1_ _Q2_1_ _Q2_2_ ..   crossproducts of (x - shift), lower triangle by rows
//   _SHIFT1_ .. _SHIFTn_      the shift they are taken about
// Records dropped for a weight or frequency are _NREAD_ - _NUSED_ - _NMISS_.
// Tables of parts of one table add up: counts, sums and crossproducts about
// a common shift add; parts about different shifts are first moved to one
// (combineParts, after Chan, Golub and LeVeque 1983).
#pragma once

#include <string>
#include <vector>

namespace sqlgen {

inline constexpr int kXpxCountColumns = 8;

// The names of the columns, given the BY and variable names.
std::vector<std::string> xpxColumnNames(const std::vector<std::string>& by,
                                        const std::vector<std::string>& variables);

// One group's numbers (the BY values and the name kept apart).
struct XpxGroup {
  double nRead = 0, nUsed = 0, nMissing = 0, freqRead = 0, freqUsed = 0, weightsRead = 0,
         weightsUsed = 0;
  std::vector<double> sums;    // n: sum w (x - shift)
  std::vector<double> packed;  // n(n+1)/2
  std::vector<double> shift;   // n
};

// Why g cannot be the summary of any records, empty when it can be: a
// negative count, a number of records or of frequencies (integer parts)
// that is not whole, more records used and dropped than read, more
// frequencies used than read or fewer than the records used, a group
// without a used record that holds sums or weights, or a sum of squares
// that leaves a variance below zero. Such a row is a table edited by hand,
// whose sums cannot be trusted. The phrase names the column ("its column
// _NUSED_ holds a negative count"), and the variable, of g's order, by its
// name in `variables` when given.
std::string xpxGroupFault(const XpxGroup& g, const std::vector<std::string>& variables = {});

// A group from the aggregate statement's row (crossproduct_sql.hpp), the
// values after its BY columns. A null shift (no usable record) becomes 0.
XpxGroup xpxFromAggregate(const double* row, int n);

// Where the sums of a group overflowed: kXpxWeightsOverflow when its
// frequencies or weights add up past the largest double, else the first
// variable (by number, from 0) whose sum or crossproducts did, else
// kXpxNoOverflow. A group without a used record has nothing to overflow.
inline constexpr int kXpxNoOverflow = -1;
inline constexpr int kXpxWeightsOverflow = -2;
int xpxOverflow(const XpxGroup& g);

// The same of an aggregate statement's row, read before xpxFromAggregate
// takes its nulls for 0: the database's infinity (SQLite keeps one, and a
// reader takes it for a missing value) marks a sum that overflowed.
int aggregateOverflow(const double* row, int n);

// The values of a table row from the _NREAD_ column to the last, with the
// BY values and _DNAME_ left out: 8 counts, the key, then the sums, the
// crossproducts and the shift.
std::vector<double> xpxNumbers(const XpxGroup& g, double key);

// Moves a group's sums and crossproducts to another shift: with
// d = shift - to, S' = S + W d and Q' = Q + d S^T + S d^T + W d d^T.
void moveShift(XpxGroup& g, const std::vector<double>& to);

// Adds part b into a: about a's shift (b is moved first when its shift
// differs). A part without a used record only adds its counts.
void combineParts(XpxGroup& a, XpxGroup b);

}  // namespace sqlgen
