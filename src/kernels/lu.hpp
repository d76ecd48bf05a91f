// The general linear solver: LU factorisation with partial pivoting
// (Doolittle form, row interchanges; Golub and Van Loan, Matrix
// Computations, algorithm 3.4.1), factored once and then solved for one
// right-hand side at a time.
//
// Storage: a dense n x n matrix column by column, element (i, j) at
// i + j*n. Nothing is allocated; nothing throws.
#pragma once

namespace kernels {

// Factors a in place into P A = L U: the strict lower triangle receives L
// (unit diagonal not stored), the upper triangle U; pivots[k] (n ints) is
// the row swapped with row k at step k. A pivot with |u_kk| <= tol (or a
// NaN pivot) makes the matrix singular.
// Returns 0 on success; k + 1 for the first singular pivot k (a is then
// partly factored and must not be used to solve); -1 for invalid
// arguments (n < 0, a or pivots absent), nothing touched.
int luFactor(int n, double* a, int* pivots, double tol) noexcept;

// Solves A x = b in place (b holds x on return) with the factors of
// luFactor. Nothing is done for invalid arguments.
void luSolve(int n, const double* lu, const int* pivots, double* b) noexcept;

// The inverse of the n x n matrix a into inv (both column-major, not
// aliased) through luFactor and luSolve, one unit vector at a time. lu: n*n
// doubles and pivots: n ints of work. Returns false, inv undefined, when a
// value of a is not finite or a pivot is not larger than 1e-13 times the
// largest |a_ij| (numerically singular; a zero matrix is singular).
bool invert(const double* a, double* inv, int n, double* lu, int* pivots) noexcept;

// Copies the n x n matrix a into out and returns its largest |a_ij|, or -1
// when a value is not finite: the start of both inverses (invert here, and
// generalInverse by LAPACK), which refuse the same matrices.
double copyForInverse(int n, const double* a, double* out) noexcept;

}  // namespace kernels
