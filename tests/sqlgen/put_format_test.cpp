#include "sqlgen/put_format.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <utility>

namespace sqlgen {
namespace {

TEST(PutFormat, NumbersAsTheShortestTextRoundsThem) {
  struct Case {
    double x;
    const char* format;
    const char* text;
  };
  const Case cases[] = {
      {2.675, "8.2", "    2.68"},   // rounded as it reads, not as its binary value lies
      {-2.675, "8.2", "   -2.68"},  // half away from zero
      {99.96, "5.1", "100.0"},      // a carry into a new digit
      {-0.001, "6.2", "  0.00"},    // no "-0.00"
      {1234567.5, "4.", "1234568"},  // longer than its width: kept whole
      {1e-7, "12.10", "0.0000001000"},
      {1e21, "25.", "   1000000000000000000000"},
      {7, "3.", "  7"},
  };
  for (const Case& c : cases) {
    const auto f = parsePutFormat(c.format);
    ASSERT_TRUE(f) << c.format;
    EXPECT_EQ(putNumber(c.x, *f).value_or("null"), c.text) << c.x << " " << c.format;
  }
  const auto f = parsePutFormat("8.2");
  EXPECT_FALSE(putNumber(std::nan(""), *f));
  EXPECT_FALSE(putNumber(std::numeric_limits<double>::infinity(), *f));
}

TEST(PutFormat, CharacterValuesAndFormatsRefused) {
  const auto f = parsePutFormat("$4.");
  ASSERT_TRUE(f && f->character);
  EXPECT_EQ(putText("O'Brien  ", *f), "O'Br");
  EXPECT_EQ(putText("ab  ", *f), "ab");
  // w counts bytes: a UTF-8 character that does not fit whole is left out;
  // Latin-1 bytes are cut where w ends.
  EXPECT_EQ(putText("Zoo\u00eb", *f), "Zoo");
  EXPECT_EQ(putText("Zo\u00eb!", *f), "Zo\u00eb");
  EXPECT_EQ(putText("abcd\xb0", *f), "abcd");
  EXPECT_EQ(putText("ab\xb0\xb0x", *f), "ab\xb0\xb0");
  for (const char* bad : {"BEST12.", "DATE9.", "8", ".2", "$4.1", "0.", "8.123", ""})
    EXPECT_FALSE(parsePutFormat(bad)) << bad;
}

TEST(PutFormat, OneCanonicalTextPerFormat) {
  const std::pair<const char*, const char*> same[] = {
      {"8.2", "8.2"}, {"F8.2", "8.2"}, {"f08.2", "8.2"}, {"3.", "3."},
      {"3.0", "3."},  {"$20.", "$20."}, {"$020.", "$20."}, {"9999.31", "9999.31"}};
  for (const auto& [text, canonical] : same)
    EXPECT_EQ(canonicalPutFormat(text).value_or("none"), canonical) << text;
  for (const char* bad : {"F$8.", "FF8.2", "F", "10000.", "8.32", "$0.", "x8.2"})
    EXPECT_FALSE(canonicalPutFormat(bad)) << bad;
}

}  // namespace
}  // namespace sqlgen
