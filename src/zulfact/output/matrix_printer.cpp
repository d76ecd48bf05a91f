#include "zulfact/output/matrix_printer.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <numeric>
#include <vector>

#include "zulfact/state/codes.hpp"
#include "zulfact/state/constants.hpp"
#include "zulfact/host/host.hpp"
#include "zulfact/output/table_writer.hpp"
#include "zulfact/output/vector_table.hpp"
#include "zulfact/state/message_ids.hpp"

namespace zulfact {

MatrixRole matrixRoleOf(const ProcState& ps, const double* matrix) {
  if (matrix == nullptr) return MatrixRole::Other;
  if (matrix == ps.loadings || matrix == ps.structure || matrix == ps.refStructure)
    return MatrixRole::Loadings;
  if (matrix == ps.corrMatrix) return MatrixRole::Correlation;
  if (matrix == ps.factorCorr) return MatrixRole::FactorCorrelation;
  return MatrixRole::Other;
}

MatrixDisplay matrixDisplayRule(const ProcState& ps, MatrixRole role, int titleMessage) {
  MatrixDisplay d;
  const bool round = ps.flags.round || ps.flagThreshold > 0.0;
  switch (role) {
    case MatrixRole::Scoring:
      d.reorderRows = ps.flags.reorder;
      break;
    case MatrixRole::Loadings:
      d.reorderRows = ps.flags.reorder;
      d.roundMode = round;
      if (titleMessage != kTitleEigenvectors) d.fuzz = ps.fuzz;
      break;
    case MatrixRole::Correlation:
      d.roundMode = round;
      switch (titleMessage) {
        case kTitleCorr: d.fuzz = ps.fuzz; break;
        case kTitleResidualCorr:
        case kTitlePartialCorr:
        case kTitlePartialControlFactors: d.fuzz = ps.fuzz * 0.5; break;
        case kTitleParCorrControlVar: d.fuzz = ps.fuzz * 0.25; break;
        default: break;
      }
      break;
    case MatrixRole::FactorCorrelation:
      d.roundMode = round;
      break;
    case MatrixRole::Other:
      break;
  }
  if (!(d.fuzz > 0.0)) d.fuzz = 0.0;  // also a missing FUZZ=
  return d;
}

double flagThresholdFor(double flagOption, const double* values, int nRows, int nCols) {
  if (flagOption != 0.0 && !std::isnan(flagOption)) return flagOption;
  const int64_t n = static_cast<int64_t>(nRows) * nCols;
  if (n <= 0) return 0.0;
  double ss = 0.0;
  for (int64_t k = 0; k < n; ++k) {
    if (!std::isnan(values[k])) ss += values[k] * values[k];
  }
  return std::sqrt(ss / static_cast<double>(n));
}

void computeVariableOrder(const double* loadings, int p, int m, int32_t* order) {
  if (p <= 0) return;
  std::vector<int> factorOf(static_cast<size_t>(p), 0);
  std::vector<double> value(static_cast<size_t>(p), 0.0);
  for (int i = 0; i < p; ++i) {
    int best = 0;
    double bestAbs = -1.0;
    for (int j = 0; j < m; ++j) {
      const double a = loadings[static_cast<size_t>(j) * p + i];
      if (std::fabs(a) > bestAbs) {  // strict: the first factor wins ties
        bestAbs = std::fabs(a);
        best = j;
      }
    }
    factorOf[i] = best;
    value[i] = m > 0 ? loadings[static_cast<size_t>(best) * p + i] : 0.0;
  }
  std::iota(order, order + p, 0);
  std::stable_sort(order, order + p, [&](int32_t a, int32_t b) {
    if (factorOf[a] != factorOf[b]) return factorOf[a] < factorOf[b];
    return value[a] > value[b];
  });
}

double matrixElement(char storage, const double* matrix, int i, int j, int nRows, int nCols) {
  switch (storage) {
    case 'S': {
      const int64_t r = std::max(i, j), c = std::min(i, j);
      return matrix[r * (r + 1) / 2 + c];
    }
    case 'C': return matrix[static_cast<int64_t>(j) * nRows + i];
    case 'R': return matrix[static_cast<int64_t>(i) * nCols + j];
    default: return matrix[0];
  }
}

void openSection(ProcState& ps, SectionKind kind, int insertNumber,
                 std::string_view rotationName) {
  if (ps.sink == nullptr) return;
  Host& h = host();
  std::string heading;
  const char* name = "InitialSolution";
  msg::Id label = msg::kInitialSolutionLabel;
  switch (kind) {
    case SectionKind::Initial:
      heading = h.formatMessage(msg::kInitialMethodHeading, {h.messageText(msg::factor(insertNumber))});
      break;
    case SectionKind::Prerotated:
      name = "PrerotatedSolution";
      label = msg::kPrerotatedSolutionLabel;
      heading = h.formatMessage(msg::kPrerotationHeading, {rotationName});
      break;
    case SectionKind::Rotated:
      name = "RotatedSolution";
      label = msg::kRotatedSolutionLabel;
      heading = h.formatMessage(msg::kRotationHeading, {rotationName});
      break;
  }
  TableWriter out(ps.sink);
  out.openSection(name, Text::message(label), Text(heading));
}

namespace {

// The label texts of rows or columns of one kind.
std::vector<std::string> labelsOf(const ProcState& ps, char kind, int n) {
  std::vector<std::string> labels(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) {
    switch (kind) {
      case 'V': labels[i] = variableName(ps, i); break;
      case 'F': labels[i] = factorName(ps, i); break;
      default: labels[i] = std::to_string(i + 1); break;
    }
  }
  return labels;
}

bool anyLabel(const ProcState& ps, int n) {
  if (ps.varLabels == nullptr) return false;
  for (int i = 0; i < n && i < ps.nAll; ++i) {
    if (ps.varLabels[static_cast<size_t>(i) * 257] != '\0') return true;
  }
  return false;
}

int longestOf(const std::vector<std::string>& texts, int least) {
  size_t n = static_cast<size_t>(least);
  for (const std::string& t : texts) n = std::max(n, t.size());
  return static_cast<int>(n);
}

// The columns of one matrix column: the shown value (rounded or fuzzed),
// the flag of round mode, the exact value, the standard error (-1 where a
// column is not there).
struct EntryColumns {
  int display = -1, flag = -1, original = -1, error = -1;
};

std::vector<EntryColumns> declareEntryColumns(TableWriter& out,
                                              const std::vector<std::string>& names,
                                              bool roundMode, bool withErrors) {
  std::vector<EntryColumns> cols(names.size());
  for (size_t j = 0; j < names.size(); ++j) {
    const std::string& name = names[j];
    EntryColumns& c = cols[j];
    if (roundMode) {
      c.display = out.column(Column::number("R" + name, "6.0", Text(name), ColumnRole::RoundFuzzVal));
      c.flag = out.column(Column::text("Fg" + name, 1, Text(" "), ColumnRole::Flag));
    } else {
      c.display = out.column(Column::number("Fz" + name, "12.5", Text(name), ColumnRole::RoundFuzzVal));
    }
    c.original = out.column(Column::number(name, "12.5", Text(name), ColumnRole::OriginalVal));
    if (withErrors) c.error = out.column(Column::number("SE" + name, "12.5", Text("StdErr")));
  }
  return cols;
}

// The footnote that says which values are flagged or left out.
void displayFootnote(TableWriter& out, const MatrixDisplay& disp, double flag) {
  Host& h = host();
  if (disp.roundMode && disp.fuzz == 0.0) {
    out.footnote(Text(h.formatMessage(msg::kRoundFlagFootnote, {flag})));
  } else if (disp.fuzz > 0.0 && !disp.roundMode) {
    out.footnote(Text(h.formatMessage(msg::kFuzzFootnote, {disp.fuzz})));
  } else if (disp.roundMode && disp.fuzz > 0.0) {
    out.footnote(Text(h.formatMessage(msg::kRoundFlagFuzzFootnote, {flag})));
  }
}

}  // namespace

void printMatrixTable(ProcState& ps, char storage, const double* matrix,
                      const double* stdErrors, int nRows, int nCols, char rowLabels,
                      char colLabels, int titleMessage, int labelMessage,
                      std::string_view tableName, std::string_view templatePath,
                      int displayFlag) {
  if (ps.sink == nullptr || matrix == nullptr || nRows <= 0 || nCols <= 0) return;
  if (storage != 'S' && storage != 'C' && storage != 'R') {
    char line[40];
    std::snprintf(line, sizeof line, "factmp: invalid type = %c.", storage);
    host().logText(line);
  }
  const double bytes = 8.0 * nRows * nCols * (stdErrors ? 2.0 : 1.0);
  if (bytes >= kMaxAllocationBytes) {
    host().message(msg::kArraysTooLarge);
    host().endStep(kCodeMemory);
  }
  const MatrixDisplay disp = matrixDisplayRule(ps, matrixRoleOf(ps, matrix), titleMessage);

  // Rows in print order: REORDER applies to variable rows only.
  std::vector<int32_t> order(static_cast<size_t>(nRows));
  std::iota(order.begin(), order.end(), 0);
  if (disp.reorderRows && rowLabels == 'V' && ps.varOrder != nullptr && nRows == ps.nVars)
    std::copy_n(ps.varOrder, nRows, order.begin());

  // The entries in print order, column by column.
  std::vector<double> values(static_cast<size_t>(nRows) * nCols);
  std::vector<double> errors(stdErrors ? values.size() : 0);
  for (int j = 0; j < nCols; ++j) {
    for (int r = 0; r < nRows; ++r) {
      const size_t at = static_cast<size_t>(j) * nRows + r;
      values[at] = matrixElement(storage, matrix, order[r], j, nRows, nCols);
      if (stdErrors) errors[at] = matrixElement(storage, stdErrors, order[r], j, nRows, nCols);
    }
  }
  const double flag =
      disp.roundMode ? flagThresholdFor(ps.flagThreshold, values.data(), nRows, nCols) : 0.0;

  const std::vector<std::string> rowText = labelsOf(ps, rowLabels, nRows);
  const std::vector<std::string> colText = labelsOf(ps, colLabels, nCols);
  const bool withLabels = rowLabels == 'V' && anyLabel(ps, nRows);

  TableWriter out(ps.sink);
  out.beginTable(tableName, templatePath, true,
                 labelMessage > 0 ? Text::message(msg::factor(labelMessage)) : Text());
  out.title(Text::message(msg::factor(titleMessage)));
  const char* rowHead = rowLabels == 'V' ? "Variable" : rowLabels == 'F' ? "Factor" : "Number";
  out.column(Column::text(rowHead, rowLabels == 'N' ? 8 : longestOf(rowText, 1), Text(" ")));
  if (withLabels) out.column(Column::text("Label", std::max(1, ps.longestLabel), Text(" ")));

  const std::vector<EntryColumns> cols =
      declareEntryColumns(out, colText, disp.roundMode, stdErrors != nullptr);
  (void)displayFlag;  // the coverage display arrives with the standard errors

  const double missing = zul_missing();
  for (int r = 0; r < nRows; ++r) {
    int k = 0;
    out.set(k++, rowText[order[r]]);
    if (withLabels) out.set(k, std::string_view(ps.varLabels + static_cast<size_t>(order[r]) * 257));
    for (int j = 0; j < nCols; ++j) {
      const size_t at = static_cast<size_t>(j) * nRows + r;
      const double x = values[at];
      const bool fuzzed = disp.fuzz > 0.0 && std::fabs(x) < disp.fuzz;
      double shown = x;
      if (fuzzed) {
        shown = missing;
      } else if (disp.roundMode) {
        shown = std::fabs(x) > kRoundLimit ? std::copysign(std::numeric_limits<double>::max(), x)
                                          : x * 100.0;
      }
      out.set(cols[j].display, shown);
      if (cols[j].flag >= 0)
        out.set(cols[j].flag, std::string_view(!fuzzed && std::fabs(x) > flag ? "*" : " "));
      out.set(cols[j].original, x);
      if (cols[j].error >= 0) out.set(cols[j].error, errors[at]);
    }
    out.emitRow();
  }

  displayFootnote(out, disp, flag);
  out.endTable();
}

}  // namespace zulfact
