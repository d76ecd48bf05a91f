// Pieces of the priors step that stand alone: sampling adequacy, row
// maxima of |r|, the weights of each method and the _TYPE_ rule.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "kernels/packed.hpp"
#include "zulfact/extract/priors.hpp"

namespace zulfact {
namespace {

TEST(SamplingAdequacy, KaiserRatioPerVariableAndOverall) {
  // R = [[1 .5 .4] [.5 1 .3] [.4 .3 1]]. Partial correlations by the
  // first-order formula r_ij.k = (r_ij - r_ik r_jk) / sqrt((1 - r_ik^2)(1 - r_jk^2)),
  // independent of the inverse that the program uses.
  const double r12 = 0.5, r13 = 0.4, r23 = 0.3;
  const double q12 = (r12 - r13 * r23) / std::sqrt((1 - r13 * r13) * (1 - r23 * r23));
  const double q13 = (r13 - r12 * r23) / std::sqrt((1 - r12 * r12) * (1 - r23 * r23));
  const double q23 = (r23 - r12 * r13) / std::sqrt((1 - r12 * r12) * (1 - r13 * r13));
  const double q[6] = {1, q12, 1, q13, q23, 1};
  const double rowSums[3] = {r12 * r12 + r13 * r13, r12 * r12 + r23 * r23,
                             r13 * r13 + r23 * r23};
  double msa[3];
  const double overall = samplingAdequacy(3, rowSums, q, msa);
  EXPECT_NEAR(msa[0], 0.41 / (0.41 + q12 * q12 + q13 * q13), 1e-15);
  EXPECT_NEAR(msa[2], 0.25 / (0.25 + q13 * q13 + q23 * q23), 1e-15);
  const double r2 = 2 * (0.25 + 0.16 + 0.09), p2 = 2 * (q12 * q12 + q13 * q13 + q23 * q23);
  EXPECT_NEAR(overall, r2 / (r2 + p2), 1e-15);
  // No correlation at all gives 0.
  const double none[3] = {1, 0, 1}, zeroSums[2] = {0, 0};
  EXPECT_EQ(samplingAdequacy(2, zeroSums, none, msa), 0.0);
  EXPECT_EQ(msa[0], 0.0);
}

TEST(MaxAbsCorrelations, RowMaximaAndZeroVariance) {
  // R = [[1 -.7 .2] [-.7 1 .4] [.2 .4 1]]; the third variable is constant.
  const double r[6] = {1, -0.7, 1, 0.2, 0.4, 1};
  const double sd[3] = {1.0, 2.0, 0.0};
  double out[3];
  EXPECT_DOUBLE_EQ(maxAbsCorrelations(3, r, sd, out), 1.4);
  EXPECT_DOUBLE_EQ(out[0], 0.7);
  EXPECT_DOUBLE_EQ(out[1], 0.7);
  EXPECT_EQ(out[2], 0.0);
}

TEST(MethodWeights, ByMethod) {
  const double sd[3] = {2.0, 3.0, 0.5};
  const double h2[3] = {1.0, 0.5, 1e-320};
  double w[3];

  // ML: a prior of 1.0 caps the weight at 1/0.001
  methodWeights(3, kMethodMl, false, sd, h2, w);
  EXPECT_DOUBLE_EQ(w[0], 1000.0);
  EXPECT_DOUBLE_EQ(w[1], 2.0);

  methodWeights(3, kMethodAlpha, false, sd, h2, w);  // 1/h2, 0 for a subnormal prior
  EXPECT_DOUBLE_EQ(w[0], 1.0);
  EXPECT_DOUBLE_EQ(w[1], 2.0);
  EXPECT_EQ(w[2], 0.0);

  methodWeights(3, kMethodPrincipal, false, sd, h2, w);
  EXPECT_EQ(w[1], 1.0);
  methodWeights(3, kMethodPrincipal, true, sd, h2, w);  // COV: the variances
  EXPECT_DOUBLE_EQ(w[0], 4.0);
  EXPECT_DOUBLE_EQ(w[1], 9.0);
  EXPECT_DOUBLE_EQ(w[2], 0.25);
}

// Priors outside [0, 1] under a one-pass method: a communality above 1
// is a Heywood case, one below 0 no communality at all. HEYWOOD brings
// them into [0, 1], ULTRAHEYWOOD keeps them, without either the group
// has no solution (priors of 2 and -1 under each: the
// extract_priors_heywood program).
TEST(PriorBounds, HeywoodRuleOnPriors) {
  struct Case {
    std::vector<double> h2;
    bool heywood, ultra;
    PriorBound result;
    std::vector<double> after;
  };
  const Case cases[] = {
      {{0, .5, 1}, false, false, PriorBound::Within, {0, .5, 1}},
      {{.5, -0.25}, false, false, PriorBound::Negative, {.5, -0.25}},
      {{1.0000001, .5}, true, false, PriorBound::Adjusted, {1, .5}},
  };
  for (const Case& c : cases) {
    std::vector<double> h2 = c.h2;
    EXPECT_EQ(boundPriors(static_cast<int>(h2.size()), h2.data(), c.heywood, c.ultra), c.result);
    EXPECT_EQ(h2, c.after);
  }
}

// The estimates of each PRIORS= method from plain matrices. R of three
// variables, r12 = .5, r13 = .4, r23 = .3; the third variable of `flat` has
// no spread. SMC 1 - 1/r^ii by the closed form of the 3 x 3 inverse:
// r^11 = (1 - r23^2) / det R. (RANDOM, ASMC, MAX and the fall-backs of a
// singular R: the extract_priors program, against plain Python.)
TEST(PriorEstimates, EveryMethodFromPlainMatrices) {
  const double r[6] = {1, .5, 1, .4, .3, 1};
  const double sd[3] = {1, 2, 3}, flat[3] = {1, 2, 0};
  const double det = 1 + 2 * .5 * .4 * .3 - .25 - .16 - .09;
  const double invDiag[3] = {(1 - .09) / det, (1 - .16) / det, (1 - .25) / det};
  auto run = [&](int method, const double* given = nullptr, const double* inv = nullptr,
                 const double* sds = nullptr) {
    int32_t seed = 1;
    return priorEstimates({3, r, sds ? sds : sd, method, given, inv}, seed);
  };
  EXPECT_EQ(run(kPriorsOne).h2, (std::vector<double>{1, 1, 1}));
  const double given[3] = {.2, 2, -1};
  EXPECT_EQ(run(kPriorsNumeric, given).h2, (std::vector<double>{.2, 2, -1}));
  EXPECT_EQ(run(kPriorsInput, given, nullptr, flat).h2, (std::vector<double>{.2, 2, 0}));
  const PriorEstimates smc = run(kPriorsSmc, nullptr, invDiag);
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(smc.h2[i], 1 - 1 / invDiag[i], 1e-15);
  EXPECT_FALSE(smc.fellBack);
  EXPECT_TRUE(run(kPriorsSmc).fellBack);  // no inverse: a singular R
  EXPECT_EQ(run(kPriorsSmc, nullptr, invDiag, flat).h2[2], 0.0);
}

// A group's priors from plain values: the reduced matrix carries the
// estimates (R itself for NONE), a missing PRIORS row turns INPUT into
// ONE, the WEIGHT row (scaled to the variances under COV) or, when it is
// missing, the method's weights, and the random stream moves on.
TEST(GroupPriors, ReducedMatrixWeightsAndMissingRows) {
  const double r[6] = {1, .5, 1, .4, .3, 1};
  const double sd[3] = {1, 2, 3};
  const double det = 1 + 2 * .5 * .4 * .3 - .25 - .16 - .09;
  const double invDiag[3] = {(1 - .09) / det, (1 - .16) / det, (1 - .25) / det};
  GroupPriorsInputs in{.p = 3, .r = r, .stdDevs = sd, .priors = kPriorsSmc, .method = kMethodMl,
                       .invDiag = invDiag, .seed = 7};

  GroupPriors smc = groupPriors(in);
  EXPECT_EQ(smc.priorsUsed, kPriorsSmc);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(smc.reduced[kernels::packedIndex(i, i)], smc.h2[i]);
    EXPECT_DOUBLE_EQ(smc.weights[i], 1.0 / (1.0 - smc.h2[i]));
  }
  EXPECT_EQ(smc.reduced[kernels::packedIndex(2, 1)], .3);
  EXPECT_EQ(smc.seed, 7);

