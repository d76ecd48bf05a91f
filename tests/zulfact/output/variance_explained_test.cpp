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

// By hand. Orthogonal (mode 0): row sums of squares 0.25 + 0.09 = 0.34 and
// 0.04 + 0.36 = 0.40; the column sums of squares (0.29 + 0.45) give the
// same total 0.74. Oblique (mode 1): a_i' Phi a_i, 0.25 + 0.09 +
// 2(0.5)(0.5)(0.3) = 0.49 and 0.04 + 0.36 + 2(0.5)(0.2)(0.6) = 0.52.
// Eliminating other factors (mode 2) leaves the communalities as they were.
TEST(FinalCommunalities, ByKindOfSolution) {
  const struct {
    int mode;
    double h0, h1, total;
  } cases[] = {{0, 0.34, 0.40, 0.74}, {1, 0.49, 0.52, 1.01}, {2, -1.0, -1.0, -1.0}};
  for (const auto& c : cases) {
    Solution s;
    varianceExplained(s.ps, c.mode);
    EXPECT_DOUBLE_EQ(s.communalities[0], c.h0) << c.mode;
    EXPECT_DOUBLE_EQ(s.communalities[1], c.h1) << c.mode;
    if (c.mode < 2) {
      EXPECT_DOUBLE_EQ(s.ps.communalTotal, c.total) << c.mode;
    }
  }
}

}  // namespace
}  // namespace zulfact
