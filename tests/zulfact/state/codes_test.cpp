// The one test of a table's TYPE= word: stored matrix or raw data.
#include <gtest/gtest.h>

#include "zulfact/state/codes.hpp"

namespace {

using zulfact::isStoredMatrixType;

TEST(StoredMatrixType, EveryMatrixWordInAnyCaseWithTrailingBlanksOrNuls) {
  for (const char* t : {"CORR", "COV", "UCORR", "UCOV", "FACTOR", "SSCP", "ACE", "EST"})
    EXPECT_TRUE(isStoredMatrixType(t)) << t;
  EXPECT_TRUE(isStoredMatrixType("corr    "));
  EXPECT_TRUE(isStoredMatrixType(std::string_view("Sscp\0\0\0\0", 8)));
}

TEST(StoredMatrixType, RawDataAndNearMissesAreNot) {
  for (const char* t : {"", "        ", "DATA", "CORRX", "CO", " CORR", "FACTORS"})
    EXPECT_FALSE(isStoredMatrixType(t)) << '"' << t << '"';
}

}  // namespace
