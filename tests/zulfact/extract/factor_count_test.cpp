// The number of factors, the clean-up of tiny eigenvalues, the eigen note
// reporter and the dropping of empty factors.
#include <gtest/gtest.h>

#include <cstring>
#include <utility>
#include <vector>

#include "fake_host/fake_host.hpp"
#include "zulfact/host/host.hpp"
#include "zulfact/extract/principal.hpp"
#include "zulfact/output/variance_explained.hpp"
#include "zulfact/rotate/unrotated_pattern.hpp"

namespace zulfact {
namespace {

// A host with only the numbered-message service (39/70), so that the
// tests see which messages are issued.
struct CapturingHost {
  zul_test::FakeHost fake;
  CapturingHost() {
    fake.recordMessages();
    host().attach(fake.vector(), nullptr);
  }
  ~CapturingHost() { host().attach(nullptr, nullptr); }
  bool issued(int group, int number) const { return fake.issued(group, number); }
};

struct Analysis {
  StepRecord ps;
  std::vector<double> eigen, weights;
  explicit Analysis(std::vector<double> lambda) : eigen(std::move(lambda)) {
    ps.clearRecord();
    ps.opt.nVars = static_cast<int32_t>(eigen.size());
    ps.nFactors = ps.opt.nVars;
    ps.opt.nFactorsRequested = -99;
    ps.opt.minEigen = zul_missing();
    ps.opt.proportion = zul_missing();
    ps.opt.method = kMethodPrincipal;
    ps.opt.priorsMethod = ps.priorsUsed = kPriorsOne;
    ps.screeDone = true;
    ps.eigenvalues = eigen.data();
    weights.assign(eigen.size(), 1.0);
    ps.varWeights = weights.data();
  }
};

// Eigenvalues of the correlation matrix of Harman's (1976, table 2.1) five
// socioeconomic variables, as published.
const std::vector<double> kHarman = {2.87331, 1.79666, 0.21483, 0.09993, 0.01527};

// Which rule stops the count, at its edge: an eigenvalue equal to
// MINEIGEN is not retained; the factor that reaches PROPORTION is
// (cumulative 0.6, 0.8, 0.9, 1.0 by hand); NFACTORS bounds the count.
// With a nearly zero total, T = 1 + 0.5 - 1.495 = 0.005 and M = 1.495, so
// 0.01 M >= T: proportions are taken against 1.495e6 and PROPORTION=0.5
// never stops the count, the threshold stops it at the negative
// eigenvalue (against the plain total the first factor, 1/0.005 = 200,
// would reach 0.5).
TEST(EigenvalueRule, EachRuleStopsAtItsEdge) {
  const struct {
    std::vector<double> l;
    double minEigen, proportion;
    int nFactors, count;
    const char* why;
  } cases[] = {
      {{2.5, 1.0, 0.5, 0.0}, 1.0, 0.0, 4, 1, "MINEIGEN"},
      {{6.0, 2.0, 1.0, 1.0}, 1e-13, 0.8, 4, 2, "PROPORTION"},
      {{1.0, 0.5, -1.495}, 1.110223024625157e-13, 0.5, 3, 2, "MINEIGEN"},
      {{4.0, 3.0, 2.0, 1.0}, 0.5, 0.0, 2, 2, "NFACTOR"},
      // Proportions 0.6 + 0.3 sum to 0.8999999999999999 in binary, and
      // 0.55 + 0.25 + 0.15 + 0.05 to 0.9999999999999999: the proportion
      // is reached all the same, no factor is added and PROPORTION=100
      // (1.0) is what stops the count.
      {{2.4, 1.2, 0.2, 0.2}, 1e-13, 0.9, 4, 2, "PROPORTION"},
      {{2.2, 0.5, 0.2, 0.1}, 1e-13, 1.0, 4, 4, "PROPORTION"},
      // A last proportion of 1e-12 is no rounding: its factor is needed.
      {{2.0, 1.0, 1.0, 4e-12}, 1e-13, 1.0, 4, 4, "PROPORTION"},
  };
  for (const auto& c : cases) {
    const char* why = nullptr;
    EXPECT_EQ(eigenvalueRule(c.l.data(), static_cast<int>(c.l.size()), 0, c.minEigen, c.proportion,
                             c.nFactors, &why),
              c.count)
        << c.why;
    EXPECT_STREQ(why, c.why);
  }
}

TEST(DecideFactorCount, PrincipalComponentsKeepEigenvaluesAboveOne) {
  CapturingHost host;
  Analysis a(kHarman);
  decideFactorCount(a.ps);
  EXPECT_EQ(a.ps.factorsRetained, 2);
  EXPECT_DOUBLE_EQ(a.ps.minEigenUsed, 1.0);
  EXPECT_DOUBLE_EQ(a.ps.proportionUsed, 1.0);
  EXPECT_TRUE(host.issued(180, 191));
  EXPECT_FALSE(host.issued(180, 37));
}

// MINEIGEN=1 with an eigenvalue of exactly 1; PROPORTION=0.8; NFACTORS=
// alone, which counts only the eigenvalues that are not negligible.
TEST(DecideFactorCount, EachOptionGivenAlone) {
  CapturingHost host;
  Analysis a({2.0, 1.0, 0.6, 0.4});
  a.ps.opt.minEigen = 1.0;
  decideFactorCount(a.ps);
  EXPECT_EQ(a.ps.factorsRetained, 1);
  EXPECT_TRUE(host.issued(180, 194));  // one factor

  Analysis b({6.0, 2.0, 1.0, 1.0});
  b.ps.opt.proportion = 0.8;
  decideFactorCount(b.ps);
  EXPECT_EQ(b.ps.factorsRetained, 2);
  // Given PROPORTION= only: the threshold is the tolerance times lambda_1.
  EXPECT_DOUBLE_EQ(b.ps.minEigenUsed, 1.110223024625157e-13 * 6.0);

  Analysis c({2.0, 1e-14, 0.0, 0.0});
  c.ps.opt.nFactorsRequested = 3;
  c.ps.nFactors = 3;
  decideFactorCount(c.ps);
  EXPECT_EQ(c.ps.factorsRetained, 1);

  // Every eigenvalue above MINEIGEN=: all are kept, and as no NFACTORS=
  // bounded the count, no criterion is named; NFACTORS=4 is named.
  for (const int requested : {-99, 4}) {
    Analysis d({2.0, 1.0, 0.6, 0.4});
    d.ps.opt.minEigen = 0.1;
    d.ps.opt.nFactorsRequested = requested;
    host.fake.messages.clear();
    decideFactorCount(d.ps);
    EXPECT_EQ(d.ps.factorsRetained, 4);
    ASSERT_EQ(host.fake.messages.size(), 1u);
    EXPECT_EQ(host.fake.messages[0].text(), requested < 0 ? "180/191 4|" : "180/191 4|NFACTOR");
  }
}

TEST(DecideFactorCount, DefaultsByMethodAndPriors) {
  CapturingHost host;
  // Reduced-matrix eigenvalues (principal factor, PRIORS=SMC): the
  // cumulative proportions of (3, 1, 0.5, -0.5) are 0.75, 1.0, 1.125, so the
  // second factor reaches 1.0.
  Analysis smc({3.0, 1.0, 0.5, -0.5});
  smc.ps.opt.priorsMethod = smc.ps.priorsUsed = kPriorsSmc;
  decideFactorCount(smc.ps);
  EXPECT_EQ(smc.ps.factorsRetained, 2);
  EXPECT_DOUBLE_EQ(smc.ps.minEigenUsed, 1.110223024625157e-13 * 3.0);

  // Harris: threshold 1 whatever the priors.
  Analysis harris({5.0, 1.5, 1.0, 0.2});
  harris.ps.opt.method = kMethodHarris;
  harris.ps.opt.priorsMethod = harris.ps.priorsUsed = kPriorsSmc;
  decideFactorCount(harris.ps);
  EXPECT_EQ(harris.ps.factorsRetained, 2);

  // Weighted components (COV): threshold = the mean weight (variance),
  // (4 + 2 + 1 + 1) / 4 = 2.
  Analysis cov({6.0, 2.5, 2.0, 0.5});
  cov.ps.opt.flags.weighted = true;
  cov.weights = {4.0, 2.0, 1.0, 1.0};
  cov.ps.varWeights = cov.weights.data();
  decideFactorCount(cov.ps);
  EXPECT_DOUBLE_EQ(cov.ps.minEigenUsed, 2.0);
  EXPECT_EQ(cov.ps.factorsRetained, 2);
}

// (Parallel analysis and MAP4 counts, MAP at no component with "No factor
// is retained": the nfactors_rules program.)
TEST(DecideFactorCount, MapAndParallelCountsAndMessages) {
  CapturingHost host;
  Analysis a(kHarman);
  a.ps.opt.mapVariant = 2;
  a.ps.mapFactors2 = 1;
  decideFactorCount(a.ps);
  EXPECT_EQ(a.ps.factorsRetained, 1);
  EXPECT_TRUE(host.issued(180, 290));
}

// Every eigenvalue missing: no factor, message 35. (Too few degrees of
// freedom for ML, and no eigenvalue above MINEIGEN=: the fit_errors and
// fit_harman74 programs.)
TEST(DecideFactorCount, NoEigenvalueNoFactor) {
  CapturingHost host;
  const double m = zul_missing();
  Analysis b({m, m});
  decideFactorCount(b.ps);
  EXPECT_EQ(b.ps.factorsRetained, 0);
  EXPECT_TRUE(host.issued(180, 35));
}

TEST(ZeroTinyEigenvalues, RelativeToTheFirstAvailable) {
  const double m = zul_missing();
  double eigen[5] = {m, 2.0, 2.2e-13, -2.2e-13, 2.3e-13};
  zeroTinyEigenvalues(5, eigen);
  EXPECT_TRUE(zul_is_missing(eigen[0]));
  // 2.2e-13 <= 2 * 1.110223024625157e-13 < 2.3e-13.
  EXPECT_EQ(std::vector<double>(eigen + 1, eigen + 5), (std::vector<double>{2.0, 0.0, 0.0, 2.3e-13}));
}

TEST(EigenNote, WarningCodesBecomeGroup271Messages) {
  CapturingHost host;
  EXPECT_EQ(eigenNote(0, nullptr), 0);
  EXPECT_TRUE(host.fake.messages.empty());
  eigenNote(-1, nullptr);  // bisection fallback
  EXPECT_TRUE(host.issued(271, 1));
  host.fake.messages.clear();
  eigenNote(-21, nullptr);  // -(10*2 + 1): QL failed and a slow vector
  EXPECT_TRUE(host.issued(271, 1));
  EXPECT_TRUE(host.issued(271, 5));
  host.fake.messages.clear();
  eigenNote(-110, nullptr);  // below -99: 271/100, then -10
  EXPECT_TRUE(host.issued(271, 100));
  EXPECT_TRUE(host.issued(271, 4));
}

TEST(DropEmptyFactors, EmptyColumnsGoAndTheOthersShiftLeft) {
  // Three factors of two variables; the second has only loadings within
  // the tolerance (already zeroed by the caller).
  double a[6] = {0.5, 0.4, 0.0, 0.0, 0.7, -0.2};
  int dropped[3];
  EXPECT_EQ(dropEmptyFactors(a, 2, 3, dropped), 2);
  EXPECT_EQ(std::vector<int>(dropped, dropped + 3), (std::vector<int>{0, 1, 0}));
  EXPECT_EQ(std::vector<double>(a, a + 4), (std::vector<double>{0.5, 0.4, 0.7, -0.2}));
  double none[2] = {0.0, 0.0};
  EXPECT_EQ(dropEmptyFactors(none, 2, 1, dropped), 0);
}

TEST(ColumnSquares, MissingWeightCountsOnlyUnweighted) {
  const double m[4] = {0.6, 0.8, 0.3, -0.4};  // 2 variables x 2 factors
  const double w[2] = {2.0, zul_missing()};
  double v[2], wv[2];
  columnSquares(m, 2, 2, w, v, wv);
  EXPECT_DOUBLE_EQ(v[0], 1.0);   // 0.36 + 0.64
  EXPECT_DOUBLE_EQ(v[1], 0.25);  // 0.09 + 0.16
  EXPECT_DOUBLE_EQ(wv[0], 0.72);  // 2 * 0.36
  EXPECT_DOUBLE_EQ(wv[1], 0.18);  // 2 * 0.09
}

}  // namespace
}  // namespace zulfact
