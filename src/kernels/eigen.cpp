// Symmetric eigen solver on packed storage: Householder reduction (TRED3),
// implicit QL with submatrix tags (IMTQLV), bisection fallback (TRIDIB),
// inverse iteration (TINVIT), back-transformation (TRBAK3), cluster
// re-orthonormalisation and the sign convention. The algorithms follow
// Wilkinson & Reinsch (1971) and the EISPACK guide (Smith et al. 1976);
// the work-area layout and the result codes are described in eigen.hpp.
#include "kernels/eigen.hpp"

#include <cblas.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "kernels/eigen_detail.hpp"
#include "kernels/linalg.hpp"

namespace kernels {
namespace {

// Machine constants of the Householder, QL, bisection and
// inverse-iteration stages.
constexpr double kEps = 1.110223024625157e-16;  // 2^-53
constexpr double kTiny = 2.225073858507202e-308;  // smallest normal double
constexpr double kSqrtTiny = 1.491668147e-154;
constexpr double kSqrtEps = 1.053671212772351e-8;
// Implicit QL: sweeps allowed per eigenvalue before the stage fails.
constexpr int kQlMaxSweeps = 50;
// Value left in e2[0] once the eigenvalues stand in descending order.
constexpr double kEigenDescendingMarker = 2.0;
// Inverse iteration: eigenvalues closer than this times the submatrix norm
// form a group whose vectors are orthogonalised against each other.
constexpr double kEigenGroupSeparation = 1.0E-3;
// Inverse iteration: 1-norm of the iterate that accepts it at once, from
// iteration 4 on (warning -10) and from iteration 11 on (warning -20).
constexpr double kEigenAcceptNorm = 1.0;
constexpr int kEigenSlowIteration = 4;
constexpr double kEigenSlowAcceptNorm = 0.01;
constexpr int kEigenVerySlowIteration = 11;
constexpr double kEigenVerySlowAcceptNorm = 1.0E-4;
// Eigenvalues closer than this times the tridiagonal norm form a cluster
// whose vectors are re-orthonormalised together (1000 * 2^-53).
constexpr double kEigenClusterTolerance = 1.110223024625157e-13;
// Eigenvector components up to n times this are set to exactly 0.
constexpr double kEigenVectorZero = 1.110223024625157e-14;

// A bracket of bisection halves at most this often: enough to go from the
// widest double interval to adjacent doubles, a guard against endless loops.
constexpr int kMaxBisections = 2200;

constexpr int kWarnSlow = -10;
constexpr int kWarnVerySlow = -20;
constexpr int kFailVector = -30;
constexpr int kFailBisection = -1;
constexpr int kFailCluster = 97;
constexpr int kFailMissing = 98;
constexpr int kFailArguments = 99;

std::size_t at(int i, int n) { return static_cast<std::size_t>(i) * static_cast<std::size_t>(n); }

// A matrix whose largest element lies outside [2^-480, 2^480] is scaled by
// a power of two (exact) before the reduction, as LAPACK's dsyev scales
// one outside [sqrt(tiny / eps), sqrt(huge)]: otherwise the squares e2
// underflow into spurious splits and QL takes every subdiagonal element
// under sqrt(tiny) for zero, so that a covariance matrix of data of 1e-100
// falls apart into blocks with wrong eigenvalues. The exponent is kept
// for zeigvec in work[4n - 1], past the tags (n >= 2; a matrix of order 1
// needs no scaling).
constexpr int kScaleExponent = 480;

std::size_t scaleSlot(int n) { return at(4, n) - 1; }

int scaleExponentOf(int n, const double* a) {
  if (n < 2) return 0;
  double biggest = 0.0;
  for (std::size_t i = 0, size = packedRow(static_cast<std::size_t>(n)); i < size; ++i)
    biggest = std::max(biggest, std::fabs(a[i]));
  if (biggest == 0.0) return 0;
  int exponent = 0;
  std::frexp(biggest, &exponent);
  return std::abs(exponent) > kScaleExponent ? exponent : 0;
}

// The 32-bit submatrix tags live in [3n, 3.5n) of the double work area;
// memcpy keeps the type punning well defined.
std::int32_t tagAt(const double* work, int n, int i) {
  std::int32_t tag;
  std::memcpy(&tag,
              reinterpret_cast<const char*>(work + at(3, n)) + 4 * static_cast<std::size_t>(i),
              sizeof tag);
  return tag;
}

void setTag(double* work, int n, int i, std::int32_t tag) {
  std::memcpy(reinterpret_cast<char*>(work + at(3, n)) + 4 * static_cast<std::size_t>(i), &tag,
              sizeof tag);
}

// Puts value v with its tag into w[0..hole], which is descending apart from
// the free slot at `hole`: smaller values move down one place, and v goes
// after any value equal to it, so equal eigenvalues keep their order.
void insertDescending(double* w, double* work, int n, int hole, double v, std::int32_t tag) {
  int i = hole;
  while (i > 0 && w[i - 1] < v) {
    w[i] = w[i - 1];
    setTag(work, n, i, tagAt(work, n, i - 1));
    --i;
  }
  w[i] = v;
  setTag(work, n, i, tag);
}

// ---------------------------------------------------------------------
// The inner loop of the reduction: for k < j,
//   r = row[k] - uj q[k] - qj u[k];  row[k] = r;  p[k] += r vj;
// returning sum r v[k]. One pass over the packed row performs the rank-2
// update of one Householder step and the row's share of the next step's
// product A v, so every step streams the packed matrix once; done through
// level-1 calls the same work reads the row four times. Written with
// vectors of four doubles and compiled for three instruction-set levels,
// the best of which is chosen when the library is loaded.
using Double4 = double __attribute__((vector_size(32)));

// Not under ThreadSanitizer: the clones' resolver runs while the program is
// being loaded, before the sanitizer's runtime is ready, and crashes.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_THREAD__)
#define ZUL_ISA_CLONES __attribute__((target_clones("arch=x86-64-v4", "arch=x86-64-v3", "default")))
#else
#define ZUL_ISA_CLONES
#endif

ZUL_ISA_CLONES double fusedRowKernel(int j, double* __restrict row, const double* __restrict u,
                                     const double* __restrict q, const double* __restrict v,
                                     double* __restrict p, double uj, double qj, double vj) {
  Double4 acc0 = {0.0, 0.0, 0.0, 0.0};
  Double4 acc1 = acc0;
  int k = 0;
  for (; k + 8 <= j; k += 8) {
    // memcpy: unaligned loads and stores without aliasing questions.
    Double4 r0, r1, q0, q1, u0, u1, v0, v1, p0, p1;
    std::memcpy(&r0, row + k, sizeof r0);
    std::memcpy(&r1, row + k + 4, sizeof r1);
    std::memcpy(&q0, q + k, sizeof q0);
    std::memcpy(&q1, q + k + 4, sizeof q1);
    std::memcpy(&u0, u + k, sizeof u0);
    std::memcpy(&u1, u + k + 4, sizeof u1);
    std::memcpy(&v0, v + k, sizeof v0);
    std::memcpy(&v1, v + k + 4, sizeof v1);
    std::memcpy(&p0, p + k, sizeof p0);
    std::memcpy(&p1, p + k + 4, sizeof p1);
    r0 = r0 - uj * q0 - qj * u0;
    r1 = r1 - uj * q1 - qj * u1;
    std::memcpy(row + k, &r0, sizeof r0);
    std::memcpy(row + k + 4, &r1, sizeof r1);
    acc0 += r0 * v0;
    acc1 += r1 * v1;
    p0 += r0 * vj;
    p1 += r1 * vj;
    std::memcpy(p + k, &p0, sizeof p0);
    std::memcpy(p + k + 4, &p1, sizeof p1);
  }
  acc0 += acc1;
  double dot = (acc0[0] + acc0[1]) + (acc0[2] + acc0[3]);
  for (; k < j; ++k) {
    const double r = row[k] - uj * q[k] - qj * u[k];
    row[k] = r;
    dot += r * v[k];
    p[k] += r * vj;
  }
  return dot;
}

// ---------------------------------------------------------------------
// Householder reduction (TRED3), rows n-1 down to 1.
//
// Row i's elements left of the diagonal, divided by their absolute sum
// (scale), give the Householder vector u; the packed row keeps u at the
// row's own scale (its last element becomes scale*(f - g)), so that the
// kept norm scale*sqrt(h) on the diagonal matches it in TRBAK3. The
// leading block is updated by A <- A - u q^T - q u^T with
// q = p - K u, p = A u / h, K = u.p / (2h).
//
// Each step streams the packed rows once: the rank-2 update of step i and
// the product A u of step i-1 are done in the same pass over rows
// 0 ... i-2, after row i-1 (the next Householder row) has been updated
// first. scratch: 4n doubles (u and p of two consecutive steps).
class Reduction {
 public:
  Reduction(int n, double* a, double* work)
      : n_(n), a_(a), d_(work), e_(work + n), e2_(work + at(2, n)) {}

