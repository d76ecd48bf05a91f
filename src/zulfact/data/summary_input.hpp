// Crossproducts computed elsewhere: the one-row summaries that stand in for
// a group's raw observations. "_ZSQL_" is the row of the aggregate statement
// run inside the database (sqlgen/crossproduct_sql.hpp: records used,
// frequencies used, weights used, the shift, the sums, the packed
// crossproducts, then the other counts); "_MKXPX_" a stored crossproduct
// table (sqlgen/xpx_table.hpp). Both give the sums and counters that the
// crossproduct engine's finishing step takes (finishMoments).
#pragma once

#include <vector>

#include "sqlgen/xpx_table.hpp"
#include "zulfact/data/crossproducts.hpp"

namespace zulfact {

struct SummarySums {
  ObsCounters counts;
  std::vector<double> sums;    // n, as the engine keeps them: sum w (shift - x), or sum w x under NOINT
  std::vector<double> packed;  // n(n+1)/2 crossproducts about the shift
  std::vector<double> shift;   // n (0 under NOINT)
};

// From the values of a "_ZSQL_" row after its BY columns (CrossLayout
// order). The database's sums are of x - shift; the engine's of shift - x.
// A null shift (a group without a usable record) is taken as 0.
SummarySums summaryFromZsql(const double* row, int n, bool noint);

// From a crossproduct table's group (all its variables) the sums of the
// variables at `index` (positions among the table's variables, in analysis
// order). Under NOINT the sums are moved to a shift of 0 (raw moments).
// The table's records dropped for a weight or frequency are those neither
// used nor missing.
SummarySums summaryFromXpx(const sqlgen::XpxGroup& g, const std::vector<int>& index, bool noint);

}  // namespace zulfact
