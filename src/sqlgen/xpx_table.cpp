#include "sqlgen/xpx_table.hpp"

#include <algorithm>
#include <cmath>
#include <iterator>

#include "sqlgen/crossproduct_sql.hpp"
#include "sqlgen/dialect.hpp"

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

namespace {

// Whether a > b beyond the rounding of sums of up to 2^53 terms taken in
// different orders (a database adds its rows in any order).
bool clearlyAbove(double a, double b) { return a > b + 1e-9 * std::fabs(b); }

std::string countFault(const XpxGroup& g) {
  const double counts[] = {g.nRead,    g.nUsed,       g.nMissing,   g.freqRead,
                           g.freqUsed, g.weightsRead, g.weightsUsed};
  const std::vector<std::string> names = xpxColumnNames({}, {});
  for (size_t c = 0; c < std::size(counts); ++c)
    if (counts[c] < 0) return "its column " + names[c] + " holds a negative count";
  // Records, and frequencies (their integer parts), are whole numbers.
  for (size_t c = 0; c < 5; ++c)
    if (counts[c] != std::floor(counts[c]))
      return "its column " + names[c] + " holds " + numberLiteral(counts[c]) +
             ", not a whole number";
  if (g.nUsed + g.nMissing > g.nRead)
    return "its _NUSED_ and _NMISS_ add up to more than its _NREAD_";
  if (clearlyAbove(g.freqUsed, g.freqRead)) return "its _FUSED_ is more than its _FREAD_";
  if (g.freqUsed < g.nUsed)
    return "its _FUSED_ is less than its _NUSED_, though a record used has a frequency of 1 or "
           "more";
  return {};
}

}  // namespace

std::string xpxGroupFault(const XpxGroup& g, const std::vector<std::string>& variables) {
  if (std::string fault = countFault(g); !fault.empty()) return fault;
  if (g.nUsed == 0) {
    bool sums = g.freqUsed != 0 || g.weightsUsed != 0;
    for (const auto* part : {&g.sums, &g.packed})
      for (const double x : *part) sums = sums || x != 0;
    if (sums) return "it uses no record (_NUSED_ is 0) but holds sums or weights of used records";
    return {};
  }
  // Q_ii - S_i^2 / W is a sum of w (x - mean)^2: below zero only by the
  // rounding of sums of many records, far less than a millionth of Q_ii.
  for (size_t i = 0; i < g.sums.size() && g.weightsUsed > 0; ++i) {
    const double q = g.packed[i * (i + 3) / 2], c = g.sums[i] * g.sums[i] / g.weightsUsed;
    if (q - c < -1e-6 * std::max(std::fabs(q), c)) {
      const std::string qi = std::to_string(i + 1);
      return "its _Q" + qi + "_" + qi + "_ is less than the square of the sum of " +
             (i < variables.size() ? variables[i] : "variable " + qi) +
             " over _WUSED_, a negative variance";
    }
  }
  return {};
}

namespace {

double orZero(double x) { return std::isfinite(x) ? x : 0.0; }

// The aggregate's row as a group, its values as read (a null is NaN).
XpxGroup aggregateAsRead(const double* row, int n) {
  const CrossLayout L{0, n};
  XpxGroup g;
  g.nRead = row[L.recordsRead()];
  g.nUsed = row[L.used()];
  g.nMissing = row[L.missing()];
  g.freqRead = row[L.freqRead()];
  g.freqUsed = row[L.freqUsed()];
  g.weightsRead = row[L.weightsRead()];
  g.weightsUsed = row[L.weightsUsed()];
  for (int i = 0; i < n; ++i) {
    g.sums.push_back(row[L.sum(i)]);
    g.shift.push_back(row[L.shift(i)]);
  }
  for (int p = 0; p < n * (n + 1) / 2; ++p) g.packed.push_back(row[L.cross(p)]);
  return g;
}

}  // namespace

int xpxOverflow(const XpxGroup& g) {
  if (!(g.nUsed > 0)) return kXpxNoOverflow;
  for (const double w : {g.freqRead, g.freqUsed, g.weightsRead, g.weightsUsed})
    if (!std::isfinite(w)) return kXpxWeightsOverflow;
  // The variable whose own square overflowed, before one whose product with it did.
  for (size_t i = 0; i < g.sums.size(); ++i)
    if (!std::isfinite(g.sums[i]) || !std::isfinite(g.packed[i * (i + 3) / 2]))
      return static_cast<int>(i);
  size_t p = 0;
  for (size_t i = 0; i < g.sums.size(); ++i)
    for (size_t j = 0; j <= i; ++j, ++p)
      if (!std::isfinite(g.packed[p])) return static_cast<int>(i);
  return kXpxNoOverflow;
}

int aggregateOverflow(const double* row, int n) { return xpxOverflow(aggregateAsRead(row, n)); }

XpxGroup xpxFromAggregate(const double* row, int n) {
  XpxGroup g = aggregateAsRead(row, n);
  for (double* c : {&g.nRead, &g.nUsed, &g.nMissing, &g.freqRead, &g.freqUsed, &g.weightsRead,
                    &g.weightsUsed})
    *c = orZero(*c);
  for (auto* part : {&g.sums, &g.shift, &g.packed})
    for (double& x : *part) x = orZero(x);
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
