// zul/parse/suggest.hpp -- the nearest known word to a misspelt one, for
// messages that say "did you mean ...?".
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zul::parse {

// Edit distance of a and b, case-blind (ASCII): insertions, deletions,
// substitutions and transpositions of neighbours each count 1 (the
// optimal string alignment form of Damerau's distance).
int editDistance(std::string_view a, std::string_view b);

// The candidate nearest to word: the one with the smallest edit distance,
// if that distance is small for the word's length (1 up to 4 characters,
// 2 up to 8, 3 beyond), or else a candidate that word begins (at least 3
// characters). Ties go to the earlier candidate. "" when none is near.
std::string nearestWord(std::string_view word, const std::vector<std::string>& candidates);

}  // namespace zul::parse
