// Final communalities of orthogonal and oblique solutions (no printing).
#include <gtest/gtest.h>

#include <cstring>

#include "zulfact/output/variance_explained.hpp"

namespace zulfact {
namespace {

struct Solution {
  StepRecord ps;
  // Pattern A = [[0.5 0.3] [0.2 0.6]] column by column, Phi = [[1 .5] [.5 1]]
  // packed, structure A Phi = [[0.65 0.55] [0.5 0.7]] column by column.
  double pattern[4] = {0.5, 0.2, 0.3, 0.6};
  double phi[3] = {1.0, 0.5, 1.0};
  double structure[4] = {0.65, 0.5, 0.55, 0.7};
  double reference[4] = {0.4, 0.1, 0.2, 0.5};
  double communalities[2] = {-1.0, -1.0};
  double weights[2] = {1.0, 1.0};
  Solution() {
    ps.clearRecord();
    ps.opt.nVars = 2;
    ps.nFactors = 2;
    ps.loadings = pattern;
    ps.factorCorr = phi;
    ps.structure = structure;
    ps.refStructure = reference;
    ps.communalities = communalities;
    ps.varWeights = weights;
  }
};

TEST(FinalCommunalities, OrthogonalRowSumsOfSquaresEqualTheExplainedVariance) {
  Solution s;
  varianceExplained(s.ps, 0);
  // Hand calculation: 0.25 + 0.09 = 0.34 and 0.04 + 0.36 = 0.40; the
  // column sums of squares (0.29 + 0.45) give the same total 0.74.
  EXPECT_DOUBLE_EQ(s.communalities[0], 0.34);
  EXPECT_DOUBLE_EQ(s.communalities[1], 0.40);
  EXPECT_DOUBLE_EQ(s.ps.communalTotal, 0.74);
}

TEST(FinalCommunalities, ObliqueQuadraticFormWithTheFactorCorrelations) {
  Solution s;
  varianceExplained(s.ps, 1);
  // a_i' Phi a_i: 0.25 + 0.09 + 2(0.5)(0.5)(0.3) = 0.49 and
  // 0.04 + 0.36 + 2(0.5)(0.2)(0.6) = 0.52.
  EXPECT_DOUBLE_EQ(s.communalities[0], 0.49);
  EXPECT_DOUBLE_EQ(s.communalities[1], 0.52);
  EXPECT_DOUBLE_EQ(s.ps.communalTotal, 1.01);
}

TEST(FinalCommunalities, EliminatingOtherFactorsLeavesThemUnchanged) {
  Solution s;
  varianceExplained(s.ps, 2);
  EXPECT_EQ(s.communalities[0], -1.0);
  EXPECT_EQ(s.communalities[1], -1.0);
}

}  // namespace
}  // namespace zulfact
