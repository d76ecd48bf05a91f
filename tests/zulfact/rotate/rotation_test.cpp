// The module side of the rotations: the criterion coefficients of each
// code, the parameters a rotation takes, the setup of a criterion
// rotation, the PROMAX target, the Procrustes transformation, and the
// oblique solution finished from a transformation (no printing).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "zulfact/rotate/criterion_rotate.hpp"
#include "zulfact/rotate/oblique_solution.hpp"
#include "zulfact/rotate/rotation_codes.hpp"
#include "zulfact/rotate/target_rotate.hpp"

namespace zulfact {
namespace {

const double kMissing = zul_missing();

RotationParams none() { return {kMissing, kMissing, kMissing, kMissing}; }

// Each orthogonal row is a positive multiple of the orthomax criterion
// sum l^4 - (gamma / p) sum_j (sum_i l^2)^2: gamma = -p k3 / k4, with the
// gammas of Harman (1976, ch. 13) for p = 10 variables and m = 4 factors.
TEST(CriterionCoefficients, OrthomaxFamilyByItsGamma) {
  const int p = 10, m = 4;
  const struct { int code; double gamma; } rows[] = {
      {kRotQuartimax, 0.0},        {kRotVarimax, 1.0},          {kRotBiquartimax, 0.5},
      {kRotEquamax, m / 2.0},      {kRotParsimax, p * (m - 1.0) / (p + m - 2.0)},
      {kRotFactorParsimax, 1.0 * p},
  };
  for (const auto& r : rows) {
    const RotationParams k = criterionCoefficients(r.code, p, m, none());
    EXPECT_EQ(k[0], 0.0);
    EXPECT_EQ(k[1], 0.0);
    EXPECT_GT(k[3], 0.0) << r.code;
    EXPECT_NEAR(-p * k[2] / k[3], r.gamma, 1e-15) << r.code;
  }
}

TEST(CriterionCoefficients, DefaultsOfTheParametrisedFamilies) {
  const int p = 7, m = 3;
  // ORTHOMAX with gamma 1 is VARIMAX, HK rotates by the same ORTHOMAX,
  // OBLIMIN with tau 0 is QUARTIMIN and with 0.5 BIQUARTIMIN.
  RotationParams one = none(), zero = none(), half = none();
  one[0] = 1.0;
  zero[0] = 0.0;
  half[0] = 0.5;
  EXPECT_EQ(criterionCoefficients(kRotOrthomax, p, m, one),
            criterionCoefficients(kRotVarimax, p, m, none()));
  EXPECT_EQ(criterionCoefficients(kRotHk, p, m, one),
            criterionCoefficients(kRotVarimax, p, m, none()));
  EXPECT_EQ(criterionCoefficients(kRotOblimin, p, m, zero),
            criterionCoefficients(kRotQuartimin, p, m, none()));
  EXPECT_EQ(criterionCoefficients(kRotOblimin, p, m, half),
            criterionCoefficients(kRotBiquartimin, p, m, none()));
  // CF with row weight a and column weight b: oblique a, b, -(a + b).
  RotationParams cf = none();
  cf[0] = 0.8;
  cf[1] = 0.2;
  EXPECT_EQ(criterionCoefficients(kRotOblicf, p, m, cf), (RotationParams{0, 0.8, 0.2, -1.0}));
  EXPECT_EQ(criterionCoefficients(kRotOrthcf, p, m, cf), (RotationParams{0, 0, -0.2, 1.0}));
}

TEST(RotationParams, EachEntryTakesTheFirstRunOfItsOwnValues) {
  StepRecord ps;
  ps.clearRecord();
  double values[] = {0.5, 9.0, 1.0, 2.0, 7.0};
  int32_t positions[] = {1, 3, 2, 2, 1};
  ps.opt.rotationParams = values;
  ps.opt.rotationParamPositions = positions;
  ps.opt.rotationParamCount = 5;
  ps.opt.prerotationParams[0] = 4.0;
  ps.opt.prerotationParamCount = 1;
  EXPECT_EQ(rotationParams(ps.opt, 0)[0], 0.5);
  EXPECT_TRUE(std::isnan(rotationParams(ps.opt, 0)[1]));  // 7.0 is a later run
  EXPECT_EQ(rotationParams(ps.opt, 1)[0], 1.0);
  EXPECT_EQ(rotationParams(ps.opt, 1)[1], 2.0);
  EXPECT_EQ(rotationParams(ps.opt, -1)[0], 4.0);
  EXPECT_TRUE(std::isnan(rotationParams(ps.opt, -2)[0]));
}

TEST(PromaxTarget, PowerOfTheNormalisedRowsWithTheirSigns) {
  // Rows: (0.6, -0.8) of length 1; (3, 4) of length 5; a row of zeros.
  const double l[] = {0.6, 3.0, 0.0, -0.8, 4.0, 0.0};
  double t[6];
  promaxTarget(l, 3, 2, 3.0, false, t);
  const double want[] = {0.216, 0.216, 0.0, -0.512, 0.512, 0.0};
  for (int i = 0; i < 6; ++i) EXPECT_NEAR(t[i], want[i], 1e-15) << i;
  // k = 1 without normalisation: the pattern itself.
  promaxTarget(l, 3, 2, 1.0, true, t);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(t[i], l[i]);
}

TEST(HarrisKaiserOrder, DecreasingSumsWithNearTiesKeptInOrder) {
  // Column sums of squares 0.5, 0.5 + 4e-9, 0.8, and a column whose only
  // loading (1e-9) does not count.
  const double l[] = {0.5, 0.5, 0.5 + 4e-9, 0.5, 0.8, 0.0, 1e-9, 0.0};
  // p = 2: columns (0.5, 0.5) -> 0.5, (0.5+4e-9, 0.5) -> ~0.5, (0.8, 0) ->
  // 0.64, (1e-9, 0) -> 0.
  int order[4];
  double sums[4];
  harrisKaiserOrder(l, 2, 4, order, sums);
  EXPECT_EQ(std::vector<int>(order, order + 4), (std::vector<int>{2, 0, 1, 3}));  // near tie: kept
  EXPECT_NEAR(sums[0], 0.64, 1e-15);
  EXPECT_EQ(sums[3], 0.0);
}

// A target rotation's T: Phi = (T^T T)^-1 scaled to a unit diagonal, the
// pattern and T rescaled with it, so that L = L0 T still holds; the
// structure is L Phi and the reference structure L / scale.
TEST(ObliqueSolution, FromATransformation) {
  const int p = 3, m = 2;
  std::vector<double> l0 = {0.7, 0.1, 0.5, 0.2, 0.8, 0.4};
  std::vector<double> t = {1.2, 0.3, -0.2, 0.9};
  std::vector<double> pattern(6), identity = {1, 0, 1};
  for (int i = 0; i < p; ++i)
    for (int j = 0; j < m; ++j) pattern[i + j * p] = l0[i] * t[0 + j * m] + l0[i + p] * t[1 + j * m];
  const ObliqueSolution s = obliqueSolution({.p = p, .m = m, .loadings = pattern.data(),
                                             .transform = t.data(), .factorCorr = identity.data(),
                                             .singularity = 1e-8, .mode = kObliqueTarget});
  ASSERT_FALSE(s.singular);
  EXPECT_TRUE(s.obliqueMarked);
  EXPECT_TRUE(s.rescaled);
  const std::vector<double>& phi = s.factorCorr;
  EXPECT_EQ(phi[0], 1.0);
  EXPECT_EQ(phi[2], 1.0);
  // T^T T by hand: [[1.53, 0.03], [0.03, 0.85]]; its inverse scaled to a
  // unit diagonal has the off-diagonal -0.03 / sqrt(1.53 * 0.85).
  EXPECT_NEAR(phi[1], -0.03 / std::sqrt(1.53 * 0.85), 1e-14);
  for (int i = 0; i < p; ++i)
    for (int j = 0; j < m; ++j) {
      const double l = s.loadings[i + j * p];
      EXPECT_NEAR(l, l0[i] * s.transform[0 + j * m] + l0[i + p] * s.transform[1 + j * m], 1e-14);
      EXPECT_NEAR(s.structure[i + j * p],
                  s.loadings[i] * phi[j == 0 ? 0 : 1] + s.loadings[i + p] * phi[j == 0 ? 1 : 2], 1e-14);
      EXPECT_NEAR(s.refStructure[i + j * p], l / s.scales[j], 1e-15);
    }
  // The reference-axis correlations are the scaled inverse of Phi: for two
  // factors the negative of Phi's correlation.
  EXPECT_NEAR(s.refAxisCorr[1], -phi[1], 1e-14);
}

// Harris-Kaiser: the factor with the larger sum of squared loadings comes
// first, and every matrix moves with it; Phi of perfectly correlated
// factors (from a singular T) is refused.
TEST(ObliqueSolution, HarrisKaiserOrderAndSingularT) {
  const int p = 2, m = 2;
  std::vector<double> pattern = {0.3, 0.1, 0.8, 0.6};  // sums 0.10 and 1.00
  std::vector<double> t = {1.0, 0.0, 0.0, 1.0}, identity = {1, 0, 1};
  ObliqueInput in{.p = p, .m = m, .loadings = pattern.data(), .transform = t.data(),
                  .factorCorr = identity.data(), .singularity = 1e-8, .mode = kObliqueHarrisKaiser};
  ObliqueSolution s = obliqueSolution(in);
  ASSERT_FALSE(s.singular);
  EXPECT_EQ(s.loadings, (std::vector<double>{0.8, 0.6, 0.3, 0.1}));
  EXPECT_EQ(s.transform, (std::vector<double>{0.0, 1.0, 1.0, 0.0}));
  EXPECT_NEAR(s.orderedSums[0], 1.0, 1e-15);
  EXPECT_NEAR(s.orderedSums[1], 0.1, 1e-15);
  EXPECT_EQ(s.structure, s.loadings);  // orthogonal factors
  t = {1.0, 1.0, 1.0, 1.0};
  s = obliqueSolution(in);
  EXPECT_TRUE(s.singular);
  EXPECT_TRUE(s.obliqueMarked);
}

// HK(x) sets the Harris-Kaiser power for its own and the later rotations of
// the group, derived from the options each time (which stay as parsed):
// ROTATE=VARIMAX,HK(0.5),VARIMAX,HK with HKPOWER= missing, then 0.25.
TEST(HkPowerFor, LaterRotationsTakeTheLastHkParameter) {
  StepRecord ps;
  ps.clearRecord();
  int32_t list[] = {kRotVarimax, kRotHk, kRotVarimax, kRotHk};
  double values[] = {0.5};
  int32_t positions[] = {2};
  ps.opt.rotationList = list;
  ps.opt.rotationListLength = 4;
  ps.opt.rotationParams = values;
  ps.opt.rotationParamPositions = positions;
  ps.opt.rotationParamCount = 1;
  ps.opt.prerotation = kRotNone;
  ps.opt.hkPower = kMissing;
  EXPECT_TRUE(std::isnan(hkPowerFor(ps.opt, 0)));
  for (int k : {1, 2, 3, -2}) EXPECT_EQ(hkPowerFor(ps.opt, k), 0.5) << k;
  ps.opt.hkPower = 0.25;
  EXPECT_EQ(hkPowerFor(ps.opt, 0), 0.25);
  EXPECT_EQ(hkPowerFor(ps.opt, 3), 0.5);
  EXPECT_EQ(ps.opt.hkPower, 0.25);
}

// The setup of a criterion rotation: HKPOWER= turns an orthogonal
// criterion into Harris-Kaiser, named so in the heading with its power,
// and is ignored (with a warning) by an oblique one; HK alone has power 0
// and rotates by varimax (GAMMA= missing).
TEST(CriterionSetup, HarrisKaiserModeFromTheOptions) {
  StepRecord ps;
  ps.clearRecord();
  ps.opt.nVars = 6;
  ps.nFactors = 2;
  ps.opt.gamma = ps.opt.tau = ps.opt.hkPower = kMissing;
  CriterionSetup hk = criterionSetup(ps, kRotHk, -2);
  EXPECT_TRUE(hk.harrisKaiser);
  EXPECT_EQ(hk.hkPower, 0.0);
  EXPECT_EQ(hk.name.number, msg::kHarrisKaiserName.number);
  EXPECT_EQ(hk.coefficients, criterionCoefficients(kRotVarimax, 6, 2, none()));
  EXPECT_FALSE(criterionSetup(ps, kRotVarimax, -2).harrisKaiser);

  ps.opt.hkPower = 0.5;
  CriterionSetup v = criterionSetup(ps, kRotVarimax, -2);
  EXPECT_TRUE(v.harrisKaiser);
  EXPECT_EQ(v.shown[0], 0.5);
  EXPECT_EQ(engineRequest(ps, v).hkPower, 0.5);
  CriterionSetup o = criterionSetup(ps, kRotOblimin, -2);
  EXPECT_FALSE(o.harrisKaiser);
  EXPECT_TRUE(o.hkPowerIgnored);
  EXPECT_TRUE(o.engineOblique);
  EXPECT_EQ(o.name.number, msg::kObliminName.number);
  EXPECT_EQ(o.coefficients, criterionCoefficients(kRotQuartimin, 6, 2, none()));
}

// Phi = C C^T with C lower triangular; a Phi that is not positive definite
// has no such basis.
TEST(OrthogonalBasis, CholeskyFactorOfPhi) {
  const double phi[] = {1.0, 0.5, 1.0};
  std::vector<double> c;
  ASSERT_TRUE(orthogonalBasis(phi, 2, c));
  const double want[] = {1.0, 0.5, 0.0, std::sqrt(0.75)};
  for (int i = 0; i < 4; ++i) EXPECT_NEAR(c[i], want[i], 1e-15) << i;
  const double singular[] = {1.0, 1.0, 1.0};
  EXPECT_FALSE(orthogonalBasis(singular, 2, c));
}

// A target that a transformation of the pattern reaches exactly gives that
// transformation and the target back; a rank-deficient pattern is reported.
TEST(TargetRotation, ExactTargetAndSingularPattern) {
  const int p = 3, m = 2;
  std::vector<double> l = {0.7, 0.1, 0.5, 0.2, 0.8, 0.4};
  const double x[] = {1.2, 0.3, -0.2, 0.9};
  std::vector<double> target = l;
  transformPattern(target.data(), p, m, x);
  const TargetRotation r = targetRotation(l.data(), target.data(), p, m);
  ASSERT_FALSE(r.singular);
  for (int i = 0; i < 4; ++i) EXPECT_NEAR(r.transform[i], x[i], 1e-13);
  for (int i = 0; i < p * m; ++i) EXPECT_NEAR(r.pattern[i], target[i], 1e-13);
  // previous * t: the identity leaves t.
  std::vector<double> t = r.transform;
  const double identity[] = {1, 0, 0, 1};
  composeTransform(t.data(), identity, m);
  for (int i = 0; i < 4; ++i) EXPECT_NEAR(t[i], x[i], 1e-13);
  std::vector<double> flat = {0.7, 0.1, 0.5, 0.7, 0.1, 0.5};
  EXPECT_TRUE(targetRotation(flat.data(), target.data(), p, m).singular);
}

}  // namespace
}  // namespace zulfact
