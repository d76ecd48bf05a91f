#include "zulfact/output/outstat_rows.hpp"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "zulfact/host/host.hpp"
#include "kernels/packed.hpp"
#include "zulfact/output/vector_table.hpp"

namespace zulfact {

using kernels::packedIndex;

namespace {

constexpr int kTypeWidth = 8;
constexpr int kMaxNameWidth = 32;

std::string padded(std::string_view text, int width) {
  std::string s(text.substr(0, static_cast<size_t>(width)));
  s.resize(static_cast<size_t>(width), ' ');
  return s;
}

// One row held back until its group ends: the values and the two texts
// as they will be appended.
struct HeldRow {
  std::vector<double> values;
  std::string type, name;
};
// A step runs on one thread, one at a time.
bool g_holding = false;
bool g_failed = false;
std::vector<HeldRow> g_held;

void appendNow(ProcState& ps, HeldRow& row) {
  std::vector<const char*> texts(row.values.size(), nullptr);
  texts[0] = row.type.data();
  texts[1] = row.name.data();
  const int rc = host().appendRow(ps.opt.outstatTable, row.values.data(), texts.data());
  if (rc != 0) host().statusReport(rc);
}

}  // namespace

void holdGroupRows() {
  g_held.clear();
  g_holding = true;
  g_failed = false;
}

void failGroupRows() { g_failed = true; }
bool groupRowsFailed() { return g_holding && g_failed; }

void releaseGroupRows(ProcState& ps, bool keep) {
  keep = keep && !g_failed;
  g_holding = false;
  g_failed = false;
  std::vector<HeldRow> rows;
  rows.swap(g_held);
  if (!keep || !ps.opt.outstatTable) return;
  for (HeldRow& row : rows) appendNow(ps, row);
}

int outstatNameWidth(const ProcState& ps) {
  return ps.opt.nameWidth > 0 ? ps.opt.nameWidth : nameColumnWidth(ps);  // as the parser declared it
}

std::string_view solutionRowType(const char* type8, char* upper9) {
  for (int k = 0; k < kTypeWidth; ++k) {
    const char c = type8[k] == '\0' ? ' ' : type8[k];
    upper9[k] = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  upper9[kTypeWidth] = '\0';
  if (std::memcmp(upper9, "FACTOR  ", kTypeWidth) == 0) std::memcpy(upper9, "PATTERN ", kTypeWidth);
  // OUTSTAT= under NOINT writes the scoring coefficients as USCORE rows.
  if (std::memcmp(upper9, "USCORE  ", kTypeWidth) == 0) std::memcpy(upper9, "SCORE   ", kTypeWidth);
  return {upper9, kTypeWidth};
}

int nameColumnWidth(const ProcState& ps) {
  int longest = 0;
  if (ps.opt.varNames) {
    for (int i = 0; i < ps.opt.nVars; ++i)
      longest = std::max(longest, static_cast<int>(std::strlen(ps.opt.varNames + 33 * i)));
  } else {
    longest = ps.opt.longestName;
  }
  if (ps.opt.nPartial > 0) longest += ps.opt.parPrefixLength;
  return std::min(kMaxNameWidth, std::max({8, static_cast<int>(ps.factorNameWidth), longest}));
}

void appendStatRow(ProcState& ps, std::string_view type, std::string_view name,
                   const double* values, int count) {
  if (!ps.opt.outstatTable) return;
  const int p = ps.opt.nVars;
  // Declared columns: _TYPE_, _NAME_, then the p variables.
  HeldRow row{std::vector<double>(static_cast<size_t>(p) + 2, zul_missing()),
              padded(type, kTypeWidth), padded(name, outstatNameWidth(ps))};
  const int n = std::min(count, p);
  for (int i = 0; i < n; ++i) row.values[static_cast<size_t>(i) + 2] = values[i];
  if (g_holding) g_held.push_back(std::move(row));
  else appendNow(ps, row);
}

void appendStatRowConstant(ProcState& ps, std::string_view type, double value) {
  std::vector<double> v(static_cast<size_t>(std::max(ps.opt.nVars, 0)), value);
  appendStatRow(ps, type, {}, v.data(), ps.opt.nVars);
}

void appendFactorColumnRows(ProcState& ps, std::string_view type, const double* matrix, int m) {
  const int p = ps.opt.nVars;
  for (int k = 0; k < m; ++k)
    appendStatRow(ps, type, factorName(ps, k), matrix + static_cast<int64_t>(k) * p, p);
}

namespace {

bool always(const ProcState&) { return true; }
bool rotated(const ProcState& ps) { return ps.opt.flags.rotationRequested; }
bool oblique(const ProcState& ps) { return ps.obliqueCount > 0; }
bool scored(const ProcState& ps) { return ps.scoresReady; }

const double* transformOf(const ProcState& ps) { return ps.transform; }
const double* factorCorrOf(const ProcState& ps) { return ps.factorCorr; }
const double* stdErrFactorCorrOf(const ProcState& ps) { return ps.stdErrFactorCorr; }
const double* patternOf(const ProcState& ps) { return ps.loadings; }
const double* stdErrPatternOf(const ProcState& ps) { return ps.stdErrPattern; }
const double* refAxisCorrOf(const ProcState& ps) { return ps.refAxisCorr; }
const double* refStructureOf(const ProcState& ps) { return ps.refStructure; }
const double* structureOf(const ProcState& ps) { return ps.structure; }
const double* stdErrStructureOf(const ProcState& ps) { return ps.stdErrStructure; }
const double* scoringOf(const ProcState& ps) { return ps.scoreCoefficients; }

// Standard errors are written when the step that computes them left them.
bool stdErrPattern(const ProcState& ps) { return ps.stdErrPattern != nullptr; }
bool obliqueStdErrFactorCorr(const ProcState& ps) {
  return oblique(ps) && ps.stdErrFactorCorr != nullptr;
}
bool obliqueStdErrStructure(const ProcState& ps) {
  return oblique(ps) && ps.stdErrStructure != nullptr;
}

using Shape = SolutionRowShape;
constexpr SolutionRowKind kSolutionRows[] = {
    {"TRANSFOR", "PRETRANS", Shape::FactorColumns, transformOf, rotated},
    {"FCORR", "PREFCORR", Shape::PackedFactors, factorCorrOf, oblique},
    {"SE_FCORR", "SE_PREFC", Shape::PackedFactors, stdErrFactorCorrOf, obliqueStdErrFactorCorr},
    {"PATTERN", "PREROTAT", Shape::VariableColumns, patternOf, always},
    {"SE_PAT", "SE_PREPA", Shape::VariableColumns, stdErrPatternOf, stdErrPattern},
    {"RCORR", "PRERCORR", Shape::PackedFactors, refAxisCorrOf, oblique},
    {"REFERENC", "PREREFER", Shape::VariableColumns, refStructureOf, oblique},
    {"STRUCTUR", "PRESTRUC", Shape::VariableColumns, structureOf, oblique},
    {"SE_STRUC", "SE_PREST", Shape::VariableColumns, stdErrStructureOf, obliqueStdErrStructure},
    {"SCORE", "PRESCORE", Shape::VariableColumns, scoringOf, scored},
};

}  // namespace

const SolutionRowKind* solutionRowKinds(int& count) {
  count = static_cast<int>(std::size(kSolutionRows));
  return kSolutionRows;
}

bool isStatRowType(std::string_view type) {
  type = type.substr(0, kTypeWidth);
  while (!type.empty() && type.back() == ' ') type.remove_suffix(1);
  // The rows written outside the catalogue (data pass, unrotated solution,
  // residuals, image analysis).
  static constexpr std::string_view kOthers[] = {
      "MEAN", "STD", "USTD", "N", "SUMWGT", "CORR", "UCORR", "COMMUNAL", "PRIORS", "WEIGHT",
      "EIGENVAL", "UNROTATE", "SE_UNROT", "RESIDUAL", "USCORE", "IMAGE", "IMAGECOV"};
  for (std::string_view t : kOthers)
    if (type == t) return true;
  for (const SolutionRowKind& kind : kSolutionRows)
    if (type == kind.finalType || type == kind.preType) return true;
  return false;
}

void writeSolutionRows(ProcState& ps, int final) {
  if (!ps.opt.outstatTable) return;
  const int p = ps.opt.nVars;
  const int m = ps.nFactors;
  std::vector<double> row(static_cast<size_t>(std::max(m, 0)));
  for (const SolutionRowKind& kind : kSolutionRows) {
    const double* a = kind.matrix(ps);
    if (a == nullptr || !kind.written(ps)) continue;
    std::string_view type = final ? kind.finalType : kind.preType;
    // Scoring coefficients of an analysis about zero are uncorrected.
    if (final && kind.matrix == scoringOf && ps.opt.flags.noIntercept) type = "USCORE";
    for (int k = 0; k < m; ++k) {
      const std::string name = factorName(ps, k);
      switch (kind.shape) {
        case Shape::VariableColumns:
          appendStatRow(ps, type, name, a + static_cast<int64_t>(k) * p, p);
          break;
        case Shape::FactorColumns:
          appendStatRow(ps, type, name, a + static_cast<int64_t>(k) * m, m);
          break;
        case Shape::PackedFactors:
          for (int j = 0; j < m; ++j) row[static_cast<size_t>(j)] = a[packedIndex(k, j)];
          appendStatRow(ps, type, name, row.data(), m);
          break;
      }
    }
  }
}

void writeImageRows(ProcState& ps, const double* coefficients, const double* packedCov) {
  if (!ps.opt.outstatTable) return;
  const int p = ps.opt.nVars;
  for (int i = 0; i < p; ++i)
    appendStatRow(ps, "IMAGE", variableName(ps, i), coefficients + static_cast<size_t>(i) * p, p);
  std::vector<double> row(static_cast<size_t>(p));
  for (int i = 0; i < p; ++i) {
    for (int j = 0; j < p; ++j) row[j] = packedCov[packedIndex(i, j)];
    appendStatRow(ps, "IMAGECOV", variableName(ps, i), row.data(), p);
  }
}

}  // namespace zulfact
