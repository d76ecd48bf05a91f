// Checks and trace of the scoring descriptor.
#include <cmath>
#include <cstdio>

#include "sqlgen/column_types.hpp"
#include "zulfact/indb/indb.hpp"

namespace zulfact {

namespace {

std::string line(const char* format, double value) {
  char buf[160];
  std::snprintf(buf, sizeof buf, format, value);
  return buf;
}

std::string field(const char* label, bool present) {
  return std::string(label) + (present ? "present" : "(null)");
}

}  // namespace

std::vector<std::string> scoringFaults(const sqlgen::ScoringSpec& s) {
  std::vector<std::string> out;
  if (s.inputTable.empty()) out.push_back("zsqlsco1: sqldata is null");
  if (s.outputTable.empty()) out.push_back("zsqlsco1: sqlout is null");
  if (s.inputNames.empty()) out.push_back("zsqlsco1: input_names is null");
  for (const auto& n : s.inputNames)
    if (n.empty()) out.push_back("zsqlsco1: input_chars=0");
  if (s.outputNames.empty()) out.push_back("zsqlsco1: num_output=0");
  for (const auto& n : s.outputNames)
    if (n.empty()) out.push_back("zsqlsco1: output_chars=0");
  const size_t n = s.inputNames.size(), k = s.outputNames.size(), q = s.partialNames.size();
  auto sized = [&](const std::vector<double>& v, size_t want, const char* name) {
    if (!v.empty() && v.size() != want)
      out.push_back("zsqlsco1: " + std::string(name) + " holds " + std::to_string(v.size()) +
                    " values, not " + std::to_string(want));
  };
  sized(s.inputMean, n, "input_mean");
  sized(s.inputStd, n, "input_std");
  sized(s.intercept, k, "intercept");
  sized(s.score, k * n, "score");
  sized(s.eigval, k, "eigval");
  sized(s.partialMean, q, "partial_mean");
  sized(s.partialStd, q, "partial_std");
  sized(s.partial, q * n, "partial");
  sized(s.condStd, n, "cond_std");
  sized(s.prsq, n, "prsq");
  if (q > 0 && s.residualNames.size() != n) out.push_back("zsqlsco1: residual_names is null");
  return out;
}

std::vector<std::string> scoringTrace(const sqlgen::ScoringSpec& s, int level) {
  std::vector<std::string> out = {
      "sqldata        =" + s.inputTable,
      "sqlout         =" + s.outputTable,
      "by flag        =" + std::to_string(s.byConstants ? 1 : 0),
      "num_input      =" + std::to_string(s.inputNames.size()),
      "num_partial    =" + std::to_string(s.partialNames.size()),
      "num_output     =" + std::to_string(s.outputNames.size()),
      "num_by         =" + std::to_string(s.by.size()),
      field("input_mean     =", !s.inputMean.empty()),
      field("input_std      =", !s.inputStd.empty()),
      field("intercept      =", !s.intercept.empty()),
      field("score          =", !s.score.empty()),
      field("eigval         =", !s.eigval.empty()),
      field("partial_mean   =", !s.partialMean.empty()),
      field("partial_std    =", !s.partialStd.empty()),
      field("partial        =", !s.partial.empty()),
      field("cond_std       =", !s.condStd.empty()),
      field("prsq           =", !s.prsq.empty())};
  if (level <= 1) return out;
  const size_t n = s.inputNames.size();
  for (size_t i = 0; i < n; ++i) {
    out.push_back("input=" + s.inputNames[i]);
    if (i < s.inputMean.size()) out.push_back(line(" mean  = %12g", s.inputMean[i]));
    if (i < s.inputStd.size()) out.push_back(line(" std   = %12g", s.inputStd[i]));
  }
  for (size_t j = 0; j < s.outputNames.size(); ++j) {
    out.push_back("output=" + s.outputNames[j]);
    if (j < s.eigval.size()) out.push_back(line("  eigval=%12g", s.eigval[j]));
    if (j < s.intercept.size()) out.push_back(line("  intercept=%12g", s.intercept[j]));
    std::string coefs;
    for (size_t i = 0; i < n && j * n + i < s.score.size(); ++i)
      coefs += s.inputNames[i] + line(" = %12g  ", s.score[j * n + i]);
    out.push_back(coefs);
  }
  return out;
}

std::string unscorableColumn(int code, const std::string& column) {
  const int cls = sqlgen::classifySqlType(code);
  if (cls == sqlgen::kTypeCharacter)
    return "Character DBMS type " + std::to_string(code) + " returned by QKTSDescribeCol for " + column;
  if (cls == sqlgen::kTypeUnsupported)
    return "Unsupported DBMS type " + std::to_string(code) + " returned by QKTSDescribeCol for " + column;
  return {};
}

}  // namespace zulfact
