// Symmetric eigen decomposition of a packed matrix: all eigenvalues in
// descending order and, on request, orthonormal eigenvectors of the leading
// ones, in two calls that share one work area.
//
// Chain of published algorithms (Wilkinson & Reinsch, Handbook for
// Automatic Computation II, 1971; the EISPACK guide, Smith et al. 1976):
//   1. Householder reduction of the packed matrix to tridiagonal form, with
//      the Householder vectors and their norms kept in the matrix (TRED3);
//   2. eigenvalues by the implicit QL method with submatrix tags (IMTQLV),
//      falling back to bisection on Sturm counts (TRIDIB) when QL fails;
//   3. eigenvectors of the tridiagonal matrix by inverse iteration (TINVIT);
//   4. back-transformation by the kept Householder vectors (TRBAK3);
//   5. re-orthonormalisation of clustered vectors and a fixed sign.
//
// Storage and work area (n doubles a unit, positions in doubles):
//   a      packed lower triangle by rows, (i, j) at i(i+1)/2 + j; overwritten
//          by the Householder vectors, the kept norms on the diagonal.
//   w      n eigenvalues, descending; equal ones in the order found.
//   z      m vectors of n doubles one after the other, vector j for w[j],
//          unit length.
//   work   9n doubles:
//          [0, n)     diagonal d of the tridiagonal matrix
//          [n, 2n)    subdiagonal e, e[0] = 0, e[i] couples rows i-1 and i
//          [2n, 3n)   e2 = e^2; a zero e2[i] splits the matrix between rows
//                     i-1 and i; after the eigenvalues e2[0] = 2.0, the
//                     marker of descending order
//          [3n, 3.5n) n 32-bit tags: the submatrix (from 1) of each eigenvalue
//          4n - 1     (n >= 2) the power of two the matrix was scaled down by
//                     before the reduction (0 unless its largest element
//                     lies outside [2^-480, 2^480]); d, e, e2 are scaled by it
//          [4n, 5n)   QL scratch; [5n, 8n) saved d, e, e2 for bisection;
//          [4n, 9n)   inverse-iteration scratch (the reduction also uses
//                     [4n, 8n) as scratch before any of these).
//   Between zeigen with m = 0 and zeigvec the caller keeps a, w and work.
//
// Result codes (both functions):
//     0  success
//    -1  QL failed, bisection supplied all eigenvalues (a success)
//   -10  a vector accepted after slow inverse iteration (from iteration 4)
//   -20  a vector accepted after very slow inverse iteration (iteration 11)
//        (zeigen adds -1 when bisection was needed: -11, -21)
//   -30  inverse iteration produced no usable vector (failure; -31 from
//        zeigen after bisection)
//    97  re-orthonormalisation of a cluster of vectors failed
//    98  bisection found fewer than n eigenvalues (zeigen), or one of the
//        first m eigenvalues is missing or not finite (zeigvec)
//    99  invalid arguments: n < 1, m < 0, m > n, a required array absent,
//        a non-finite element in a (zeigen), or a work area that zeigen
//        did not prepare (zeigvec)
// On 98 and 99 the outputs are undefined; on -1, -10, -20 they are usable.
// Nothing is printed, nothing allocated, nothing thrown.
#pragma once

#include <cstddef>

namespace kernels {

// All eigenvalues of the packed symmetric a of order n into w (descending)
// and, when m >= 1, the eigenvectors of the m largest into z (z may be
// absent when m = 0). Codes as above; with vectors the -10/-20 warnings are
// always passed on.
int zeigen(int n, double* a, double* w, int m, double* z, double* work) noexcept;

// After zeigen with m = 0 on the same a, w and work: the eigenvectors of
// w[0 .. m-1] into z, without repeating the reduction, identical to those
// zeigen would give with m vectors. Returns -30 at once when inverse
// iteration fails (no back-transformation). With m > 1 the result is that of
// the cluster step (0 or 97), so -10 and -20 reach the caller only for m = 1.
int zeigvec(int n, int m, double* a, double* w, double* z, double* work) noexcept;

// True when a result code of zeigen, zeigvec or symmetricEigenFull leaves
// usable outputs (0, -1, -10, -20 and their sums).
constexpr bool eigenUsable(int code) noexcept { return code > -30 && code < 97; }

// Doubles of work symmetricEigenFull needs for order n: a packed copy of
// the matrix and zeigen's 9n.
constexpr std::size_t fullEigenWorkSize(int n) noexcept {
  const std::size_t k = n > 0 ? static_cast<std::size_t>(n) : 0;
  return k * (k + 1) / 2 + 9 * k;
}

// The full-storage entry point: a holds the symmetric matrix of order n in
// n x n doubles (only a[i*n + j], j <= i, is read, so row- and column-major
// storage are the same), left unchanged; w, m, z, the result codes and the
// vectors are those of zeigen, which runs on a packed copy in work
// (fullEigenWorkSize(n) doubles).
int symmetricEigenFull(int n, const double* a, double* w, int m, double* z, double* work) noexcept;

}  // namespace kernels
