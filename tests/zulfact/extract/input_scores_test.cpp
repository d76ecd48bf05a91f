// Saved scoring coefficients read back (METHOD=SCORE): the correlations
// of the scores they imply and the oblique solution those describe, by
// hand on two variables with R = I. (Three variables, a column rescaled to
// unit variance and singular score correlations: the input_scores program.)
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "zulfact/extract/input_scores.hpp"

namespace zulfact {
namespace {

const double kIdentity[3] = {1, 0, 1};

// Columns (1, 0) and (0.6, 0.8): unit score variances correlated 0.6, so
// Phi^-1 = [[1, -.6], [-.6, 1]] / .64, the scales sqrt(1/.64) = 1.25,
// the reference axes correlated -0.6, the structure R W = W, the
// reference structure (Phi^-1 W' / s)' = [[.8, 0], [-.6, 1]] and
// communalities 1 (two scores of two variables).
TEST(ScoreSolution, CorrelatedScoresGiveTheObliqueSolution) {
  const double w[4] = {1, 0, 0.6, 0.8};
  const ScoreSolution s = scoreSolution(2, 2, kIdentity, w, 1e-8);
  EXPECT_TRUE(s.oblique);
  EXPECT_EQ(s.singular, 0);
  EXPECT_NEAR(s.scoreCorr[1], 0.6, 1e-15);
  EXPECT_EQ(s.coefficients, std::vector<double>(w, w + 4));  // unit variances kept bit for bit
  EXPECT_NEAR(s.factorScales[0], 1.25, 1e-14);
  EXPECT_NEAR(s.factorScales[1], 1.25, 1e-14);
  EXPECT_NEAR(s.refAxisCorr[1], -0.6, 1e-14);
  const double ref[4] = {0.8, -0.6, 0, 1};
  for (int e = 0; e < 4; ++e) {
    EXPECT_NEAR(s.refStructure[e], ref[e], 1e-14) << e;
    EXPECT_NEAR(s.structure[e], w[e], 1e-14) << e;
  }
  EXPECT_NEAR(s.communalities[0], 1.0, 1e-14);
  EXPECT_NEAR(s.communalities[1], 1.0, 1e-14);
}

}  // namespace
}  // namespace zulfact