  void run(double* scratch) {
    double* uCur = scratch;
    double* pCur = scratch + n_;
    double* uNext = scratch + at(2, n_);
    double* pNext = scratch + at(3, n_);
    if (n_ == 1) {
      finishRowZero();
      return;
    }
    double h = prepare(n_ - 1, uCur);
    bool active = n_ - 1 >= 2 && h > 0.0;
    if (active) {
      for (int j = 0; j < n_ - 1; ++j) pCur[j] = 0.0;
      for (int j = 0; j < n_ - 1; ++j) productRow(j, uCur, pCur);
    }
    for (int i = n_ - 1; i >= 1; --i) {
      if (active) {
        // p <- p / h, then q = p - K u.
        for (int j = 0; j < i; ++j) pCur[j] /= h;
        const double k = ddot(i, uCur, pCur) / (h + h);
        daxpy(i, -k, uCur, pCur);
        updateRow(i - 1, uCur, pCur);
      }
      if (i == 1) break;
      const int next = i - 1;
      const double hNext = prepare(next, uNext);
      const bool nextActive = next >= 2 && hNext > 0.0;
      if (nextActive) {
        for (int j = 0; j < next; ++j) pNext[j] = 0.0;
      }
      if (active && nextActive) {
        for (int j = 0; j < next; ++j) updateAndProductRow(j, uCur, pCur, uNext, pNext);
      } else if (active) {
        for (int j = 0; j < next; ++j) updateRow(j, uCur, pCur);
      } else if (nextActive) {
        for (int j = 0; j < next; ++j) productRow(j, uNext, pNext);
      }
      std::swap(uCur, uNext);
      std::swap(pCur, pNext);
      h = hNext;
      active = nextActive;
    }
    finishRowZero();
  }

