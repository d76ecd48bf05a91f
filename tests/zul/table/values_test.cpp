// Number text in both directions and the missing value.
#include <gmock/gmock.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>

#include "test_util.hpp"

namespace zul::table {
namespace {

uint64_t bitsOf(double x) {
  uint64_t b;
  std::memcpy(&b, &x, sizeof b);
  return b;
}

TEST(Values, MissingIsTheHostBitPatternAndAnyAllOnesExponent) {
  EXPECT_EQ(bitsOf(missingValue()), 0xFFFFD10000000000ULL);
  EXPECT_TRUE(isMissing(missingValue()));
  EXPECT_TRUE(isMissing(std::numeric_limits<double>::quiet_NaN()));
  EXPECT_TRUE(isMissing(std::numeric_limits<double>::infinity()));
  EXPECT_FALSE(isMissing(DBL_MAX));
  EXPECT_FALSE(isMissing(0.0));
  EXPECT_EQ(formatNumber(missingValue()), "");
}

TEST(Values, ShortestTextForKnownDoubles) {
  // The shortest decimal strings that identify these doubles, as given by
  // the Steele & White / Ryu criterion (e.g. Python's repr()).
  EXPECT_EQ(formatNumber(0.1), "0.1");
  EXPECT_EQ(formatNumber(1e-300), "1e-300");
  EXPECT_EQ(formatNumber(4.9406564584124654e-324), "5e-324");  // smallest denormal
  EXPECT_EQ(formatNumber(-0.0), "-0");
  EXPECT_EQ(formatNumber(1.0 / 3.0), "0.3333333333333333");
  EXPECT_EQ(formatNumber(100.0), "100");
  EXPECT_EQ(formatNumber(DBL_MAX), "1.7976931348623157e+308");
}

TEST(Values, EveryFormattedDoubleReadsBackBitForBit) {
  const double cases[] = {0.1, 1e-300, 4.9406564584124654e-324, 2.2250738585072014e-308,
                          2.2250738585072009e-308,  // largest denormal
                          -0.0, 0.0, 1.0 / 3.0, -2.0 / 7.0, DBL_MAX, -DBL_MAX, 123456789012345678.0,
                          9007199254740993.0, 1e22, 1e23, 0.30000000000000004};
  for (double x : cases) {
    double back = 0;
    ASSERT_TRUE(parseNumber(formatNumber(x), back)) << formatNumber(x);
    EXPECT_EQ(bitsOf(back), bitsOf(x)) << formatNumber(x);
  }
  // A pseudo-random sweep over bit patterns (every finite double).
  uint64_t s = 0x9E3779B97F4A7C15ULL;
  for (int i = 0; i < 20000; ++i) {
    s ^= s << 13;
    s ^= s >> 7;
    s ^= s << 17;
    double x;
    std::memcpy(&x, &s, sizeof x);
    if (!std::isfinite(x)) continue;
    double back = 0;
    ASSERT_TRUE(parseNumber(formatNumber(x), back));
    ASSERT_EQ(bitsOf(back), bitsOf(x)) << formatNumber(x);
  }
}

TEST(Values, NumberSyntax) {
  double d = 0;
  EXPECT_TRUE(parseNumber(" 7 ", d));
  EXPECT_EQ(d, 7.0);
  EXPECT_TRUE(parseNumber("+3", d));
  EXPECT_EQ(d, 3.0);
  EXPECT_TRUE(parseNumber("1.", d));
  EXPECT_EQ(d, 1.0);
  EXPECT_TRUE(parseNumber(".5", d));
  EXPECT_EQ(d, 0.5);
  EXPECT_TRUE(parseNumber("1.e2", d));
  EXPECT_EQ(d, 100.0);
  EXPECT_TRUE(parseNumber("-2.5E-3", d));
  EXPECT_EQ(d, -0.0025);
  for (const char* bad : {"", ".", "-", "+", "e5", "1e", "1e+", "inf", "-inf", "nan", "NaN",
                          "0x10", "1,5", "--1", "+-1", "1 2", "1.2.3", "١", "1e5x"})
    EXPECT_FALSE(parseNumber(bad, d)) << bad;
}

TEST(Values, NamesCompareWithoutCase) {
  EXPECT_TRUE(sameName("Survey", "SURVEY"));
  EXPECT_TRUE(sameName("_type_", "_TYPE_"));
  EXPECT_FALSE(sameName("x1", "x10"));
}

}  // namespace
}  // namespace zul::table
