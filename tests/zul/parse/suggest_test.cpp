#include "zul/parse/suggest.hpp"

#include <gtest/gtest.h>

namespace zul::parse {
namespace {

// Distances worked by hand: one edit of each kind, none, and a pair of
// neighbours swapped (one edit, where plain Levenshtein counts two).
TEST(EditDistance, CountsEachKindOfEditOnce) {
  EXPECT_EQ(editDistance("", ""), 0);
  EXPECT_EQ(editDistance("", "abc"), 3);
  EXPECT_EQ(editDistance("nfactors", "NFACTORS"), 0);
  EXPECT_EQ(editDistance("nfactrs", "NFACTORS"), 1);   // deletion
  EXPECT_EQ(editDistance("nfactorss", "NFACTORS"), 1); // insertion
  EXPECT_EQ(editDistance("mineigan", "MINEIGEN"), 1);  // substitution
  EXPECT_EQ(editDistance("rotaet", "ROTATE"), 1);      // transposition
  EXPECT_EQ(editDistance("kitten", "sitting"), 3);
}

TEST(NearestWord, OnlyCloseWordsForTheLengthAreSuggested) {
  const std::vector<std::string> words{"METHOD", "MINEIGEN", "NFACTORS", "ROTATE", "OUT"};
  EXPECT_EQ(nearestWord("nfactrs", words), "NFACTORS");
  EXPECT_EQ(nearestWord("ou", words), "OUT");
  EXPECT_EQ(nearestWord("xyz", words), "");       // 3 characters: one edit at most
  EXPECT_EQ(nearestWord("rot", words), "ROTATE"); // a beginning of 3 characters or more
  EXPECT_EQ(nearestWord("ro", words), "");
  EXPECT_EQ(nearestWord("height", words), "");
}

}  // namespace
}  // namespace zul::parse
