#include "zulfact/output/matrix_printer.hpp"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <vector>

#include "zulfact/entry/host.hpp"

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
  (void)kind;
  (void)insertNumber;
  (void)rotationName;
}

void printMatrixTable(ProcState& ps, char storage, const double* matrix,
                      const double* stdErrors, int nRows, int nCols, char rowLabels,
                      char colLabels, int titleMessage, int labelMessage,
                      std::string_view tableName, std::string_view templatePath,
                      int displayFlag) {
  if (ps.sink == nullptr) return;
  (void)storage, (void)matrix, (void)stdErrors, (void)nRows, (void)nCols, (void)rowLabels;
  (void)colLabels, (void)titleMessage, (void)labelMessage, (void)tableName;
  (void)templatePath, (void)displayFlag;
}

}  // namespace zulfact
