#include "zulfact/output/matrix_printer.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <numeric>
#include <vector>

#include <fmt/format.h>

#include "zulfact/state/codes.hpp"
#include "zulfact/state/constants.hpp"
#include "zulfact/host/host.hpp"
#include "zulfact/output/intervals.hpp"
#include "zulfact/output/table_writer.hpp"
#include "zulfact/output/vector_table.hpp"
#include "zulfact/state/message_ids.hpp"

namespace zulfact {

MatrixDisplay matrixDisplayRule(const ProcState& ps, MatrixRole role, int titleMessage) {
  MatrixDisplay d;
  const bool round = ps.opt.flags.round || ps.opt.flagThreshold > 0.0;
  switch (role) {
    case MatrixRole::Scoring:
      d.reorderRows = ps.opt.flags.reorder;
      break;
    case MatrixRole::Loadings:
      d.reorderRows = ps.opt.flags.reorder;
      d.roundMode = round;
      if (titleMessage != kTitleEigenvectors) d.fuzz = ps.opt.fuzz;
      break;
    case MatrixRole::Correlation:
      d.roundMode = round;
      switch (titleMessage) {
        case kTitleCorr: d.fuzz = ps.opt.fuzz; break;
        case kTitleResidualCorr:
        case kTitlePartialCorr:
        case kTitlePartialControlFactors: d.fuzz = ps.opt.fuzz * 0.5; break;
        case kTitleParCorrControlVar: d.fuzz = ps.opt.fuzz * 0.25; break;
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
  // Squares of entries beyond about 1e154 overflow and those below 1e-154
  // vanish: such a matrix is summed relative to its largest entry, so that
  // the threshold stays finite and nonzero (an infinite one flags nothing).
  double largest = 0.0;
  for (int64_t k = 0; k < n; ++k)
    if (std::isfinite(values[k])) largest = std::max(largest, std::fabs(values[k]));
  const double scale = largest > 1e100 || (largest > 0.0 && largest < 1e-100) ? largest : 1.0;
  double ss = 0.0;
  for (int64_t k = 0; k < n; ++k) {
    if (!std::isfinite(values[k])) continue;
    const double x = values[k] / scale;
    ss += x * x;
  }
  return scale * std::sqrt(ss / static_cast<double>(n));
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
  if (ps.opt.varLabels == nullptr) return false;
  for (int i = 0; i < n && i < ps.opt.nAll; ++i) {
    if (ps.opt.varLabels[static_cast<size_t>(i) * 257] != '\0') return true;
  }
  return false;
}

int longestOf(const std::vector<std::string>& texts, int least) {
  size_t n = static_cast<size_t>(least);
  for (const std::string& t : texts) n = std::max(n, t.size());
  return static_cast<int>(n);
}

// The columns of one matrix column: the shown value (rounded or fuzzed),
// the flag of round mode, the exact value, then the inference beside it:
// standard error, confidence limits, z statistic and p-value (-1 where a
// column is not there).
struct EntryColumns {
  int display = -1, flag = -1, original = -1, error = -1;
  int lower = -1, upper = -1, z = -1, p = -1;
};

// What is shown beside the entries of a table with standard errors.
struct Inference {
  bool errors = false;     // standard errors
  bool limits = false;     // confidence limits (COVER, ALPHA=)
  bool test = false;       // HYPVALUE=
  bool fisher = false;     // limits of correlations through Fisher's z
  bool oneSided = false;
  double quantile = 0.0;   // z at 1 - ALPHA/2
  double percent = 0.0;    // (1 - ALPHA) x 100
  double hypValue = 0.0;
  double cover = 0.0;
};

Inference inferenceOf(const ProcState& ps, const MatrixTable& t) {
  Inference in;
  if (t.stdErrors == nullptr) return in;
  in.errors = true;
  in.fisher = t.role == MatrixRole::FactorCorrelation;
  const double alpha = ps.opt.stdErrLevel;
  in.limits = ps.opt.flags.confidenceDisplay && alpha > 0.0 && alpha < 1.0;
  if (in.limits) {
    in.quantile = normalQuantile(1.0 - alpha / 2.0);
    in.percent = (1.0 - alpha) * 100.0;
    in.cover = zul_is_missing(ps.opt.coverValue) ? 0.0 : ps.opt.coverValue;
  }
  in.test = !zul_is_missing(ps.opt.hypValue);
  if (in.test) {
    in.hypValue = ps.opt.hypValue;
    in.oneSided = ps.opt.flags.testsOneSided;
  }
  return in;
}

std::vector<EntryColumns> declareEntryColumns(TableWriter& out,
                                              const std::vector<std::string>& names,
                                              bool roundMode, const Inference& in) {
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
    if (in.errors) c.error = out.column(Column::number("SE" + name, "12.5", Text("StdErr")));
    if (in.limits) {
      c.lower = out.column(Column::number("Lo" + name, "12.5", Text("Lower")));
      c.upper = out.column(Column::number("Up" + name, "12.5", Text("Upper")));
    }
    if (in.test) {
      c.z = out.column(Column::number("Z" + name, "8.2", Text("z")));
      c.p = out.column(Column::number("P" + name, "PVALUE6.4",
                                      Text(in.oneSided ? "Pr > z" : "Pr > |z|")));
    }
  }
  return cols;
}

// The inference cells of one entry.
void setInference(TableWriter& out, const EntryColumns& c, const Inference& in, double x,
                  double se) {
  const double missing = zul_missing();
  if (c.error >= 0) out.set(c.error, se);
  if (in.limits) {
    const Interval ci = waldInterval(x, se, in.quantile, in.fisher);
    out.set(c.lower, ci.valid ? ci.lower : missing);
    out.set(c.upper, ci.valid ? ci.upper : missing);
  }
  if (in.test) {
    const HypothesisTest t = hypothesisTest(x, se, in.hypValue, in.oneSided);
    out.set(c.z, t.valid ? t.z : missing);
    out.set(c.p, t.valid ? t.p : missing);
  }
}

// The footnote that says which values are flagged or left out.
void displayFootnote(TableWriter& out, const MatrixDisplay& disp, double flag) {
  Host& h = host();
  if (disp.roundMode && disp.fuzz == 0.0) {
    out.footnote(Text(h.formatMessage(msg::kRoundFlagFootnote, {flag})));
  } else if (disp.fuzz > 0.0 && !disp.roundMode) {
    out.footnote(Text(h.formatMessage(msg::kFuzzFootnote, {disp.fuzz})));
  } else if (disp.roundMode && disp.fuzz > 0.0) {
    out.footnote(Text(h.formatMessage(msg::kRoundFlagFuzzFootnote, {flag, disp.fuzz})));
  }
}

}  // namespace

namespace {

// The entries and their standard errors in print order, column by column;
// rows in REORDER order when the display asks for it (variable rows only).
struct Entries {
  std::vector<int32_t> order;
  std::vector<double> values;
  std::vector<double> errors;  // empty without standard errors
  double at(const std::vector<double>& v, int r, int j, int nRows) const {
    return v[static_cast<size_t>(j) * nRows + r];
  }
};

Entries gatherEntries(const ProcState& ps, const MatrixTable& t, const MatrixDisplay& disp) {
  Entries e;
  e.order.resize(static_cast<size_t>(t.nRows));
  std::iota(e.order.begin(), e.order.end(), 0);
  if (disp.reorderRows && t.rowLabels == 'V' && ps.varOrder != nullptr && t.nRows == ps.opt.nVars)
    std::copy_n(ps.varOrder, t.nRows, e.order.begin());
  e.values.resize(static_cast<size_t>(t.nRows) * t.nCols);
  if (t.stdErrors) e.errors.resize(e.values.size());
  for (int j = 0; j < t.nCols; ++j) {
    for (int r = 0; r < t.nRows; ++r) {
      const size_t at = static_cast<size_t>(j) * t.nRows + r;
      e.values[at] = matrixElement(t.storage, t.values, e.order[r], j, t.nRows, t.nCols);
      if (t.stdErrors)
        e.errors[at] = matrixElement(t.storage, t.stdErrors, e.order[r], j, t.nRows, t.nCols);
    }
  }
  return e;
}

std::string percentText(double percent) { return fmt::format("{:g}", percent); }

// The row label columns: names, and variable labels when there are any.
struct RowLabels {
  std::vector<std::string> text;
  bool withLabels = false;
};

void declareRowColumns(const ProcState& ps, TableWriter& out, const MatrixTable& t,
                       const RowLabels& rows) {
  const char* rowHead = t.rowLabels == 'V' ? "Variable" : t.rowLabels == 'F' ? "Factor" : "Number";
  out.column(Column::text(rowHead, t.rowLabels == 'N' ? 8 : longestOf(rows.text, 1), Text(" ")));
  if (rows.withLabels) out.column(Column::text("Label", std::max(1, ps.opt.longestLabel), Text(" ")));
}

int setRowLabels(const ProcState& ps, TableWriter& out, const RowLabels& rows, int row) {
  int k = 0;
  out.set(k++, rows.text[row]);
  if (rows.withLabels) out.set(k++, std::string_view(ps.opt.varLabels + static_cast<size_t>(row) * 257));
  return k;
}

// The coverage pictures of the entries' intervals, a table of their own
// under the main one.
void printCoverageTable(ProcState& ps, const MatrixTable& t, const Entries& e,
                        const Inference& in, const RowLabels& rows,
                        const std::vector<std::string>& colText) {
  Host& h = host();
  const std::string percent = percentText(in.percent);
  const std::string name = std::string(t.name) + "Coverage";
  TableWriter out(ps.sink);
  out.beginTable(name, "Stat.Factor." + name, true);
  out.title(Text(h.formatMessage(msg::kCoverageDisplaysTitle, {percent})));
  declareRowColumns(ps, out, t, rows);
  std::vector<int> cols;
  for (const std::string& c : colText) cols.push_back(out.column(Column::text("Cv" + c, 4, Text(c))));
  for (int r = 0; r < t.nRows; ++r) {
    setRowLabels(ps, out, rows, e.order[r]);
    for (int j = 0; j < t.nCols; ++j) {
      const double x = e.at(e.values, r, j, t.nRows), se = e.at(e.errors, r, j, t.nRows);
      const Interval ci = waldInterval(x, se, in.quantile, in.fisher);
      out.set(cols[j], coveragePicture(x, ci, in.cover));
    }
    out.emitRow();
  }
  const msg::Id legend = in.cover != 0.0 ? msg::kCoverageLegendWithValue : msg::kCoverageLegend;
  out.footnote(Text(h.formatMessage(legend, {percent})));
  out.endTable();
}

// The title: with confidence limits the one that states their level.
Text titleOf(const MatrixTable& t, const Inference& in) {
  const int interval = intervalTitleOf(t.title);
  if (in.limits && interval > 0)
    return Text(host().formatMessage(msg::factor(interval), {percentText(in.percent)}));
  return Text::message(msg::factor(t.title));
}

void testFootnote(TableWriter& out, const Inference& in) {
  if (!in.test) return;
  const msg::Id id = in.oneSided ? msg::kHypothesisOneSidedFootnote : msg::kHypothesisTwoSidedFootnote;
  out.footnote(Text(host().formatMessage(id, {in.hypValue})));
}

}  // namespace

int intervalTitleOf(int titleMessage) {
  switch (titleMessage) {
    case kTitleFactorPattern: return msg::kPatternLimitsTitle.number;
    case kTitleOrthRotFactPat:
    case kTitleObliqueRotFactPat: return msg::kRotatedPatternLimitsTitle.number;
    case kTitleInterFactorCorr: return msg::kFactorCorrLimitsTitle.number;
    case kTitleFactorStructure: return msg::kStructureLimitsTitle.number;
    default: return 0;
  }
}

void printMatrixTable(ProcState& ps, const MatrixTable& t) {
  if (ps.sink == nullptr || t.values == nullptr || t.nRows <= 0 || t.nCols <= 0) return;
  if (t.storage != 'S' && t.storage != 'C' && t.storage != 'R') {
    char line[40];
    std::snprintf(line, sizeof line, "factmp: invalid type = %c.", t.storage);
    host().logText(line);
  }
  const double bytes = 8.0 * t.nRows * t.nCols * (t.stdErrors ? 2.0 : 1.0);
  if (bytes >= kMaxAllocationBytes) {
    host().message(msg::kArraysTooLarge);
    host().endStep(kCodeMemory);
  }
  const MatrixDisplay disp = matrixDisplayRule(ps, t.role, t.title);
  const Entries e = gatherEntries(ps, t, disp);
  const Inference in = inferenceOf(ps, t);
  const double flag =
      disp.roundMode ? flagThresholdFor(ps.opt.flagThreshold, e.values.data(), t.nRows, t.nCols) : 0.0;
  const RowLabels rows{labelsOf(ps, t.rowLabels, t.nRows),
                       t.rowLabels == 'V' && anyLabel(ps, t.nRows)};
  const std::vector<std::string> colText = labelsOf(ps, t.colLabels, t.nCols);

  TableWriter out(ps.sink);
  out.beginTable(t.name, "Stat.Factor." + std::string(t.name), true,
                 t.label > 0 ? Text::message(msg::factor(t.label)) : Text());
  out.title(titleOf(t, in));
  declareRowColumns(ps, out, t, rows);
  const std::vector<EntryColumns> cols = declareEntryColumns(out, colText, disp.roundMode, in);

  const double missing = zul_missing();
  for (int r = 0; r < t.nRows; ++r) {
    setRowLabels(ps, out, rows, e.order[r]);
    for (int j = 0; j < t.nCols; ++j) {
      const double x = e.at(e.values, r, j, t.nRows);
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
      if (in.errors) setInference(out, cols[j], in, x, e.at(e.errors, r, j, t.nRows));
    }
    out.emitRow();
  }

  displayFootnote(out, disp, flag);
  testFootnote(out, in);
  out.endTable();
  if (in.limits && t.coverage) printCoverageTable(ps, t, e, in, rows, colText);
}

}  // namespace zulfact
