// Numeric display formats. Expected texts are worked out by hand from the
// format rules (width, decimals, rounding half away from zero as printf
// does for these exactly representable cases).
#include <gtest/gtest.h>

#include <cmath>

#include "zul/abi.h"
#include "zul/output/format.hpp"

namespace zul::output {
namespace {

TEST(Format, ParsesTheFormatsTheModuleUses) {
  // Written, then read back as text (kind, width and decimals). Nonsense
  // falls back to BEST12. rather than failing the table.
  const std::pair<const char*, const char*> cases[] = {
      {"12.5", "12.5"},     {"8.0", "8.0"},     {"6.", "6.0"}, {"PVALUE6.4", "PVALUE6.4"},
      {"best8.", "BEST8."}, {"12.x", "BEST12."}, {"", "BEST12."}};
  for (const auto& [written, read] : cases)
    EXPECT_EQ(parseFormat(written, 0).text(), read) << written;
  const NumericFormat rf = parseFormat("rf", 0);
  EXPECT_TRUE(rf.automatic);
  EXPECT_EQ(rf.width, 10);
  EXPECT_EQ(parseFormat("RF", 7).width, 7);
}

TEST(Format, FixedRoundsAndDropsTheSignOfZero) {
  EXPECT_EQ(formatNumber(0.123456, parseFormat("12.5", 0)), "0.12346");
  EXPECT_EQ(formatNumber(-0.5, parseFormat("12.5", 0)), "-0.50000");
  // Round mode shows 100 x the loading with "6.0": 0.6 -> 60, and a
  // loading of -0.004 (-0.4 after scaling) is a plain 0, not "-0".
  EXPECT_EQ(formatNumber(60.0, parseFormat("6.0", 0)), "60");
  EXPECT_EQ(formatNumber(-0.4, parseFormat("6.0", 0)), "0");
  EXPECT_EQ(formatNumber(-0.0, parseFormat("8.3", 0)), "0.000");
  EXPECT_EQ(formatNumber(7.0, parseFormat("8.0", 0)), "7");
}

TEST(Format, FixedNeverCutsATooLargeNumber) {
  // 123456.789 needs 10 characters with 3 decimals: in 8 it keeps 1.
  EXPECT_EQ(formatNumber(123456.789, parseFormat("8.3", 0)), "123456.8");
  // 1e12 has 13 digits: exponent form in a width of 10 (one digit after
  // the point: 1.0E+12 is 7 characters).
  std::string s = formatNumber(1e12, parseFormat("10.2", 0));
  EXPECT_LE(s.size(), 10u);
  EXPECT_DOUBLE_EQ(std::stod(s), 1e12);
}

// BEST is the shortest text that fits; PVALUE shows a lower bound; missing
// and non-finite values are empty.
TEST(Format, BestPValueAndMissing) {
  NumericFormat best = parseFormat("BEST12.", 0);
  EXPECT_EQ(formatNumber(3.0, best), "3");
  EXPECT_EQ(formatNumber(0.1, best), "0.1");
  // 1/3 in 12 characters: "0." and ten 3s.
  EXPECT_EQ(formatNumber(1.0 / 3.0, best), "0.3333333333");
  EXPECT_EQ(formatNumber(-2.5, best), "-2.5");
  NumericFormat p = parseFormat("PVALUE6.4", 0);
  EXPECT_EQ(formatNumber(0.00002, p), "<.0001");
  EXPECT_EQ(formatNumber(0.0001, p), "0.0001");
  EXPECT_EQ(formatNumber(0.04567, p), "0.0457");
  EXPECT_EQ(formatNumber(zul_missing(), parseFormat("12.5", 0)), "");
  EXPECT_EQ(formatNumber(INFINITY, best), "");
}

TEST(Format, AutomaticDecimalsFollowTheLargestValue) {
  // Width 10. Largest 2.87 (one tenth 0.287): 1 integer digit, the point,
  // 8 decimals. Largest 12.3 (one tenth 1.23): 2 digits, 7 decimals.
  // Largest 123.4 with a negative value: 3 digits, a sign, 5 decimals.
  EXPECT_EQ(autoDecimals(2.87, false, 10), 8);
  EXPECT_EQ(autoDecimals(9.99, false, 10), 8);
  EXPECT_EQ(autoDecimals(10.0, false, 10), 7);
  EXPECT_EQ(autoDecimals(12.3, false, 10), 7);
  EXPECT_EQ(autoDecimals(123.4, true, 10), 5);
  EXPECT_EQ(autoDecimals(0.05, false, 10), 8);
  EXPECT_EQ(autoDecimals(0.0, false, 10), 8);
  // More digits than the width: no decimals, never negative.
  EXPECT_EQ(autoDecimals(1e15, true, 10), 0);

  Column c;
  c.format = "rf";
  std::vector<std::vector<Value>> rows = {{Value::of(2.873313594)}, {Value::of(0.5)},
                                          {Value::missing()}};
  NumericFormat f = resolveFormat(c, rows, 0);
  EXPECT_EQ(f.text(), "10.8");
  EXPECT_EQ(formatNumber(2.873313594, f), "2.87331359");

  // Beside 2.7e12 the column has no decimals; a small value keeps its
  // digits in the shortest form that fits rather than printing as 0, and a
  // value with two or more digits left keeps the column's form.
  rows = {{Value::of(2.7e12)}, {Value::of(0.0234)}, {Value::of(3.2)}, {Value::of(41.5)}};
  f = resolveFormat(c, rows, 0);
  EXPECT_EQ(f.text(), "10.0");
  EXPECT_EQ(formatNumber(2.7e12, f), "2.700E+12");
  EXPECT_EQ(formatNumber(0.0234, f), "0.0234");
  EXPECT_EQ(formatNumber(3.2, f), "3.2");
  EXPECT_EQ(formatNumber(41.5, f), "42");
  EXPECT_EQ(formatNumber(0.0, f), "0");
  // An explicit format is kept as written: counts stay whole.
  EXPECT_EQ(formatNumber(0.4, parseFormat("8.0", 0)), "0");
}

}  // namespace
}  // namespace zul::output
