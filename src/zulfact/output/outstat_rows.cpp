#include "zulfact/output/outstat_rows.hpp"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "zulfact/host/host.hpp"

namespace zulfact {

namespace {

constexpr int kTypeWidth = 8;
constexpr int kMaxNameWidth = 32;

std::string padded(std::string_view text, int width) {
  std::string s(text.substr(0, static_cast<size_t>(width)));
  s.resize(static_cast<size_t>(width), ' ');
  return s;
}

}  // namespace

int outstatNameWidth(const ProcState& ps) {
  return ps.nameWidth > 0 ? ps.nameWidth : nameColumnWidth(ps);  // as the parser declared it
}

int nameColumnWidth(const ProcState& ps) {
  int longest = 0;
  if (ps.varNames) {
    for (int i = 0; i < ps.nVars; ++i)
      longest = std::max(longest, static_cast<int>(std::strlen(ps.varNames + 33 * i)));
  } else {
    longest = ps.longestName;
  }
  if (ps.nPartial > 0) longest += ps.parPrefixLength;
  return std::min(kMaxNameWidth, std::max({8, static_cast<int>(ps.factorNameWidth), longest}));
}

void appendStatRow(ProcState& ps, std::string_view type, std::string_view name,
                   const double* values, int count) {
  if (!ps.outstatTable) return;
  const int p = ps.nVars;
  // Declared columns: _TYPE_, _NAME_, then the p variables.
  std::vector<double> row(static_cast<size_t>(p) + 2, zul_missing());
  const int n = std::min(count, p);
  for (int i = 0; i < n; ++i) row[static_cast<size_t>(i) + 2] = values[i];
  const std::string typeText = padded(type, kTypeWidth);
  const std::string nameText = padded(name, outstatNameWidth(ps));
  std::vector<const char*> texts(static_cast<size_t>(p) + 2, nullptr);
  texts[0] = typeText.data();
  texts[1] = nameText.data();
  const int rc = host().appendRow(ps.outstatTable, row.data(), texts.data());
  if (rc != 0) host().statusReport(rc);
}

void appendStatRowConstant(ProcState& ps, std::string_view type, double value) {
  std::vector<double> v(static_cast<size_t>(std::max(ps.nVars, 0)), value);
  appendStatRow(ps, type, {}, v.data(), ps.nVars);
}

}  // namespace zulfact
