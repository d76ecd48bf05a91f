#include "zulfact/rotate/target_rotate.hpp"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "zulfact/host/host.hpp"
#include "kernels/dense.hpp"
#include "kernels/linalg.hpp"
#include "zulfact/output/matrix_printer.hpp"
#include "zulfact/rotate/criterion_rotate.hpp"
#include "zulfact/rotate/oblique_solution.hpp"
#include "zulfact/rotate/rotated_errors.hpp"
#include "zulfact/rotate/rotation_codes.hpp"
#include "zulfact/state/codes.hpp"
#include "zulfact/state/constants.hpp"
#include "zulfact/state/message_ids.hpp"
#include "zulfact/data/row_gaps.hpp"
#include "zulfact/output/outstat_rows.hpp"
#include "zulfact/output/vector_table.hpp"

namespace zulfact {

using kernels::ddot;
using kernels::kaiserScales;
using kernels::multiply;
using kernels::sweepInvert;
using kernels::packedIndex;

namespace {

// TARGET= values at least this large are reported (they are still used).
constexpr double kHugeTarget = 2.6196213420787266e+101;

// The number of a character _TYPE_ variable of the TARGET= table, 0 when
// it has none.
int targetTypeVariable(zul_table* table) {
  Host& h = host();
  const int v = h.varNumber(table, "_TYPE_");
  zul_var_desc d{};
  return v > 0 && h.varDesc(table, v, d) == 0 && d.type == 2 ? v : 0;
}

// Whether a row of a TARGET= table with a _TYPE_ variable is a pattern row:
// an OUTSTAT= table given as the target holds its means, correlations and
// other matrices before the PATTERN rows, and those are no target.
bool isTargetPatternRow(const char* type8) {
  char upper[9];
  return solutionRowType(type8, upper) == "PATTERN ";
}

// Reads m TARGET= rows of the current group into the columns of target (of
// a table with a _TYPE_ variable, only its PATTERN rows): 0, kCodeNoData
// (message 180/81, code 108 raised) when there are fewer, or the completion
// code to end the step with when the table cannot be read.
int readTarget(ProcState& ps, double* target) {
  Host& h = host();
  const int p = ps.opt.nVars, m = ps.nFactors;
  // A target matched by BY groups stands at the group's start; one used
  // whole for every group is entered once and rewound after that.
  if (ps.opt.bySyncMode != 0 && !ps.targetEntered) {
    h.nextByGroup(ps.opt.targetTable);
    ps.targetEntered = true;
  } else {
    h.rewind(ps.opt.targetTable);
  }
  const int typeVar = targetTypeVariable(ps.opt.targetTable);
  zul_readlist* list = h.readListCreate(ps.opt.targetTable, p + (typeVar > 0 ? 1 : 0));
  if (list == nullptr) {
    raiseCode(ps, kCodeEngine);
    return ps.completionCode;
  }
  struct Release {
    zul_readlist* l;
    ~Release() { host().readListRelease(l); }
  } release{list};
  for (int i = 0; i < p; ++i) {
    const std::string name = std::string(ps.opt.varNames + 33 * static_cast<size_t>(i));
    if (h.readListBind(list, i, h.varNumber(ps.opt.targetTable, name), false, 8) != 0) {
      raiseCode(ps, kCodeEngine);
      return ps.completionCode;
    }
  }
  if (typeVar > 0 && h.readListBind(list, p, typeVar, true, 8) != 0) {
    raiseCode(ps, kCodeEngine);
    return ps.completionCode;
  }
  std::vector<double> row(static_cast<size_t>(p) + 1);
  char text[9] = {};
  int status = 0;
  auto nextRow = [&] {
    while (h.readNext(list, row.data(), text, status) == 1)
      if (typeVar == 0 || isTargetPatternRow(text)) return true;
    return false;
  };
  // An empty cell counts as 0, said once per group: a target typed by
  // hand may mean something else by it.
  RowGaps gaps(ps.opt.targetTable);
  for (int j = 0; j < m; ++j) {
    if (!nextRow()) {
      h.message(msg::kTargetTooFewRows);
      raiseCode(ps, kCodeNoData);
      failGroupRows();
      return kCodeNoData;
    }
    gaps.look(ps.opt, row.data(), p, typeVar > 0 ? "PATTERN" : "TARGET=", factorName(ps, j));
    for (int i = 0; i < p; ++i) {
      const double v = zul_is_missing(row[i]) ? 0.0 : row[i];
      if (std::fabs(v) >= kHugeTarget) h.message(msg::kTargetValueHuge, {fmt::format("{:g}", v)});
      target[i + static_cast<size_t>(j) * p] = v;
    }
  }
  if (nextRow()) h.message(msg::kTargetExtraRows);
  gaps.report(ps);
  return 0;
}

void printSquare(ProcState& ps, const double* t, int title, const char* name) {
  if (ps.sink == nullptr) return;
  const int m = ps.nFactors;
  printMatrixTable(ps, {.storage = 'C', .values = t, .nRows = m, .nCols = m, .rowLabels = 'N',
                        .colLabels = 'N', .title = title, .name = name});
}

}  // namespace

double promaxPower(const ProcState& ps, int index) {
  const double own = rotationParams(ps.opt, index)[0];
  if (!zul_is_missing(own)) return own;
  return zul_is_missing(ps.opt.power) ? 3.0 : ps.opt.power;
}

void promaxTarget(const double* l, int p, int m, double k, bool noNormalization, double* target) {
  std::vector<double> scale(static_cast<size_t>(p), 1.0);
  if (!noNormalization) kaiserScales(l, p, m, kZeroDiagonalAfterSweep, scale.data(), nullptr);
  for (int i = 0; i < p; ++i) {
    for (int j = 0; j < m; ++j) {
      const double t = l[i + static_cast<size_t>(j) * p] * scale[i];
      target[i + static_cast<size_t>(j) * p] = std::pow(std::fabs(t), k - 1.0) * t;
    }
  }
}

bool procrustesTransform(const double* l, const double* target, int p, int m, double* t) {
  // Least squares: (L^T L) T = L^T target.
  std::vector<double> a(static_cast<size_t>(m) * (m + 1) / 2), work(static_cast<size_t>(m));
  for (int i = 0; i < m; ++i)
    for (int j = 0; j <= i; ++j)
      a[packedIndex(i, j)] = ddot(p, l + static_cast<size_t>(i) * p, l + static_cast<size_t>(j) * p);
  for (int j = 0; j < m; ++j)
    for (int i = 0; i < m; ++i)
      t[i + static_cast<size_t>(j) * m] =
          ddot(p, l + static_cast<size_t>(i) * p, target + static_cast<size_t>(j) * p);
  return sweepInvert(m, a.data(), work.data(), m, t, kSqrtHalfEpsilon) == 0;
}

void transformPattern(double* l, int p, int m, const double* t) {
  const std::vector<double> before(l, l + static_cast<size_t>(p) * m);
  multiply(before.data(), t, l, p, m, m);
}

void composeTransform(double* t, const double* previous, int m) {
  const std::vector<double> after(t, t + static_cast<size_t>(m) * m);
  multiply(previous, after.data(), t, m, m, m);
}

TargetRotation targetRotation(const double* l, const double* target, int p, int m) {
  TargetRotation r;
  r.transform.resize(static_cast<size_t>(m) * m);
  r.singular = !procrustesTransform(l, target, p, m, r.transform.data());
  r.pattern.assign(l, l + static_cast<size_t>(p) * m);
  transformPattern(r.pattern.data(), p, m, r.transform.data());
  return r;
}

int TargetRotate(ProcState& ps, int code, int index) {
  Host& h = host();
  const int p = ps.opt.nVars, m = ps.nFactors;
  const double power = promaxPower(ps, index);
  if (code == kRotPromax) {
    openSection(ps, SectionKind::Rotated, 0,
                h.formatMessage(msg::kPromaxName.group, msg::kPromaxName.number, {fmt::format("{:g}", power)}));
  } else {
    openSection(ps, index == -1 ? SectionKind::Prerotated : SectionKind::Rotated, 0,
                h.messageText(msg::kProcrustesName.group, msg::kProcrustesName.number));
  }
  if (m < 2) {
    // A PROMAX prerotation has said so already.
    if (code == kRotProcrustes || ps.opt.prerotation == kRotNone) tooFewFactors(ps, m);
    return 0;
  }

  const size_t mm = static_cast<size_t>(m) * m;
  const bool follows = followsAnotherRotation(ps.opt, index);
  std::vector<double> previous;
  if (follows) previous.assign(ps.transform, ps.transform + mm);

  std::vector<double> target(static_cast<size_t>(p) * m);
  if (code == kRotProcrustes) {
    // Too few rows leave the solution as it was.
    const int read = readTarget(ps, target.data());
    if (read != 0) return read == kCodeNoData ? 0 : read;
  } else {
    promaxTarget(ps.loadings, p, m, power, ps.opt.flags.noPromaxNorm, target.data());
  }
  if (ps.sink != nullptr)
    printMatrixTable(ps, {.storage = 'C', .values = target.data(), .nRows = p, .nCols = m,
                          .rowLabels = 'V', .colLabels = 'F', .title = kTitleProcrustesTarget,
                          .name = "ProcrustesTarget"});

  PatternInHand before;
  if (rotatedErrorsWanted(ps)) before = patternInHand(ps);
  const TargetRotation rotation = targetRotation(ps.loadings, target.data(), p, m);
  if (rotation.singular) h.message(msg::kTargetPatternSingular);
  std::copy(rotation.transform.begin(), rotation.transform.end(), ps.transform);
  std::copy(rotation.pattern.begin(), rotation.pattern.end(), ps.loadings);
  printSquare(ps, ps.transform, kTitleProcrustesTrans, "ProcrustesTrans");

  FinishOblique(ps, kObliqueTarget);
  if (ps.nFactors == 0) return 0;
  // The total transformation from the pattern before the earlier rotation.
  if (follows) composeTransform(ps.transform, previous.data(), m);
  if (rotatedErrorsWanted(ps)) targetStdErrors(ps, code, target.data(), before, power);
  printSquare(ps, ps.transform, kTitleNormObliqueTrans, "NormObliqueTrans");
  PrintObliqueTables(ps);
  return 0;
}

}  // namespace zulfact