 private:
  // Builds the Householder vector of row i into u and fixes e[i], e2[i],
  // d[i] and the kept norm. Returns h (0 when the row is already reduced).
  double prepare(int i, double* u) {
    double* row = a_ + packedRow(i);
    double scale = 0.0;
    for (int k = 0; k < i; ++k) scale += std::fabs(row[k]);
    double h = 0.0;
    if (scale <= kTiny) {
      e_[i] = 0.0;
      e2_[i] = 0.0;
    } else {
      for (int k = 0; k < i; ++k) {
        u[k] = row[k] / scale;
        h += u[k] * u[k];
      }
      const double f = u[i - 1];
      const double g = f >= 0.0 ? -std::sqrt(h) : std::sqrt(h);
      e_[i] = scale * g;
      e2_[i] = scale * scale * h;
      h -= f * g;
      u[i - 1] = f - g;
      row[i - 1] = scale * u[i - 1];
    }
    d_[i] = row[i];
    row[i] = scale * std::sqrt(h);
    return h;
  }

  // p[0..j] += contribution of packed row j to A u (row j is read once;
  // the daxpy finds it in cache).
  void productRow(int j, const double* u, double* p) {
    const double* row = a_ + packedRow(j);
    p[j] += ddot(j, row, u) + row[j] * u[j];
    daxpy(j, u[j], row, p);
  }

  // Row j of the block: a(j, k) -= u[j] q[k] + q[j] u[k], k <= j. u and
  // q lie n apart in the scratch, so [u q] is an n x 2 column-major matrix
  // and the two updates are one matrix-vector product that reads and
  // writes the row once.
  void updateRow(int j, const double* u, const double* q) {
    double* row = a_ + packedRow(j);
    const double coef[2] = {-q[j], -u[j]};
    cblas_dgemv(CblasColMajor, CblasNoTrans, j + 1, 2, 1.0, u, n_, coef, 1, 1.0, row, 1);
  }

  // updateRow(j, u, q) then productRow(j, v, p) in one sweep over the row.
  void updateAndProductRow(int j, const double* u, const double* q, const double* v, double* p) {
    double* row = a_ + packedRow(j);
    const double dot = fusedRowKernel(j, row, u, q, v, p, u[j], q[j], v[j]);
    row[j] -= u[j] * q[j] + q[j] * u[j];
    p[j] += dot + row[j] * v[j];
  }

  void finishRowZero() {
    d_[0] = a_[0];
    a_[0] = 0.0;
    e_[0] = 0.0;
    e2_[0] = 0.0;
  }

