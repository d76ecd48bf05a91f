// Matrix utilities: packed symmetric storage, in-place inversion by
// sweeping, the row-by-row Cholesky step, triangular inversion and
// solution, quadratic forms and the level-1 vector operations.
//
// Storage. A symmetric (or lower-triangular) matrix of order n is packed in
// n(n+1)/2 doubles, lower triangle by rows: element (i, j), i >= j, lives at
// i(i+1)/2 + j (`packedIndex`, kernels/packed.hpp). Several vectors of length n (right-hand
// sides, eigenvectors) are stored column after column, column c at c*n.
//
// Every function here takes pointers and sizes, allocates nothing and never
// throws. Invalid arguments (negative sizes, absent arrays) make it return
// at once without touching its outputs; singularity is reported by result,
// never by message, so the caller decides what to print.
#pragma once

#include <cstddef>

#include "kernels/packed.hpp"
#include "kernels/sweep.hpp"

namespace kernels {

// Level-1 BLAS (the system OpenBLAS through its C interface), unit strides.
// ddot: x . y; 0 when n < 1.
double ddot(int n, const double* x, const double* y) noexcept;
// daxpy: y += alpha * x; nothing when n < 1.
void daxpy(int n, double alpha, const double* x, double* y) noexcept;
// idamax: 0-based index of the first element of largest magnitude; -1 when
// n < 1 or x is absent.
int idamax(int n, const double* x) noexcept;

// Level-3 BLAS: C (r x c) = A (r x k) B (k x c), column-major, C not
// aliasing A or B; nothing when a size is below 1. For large products
// (the delta method's J V on thousands of parameters), where the plain
// loops of dense.hpp run at a tenth of the speed. The sums are blocked
// as the library chooses, so they are not in the fixed order of dense.hpp:
// the results agree with it to rounding, not bit for bit.
void matrixProduct(int r, int k, int c, const double* a, const double* b, double* out) noexcept;

// The same with either factor transposed: C (r x c) = op(A) op(B), op(A)
// r x k, op(B) k x c; A is stored k x r when transA, B c x k when transB.
// For the p x m by m x m products of the rotations, repeated at every
// trial point.
void matrixProductOp(bool transA, bool transB, int r, int k, int c, const double* a,
                     const double* b, double* out) noexcept;

// The same on blocks of larger column-major arrays, each with its leading
// dimension (lda, ldb, ldc: the rows of the array the block lies in), so
// that a product by panels needs no copies of the panels.
void matrixProductBlock(bool transA, bool transB, int r, int k, int c, const double* a, int lda,
                        const double* b, int ldb, double* out, int ldc) noexcept;

// Solves A X = B for the general A (n x n, overwritten by its LU factors)
// and B (n x nrhs, overwritten by X) by LAPACK's blocked dgesv. False when
// A is exactly singular or a size is below 1.
bool generalSolve(int n, int nrhs, double* a, int* pivots, double* b) noexcept;

// Inverse of the general A (n x n) into inv by LAPACK's blocked LU
// (dgetrf, dgetri); work holds n * n doubles. False for a non-finite or
// zero A, or a pivot at or below 1e-13 of A's largest element (as
// invert in lu.hpp, whose results agree with it to rounding).
bool generalInverse(int n, const double* a, double* inv, int* pivots, double* work) noexcept;

// Inverse of the symmetric positive definite A (n x n, column-major, both
// triangles) in place, by LAPACK's blocked Cholesky factorisation and
// inversion (dpotrf, dpotri): for the information matrices of thousands of
// parameters, where a sweep runs at the speed of memory. Pivot k of the
// factorisation is the one a sweep in order 0 ... n-1 meets; one not above
// tol (strictly, as sweepInvert; NaN is not above) refuses A. Returns 0 with
// both triangles of the inverse in a, or k + 1 for the first refused pivot k
// (a then undefined); -1 for invalid arguments.
int positiveDefiniteInverse(int n, double* a, double tol) noexcept;

// Sum of the n elements of x, left to right; 0 when n < 1.
double vectorSum(const double* x, int n) noexcept;

// y = A x for the packed symmetric A of order n. Each packed row is read
// once: its dot product with x gives the row's own element of y, and the
// same row (then in cache) is added into the earlier elements of y as the
// column it mirrors.
void packedSymv(int n, const double* a, const double* x, double* y) noexcept;

// In-place inversion of the packed symmetric a of order n by the
// Gauss-Jordan sweep (Beaton 1964; Goodnight 1979), pivots k = 0 ... n-1 in
// order, carrying m right-hand-side columns b (n x m, column-major; may be
// absent when m = 0) along. work: n doubles (the pivot column).
// A pivot whose current diagonal is below tol (strictly; a pivot equal to
// tol is used; a NaN pivot counts as below) is treated as singular: row and
// column k of a and row k of every column of b are set to zero. On return a
// holds A^-1 (a generalised inverse with zero rows and columns for the
// singular pivots) and b holds A^-1 B.
// Returns the number of singular pivots; -1 for invalid arguments (n < 0,
// m < 0, a or work absent, or b absent while m > 0), a and b untouched.
int sweepInvert(int n, double* a, double* work, int m, double* b, double tol) noexcept;

// Row i of the Cholesky factorisation R = L L^T in place (Cholesky-Banachiewicz
// order): packed rows 0 ... i-1 of a already hold L. For j < i,
// l_ij = (a_ij - sum_{k<j} l_ik l_jk) / l_jj, or 0 when l_jj = 0; then
// d = a_ii - sum_{k<i} l_ik^2 and l_ii = sqrt(d) when d > tol, else 0.
// Returns the pivot d before its square root (the caller adds
// ln max(tol, d) for a log-determinant); 0 for invalid arguments.
double choleskyRow(int i, double* a, double tol) noexcept;

// Replaces the packed lower triangle t of order n by its inverse, pivot by
// pivot (Gauss-Jordan on a triangular matrix): for pivot k the later rows
// are corrected by the products with the pivot column, row k left of the
// diagonal is multiplied by -1/l_kk, the diagonal becomes 1/l_kk and column
// k below the diagonal is divided by l_kk. work: n doubles, not needed by
// this row-oriented form and may be absent.
// Returns 0 on success; 1 when a pivot has |l_kk| <= tol (or is NaN), with
// t holding the partly inverted matrix; 1 for invalid arguments.
int invertLower(double* t, int n, double* work, double tol) noexcept;

// Forward substitution L x = b in place for the packed lower triangle t:
// x_i = (x_i - sum_{k<i} l_ik x_k) / l_ii, and x_i = 0 when l_ii = 0.
void solveLower(int n, const double* t, double* x) noexcept;

// Quadratic forms of the packed symmetric a of order n with m vectors x
// (stored one after the other). m = 1: out[0] receives x^T A x, computed as
// sum_i x_i (sum_{j<i} 2 a_ij x_j + a_ii x_i). m > 1: the packed m x m
// matrix of x_j^T A x_k goes to out. With accumulate the results are added
// to out instead of stored. work: n doubles when m > 1 (may be absent for
// m = 1). Nothing is done for invalid arguments.
void quadForm(const double* a, int n, const double* x, int m, double* out, double* work,
              bool accumulate) noexcept;

// Covariance to correlation in place. s_i = sqrt(a_ii) when a_ii > 0, else
// 0. Below the diagonal a_ij / (s_i s_j) when both roots are non-zero, else
// 0, and a result within +-1.110223024625157E-13 becomes exactly 0; the
// diagonal becomes 1, or 0 for a variable without variance, which so keeps
// a zero row and column.
void covToCorr(int n, double* a, double* s) noexcept;

}  // namespace kernels
