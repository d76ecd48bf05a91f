#include "zulfact/data/summary_input.hpp"

#include <algorithm>
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

SummarySums summaryFromXpx(const sqlgen::XpxGroup& g, const std::vector<int>& index, bool noint) {
  sqlgen::XpxGroup sel;
  sel.weightsUsed = g.weightsUsed;
  for (size_t a = 0; a < index.size(); ++a) {
    const size_t i = static_cast<size_t>(index[a]);
    sel.sums.push_back(g.sums[i]);
    sel.shift.push_back(g.shift[i]);
    for (size_t b = 0; b <= a; ++b) {
      const size_t j = static_cast<size_t>(index[b]);
      sel.packed.push_back(g.packed[std::max(i, j) * (std::max(i, j) + 1) / 2 + std::min(i, j)]);
    }
  }
  if (noint) sqlgen::moveShift(sel, std::vector<double>(index.size(), 0.0));
  SummarySums s;
  ObsCounters& c = s.counts;
  c.recordsRead = g.nRead;
  c.recordsUsed = g.nUsed;
  c.missingRecords = g.nMissing;
  c.nonPositive = std::max(0.0, g.nRead - g.nUsed - g.nMissing);
  c.freqRead = g.freqRead;
  c.freqUsed = g.freqUsed;
  c.weightsRead = g.weightsRead;
  c.weightsUsed = g.weightsUsed;
  s.shift = sel.shift;
  s.packed = sel.packed;
  s.sums = sel.sums;
  if (!noint)
    for (double& x : s.sums) x = -x;
  return s;
}

}  // namespace zulfact
