// Number text in both directions and the missing value.
#include <gmock/gmock.h>

#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "test_util.hpp"
#include "zul/table/csv.hpp"

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

// The layout (fixed or scientific, whichever is shorter; fixed on a tie;
// two exponent digits at least) and the digits against std::to_chars, on
// the places where either can go wrong: every power of ten and its
// neighbours, where the two forms change over or tie; integers about 2^53,
// where std::to_chars switches to exact digits; short decimals; subnormals;
// and a sweep of bit patterns. Nothing may be written past 32 bytes.
TEST(Values, ShortestTextIsLaidOutAsToCharsLaysItOut) {
  int checked = 0;
  const auto same = [&](double x) {
    if (!std::isfinite(x)) return;
    char expect[32];
    const auto r = std::to_chars(expect, expect + sizeof expect, x);
    char got[48];
    std::memset(got, '#', sizeof got);
    const int n = detail::shortestNumber(x, got);
    ++checked;
    ASSERT_EQ(std::string(got, static_cast<size_t>(n)), std::string(expect, r.ptr))
        << std::hexfloat << x;
    ASSERT_EQ(std::string(got + 32, 16), std::string(16, '#')) << std::hexfloat << x;
  };
  for (int e = -324; e <= 308; ++e) {
    for (int m : {1, 2, 5, 9, 10, 11, 12345, 99999, 123456789}) {
      const double x = m * std::pow(10.0, e);
      for (double y : {x, std::nextafter(x, 0.0), std::nextafter(x, HUGE_VAL)}) {
        same(y);
        same(-y);
      }
    }
  }
  for (double base : {9007199254740992.0, 1e15, 1e16, 1e17}) {
    for (int k = -40; k <= 40; ++k) same(base + k * (base / 9007199254740992.0 + 1));
  }
  std::mt19937_64 gen(7);
  std::normal_distribution<double> normal;
  for (int i = 0; i < 200000; ++i) {
    same(normal(gen));                                 // scores
    same(std::round(normal(gen) * 1e6) / 1e3);         // short decimals
    same(std::ldexp(1.0 + normal(gen), -1070 + i % 60));  // about the subnormals
    uint64_t bits = gen();
    double x;
    std::memcpy(&x, &bits, sizeof x);
    same(x);
  }
  for (double x : {0.0, -0.0, 5e-324, DBL_MIN, DBL_MAX, 1e-5, 1e-4, 1e21, 1e22, 0.0001234})
    same(x);
  EXPECT_GT(checked, 800000);
}

TEST(Values, NumberSyntax) {
  double d = 0;
  const std::pair<const char*, double> good[] = {{" 7 ", 7}, {"+3", 3},      {"1.", 1},
                                                 {".5", 0.5}, {"1.e2", 100}, {"-2.5E-3", -0.0025}};
  for (const auto& [text, value] : good) {
    EXPECT_TRUE(parseNumber(text, d)) << text;
    EXPECT_EQ(d, value) << text;
  }
  for (const char* bad : {"", ".", "-", "+", "e5", "1e", "1e+", "inf", "-inf", "nan", "NaN",
                          "0x10", "1,5", "--1", "+-1", "1 2", "1.2.3", "١", "1e5x"})
    EXPECT_FALSE(parseNumber(bad, d)) << bad;
}

}  // namespace
}  // namespace zul::table

namespace zul::table {
namespace {

class FastPath : public testing::ScratchDir {};

// The read path converts short decimals eight bytes at a time and divides
// by an exact power of ten; every such text must give the double that a
// correctly rounding parser (fast_float, via parseNumber) gives.
TEST_F(FastPath, ShortDecimalsReadExactlyAsTheFullParserReadsThem) {
  std::mt19937_64 rng(7);
  std::vector<std::string> texts;
  // Every placement of the point in 1 to 9 digits, signs, and the
  // spellings that must leave the fast path ("1e5", "+1", " 1").
  const char* fixed[] = {"0", "-0", "0.0", "-0.0", "7.", ".5", "-.5", "9999999", "99999999",
                         "123456789", "1234567.", ".1234567", "0.1", "0.3", "2.675", "1e5",
                         "+1", " 1", "1 ", "00012.50", "-1234.567", "1.7976931348623157e308"};
  for (const char* t : fixed) texts.emplace_back(t);
  for (int i = 0; i < 20000; ++i) {
    int nDigits = 1 + static_cast<int>(rng() % 9);
    int point = static_cast<int>(rng() % (nDigits + 2)) - 1;  // -1: no point
    std::string s = (rng() % 3 == 0) ? "-" : "";
    for (int d = 0; d < nDigits; ++d) {
      if (d == point) s += '.';
      s += static_cast<char>('0' + rng() % 10);
    }
    if (point == nDigits) s += '.';
    texts.push_back(s);
  }
  std::string csv = "x,y\n";
  for (const auto& t : texts) csv += t + "," + t + "\n";
  csv.pop_back();  // the last field ends at the end of the file
  InputTable table(this->table("fast", csv));
  ASSERT_EQ(table.columns()[0].type, ColumnType::Numeric);
  ASSERT_EQ(table.nextByGroup(), 1);
  const auto rows = testing::readNumbers(table, {1, 2});
  ASSERT_EQ(rows.size(), texts.size());
  for (size_t i = 0; i < texts.size(); ++i) {
    double expect = 0;
    ASSERT_TRUE(parseNumber(texts[i], expect)) << texts[i];
    EXPECT_EQ(bitsOf(rows[i][0]), bitsOf(expect)) << texts[i];
    EXPECT_EQ(bitsOf(rows[i][1]), bitsOf(expect)) << texts[i];
  }
}

}  // namespace
}  // namespace zul::table