  in.priors = kPriorsNone;
  const GroupPriors none = groupPriors(in);
  EXPECT_EQ(none.reduced, std::vector<double>(r, r + 6));
  EXPECT_TRUE(none.weights.empty());

  in.priors = kPriorsInput;  // the table has no PRIORS row
  const GroupPriors input = groupPriors(in);
  EXPECT_TRUE(input.noPriorsRow);
  EXPECT_EQ(input.priorsUsed, kPriorsOne);
  EXPECT_EQ(input.h2, (std::vector<double>{1, 1, 1}));

  const double row[3] = {2, 0.5, 1};
  in = {.p = 3, .r = r, .stdDevs = sd, .priors = kPriorsOne, .covariance = true,
        .weightOption = true, .weightRow = row};
  EXPECT_EQ(groupPriors(in).weights, (std::vector<double>{2, 2, 9}));
  in.weightRow = nullptr;  // no WEIGHT row: the variances, and the group is told
  const GroupPriors unweighted = groupPriors(in);
  EXPECT_TRUE(unweighted.noWeightRow);
  EXPECT_EQ(unweighted.weights, (std::vector<double>{1, 4, 9}));

  in.priors = kPriorsRandom;
  in.seed = 1;
  const GroupPriors random = groupPriors(in);
  EXPECT_EQ(random.h2[0], 397204094 / 2147483647.0);
  EXPECT_NE(random.seed, 1);
}

TEST(PriorsType, PriorsOrCommunalThroughEightCharacters) {
  EXPECT_TRUE(isPriorsType("PRIORS  "));
  EXPECT_TRUE(isPriorsType("COMMUNAL"));  // "COMMUNALITY" cut to 8
  EXPECT_FALSE(isPriorsType("PRIOR   "));
  EXPECT_FALSE(isPriorsType("COMMUNA "));
  EXPECT_FALSE(isPriorsType("CORR    "));
}

}  // namespace
}  // namespace zulfact
