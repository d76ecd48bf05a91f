// The columns of a rotated solution put in the order and orientation of a
// reference pattern. Criteria of the Crawford-Ferguson family do not change
// when factors are permuted or reflected, so a solution reached from a
// random start comes with its factors in any order and of either sign; the
// user expects the factors where the rotation from the unrotated pattern
// would have left them.
#pragma once

#include <vector>

namespace qkxfac {

struct ColumnMatch {
  std::vector<int> source;    // column of the solution placed at position j
  std::vector<double> sign;   // +1 or -1, applied to it
};

// Pairs the m columns of the p x m pattern with those of the p x m
// reference by decreasing |Tucker congruence|, greedily, each column
// reflected when its congruence with its partner is negative.
ColumnMatch matchColumns(const double* reference, const double* pattern, int p, int m);

// Applies the match to the p x m pattern, the m x m transformation (its
// columns) and, when not empty, the packed m x m factor correlations.
void applyMatch(const ColumnMatch& match, int p, int m, std::vector<double>& pattern,
                std::vector<double>& transform, std::vector<double>& packedPhi);

}  // namespace qkxfac
