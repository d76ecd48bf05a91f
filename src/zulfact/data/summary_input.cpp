#include "zulfact/data/summary_input.hpp"

#include <cmath>

#include "sqlgen/crossproduct_sql.hpp"

namespace zulfact {

namespace {

double count(double x) { return std::isfinite(x) ? x : 0.0; }

}  // namespace

SummarySums summaryFromZsql(const double* row, int n, bool noint) {
  const sqlgen::CrossLayout L{0, n};
  SummarySums s;
  ObsCounters& c = s.counts;
  c.recordsUsed = count(row[L.used()]);
  c.freqUsed = count(row[L.freqUsed()]);
  c.weightsUsed = count(row[L.weightsUsed()]);
  c.recordsRead = count(row[L.recordsRead()]);
  c.missingRecords = count(row[L.missing()]);
  c.nonPositive = count(row[L.nonPositive()]);
  c.freqRead = count(row[L.freqRead()]);
  c.weightsRead = count(row[L.weightsRead()]);
  const size_t un = static_cast<size_t>(n);
  s.sums.resize(un);
  s.shift.resize(un);
  for (int i = 0; i < n; ++i) {
    const double h = row[L.shift(i)];
    s.shift[static_cast<size_t>(i)] = noint || !std::isfinite(h) ? 0.0 : h;
    const double sum = count(row[L.sum(i)]);
    s.sums[static_cast<size_t>(i)] = noint ? sum : -sum;
  }
  s.packed.resize(un * (un + 1) / 2);
  for (size_t p = 0; p < s.packed.size(); ++p) s.packed[p] = row[L.cross(static_cast<int>(p))];
  return s;
}

}  // namespace zulfact
