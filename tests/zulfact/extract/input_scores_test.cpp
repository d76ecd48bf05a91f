// Saved scoring coefficients read back (METHOD=SCORE): the correlations
// of the scores they imply and the oblique solution those describe, by
// hand on two variables with R = I.
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

  // The scores are z1 and z2 of three variables with r12 = .5, r23 = .4:
  // z3 correlates .4 with the second score though no coefficient of it is
  // nonzero. Phi^-1 = [[1, -.5], [-.5, 1]] / .75, s = sqrt(4/3); z3's
  // regression on the scores is (0, .4) Phi^-1 = (-.2, .4) / .75 and its
  // communality .16 / .75.
  const double r3[6] = {1, 0.5, 1, 0, 0.4, 1}, w3[6] = {1, 0, 0, 0, 1, 0};
  const ScoreSolution t = scoreSolution(3, 2, r3, w3, 1e-8);
  ASSERT_TRUE(t.oblique);
  const double structure3[6] = {1, 0.5, 0, 0.5, 1, 0.4};
  const double s3 = std::sqrt(1 / 0.75);
  const double ref3[6] = {1 / s3, 0, -0.2 / 0.75 / s3, 0, 1 / s3, 0.4 / 0.75 / s3};
  for (int e = 0; e < 6; ++e) {
    EXPECT_NEAR(t.structure[e], structure3[e], 1e-14) << e;
    EXPECT_NEAR(t.refStructure[e], ref3[e], 1e-14) << e;
  }
  EXPECT_NEAR(t.communalities[2], 0.16 / 0.75, 1e-14);
}

// Uncorrelated scores of variance 4 and 1: the first column is halved to
// unit variance, the solution stays orthogonal. Two equal columns make
// the score correlations singular.
TEST(ScoreSolution, RescaledOrthogonalAndSingularScores) {
  const double w[4] = {2, 0, 0, 1};
  const ScoreSolution s = scoreSolution(2, 2, kIdentity, w, 1e-8);
  EXPECT_FALSE(s.oblique);
  EXPECT_EQ(s.coefficients, (std::vector<double>{1, 0, 0, 1}));
  EXPECT_TRUE(s.structure.empty());
  const double same[4] = {0.6, 0.8, 0.6, 0.8};
  EXPECT_EQ(scoreSolution(2, 2, kIdentity, same, 1e-8).singular, 1);
}

}  // namespace
}  // namespace zulfact
