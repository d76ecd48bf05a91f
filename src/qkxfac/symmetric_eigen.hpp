// The engine's symmetric eigen solver: Householder reduction to tridiagonal
// form and the implicit QL algorithm with Wilkinson shifts (Bowdler, Martin,
// Reinsch and Wilkinson 1968; the scheme of EISPACK's TRED2 and TQL2).
//
// The engine is a library of its own and shares no code with the module;
// its matrices are small and dense (the simulated correlation matrices of a
// parallel analysis, the observed one of MAP), so the solver works on full
// row-major storage, where every update runs over contiguous rows.
#pragma once

#include <vector>

namespace qkxfac {

class SymmetricEigen {
 public:
  explicit SymmetricEigen(int n);

  int order() const { return n_; }

  // The n x n work matrix, row-major: the caller fills it (both triangles)
  // with the symmetric matrix to decompose. Overwritten by the solver.
  double* matrix() { return a_.data(); }

  // Eigenvalues of matrix() in descending order into values (n doubles).
  // With vectors (n x n, row-major, may be null) the eigenvector of
  // values[j] goes to column j, of unit length. Returns 0, or -1 when the
  // QL iteration did not converge in 30 n sweeps (a NaN or infinite
  // element); the outputs are then all NaN.
  int solve(double* values, double* vectors);

 private:
  void tridiagonalize(bool keepReflections);
  void formQ(double* q) const;
  bool diagonalize(double* q);

  int n_;
  std::vector<double> a_;     // the matrix; then the Householder vectors
  std::vector<double> beta_;  // 2 / v'v of each reflection (0: none)
  std::vector<double> d_, e_; // diagonal and subdiagonal (e_[i] = t(i+1, i))
  std::vector<double> v_, w_; // reflection vector and its update vector
};

}  // namespace qkxfac