  int n_;
  double* a_;
  double* d_;
  double* e_;
  double* e2_;
};

// ---------------------------------------------------------------------
// Eigenvalues by the implicit QL method (IMTQLV, after Martin & Wilkinson
// 1968 and Dubrulle 1970), into w in descending order with their submatrix
// tags. d, e, e2 of the reduction stay in place; the subdiagonal is copied
// shifted down by one into the scratch ev = work[4n, 5n); a split newly
// found beyond the last recorded one zeroes its e2 and opens a submatrix.
// Returns 0, or -(l + 1) when eigenvalue l needs more than sweepLimit
// sweeps or stagnates.
int qlEigenvalues(int n, double* work, double* w, int sweepLimit) {
  const double* d = work;
  const double* e = work + n;
  double* e2 = work + at(2, n);
  double* ev = work + at(4, n);
  for (int i = 0; i < n; ++i) {
    w[i] = d[i];
    if (i > 0) ev[i - 1] = e[i];
  }
  ev[n - 1] = 0.0;
  e2[0] = 0.0;
  int lastSplit = -1;
  std::int32_t tag = 0;
  for (int l = 0; l < n; ++l) {
    int sweeps = 0;
    double p;
    for (;;) {
      int m = l;
      for (; m < n - 1; ++m) {
        const double em = std::fabs(ev[m]);
        if (em <= kEps * (std::fabs(w[m]) + std::fabs(w[m + 1])) || em <= kSqrtTiny) break;
        if (e2[m + 1] == 0.0) break;
      }
      if (m > lastSplit) {
        if (m != n - 1) e2[m + 1] = 0.0;
        lastSplit = m;
        ++tag;
      }
      p = w[l];
      if (m == l) break;
      if (sweeps == sweepLimit) return -(l + 1);
      ++sweeps;
      // Shift from the leading 2 x 2 block, r = sqrt(g^2 + 1) without
      // overflow.
      double g = (w[l + 1] - p) / (2.0 * ev[l]);
      double r = std::fabs(g) > 1.0 ? std::fabs(g) * std::sqrt(1.0 + 1.0 / (g * g))
                                    : std::sqrt(g * g + 1.0);
      g = w[m] - p + ev[l] / (g >= 0.0 ? g + r : g - r);
      double s = 1.0;
      double c = 1.0;
      p = 0.0;
      const double before = ev[l];
      for (int i = m - 1; i >= l; --i) {
        const double f = s * ev[i];
        const double b = c * ev[i];
        if (std::fabs(f) >= std::fabs(g)) {
          const double t = std::fabs(f) <= kTiny ? 0.0 : g / f;
          const double root = std::sqrt(t * t + 1.0);
          r = f * root;
          s = 1.0 / root;
          c = t * s;
        } else {
          const double t = std::fabs(g) <= kTiny ? 0.0 : f / g;
          const double root = std::sqrt(t * t + 1.0);
          r = g * root;
          c = 1.0 / root;
          s = t * c;
        }
        ev[i + 1] = r;
        g = w[i + 1] - p;
        r = (w[i] - g) * s + 2.0 * c * b;
        p = s * r;
        w[i + 1] = g + p;
        g = c * r - b;
      }
      w[l] -= p;
      ev[l] = g;
      ev[m] = 0.0;
      // Stagnation guard: a sweep that moves nothing either has met a
      // negligible element the tests above miss, or is stuck for good.
      if (std::fabs(p) <= kTiny && std::fabs(ev[l] - before) <= kTiny) {
        const double el = std::fabs(ev[l]);
        const double dl = std::fabs(w[l]);
        if (el <= kSqrtTiny || (dl <= kEps && el <= kSqrtEps * dl)) {
          ev[l] = 0.0;
        } else {
          return -(l + 1);
        }
      }
    }
    insertDescending(w, work, n, l, p, tag);
  }
  e2[0] = kEigenDescendingMarker;
  return 0;
}

// Number of eigenvalues of the submatrix [p, q] below x, from the signs of
// the Sturm sequence in its LDL^T form (TRIDIB). e2[p] is zero.
int sturmCount(const double* d, const double* e, const double* e2, int p, int q, double x) {
  int count = 0;
  double u = 1.0;
  for (int i = p; i <= q; ++i) {
    double v;
    if (u != 0.0) {
      v = e2[i] / u;
    } else {
      v = e2[i] == 0.0 ? 0.0 : std::fabs(e[i]) / kEps;
    }
    u = d[i] - x - v;
    if (u < 0.0) ++count;
  }
  return count;
}

// Zeroes e2[i] where the tridiagonal matrix splits between rows i-1 and
// i: a coupling negligible beside its two diagonals, or below eps times
// the norm of T. The latter moves no eigenvalue by more than the
// bisection's own tolerance; kept, it joins blocks that are apart to
// working precision into one submatrix, whose cluster of equal values
// inverse iteration cannot then separate (the matrix of ones).
void markSplits(int n, const double* d, const double* e, double* e2) {
  double norm = 0.0;
  for (int i = 0; i < n; ++i) {
    const double below = i + 1 < n ? std::fabs(e[i + 1]) : 0.0;
    norm = std::max(norm, std::fabs(d[i]) + std::fabs(e[i]) + below);
  }
  e2[0] = 0.0;
  for (int i = 1; i < n; ++i) {
    const double coupling = std::fabs(e[i]);
    if (coupling <= kEps * (std::fabs(d[i]) + std::fabs(d[i - 1])) || coupling <= kEps * norm)
      e2[i] = 0.0;
  }
}

// Eigenvalues by bisection (TRIDIB, Barth, Martin & Wilkinson 1967) on the
// restored d, e, e2, submatrix by submatrix, each bracket bisected until it
// is no wider than 2 eps (|x0| + |x1|) + t. Scratch: lower and upper bounds
// in work[4n, 6n). Returns -1, or 98 when fewer than n values were found.
int bisectEigenvalues(int n, double* work, double* w) {
  const double* d = work;
  const double* e = work + n;
  double* e2 = work + at(2, n);
  double* lower = work + at(4, n);
  double* upper = work + at(5, n);
  markSplits(n, d, e, e2);
  int found = 0;
  std::int32_t tag = 0;
  for (int p = 0, q = -1; q < n - 1; p = q + 1) {
    for (q = p; q < n - 1 && e2[q + 1] != 0.0; ++q) {
    }
    ++tag;
    const int order = q - p + 1;
    double* values = w + found;  // ascending within the submatrix
    if (order == 1) {
      values[0] = d[p];
    } else {
      // Gerschgorin interval of the submatrix, widened by order * t.
      double xl = d[p];
      double xu = d[p];
      for (int i = p; i <= q; ++i) {
        const double radius = (i > p ? std::fabs(e[i]) : 0.0) + (i < q ? std::fabs(e[i + 1]) : 0.0);
        if (d[i] - radius < xl) xl = d[i] - radius;
        if (d[i] + radius > xu) xu = d[i] + radius;
      }
      const double t = kEps * std::fmax(std::fabs(xl), std::fabs(xu));
      xl -= order * t;
      xu += order * t;
      for (int r = 0; r < order; ++r) {
        lower[r] = xl;
        upper[r] = xu;
      }
      // From the largest down; every count also tightens the brackets of
      // the eigenvalues still to come.
      for (int r = order - 1; r >= 0; --r) {
        double lo = lower[r];
        double hi = upper[r];
        for (int it = 0;
             it < kMaxBisections && hi - lo > 2.0 * kEps * (std::fabs(lo) + std::fabs(hi)) + t;
             ++it) {
          const double mid = lo + 0.5 * (hi - lo);
          const int below = sturmCount(d, e, e2, p, q, mid);
          if (below > r) {
            hi = mid;
            for (int j = 0; j < r && j < below; ++j) upper[j] = std::fmin(upper[j], mid);
          } else {
            lo = mid;
            for (int j = below; j < r; ++j) lower[j] = std::fmax(lower[j], mid);
          }
        }
        values[r] = lo + 0.5 * (hi - lo);
      }
    }
    for (int r = 0; r < order; ++r) {
      if (std::isfinite(values[r])) {
        setTag(work, n, found, tag);
        w[found++] = values[r];
      }
    }
  }
  // Descending order, stable: equal values keep the order found.
  for (int i = 1; i < found; ++i) insertDescending(w, work, n, i, w[i], tagAt(work, n, i));
  e2[0] = kEigenDescendingMarker;
  return found < n ? kFailMissing : kFailBisection;
}

// Eigenvalue stage: QL, and bisection from the saved d, e, e2 when QL
// fails. Returns 0, -1 or 98.
int computeEigenvalues(int n, double* work, double* w, int sweepLimit) {
  double* saved = work + at(5, n);
  std::memcpy(saved, work, sizeof(double) * at(3, n));
  if (qlEigenvalues(n, work, w, sweepLimit) == 0) return 0;
  std::memcpy(work, saved, sizeof(double) * at(3, n));
  return bisectEigenvalues(n, work, w);
}

// ---------------------------------------------------------------------
// ---------------------------------------------------------------------
// Eigenvectors of the tridiagonal matrix by inverse iteration (TINVIT,
// Peters & Wilkinson 1971), submatrix by submatrix.
//
// For a shift x, T - x I over the rows [p, q] is factored by Gaussian
// elimination with row interchanges into L U: U has its diagonal and two
// superdiagonals (the second is non-zero only after an interchange), L is
// kept as the multipliers of the elimination. The arrays live in
// work[4n, 9n), indexed by row like d and e.
struct ShiftedFactor {
  double* pivots;       // diagonal of U; equal to e[i+1] where row i was interchanged
  double* upper1;       // first superdiagonal of U
  double* upper2;       // second superdiagonal of U
  double* multipliers;  // multiplier of row i in the elimination, i > p
};

// The rows [p, q] of the tridiagonal matrix: d, e as in the work area.
struct Submatrix {
  const double* d;
  const double* e;
  int p, q;
};

// The state carried from one back substitution to the next: u and v, the
// last two components computed (TINVIT keeps them across iterations), and
// the component that a vanished iterate restarts from, which moves on
// through the submatrix from one restart to the next.
struct Carry {
  double u = 0.0;
  double v = 0.0;
  int zeroPos = 0;
};

// Factors T - x I over the submatrix into f; a zero last pivot becomes
// eps3. Leaves in c the values the first back substitution starts from.
void factorShifted(const Submatrix& s, double x, double eps3, const ShiftedFactor& f, Carry& c) {
  const double* d = s.d;
  const double* e = s.e;
  double u = 0.0;
  double v = 0.0;
  double xu = 1.0;
  for (int i = s.p; i <= s.q; ++i) {
    if (i != s.p) {
      if (std::fabs(e[i]) >= std::fabs(u)) {  // interchange rows i-1 and i
        xu = u / e[i];
        f.multipliers[i] = xu;
        f.pivots[i - 1] = e[i];
        f.upper1[i - 1] = d[i] - x;
        f.upper2[i - 1] = i != s.q ? e[i + 1] : 0.0;
        u = v - xu * f.upper1[i - 1];
        v = -xu * f.upper2[i - 1];
        continue;
      }
      xu = e[i] / u;
      f.multipliers[i] = xu;
      f.pivots[i - 1] = u;
      f.upper1[i - 1] = v;
      f.upper2[i - 1] = 0.0;
    }
    u = d[i] - x - xu * v;
    if (i != s.q) v = e[i + 1];
  }
  if (u == 0.0) u = eps3;
  f.pivots[s.q] = u;
  f.upper1[s.q] = 0.0;
  f.upper2[s.q] = 0.0;
  c.u = u;
  c.v = v;
}

// Solves U y = iterate in place.
void backSubstitute(const Submatrix& s, const ShiftedFactor& f, double* iterate, Carry& c) {
  for (int i = s.q; i >= s.p; --i) {
    iterate[i] = (iterate[i] - c.u * f.upper1[i] - c.v * f.upper2[i]) / f.pivots[i];
    c.v = c.u;
    c.u = iterate[i];
  }
}

// Applies L^-1 (the interchanges and multipliers) to the next right-hand
// side in place.
void forwardEliminate(const Submatrix& s, const ShiftedFactor& f, double* iterate) {
  for (int i = s.p + 1; i <= s.q; ++i) {
    double t = iterate[i];
    if (f.pivots[i - 1] == s.e[i]) {
      t = iterate[i - 1];
      iterate[i - 1] = iterate[i];
    }
    iterate[i] = t - f.multipliers[i] * iterate[i - 1];
  }
}

// What inverse iteration for one eigenvalue needs besides the factor: the
// earlier vectors of its group (close eigenvalues of the same submatrix),
// to orthogonalise against, and the sizes of the submatrix's norm.
struct VectorTask {
  const double* z;    // the vectors found so far
  const double* work; // for the submatrix tags
  int n;
  int r;              // the eigenvalue's index
  int group;          // number of earlier members of its group
  std::int32_t tag;   // its submatrix
  double eps4;        // size of a restarted iterate
  double shift;       // the eigenvalue x, as T - x I was factored
};

void orthogonaliseAgainstGroup(const Submatrix& s, const VectorTask& t, double* iterate) {
  const int size = s.q - s.p + 1;
  for (int j = t.r, g = 0; g < t.group; ++g) {
    do {
      --j;
    } while (tagAt(t.work, t.n, j) != t.tag);
    const double* zj = t.z + at(j, t.n);
    const double dot = ddot(size, iterate + s.p, zj + s.p);
    daxpy(size, -dot, zj + s.p, iterate + s.p);
  }
}

// Whether a vector accepted late is nonetheless as accurate as TINVIT asks.
// The growth test bounds the residual through the right-hand side b of the
// solve: |b|_1 = eps4 and s = |y|_1, so s >= 1 means |(T - x I) y|_1 <=
// eps4 |y|_1. eps4 here rests on the unit roundoff 2^-53, half the machine
// precision 2^-52 of Peters & Wilkinson's TINVIT, and on a submatrix of two
// or three rows QL's own eigenvalue error can take the whole of that
// bound: s then stays just below 1 while the vector is exact to rounding.
// Measured directly against TINVIT's bound (2 eps4), such a vector draws no
// warning; the vector itself is the one accepted either way.
bool residualWithinTinvitBound(const Submatrix& s, const VectorTask& t, const double* y,
                               double norm) {
  double residual = 0.0;
  for (int i = s.p; i <= s.q; ++i) {
    double r = (s.d[i] - t.shift) * y[i];
    if (i > s.p) r += s.e[i] * y[i - 1];
    if (i < s.q) r += s.e[i + 1] * y[i + 1];
    residual += std::fabs(r);
  }
  return residual <= 2.0 * t.eps4 * norm;
}

// Iterates until the iterate's 1-norm shows convergence. Returns 0, -10 or
// -20 (accepted late), or -30 (no usable vector).
int iterateVector(const Submatrix& s, const ShiftedFactor& f, const VectorTask& t,
                  double* iterate, Carry& c) {
  for (int its = 1;; ++its) {
    backSubstitute(s, f, iterate, c);
    orthogonaliseAgainstGroup(s, t, iterate);
    double norm = 0.0;
    for (int i = s.p; i <= s.q; ++i) norm += std::fabs(iterate[i]);
    if (norm >= kEigenAcceptNorm) return 0;
    const bool late = its >= kEigenSlowIteration && norm >= kEigenSlowAcceptNorm;
    if ((late || its >= kEigenVerySlowIteration) && norm >= kEigenVerySlowAcceptNorm &&
        residualWithinTinvitBound(s, t, iterate, norm))
      return 0;
    if (late) return kWarnSlow;
    if (its >= kEigenVerySlowIteration) {
      if (norm >= kEigenVerySlowAcceptNorm) return kWarnVerySlow;
      return kFailVector;  // includes norm == 0: the iteration is bounded
    }
    if (!(norm >= 0.0)) return kFailVector;  // NaN
    if (norm == 0.0) {
      iterate[c.zeroPos] = t.eps4;
      if (++c.zeroPos > s.q) c.zeroPos = s.p;
    } else {
      const double scale = t.eps4 / norm;
      for (int i = s.p; i <= s.q; ++i) iterate[i] *= scale;
    }
    forwardEliminate(s, f, iterate);
  }
}

// The norms of one submatrix that scale the iteration: eps2 groups close
// roots, eps3 replaces zero pivots and separates equal roots, eps4 is the
// start size, small to avoid overflow.
struct SubmatrixScale {
  double eps2, eps3, eps4, start;
};

SubmatrixScale scaleOf(const Submatrix& s) {
  double norm = std::fabs(s.d[s.p]);
  for (int i = s.p + 1; i <= s.q; ++i) norm += std::fabs(s.d[i]) + std::fabs(s.e[i]);
  const int size = s.q - s.p + 1;
  SubmatrixScale scale;
  scale.eps2 = kEigenGroupSeparation * norm;
  scale.eps3 = kEps * norm;
  scale.eps4 = size * scale.eps3;
  scale.start = scale.eps4 / std::sqrt(static_cast<double>(size));
  return scale;
}

// Unit vector r (zero outside the submatrix) from the converged iterate.
void storeVector(const Submatrix& s, int n, const double* iterate, double* zr) {
  const int size = s.q - s.p + 1;
  const double length = std::sqrt(ddot(size, iterate + s.p, iterate + s.p));
  for (int i = 0; i < n; ++i) zr[i] = 0.0;
  for (int i = s.p; i <= s.q; ++i) zr[i] = iterate[i] / length;
}

// The vectors of w[0 .. m-1] that belong to the submatrix s (tag). Returns
// the worst code (0, -10, -20) or -30 at once.
int submatrixVectors(const Submatrix& s, std::int32_t tag, int n, int m, const double* w,
                     int exponent, double* z, double* work) {
  const ShiftedFactor f{work + at(4, n), work + at(5, n), work + at(6, n), work + at(7, n)};
  double* iterate = work + at(8, n);
  const double order = 1.0 - work[at(2, n)];  // -1: eigenvalues descend
  SubmatrixScale scale{};
  int worst = 0;
  bool first = true;
  int group = 0;
  double x0 = 0.0;
  Carry carry;
  for (int r = 0; r < m; ++r) {
    if (tagAt(work, n, r) != tag) continue;
    double* zr = z + at(r, n);
    double x1 = std::ldexp(w[r], -exponent);
    if (s.p == s.q) {
      for (int i = 0; i < n; ++i) zr[i] = 0.0;
      zr[s.p] = 1.0;
      x0 = x1;
      continue;
    }
    if (first) {
      scale = scaleOf(s);
      carry.zeroPos = s.p;
      group = 0;
      first = false;
    } else if (std::fabs(x1 - x0) >= scale.eps2) {
      group = 0;
    } else {
      ++group;
      if (order * (x1 - x0) <= 0.0) x1 = x0 + order * scale.eps3;
    }
    for (int i = s.p; i <= s.q; ++i) iterate[i] = scale.start;
    factorShifted(s, x1, scale.eps3, f, carry);
    const VectorTask task{z, work, n, r, group, tag, scale.eps4, x1};
    const int code = iterateVector(s, f, task, iterate, carry);
    if (code == kFailVector) return kFailVector;
    storeVector(s, n, iterate, zr);
    if (code < worst) worst = code;
    x0 = x1;
  }
  return worst;
}

// Eigenvectors of the tridiagonal matrix for w[0 .. m-1], submatrix by
// submatrix (the splits recorded in e2). Returns 0, -10, -20 or -30 (at
// once).
int inverseIteration(int n, int m, const double* w, int exponent, double* z, double* work) {
  const double* e2 = work + at(2, n);
  int worst = 0;
  std::int32_t tag = 0;
  for (int p = 0, q = -1; q < n - 1; p = q + 1) {
    for (q = p; q < n - 1 && e2[q + 1] != 0.0; ++q) {
    }
    ++tag;
    const Submatrix s{work, work + n, p, q};
    const int code = submatrixVectors(s, tag, n, m, w, exponent, z, work);
    if (code == kFailVector) return kFailVector;
    if (code < worst) worst = code;
  }
  return worst;
}

// Back-transformation by the Householder vectors kept in a (TRBAK3): rows
// 1 ... n-1, skipped when the kept norm h is negligible; two divisions by h
// rather than one by h^2, which could underflow.
void backTransform(int n, int m, const double* a, double* z) {
  for (int i = 1; i < n; ++i) {
    const double* row = a + packedRow(i);
    const double h = row[i];
    if (std::fabs(h) <= kSqrtTiny) continue;
    for (int j = 0; j < m; ++j) {
      double* zj = z + at(j, n);
      const double s = ddot(i, row, zj) / (-h) / h;
      daxpy(i, s, row, zj);
    }
  }
}

// Vectors of eigenvalues closer than 1000 eps times the tridiagonal norm
// are re-orthonormalised together by modified Gram-Schmidt, run twice
// ("twice is enough", Parlett 1980). Returns 97 when a vector of a cluster
// is left with a length of at most sqrt(eps) after the projections.
int orthonormaliseClusters(int n, int m, const double* w, int exponent, double* z,
                           const double* work) {
  const double* d = work;
  const double* e = work + n;
  double total = std::fabs(d[0]);
  for (int i = 1; i < n; ++i) total += std::fabs(d[i]) + std::fabs(e[i]);
  const double tol = kEigenClusterTolerance * total;
  for (int first = 0; first < m;) {
    int last = first;
    while (last + 1 < m && std::ldexp(w[last] - w[last + 1], -exponent) < tol) ++last;
    for (int c = first + 1; c <= last; ++c) {
      double* zc = z + at(c, n);
      for (int pass = 0; pass < 2; ++pass) {
        for (int j = first; j < c; ++j) {
          const double* zj = z + at(j, n);
          daxpy(n, -ddot(n, zj, zc), zj, zc);
        }
      }
      const double length = std::sqrt(ddot(n, zc, zc));
      if (!(length > kSqrtEps)) return kFailCluster;
      for (int i = 0; i < n; ++i) zc[i] /= length;
    }
    first = last + 1;
  }
  return 0;
}

// Sign convention: negligible components become exactly 0; a vector whose
// components have a clearly negative sum is negated, and when the sum is
// about zero the sign follows its first dominant component.
void fixSigns(int n, int m, double* z) {
  const double zero = n * kEigenVectorZero;
  for (int j = 0; j < m; ++j) {
    double* zj = z + at(j, n);
    double sum = 0.0;
    for (int k = 0; k < n; ++k) {
      if (std::fabs(zj[k]) <= zero) zj[k] = 0.0;
      sum += zj[k];
    }
    bool negate;
    if (std::fabs(sum) >= kSqrtEps) {
      negate = sum < 0.0;
    } else {
      double dominant = zj[0];
      for (int k = 1; k < n; ++k) {
        if (std::fabs(zj[k]) > std::fabs(dominant) + kSqrtEps) dominant = zj[k];
      }
      negate = dominant < 0.0;
    }
    // 0.0 - x keeps zeros at +0.0.
    if (negate) {
      for (int k = 0; k < n; ++k) zj[k] = 0.0 - zj[k];
    }
  }
}

// Vector stage shared by zeigen and zeigvec. The inverse-iteration code
// goes to *iterationCode; the result is -30, 97 or 0.
// w in the units of the caller's matrix; the tridiagonal in work is
// scaled down by the exponent zeigen kept.
int computeVectors(int n, int m, const double* a, const double* w, double* z, double* work,
                   int* iterationCode) {
  const int exponent = n < 2 ? 0 : static_cast<int>(work[scaleSlot(n)]);
  *iterationCode = inverseIteration(n, m, w, exponent, z, work);
  if (*iterationCode == kFailVector) return kFailVector;
  backTransform(n, m, a, z);
  int code = 0;
  if (m > 1) code = orthonormaliseClusters(n, m, w, exponent, z, work);
  fixSigns(n, m, z);
  return code;
}

bool isMissingOrNotFinite(double x) {
  std::uint64_t bits;
  std::memcpy(&bits, &x, sizeof bits);
  return (bits >> 48) == 0xFFFFu || !std::isfinite(x);
}

}  // namespace

namespace detail {

int zeigenWithSweepLimit(int n, double* a, double* w, int m, double* z, double* work,
                         int sweepLimit) noexcept {
  if (n < 1 || m < 0 || m > n || a == nullptr || w == nullptr || work == nullptr ||
      (m > 0 && z == nullptr)) {
    return kFailArguments;
  }
  const std::size_t size = packedRow(static_cast<std::size_t>(n));
  for (std::size_t i = 0; i < size; ++i) {
    if (!std::isfinite(a[i])) return kFailArguments;
  }
  const int exponent = scaleExponentOf(n, a);
  if (exponent != 0)
    for (std::size_t i = 0; i < size; ++i) a[i] = std::ldexp(a[i], -exponent);
  Reduction(n, a, work).run(work + at(4, n));
  const int valueCode = computeEigenvalues(n, work, w, sweepLimit);
  if (valueCode == kFailMissing) return kFailMissing;
  if (n >= 2) work[scaleSlot(n)] = exponent;
  if (exponent != 0)
    for (int j = 0; j < n; ++j) w[j] = std::ldexp(w[j], exponent);
  if (m == 0) return valueCode;
  int iterationCode = 0;
  const int vectorCode = computeVectors(n, m, a, w, z, work, &iterationCode);
  if (vectorCode == kFailVector) return kFailVector + valueCode;
  if (vectorCode == kFailCluster) return kFailCluster;
  return valueCode + iterationCode;
}

}  // namespace detail

int zeigen(int n, double* a, double* w, int m, double* z, double* work) noexcept {
  return detail::zeigenWithSweepLimit(n, a, w, m, z, work, kQlMaxSweeps);
}

int zeigvec(int n, int m, double* a, double* w, double* z, double* work) noexcept {
  if (n < 1 || m < 0 || m > n || a == nullptr || w == nullptr || work == nullptr ||
      (m > 0 && z == nullptr)) {
    return kFailArguments;
  }
  if (m == 0) return 0;
  if (work[at(2, n)] != kEigenDescendingMarker) return kFailArguments;
  for (int j = 0; j < m; ++j) {
    if (isMissingOrNotFinite(w[j])) return kFailMissing;
  }
  int iterationCode = 0;
  const int vectorCode = computeVectors(n, m, a, w, z, work, &iterationCode);
  if (vectorCode == kFailVector) return kFailVector;
  if (m > 1) return vectorCode;
  return iterationCode;
}

int symmetricEigenFull(int n, const double* a, double* w, int m, double* z,
                       double* work) noexcept {
  if (n < 1 || a == nullptr || work == nullptr) return kFailArguments;
  double* packed = work;
  for (int i = 0; i < n; ++i)
    for (int j = 0; j <= i; ++j) packed[packedIndex(i, j)] = a[at(i, n) + j];
  return zeigen(n, packed, w, m, z, work + packedSize(n));
}

}  // namespace kernels
