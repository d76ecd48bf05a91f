// Dense matrix kernels: column-major matrices (element (i, j) of an r x c
// matrix at i + j*r), no allocation, no BLAS. The matrices they serve are
// small (m x m rotations, p x m patterns), so plain loops ordered for unit
// stride are enough.
//
// Summation order is part of the contract: every element of a product is
// summed over the inner index in increasing order from 0.0, one rounding
// per addition, as a plain loop `s += a[i, l] * b[l, j]` gives. Listings
// are computed with these kernels, so that order must not change.
#pragma once

namespace kernels {

// C (r x c) = A (r x k) * B (k x c). C must not alias A or B.
void multiply(const double* a, const double* b, double* c, int r, int k, int cols) noexcept;

// C (r x c) = A (r x k) * B^T, with B c x k. C must not alias A or B.
void multiplyTransposed(const double* a, const double* b, double* c, int r, int k,
                        int cols) noexcept;

// C (r x m) = A (r x m) * S for the packed symmetric S of order m
// (kernels/packed.hpp), e.g. a structure from a pattern and the factor
// correlations. C must not alias A.
void multiplyPacked(const double* a, const double* s, double* c, int r, int m) noexcept;

// C (k x c) = A^T * B, with A r x k and B r x c: dot products of columns
// (by `dot`).
void crossProduct(const double* a, const double* b, double* c, int r, int k, int cols) noexcept;

// Sum of products of two vectors of n values, in four interleaved partial
// sums (a fixed order: the result depends on nothing but the data).
double dot(const double* a, const double* b, int n) noexcept;

// Re-orthonormalises the columns of the n x n matrix q in place by modified
// Gram-Schmidt (two passes), removing the drift of long iterations.
void orthonormalize(double* q, int n) noexcept;

// Scales each column of the r x c matrix to unit length; a zero column is
// left as it is.
void normalizeColumns(double* a, int r, int c) noexcept;

// Kaiser (1958) row normalisation of the p x m pattern a: scale[i] =
// 1/sqrt(h_i), h_i the sum of squares of row i (summed over the columns in
// order), or 1 for a row with h_i <= floor, which stays as it is. With
// sumsOfSquares (may be null) the h_i are returned as well.
void kaiserScales(const double* a, int p, int m, double floor, double* scale,
                  double* sumsOfSquares) noexcept;

}  // namespace kernels
