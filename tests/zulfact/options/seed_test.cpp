// The step's random numbers. Expected values come from plain modular
// arithmetic with the % operator (a different formula from the folding
// under test) and from hand calculation where noted.
#include "zulfact/options/seed.hpp"

#include <gtest/gtest.h>

#include <cmath>

namespace zulfact {
namespace {

int64_t mulMod(int64_t x) { return (x * 397204094LL) % 2147483647LL; }

TEST(Seed, FoldingAgreesWithTheRemainderEverywhere) {
  // Seed 1 gives the multiplier itself: the first uniform number is
  // 397204094 / 2147483647.
  int32_t state = 1;
  EXPECT_DOUBLE_EQ(nextUniform(state), 397204094.0 / 2147483647.0);
  EXPECT_EQ(state, 397204094);
  // The ends of the state range and a walk of the sequence.
  for (int32_t x : {1, 2, 397204094, 1073741823, 1073741824, 2147483645, 2147483646})
    EXPECT_EQ(nextSeed(x), mulMod(x)) << x;
  int64_t reference = 12345;
  int32_t s = 12345;
  for (int i = 0; i < 100000; ++i) {
    reference = mulMod(reference);
    s = nextSeed(s);
    ASSERT_EQ(s, reference) << "step " << i;
  }
  // Never leaves 1 .. 2^31 - 2, so never 0 or 1.0.
  EXPECT_GT(s, 0);
  EXPECT_LT(s, kSeedModulus);
}

TEST(Seed, LargeSeedsFoldIntoRange) {
  // ln(3e9 / 1024) / ln 2097151 = 14.89 / 14.56, so k = 1, and
  // ceil(3e9 / 2097151) = ceil(1430.51) = 1431 (hand calculation).
  EXPECT_EQ(foldSeed(3000000000.0), 1431);
  // Values in range are kept.
  EXPECT_EQ(foldSeed(2147483647.0), 2147483647.0);
  EXPECT_EQ(foldSeed(5.0), 5.0);
  // 2097151^2 * 3 = 1.319e13: k = floor(ln(1.288e10) / 14.556) = 1,
  // ceil(6291453) = 6291453 (hand calculation: 3 * 2097151).
  EXPECT_EQ(foldSeed(2097151.0 * 2097151.0 * 3.0), 6291453.0);
  // Whatever the size, the result is a usable seed.
  for (double v = 2147483648.0; v < 1e300; v *= 7.3) {
    double f = foldSeed(v);
    EXPECT_GE(f, 1.0) << v;
    EXPECT_LE(f, 2147483646.0) << v;
  }
}

TEST(Seed, ClockSeedTakesTheFractionOfThousandsOfSeconds) {
  // T = 1250 s: frac(1.25) = 0.25, so 250000000 + 1.
  EXPECT_EQ(clockSeed(1250.0), 250000001);
  // A whole number of thousands gives the smallest seed, 1.
  EXPECT_EQ(clockSeed(1765000000.0), 1);
  // A present-day clock stays within 1 .. 1e9.
  int32_t s = clockSeed(1765012345.678);
  EXPECT_GE(s, 1);
  EXPECT_LE(s, 1000000000);
}

}  // namespace
}  // namespace zulfact
