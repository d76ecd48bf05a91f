// Small dense kernels of the rotation code: column-major matrices
// (element (i, j) of an r x c matrix at i + j*r), no allocation, no BLAS.
// The rotation matrices are m x m with m the number of factors, so plain
// loops ordered for unit stride are enough; the p x m products are the
// only ones that grow with the data and are written as column updates
// (axpy), which the compiler vectorises.
#pragma once

#include <vector>

namespace qkxfac {

// C (r x c) = A (r x k) * B (k x c). C must not alias A or B.
void multiply(const double* a, const double* b, double* c, int r, int k, int cols);

// C (r x c) = A (r x k) * B^T, with B c x k. C must not alias A or B.
void multiplyTransposed(const double* a, const double* b, double* c, int r, int k, int cols);

// C (k x c) = A^T * B, with A r x k and B r x c: dot products of columns.
void crossProduct(const double* a, const double* b, double* c, int r, int k, int cols);

// Inverse of the n x n matrix a into inv by Gaussian elimination with
// partial pivoting (work: n*n + n doubles). Returns false, leaving inv
// undefined, when a pivot is not larger than 1e-13 times the largest
// element of a (numerically singular) or a value is not finite.
bool invert(const double* a, double* inv, int n, double* work);

// Re-orthonormalises the columns of the n x n matrix q in place by modified
// Gram-Schmidt (two passes), removing the drift of long iterations.
void orthonormalize(double* q, int n);

// Scales each column of the r x c matrix to unit length; a zero column is
// left as it is.
void normalizeColumns(double* a, int r, int c);

// Sum of products of two vectors of n values.
double dot(const double* a, const double* b, int n);

}  // namespace qkxfac
