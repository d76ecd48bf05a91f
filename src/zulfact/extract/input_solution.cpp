#include "zulfact/extract/input_solution.hpp"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "zulfact/extract/input_scores.hpp"
#include "zulfact/data/row_gaps.hpp"
#include "zulfact/host/host.hpp"
#include "kernels/packed.hpp"
#include "zulfact/output/matrix_printer.hpp"
#include "zulfact/output/outstat_rows.hpp"
#include "zulfact/rotate/oblique_solution.hpp"
#include "zulfact/state/codes.hpp"
#include "zulfact/state/message_ids.hpp"

namespace zulfact {

using kernels::packedIndex;

namespace {

constexpr int kTypeWidth = 8;
constexpr int kNameWidth = 32;

std::string trimmed(const char* text, int width) {
  std::string s(text, static_cast<size_t>(width));
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
  return s;
}

// What the rows of the group gave.
struct SolutionRows {
  int factors = 0;
  int fcorrRows = 0;
  std::vector<std::string> names;
  RowGaps gaps;  // empty cells of the factor and FCORR rows taken
  // The first factor row named like one read before, as when two tables
  // are put one after the other without a BY variable: its line, _TYPE_
  // and name (line 0 when none).
  int64_t repeatLine = 0;
  std::string repeatType, repeatName;
};

// The columns that hold the values of an FCORR row. OUTSTAT= writes the
// m values of a factor-by-factor row into its first m variable columns, so
// they are the table's first numeric columns other than the BY variables,
// whatever the order or the subset that this step's VAR statement names.
std::vector<int32_t> leadingValueColumns(const ProcState& ps, int count) {
  Host& h = host();
  const zul_varlist* by = ps.opt.parsed ? &ps.opt.parsed->lists[ZUL_LIST_BY] : nullptr;
  auto isBy = [by](int v) {
    if (!by || !by->numbers) return false;
    return std::find(by->numbers, by->numbers + by->count, v) != by->numbers + by->count;
  };
  std::vector<int32_t> out;
  const int n = h.varCount(ps.opt.mainInput);
  for (int v = 1; v <= n && static_cast<int>(out.size()) < count; ++v) {
    if (v == ps.opt.typeVarNumber || v == ps.opt.nameVarNumber || isBy(v)) continue;
    zul_var_desc d{};
    if (h.varDesc(ps.opt.mainInput, v, d) == 0 && d.type == 1) out.push_back(v);
  }
  return out;
}

// Reads every row of the group and files it by its _TYPE_.
SolutionRows readSolutionRows(ProcState& ps) {
  Host& h = host();
  const int p = ps.opt.nVars;
  SolutionRows got;
  if (ps.opt.mainInput == nullptr || ps.opt.typeVarNumber <= 0 || h.rewind(ps.opt.mainInput) != 0) return got;
  const bool hasName = ps.opt.nameVarNumber > 0;
  // One factor a row: the pattern, or the scoring coefficients.
  const std::string_view factorRow = ps.opt.method == kMethodScore ? "SCORE   " : "PATTERN ";
  const std::vector<int32_t> fcorrColumns = leadingValueColumns(ps, std::min(ps.nFactors, p));
  const int nf = static_cast<int>(fcorrColumns.size());
  const int fcorrSlot = p + (hasName ? 2 : 1);
  zul_readlist* list = h.readListCreate(ps.opt.mainInput, fcorrSlot + nf);
  if (list == nullptr) return got;
  for (int i = 0; i < p; ++i) h.readListBind(list, i, ps.opt.varNumbers[i], false, 8);
  h.readListBind(list, p, ps.opt.typeVarNumber, true, kTypeWidth);
  if (hasName) h.readListBind(list, p + 1, ps.opt.nameVarNumber, true, kNameWidth);
  for (int j = 0; j < nf; ++j) h.readListBind(list, fcorrSlot + j, fcorrColumns[j], false, 8);
  // The numeric slots fill values[] in their order: the VAR columns, then
  // the FCORR columns.
  std::vector<double> values(static_cast<size_t>(p + nf), zul_missing());
  double* const fcorrValues = values.data() + p;
  char text[kTypeWidth + kNameWidth + 1] = {};
  int status = 0;
  while (h.readNext(list, values.data(), text, status) == 1) {
    if (!readOk(status)) break;
    char upper[kTypeWidth + 1];
    const std::string_view type = solutionRowType(text, upper);
    const std::string name = hasName ? trimmed(text + kTypeWidth, kNameWidth) : std::string();
    if (type == factorRow && !name.empty() &&
        std::find(got.names.begin(), got.names.end(), name) != got.names.end()) {
      if (got.repeatLine == 0) {
        got.repeatLine = h.recordLine(ps.opt.mainInput);
        got.repeatType = trimmed(text, kTypeWidth);
        got.repeatName = name;
      }
      continue;
    }
    if (type == factorRow && got.factors < ps.nFactors)
      got.gaps.look(ps.opt, values.data(), p, type, name);
    else if (type == "FCORR   " && got.fcorrRows < ps.nFactors)
      got.gaps.look(ps.opt, fcorrValues, std::min(got.fcorrRows + 1, nf), type, name,
                    fcorrColumns.data());
    for (double& v : values)
      if (zul_is_missing(v)) v = 0.0;
    if (type == factorRow && got.factors < ps.nFactors) {
      std::copy_n(values.data(), p, ps.loadings + static_cast<size_t>(got.factors) * p);
      got.names.push_back(name);
      ++got.factors;
    } else if (type == "FCORR   " && got.fcorrRows < ps.nFactors) {
      // Row r of the factor correlations: its first r + 1 values.
      const int r = got.fcorrRows++;
      for (int j = 0; j <= r && j < nf; ++j) ps.factorCorr[packedIndex(r, j)] = fcorrValues[j];
    } else if (type == "WEIGHT  ") {
      std::copy_n(values.data(), p, ps.varWeights);
    } else if (type == "PRIORS  ") {
      std::copy_n(values.data(), p, ps.priorCommunalities);
    } else if (type == "COMMUNAL") {
      std::copy_n(values.data(), p, ps.communalities);
    }
  }
  h.readListRelease(list);
  return got;
}

// The factor names read, in a block as wide as the longest of them (at
// least 1); factors without a name keep the step's own names.
void keepFactorNames(ProcState& ps, const std::vector<std::string>& names) {
  const int k = static_cast<int>(names.size());
  size_t width = 1;
  for (const std::string& n : names) width = std::max(width, n.size());
  auto* block = static_cast<char*>(host().alloc(static_cast<double>(width) * std::max(k, 1)));
  if (block == nullptr) {
    raiseCode(ps, kCodeMemory);
    host().message(msg::kArraysTooLarge);
    host().endStep(kCodeMemory);
  }
  const int oldWidth = ps.factorNameWidth;
  for (int j = 0; j < k; ++j) {
    char* slot = block + width * static_cast<size_t>(j);
    std::memset(slot, ' ', width);
    std::string name = names[static_cast<size_t>(j)];
    if (name.empty() && ps.factorNames && oldWidth > 0)
      name = trimmed(ps.factorNames + static_cast<size_t>(oldWidth) * j, oldWidth);
    std::memcpy(slot, name.data(), std::min(width, name.size()));
  }
  ps.factorNames = block;
  ps.factorNameWidth = static_cast<int32_t>(width);
}

}  // namespace

void inputSolution(ProcState& ps) {
  Host& h = host();
  const int p = ps.opt.nVars;
  const double missing = zul_missing();
  std::fill(ps.varWeights, ps.varWeights + p, 0.0);
  std::fill(ps.priorCommunalities, ps.priorCommunalities + p, missing);
  std::fill(ps.communalities, ps.communalities + p, missing);
  ps.factorsRetained = 0;

  const SolutionRows got = readSolutionRows(ps);
  got.gaps.report(ps);
  if (got.repeatLine > 0) {
    raiseCode(ps, kCodeNoData);
    failGroupRows();
    char lib[33] = {0}, member[33] = {0};
    h.getAttribute(ps.opt.mainInput, ZUL_ATTR_LIBRARY, lib);
    h.getAttribute(ps.opt.mainInput, ZUL_ATTR_MEMBER, member);
    lib[32] = member[32] = '\0';
    h.message(msg::kStoredFactorRepeated, {std::string(lib), std::string(member), got.repeatLine,
                                           got.repeatType, got.repeatName});
    return;
  }
  const int k = got.factors;
  if (k == 0) {
    raiseCode(ps, kCodeNoData);
    failGroupRows();
    h.message(msg::kNoFactorRows, {ps.opt.method == kMethodScore ? "SCORE" : "PATTERN"});
    return;
  }
  keepFactorNames(ps, got.names);
  const bool oblique = got.fcorrRows > 0;
  if (oblique && got.fcorrRows < k) {
    raiseCode(ps, kCodeNoData);
    failGroupRows();
    h.message(msg::kTooFewFcorrRows);
    return;
  }
  ps.factorsRetained = ps.nFactors = k;
  if (ps.opt.method == kMethodScore) {
    // The scores' own correlations replace any FCORR rows.
    inputScores(ps);
  } else if (oblique) {
    // The reference axes of an oblique solution come from Phi^-1, as for
    // every other oblique solution: counting the input's Phi as the
    // solution's own makes the input mode invert it.
    ps.obliqueCount = k;
    FinishOblique(ps, kObliqueInputPattern);
    if (ps.nFactors < 1) {
      ps.factorsRetained = 0;
      return;
    }
    PrintObliqueTables(ps);
  } else if (ps.sink != nullptr) {
    printMatrixTable(ps, {.storage = 'C', .values = ps.loadings, .nRows = p, .nCols = k,
                          .rowLabels = 'V', .colLabels = 'F', .title = kTitleInputFactorPattern,
                          .name = "InputFactorPattern", .role = MatrixRole::Loadings});
  }
}

}  // namespace zulfact
