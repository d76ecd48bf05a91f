#include "sqlgen/xpx_table.hpp"

#include <cmath>
#include <iterator>

#include "sqlgen/crossproduct_sql.hpp"

namespace sqlgen {

std::vector<std::string> xpxColumnNames(const std::vector<std::string>& by,
                                        const std::vector<std::string>& variables) {
  std::vector<std::string> out = {"_NREAD_", "_NUSED_", "_NMISS_", "_FREAD_", "_FUSED_",
                                  "_WREAD_", "_WUSED_", "_NVAR_",  "_KEY_",   "_DNAME_"};
  out.insert(out.end(), by.begin(), by.end());
  out.insert(out.end(), variables.begin(), variables.end());
  const size_t n = variables.size();
  for (size_t i = 1; i <= n; ++i)
    for (size_t j = 1; j <= i; ++j) out.push_back("_Q" + std::to_string(i) + "_" + std::to_string(j) + "_");
  for (size_t i = 1; i <= n; ++i) out.push_back("_SHIFT" + std::to_string(i) + "_");
  return out;
}

std::string negativeCountColumn(const XpxGroup& g) {
  const double counts[] = {g.nRead,    g.nUsed,       g.nMissing,   g.freqRead,
                           g.freqUsed, g.weightsRead, g.weightsUsed};
  const std::vector<std::string> names = xpxColumnNames({}, {});
  for (size_t c = 0; c < std::size(counts); ++c)
    if (counts[c] < 0) return names[c];
  return {};
}

namespace {

double orZero(double x) { return std::isfinite(x) ? x : 0.0; }

}  // namespace

XpxGroup xpxFromAggregate(const double* row, int n) {
  const CrossLayout L{0, n};
  XpxGroup g;
  g.nRead = orZero(row[L.recordsRead()]);
  g.nUsed = orZero(row[L.used()]);
  g.nMissing = orZero(row[L.missing()]);
  g.freqRead = orZero(row[L.freqRead()]);
  g.freqUsed = orZero(row[L.freqUsed()]);
  g.weightsRead = orZero(row[L.weightsRead()]);
  g.weightsUsed = orZero(row[L.weightsUsed()]);
  for (int i = 0; i < n; ++i) {
    g.sums.push_back(orZero(row[L.sum(i)]));
    g.shift.push_back(orZero(row[L.shift(i)]));
  }
  for (int p = 0; p < n * (n + 1) / 2; ++p) g.packed.push_back(orZero(row[L.cross(p)]));
  return g;
}

std::vector<double> xpxNumbers(const XpxGroup& g, double key) {
  std::vector<double> v = {g.nRead,       g.nUsed,       g.nMissing,
                           g.freqRead,    g.freqUsed,    g.weightsRead,
                           g.weightsUsed, static_cast<double>(g.sums.size()), key};
  v.insert(v.end(), g.sums.begin(), g.sums.end());
  v.insert(v.end(), g.packed.begin(), g.packed.end());
  v.insert(v.end(), g.shift.begin(), g.shift.end());
  return v;
}

void moveShift(XpxGroup& g, const std::vector<double>& to) {
  const size_t n = g.sums.size();
  std::vector<double> d(n);
  for (size_t i = 0; i < n; ++i) d[i] = g.shift[i] - to[i];
  const double w = g.weightsUsed;
  size_t p = 0;
  for (size_t i = 0; i < n; ++i)
    for (size_t j = 0; j <= i; ++j, ++p) g.packed[p] += d[i] * g.sums[j] + g.sums[i] * d[j] + w * d[i] * d[j];
  for (size_t i = 0; i < n; ++i) g.sums[i] += w * d[i];
  g.shift = to;
}

void combineParts(XpxGroup& a, XpxGroup b) {
  const bool aEmpty = a.nUsed <= 0, bEmpty = b.nUsed <= 0;
  if (aEmpty && !bEmpty) {
    std::swap(a.sums, b.sums);
    std::swap(a.packed, b.packed);
    std::swap(a.shift, b.shift);
  } else if (!bEmpty) {
    if (b.shift != a.shift) moveShift(b, a.shift);
    for (size_t i = 0; i < a.sums.size(); ++i) a.sums[i] += b.sums[i];
    for (size_t p = 0; p < a.packed.size(); ++p) a.packed[p] += b.packed[p];
  }
  a.nRead += b.nRead;
  a.nUsed += b.nUsed;
  a.nMissing += b.nMissing;
  a.freqRead += b.freqRead;
  a.freqUsed += b.freqUsed;
  a.weightsRead += b.weightsRead;
  a.weightsUsed += b.weightsUsed;
}

}  // namespace sqlgen
