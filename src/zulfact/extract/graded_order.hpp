// Graded matrices for the eigen solver. The Householder reduction works
// from the last row up and the QL iteration from the top: both keep the
// small eigenvalues and the small vector components of a graded matrix
// (a covariance matrix of variables in very different units) to relative
// accuracy when the diagonal grows down the matrix, and only to the
// accuracy of its norm otherwise (Wilkinson and Reinsch 1971, the notes of
// tred2 and tql2). A variance ratio of 1e12 cost the small eigenvalues four
// digits in the order the variables came in.
#pragma once

#include <vector>

namespace zulfact {

// Diagonal spread (largest over smallest positive) from which the rows are
// ordered: below it the norm-wise error is within 1e-10 of the small
// eigenvalues, and the matrix is solved as it stands.
inline constexpr double kGradedSpread = 1e6;

// The rows of the packed symmetric matrix of order p by ascending diagonal
// (stable), or empty when its diagonal spreads less than kGradedSpread.
std::vector<int> gradedOrder(int p, const double* packed);

// The packed matrix with its rows and columns in `order`: row i of the
// result is row order[i] of the input. Nothing is done for an empty order.
void orderSymmetric(int p, const std::vector<int>& order, double* packed);

// Moves the rows of k column-major vectors of length p, found for the
// matrix ordered by `order`, back to the original order.
void restoreRows(int p, int k, const std::vector<int>& order, double* vectors);

}  // namespace zulfact
