// Pieces of the iterated methods that stand alone: the Heywood check, new
// communality estimates from eigenvectors, and coefficient alpha. (The
// messages of a Heywood case are checked by the fit_errors program test.)
#include <gtest/gtest.h>

#include <cstring>

#include "zulfact/extract/communality_bound.hpp"
#include "zulfact/extract/iterated.hpp"
#include "zulfact/extract/iteration_history.hpp"

namespace zulfact {
namespace {

// (HEYWOOD holding a communality at 1, and a group ended without it: the
// iterated_socioeconomic and fit_errors programs.)
TEST(HeywoodCheck, AboveOneIsKeptUnderUltraHeywoodOneIsNoHeywoodCase) {
  StepRecord ps;
  ps.clearRecord();
  ps.opt.nVars = 3;
  ps.opt.flags.ultraHeywood = true;
  double above[3] = {0.5, 1.0000001, 0.9};
  heywoodCheck(ps, above);
  EXPECT_EQ(above[1], 1.0000001);
  EXPECT_EQ(ps.heywoodStatus, 1);

  ps.opt.flags.ultraHeywood = false;
  double exactlyOne[3] = {1.0, 1.0, 0.2};  // 1 itself is no Heywood case
  heywoodCheck(ps, exactlyOne);
  EXPECT_EQ(ps.heywoodStatus, 1);

  // 1 recomputed from eigenvectors, a few ulps above: rounded to 1, not a
  // Heywood case (PRINIT with as many factors as variables).
  double roundedOne[3] = {1.0000000000000004, 1.0000000000000013, 0.3};
  heywoodCheck(ps, roundedOne);
  EXPECT_EQ(ps.heywoodStatus, 1);
  EXPECT_EQ(roundedOne[1], 1.0);
}

TEST(CommunalitiesFromVectors, SumsOfSquaresTinyOnesAndWeights) {
  // Two variables, one factor, lambda = 2, z = (0.8, 0.6): h = 2 z^2 =
  // (1.28, 0.72), the second divided by its weight 2; a negative
  // eigenvalue counts as 0.
  const double lambda[2] = {2.0, -0.5};
  const double z[4] = {0.8, 0.6, 0.6, -0.8};
  const double w[2] = {1.0, 2.0};
  double h[2];
  communalitiesFromVectors(2, 2, lambda, z, w, false, h);
  EXPECT_DOUBLE_EQ(h[0], 2.0 * 0.64);
  EXPECT_DOUBLE_EQ(h[1], 2.0 * 0.36 / 2.0);

  // An estimate not above k max(tiny, p eps) = 1 * 2 * 2^-53 becomes exactly
  // 0.
  const double small[1] = {1e-16};
  const double unit[4] = {1.0, 1.0, 0.0, 0.0};
  communalitiesFromVectors(2, 1, small, unit, w, false, h);
  EXPECT_EQ(h[0], 0.0);
  EXPECT_EQ(h[1], 0.0);

  // COV weights of data of 1e-100 (variances 1e-200): the floor is judged
  // per unit of variance, so the same communalities come out.
  const double tinyLambda[2] = {2e-200, -0.5e-200};
  const double variances[2] = {1e-200, 2e-200};
  communalitiesFromVectors(2, 2, tinyLambda, z, variances, false, h);
  EXPECT_DOUBLE_EQ(h[0], 2.0 * 0.64);
  EXPECT_DOUBLE_EQ(h[1], 2.0 * 0.36 / 2.0);

  // ALPHA (weights 1/h of the previous estimates) judges the sum of the
  // scaled matrix before multiplying it by the previous estimate: a sum
  // of 1e-17 is 0, a sum of 1 times an estimate of 1e-20 stays.
  const double alphaLambda[2] = {1.0, 1e-17};
  const double axes[4] = {1.0, 0.0, 0.0, 1.0};
  const double inverse[2] = {1e20, 1e-17};
  communalitiesFromVectors(2, 2, alphaLambda, axes, inverse, true, h);
  EXPECT_DOUBLE_EQ(h[0], 1e-20);
  EXPECT_EQ(h[1], 0.0);
}

TEST(CoefficientAlpha, KaiserCaffreyFormula) {
  // p = 5: alpha = 5 (1 - 1/lambda) / 4; an eigenvalue of 1 gives 0.
  EXPECT_DOUBLE_EQ(coefficientAlpha(5, 1.0), 0.0);
  EXPECT_DOUBLE_EQ(coefficientAlpha(5, 2.0), 0.625);
  // A non-positive eigenvalue is taken as 1.11e-13: a large negative alpha.
  EXPECT_LT(coefficientAlpha(5, 0.0), -1e12);
  EXPECT_TRUE(zul_is_missing(coefficientAlpha(1, 2.0)));
}

TEST(CommunalityBound, RowsAboveTheVarianceAreScaledToIt) {
  // Packed R with variances 1, 4, 1; a 3 x 2 column-major pattern whose
  // rows have communalities 1.25 (above 1), 5 (above 4) and 0.5.
  const double r[6] = {1.0, 0.3, 4.0, 0.2, 0.1, 1.0};
  double a[6] = {1.0, 2.0, 0.5, 0.5, 1.0, 0.5};  // rows (1, .5), (2, 1), (.5, .5)
  const AboveVariance worst = worstAboveVariance(3, 2, a, r, 1.0);
  EXPECT_EQ(worst.row, 0);  // 1.25 / 1 beats 5 / 4
  EXPECT_DOUBLE_EQ(worst.ratio, 1.25);

  const AboveVariance scaled = scaleRowsToVariance(3, 2, a, r);
  EXPECT_EQ(scaled.row, 0);
  EXPECT_NEAR(a[0] * a[0] + a[3] * a[3], 1.0, 1e-15);
  EXPECT_NEAR(a[1] * a[1] + a[4] * a[4], 4.0, 1e-15);  // in the variable's units
  EXPECT_DOUBLE_EQ(a[0] / a[3], 2.0);                     // the row keeps its direction
  EXPECT_EQ(a[2], 0.5);                                   // a row within the bound is untouched
  EXPECT_EQ(a[5], 0.5);

  // Nothing above: no row, nothing changed; a slack hides rounding.
  EXPECT_EQ(scaleRowsToVariance(3, 2, a, r).row, -1);
  double rounded[2] = {1.0 + 1e-12, 0.0};
  const double one[1] = {1.0};
  EXPECT_EQ(worstAboveVariance(1, 2, rounded, one, 1.0 + kAboveVarianceSlack).row, -1);
}

}  // namespace
}  // namespace zulfact
