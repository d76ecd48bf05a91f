// Display rules of the matrix printer: fuzz thresholds by table, the flag
// threshold, storage kinds and the REORDER variable order.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "zulfact/output/matrix_printer.hpp"

namespace zulfact {
namespace {

struct State {
  StepRecord ps;
  std::vector<double> corr = std::vector<double>(6), load = std::vector<double>(6);
  State() {
    ps.clearRecord();
    ps.corrMatrix = corr.data();
    ps.loadings = load.data();
  }
};

TEST(MatrixDisplay, FuzzThresholdFollowsTheTable) {
  State s;
  s.ps.opt.fuzz = 0.3;
  // FUZZ=0.3: residual correlations take half of it, those controlling all
  // other variables a quarter. (The correlations with all of it, partial
  // ones and those controlling the factors with half: the extract_fuzz and
  // display_roles programs.)
  EXPECT_DOUBLE_EQ(matrixDisplayRule(s.ps, MatrixRole::Correlation, kTitleResidualCorr).fuzz, 0.15);
  EXPECT_DOUBLE_EQ(matrixDisplayRule(s.ps, MatrixRole::Correlation, kTitleParCorrControlVar).fuzz,
                   0.075);
  EXPECT_EQ(matrixDisplayRule(s.ps, MatrixRole::Correlation, kTitleInvCorr).fuzz, 0.0);
  // Loadings take FUZZ= except the eigenvector table; the factor
  // correlations and scoring coefficients never do.
  EXPECT_DOUBLE_EQ(matrixDisplayRule(s.ps, MatrixRole::Loadings, kTitleFactorPattern).fuzz, 0.3);
  EXPECT_EQ(matrixDisplayRule(s.ps, MatrixRole::Loadings, kTitleEigenvectors).fuzz, 0.0);
  EXPECT_EQ(matrixDisplayRule(s.ps, MatrixRole::FactorCorrelation, 0).fuzz, 0.0);
  EXPECT_EQ(matrixDisplayRule(s.ps, MatrixRole::Scoring, 0).fuzz, 0.0);
}

TEST(MatrixDisplay, RoundModeAndReorderByRole) {
  State s;
  s.ps.opt.flags.reorder = true;
  EXPECT_FALSE(matrixDisplayRule(s.ps, MatrixRole::Loadings, kTitleFactorPattern).roundMode);
  s.ps.opt.flagThreshold = 0.4;  // FLAG= above 0 turns round mode on, as ROUND does
  EXPECT_TRUE(matrixDisplayRule(s.ps, MatrixRole::Loadings, kTitleFactorPattern).roundMode);
  EXPECT_TRUE(matrixDisplayRule(s.ps, MatrixRole::Correlation, kTitleCorr).roundMode);
  EXPECT_TRUE(matrixDisplayRule(s.ps, MatrixRole::FactorCorrelation, 0).roundMode);
  EXPECT_FALSE(matrixDisplayRule(s.ps, MatrixRole::Scoring, 0).roundMode);
  EXPECT_FALSE(matrixDisplayRule(s.ps, MatrixRole::Other, 0).roundMode);
  EXPECT_TRUE(matrixDisplayRule(s.ps, MatrixRole::Scoring, 0).reorderRows);
  EXPECT_TRUE(matrixDisplayRule(s.ps, MatrixRole::Loadings, 0).reorderRows);
  EXPECT_FALSE(matrixDisplayRule(s.ps, MatrixRole::Correlation, kTitleCorr).reorderRows);
}

TEST(MatrixDisplay, FlagThresholdIsTheRootMeanSquareWithoutFlag) {
  // Hand calculation: entries 0.3, -0.4, 0, 1.2 -> sqrt((0.09 + 0.16 + 1.44) / 4)
  // = sqrt(0.4225) = 0.65.
  const double v[4] = {0.3, -0.4, 0.0, 1.2};
  EXPECT_NEAR(flagThresholdFor(0.0, v, 2, 2), 0.65, 1e-15);
  EXPECT_DOUBLE_EQ(flagThresholdFor(0.5, v, 2, 2), 0.5);
  // Entries whose squares overflow or vanish: the same root mean square
  // at their own scale (sqrt(1.69e600 / 4) = 6.5e299), not infinity or 0.
  const double huge[4] = {3e299, -4e299, 0.0, 1.2e300};
  EXPECT_NEAR(flagThresholdFor(0.0, huge, 2, 2) / 6.5e299, 1.0, 1e-15);
  const double tiny[4] = {3e-201, -4e-201, 0.0, 1.2e-200};
  EXPECT_NEAR(flagThresholdFor(0.0, tiny, 2, 2) / 6.5e-201, 1.0, 1e-15);
}

TEST(MatrixDisplay, StorageKinds) {
  // The 3 x 3 matrix [[1 2 4] [2 3 5] [4 5 6]] in each storage.
  const double packed[6] = {1, 2, 3, 4, 5, 6};
  const double colMajor[9] = {1, 2, 4, 2, 3, 5, 4, 5, 6};
  const double rowMajor[6] = {1, 2, 3, 4, 5, 6};  // 2 x 3: [[1 2 3] [4 5 6]]
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      EXPECT_EQ(matrixElement('S', packed, i, j, 3, 3), colMajor[i + 3 * j]) << i << "," << j;
      EXPECT_EQ(matrixElement('C', colMajor, i, j, 3, 3), colMajor[i + 3 * j]) << i << "," << j;
      if (i < 2) {
        EXPECT_EQ(matrixElement('R', rowMajor, i, j, 2, 3), rowMajor[3 * i + j]);
      }
    }
  EXPECT_EQ(matrixElement('X', rowMajor, 1, 2, 2, 3), 1);  // invalid kind: element 0
}

// By dominant factor, then decreasing signed loading; one factor sorts by
// the signed value. Two factors, column by column:
//   v0: ( 0.2,  0.9) -> factor 2, 0.9
//   v1: ( 0.8,  0.1) -> factor 1, 0.8
//   v2: (-0.5,  0.5) -> tie in magnitude: factor 1, -0.5
//   v3: ( 0.3, -0.95)-> factor 2, -0.95
//   v4: ( 0.8,  0.0) -> factor 1, 0.8 (tie with v1: v1 first)
TEST(VariableOrder, ByDominantFactorThenDecreasingSignedLoading) {
  const struct {
    std::vector<double> a;
    int m;
    std::vector<int32_t> order;
  } cases[] = {{{0.2, 0.8, -0.5, 0.3, 0.8, 0.9, 0.1, 0.5, -0.95, 0.0}, 2, {1, 4, 2, 0, 3}},
               {{-0.7, 0.2, 0.6, 0.6}, 1, {2, 3, 1, 0}}};
  for (const auto& c : cases) {
    const int p = static_cast<int>(c.a.size()) / c.m;
    std::vector<int32_t> order(static_cast<size_t>(p));
    computeVariableOrder(c.a.data(), p, c.m, order.data());
    EXPECT_EQ(order, c.order);
  }
}

}  // namespace
}  // namespace zulfact
