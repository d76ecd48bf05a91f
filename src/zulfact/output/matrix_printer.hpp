// The matrix table printer and the section headings of the listing.
//
// Most matrices of an analysis (correlations, their inverse, partial
// correlations, eigenvectors, factor patterns, structures, scoring
// coefficients) are printed through printMatrixTable. The role the caller
// gives the matrix decides the display: rows in REORDER order, round mode
// (values times 100 in "6.0" with a flag column) and the fuzz threshold
// under which an entry prints empty. Every printed table keeps the exact
// values in a column of role "OriginalVal" beside the displayed one, so the
// JSON output never loses precision.
#pragma once

#include <cstdint>
#include <string_view>

#include "zulfact/state/proc_state.hpp"

namespace zulfact {

// Title message numbers (group 180) of the matrix tables. The correlation
// tables take their fuzz threshold from their title: full FUZZ= for the
// correlations, half of it for partial and residual correlations, a quarter
// for the partial correlations controlling for all other variables.
inline constexpr int kTitleCorr = 141;                  // "Corr"
inline constexpr int kTitlePartialCorr = 142;           // "PartialCorr" (PARTIAL variables)
inline constexpr int kTitleResidualCorr = 89;           // "ResCorrUniqueDiag"
inline constexpr int kTitlePartialControlFactors = 140; // "PartialCorrControlFact"
inline constexpr int kTitleParCorrControlVar = 87;      // "ParCorrControlVar"
inline constexpr int kTitleInvCorr = 138;               // "InvCorr"
inline constexpr int kTitleEigenvectors = 137;          // "Eigenvectors"
inline constexpr int kTitleFactorPattern = 156;         // "FactorPattern"
// The rotated solutions.
inline constexpr int kTitleObliqueTrans = 106;
inline constexpr int kTitleOrthTrans = 107;
inline constexpr int kTitleOrthRotFactPat = 108;
inline constexpr int kTitleInterFactorCorr = 150;
inline constexpr int kTitleObliqueRotFactPat = 151;
inline constexpr int kTitleInputFactorPattern = 152;
inline constexpr int kTitleReferenceAxisCorr = 153;
inline constexpr int kTitleReferenceStructure = 154;
inline constexpr int kTitleFactorStructure = 155;
inline constexpr int kTitleProcrustesTarget = 83;
inline constexpr int kTitleProcrustesTrans = 85;
inline constexpr int kTitleNormObliqueTrans = 86;
inline constexpr int kTitleVarWeights = 104;
inline constexpr int kTitleFactorWeights = 105;
// Image component analysis.
inline constexpr int kTitleImageCoef = 964;             // "ImageCoef"
inline constexpr int kTitleImageCov = 965;              // "ImageCov"
inline constexpr int kTitleImageFactors = 966;          // "ImageFactors"

// Section headings that group the tables of one solution.
enum class SectionKind { Initial, Prerotated, Rotated };

// Opens the section heading of a solution ("InitialSolution" labelled by
// message 180/378, "PrerotatedSolution" 180/379, "RotatedSolution"
// 180/380). The heading text is message 180/249 with the method's heading
// message (group 180, `insertNumber`) put in for the initial solution, and
// 180/250 or 180/251 with `rotationName` for the rotated ones. The section
// stays current until the analysis driver closes the group. Nothing happens
// without an output sink.
void openSection(ProcState& ps, SectionKind kind, int insertNumber,
                 std::string_view rotationName = {});

// What a matrix is, for its display rules; every caller names it.
enum class MatrixRole {
  Other,              // plain "12.5", no reorder, no fuzz
  Scoring,            // scoring coefficients: reordered, never rounded
  Loadings,           // pattern, structure, reference structure
  Correlation,        // correlation-type matrices: fuzz by title
  FactorCorrelation,  // inter-factor and reference-axis correlations
};

// The display of one printed matrix.
struct MatrixDisplay {
  bool reorderRows = false;
  bool roundMode = false;
  double fuzz = 0.0;  // entries with |x| below print empty; 0 = no fuzz
};

// The display rules of a matrix of `role` printed under title message
// `titleMessage` (round mode when ROUND or FLAG= > 0; REORDER option).
MatrixDisplay matrixDisplayRule(const ProcState& ps, MatrixRole role, int titleMessage);

// The flag threshold in round mode: FLAG= when it is not 0, otherwise the
// root mean square of the nRows x nCols entries given column by column.
double flagThresholdFor(double flagOption, const double* values, int nRows, int nCols);

// REORDER: for each variable the factor with the largest absolute loading
// (the first on ties) and the signed loading; variables are ordered by that
// factor, and within a factor by decreasing signed loading, earlier
// variables first on ties. `loadings` is p x m column by column; `order`
// receives p 0-based variable indices.
void computeVariableOrder(const double* loadings, int p, int m, int32_t* order);

// Element (i, j) of a matrix stored as 'S' (packed symmetric, lower
// triangle by rows), 'C' (column-major) or 'R' (row-major). Any other kind
// yields element 0 (printMatrixTable logs "factmp: invalid type = %c.").
double matrixElement(char storage, const double* matrix, int i, int j, int nRows, int nCols);

// One matrix table.
struct MatrixTable {
  char storage = 'C';              // 'S', 'C' or 'R' (see matrixElement)
  const double* values = nullptr;  // nRows x nCols
  int nRows = 0;
  int nCols = 0;
  char rowLabels = 'N';            // 'V' variable names, 'F' factor names,
  char colLabels = 'N';            // 'N' numbers 1, 2, ...
  int title = 0;                   // title message (group 180); also picks
                                   // the fuzz rule of correlation matrices
  int label = 0;                   // label message (group 180), 0 none
  std::string_view name;           // "Corr": template "Stat.Factor.Corr"
  MatrixRole role = MatrixRole::Other;
  bool coverage = false;           // takes the coverage display
  // Standard errors of the entries (same storage and shape), or nullptr.
  // With them each entry gets its standard error beside it; under COVER
  // (or ALPHA=) its confidence limits, the title with the level (messages
  // 371-374) and, for a table with `coverage`, a table of coverage
  // pictures; under HYPVALUE= the z statistic and its p-value.
  const double* stdErrors = nullptr;
};

// The confidence-limit title (371-374) of a title message, 0 for none.
int intervalTitleOf(int titleMessage);

// Prints a matrix as an output table. Nothing is printed without an output
// sink.
void printMatrixTable(ProcState& ps, const MatrixTable& table);

}  // namespace zulfact
