#include "zulfact/output/intervals.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace zulfact {
namespace {

TEST(Intervals, NormalQuantileAndTail) {
  EXPECT_NEAR(normalQuantile(0.975), 1.959963984540054, 1e-13);
  EXPECT_NEAR(normalQuantile(0.95), 1.644853626951473, 1e-13);
  EXPECT_NEAR(normalQuantile(0.01), -2.326347874040841, 1e-13);
  EXPECT_NEAR(normalQuantile(1e-10), -6.361340902404056, 1e-10);
  EXPECT_NEAR(normalQuantile(0.5), 0.0, 1e-15);
  EXPECT_TRUE(std::isnan(normalQuantile(0.0)));
  EXPECT_TRUE(std::isnan(normalQuantile(1.0)));
  EXPECT_NEAR(normalUpperTail(1.959963984540054), 0.025, 1e-15);
}

TEST(Intervals, WaldAndFisherLimits) {
  const double z = 1.959963984540054;
  const Interval w = waldInterval(0.5, 0.1, z, false);
  EXPECT_DOUBLE_EQ(w.lower, 0.5 - z * 0.1);
  EXPECT_DOUBLE_EQ(w.upper, 0.5 + z * 0.1);
  // A correlation near 1 with a large error: the Wald limits would pass 1,
  // Fisher's stay inside and are not symmetric about the estimate.
  const Interval f = waldInterval(0.9, 0.1, z, true);
  ASSERT_TRUE(f.valid);
  EXPECT_NEAR(f.lower, std::tanh(std::atanh(0.9) - z * 0.1 / 0.19), 1e-15);
  EXPECT_LT(f.upper, 1.0);
  EXPECT_GT(f.upper - 0.9, 0.0);
  EXPECT_GT(0.9 - f.lower, f.upper - 0.9);
  // No interval without a positive, finite error, nor for |phi| = 1.
  const double missing = std::numeric_limits<double>::quiet_NaN();
  EXPECT_FALSE(waldInterval(0.5, 0.0, z, false).valid);
  EXPECT_FALSE(waldInterval(0.5, -0.1, z, false).valid);
  EXPECT_FALSE(waldInterval(0.5, missing, z, false).valid);
  EXPECT_FALSE(waldInterval(1.0, 0.1, z, true).valid);
}

TEST(Intervals, CoveragePictures) {
  struct Case {
    double estimate, lower, upper, cover;
    const char* picture;
  };
  const Case cases[] = {
      // Positive estimates, COVER=0.3 marked at +0.3.
      {0.6, 0.4, 0.8, 0.3, "0*[]"},
      {0.4, 0.2, 0.6, 0.3, "0[*]"},
      {0.2, 0.1, 0.25, 0.3, "0[]*"},
      {0.4, -0.1, 0.9, 0.3, "[0*]"},
      {0.1, -0.1, 0.2, 0.3, "[0]*"},
      // Negative estimates: the mark stands at -0.3.
      {-0.6, -0.8, -0.4, 0.3, "[]*0"},
      {-0.4, -0.6, -0.2, 0.3, "[*]0"},
      {-0.2, -0.25, -0.1, 0.3, "*[]0"},
      {-0.1, -0.2, 0.1, 0.3, "*[0]"},
      {-0.4, -0.9, 0.1, 0.3, "[*0]"},
      // A bound on the mark counts as covering it.
      {0.4, 0.3, 0.5, 0.3, "0[*]"},
      // COVER=0.
      {0.5, 0.3, 0.7, 0.0, " 0[]"},
      {-0.5, -0.7, -0.3, 0.0, " []0"},
      {0.1, -0.1, 0.3, 0.0, " [0]"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(coveragePicture(c.estimate, {c.lower, c.upper, true}, c.cover), c.picture)
        << c.estimate << " [" << c.lower << ", " << c.upper << "] cover " << c.cover;
  EXPECT_EQ(coveragePicture(0.5, {0.0, 0.0, false}, 0.3), "   .");
}

TEST(Intervals, HypothesisTests) {
  // |estimate| against the value: the sign of the estimate does not matter.
  const HypothesisTest one = hypothesisTest(-0.5, 0.1, 0.3, true);
  ASSERT_TRUE(one.valid);
  EXPECT_NEAR(one.z, 2.0, 1e-12);
  EXPECT_NEAR(one.p, 0.02275013194817921, 1e-12);
  const HypothesisTest two = hypothesisTest(0.1, 0.1, 0.3, false);
  EXPECT_NEAR(two.z, -2.0, 1e-12);
  EXPECT_NEAR(two.p, 2 * 0.02275013194817921, 1e-12);
  EXPECT_FALSE(hypothesisTest(0.5, 0.0, 0.3, true).valid);
}

}  // namespace
}  // namespace zulfact
