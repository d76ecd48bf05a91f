#include "qkxfac/parallel_analysis.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <system_error>
#include <thread>

#include <unistd.h>

#include "kernels/eigen.hpp"
#include "kernels/packed.hpp"
#include "qkxfac/random_stream.hpp"

namespace qkxfac {

using kernels::packedIndex;

namespace {

// Eigenvalues of the packed correlation matrix a of order p (destroyed)
// into values, descending; all NaN when the solver fails (a non-finite
// element). work: 9p doubles. Returns false on failure.
bool eigenvaluesOf(int p, double* a, double* values, double* work) {
  if (kernels::eigenUsable(kernels::zeigen(p, a, values, 0, nullptr, work))) return true;
  std::fill(values, values + p, std::numeric_limits<double>::quiet_NaN());
  return false;
}

// Everything one thread needs for its simulations.
struct SimulationWork {
  explicit SimulationWork(int p)
      : lower(static_cast<size_t>(p) * p), matrix(kernels::packedSize(p)),
        eigen(9 * static_cast<size_t>(p)) {}
  std::vector<double> lower;   // Bartlett factor L, row-major
  std::vector<double> matrix;  // the correlation matrix, packed
  std::vector<double> eigen;   // the eigen solver's work area
};

// One simulated correlation matrix into work.matrix, then its eigenvalues
// into values.
void simulate(int p, double df, uint32_t seed, uint64_t s, SimulationWork& work,
              double* values) {
  RandomStream random(seed, s);
  double* l = work.lower.data();
  for (int i = 0; i < p; ++i) {
    double* row = l + static_cast<size_t>(i) * p;
    for (int j = 0; j < i; ++j) row[j] = random.normal();
    row[i] = std::sqrt(random.chiSquare(df - i));
  }
  // W = L L' (lower triangle), then the correlations w_ij / sqrt(w_ii w_jj).
  double* a = work.matrix.data();
  for (int i = 0; i < p; ++i) {
    const double* li = l + static_cast<size_t>(i) * p;
    for (int j = 0; j <= i; ++j) {
      const double* lj = l + static_cast<size_t>(j) * p;
      double sum = 0.0;
      for (int k = 0; k <= j; ++k) sum += li[k] * lj[k];
      a[packedIndex(i, j)] = sum;
    }
  }
  double* scale = values;  // the roots 1/sqrt(w_ii) until the eigenvalues come
  for (int i = 0; i < p; ++i) scale[i] = 1.0 / std::sqrt(a[packedIndex(i, i)]);
  for (int i = 0; i < p; ++i) {
    for (int j = 0; j < i; ++j) a[packedIndex(i, j)] = a[packedIndex(i, j)] * scale[i] * scale[j];
    a[packedIndex(i, i)] = 1.0;
  }
  eigenvaluesOf(p, a, values, work.eigen.data());
}

void simulateRange(int p, double df, uint32_t seed, int first, int last, SimulationWork* work,
                   double* rows) {
  for (int s = first; s < last; ++s)
    simulate(p, df, seed, static_cast<uint64_t>(s), *work, rows + static_cast<size_t>(s) * p);
}

// Runs the simulations [0, nSims) in `threads` contiguous blocks. The work
// areas are made here, so that a worker thread never allocates; a thread
// that cannot be started leaves its block to the calling thread.
void simulateAll(int p, double df, uint32_t seed, int nSims, int threads, double* rows) {
  threads = std::max(1, std::min(threads, nSims));
  std::vector<SimulationWork> work;
  work.reserve(static_cast<size_t>(threads));
  for (int t = 0; t < threads; ++t) work.emplace_back(p);
  std::vector<std::thread> pool;
  std::vector<std::pair<int, int>> leftOver;
  auto bound = [&](int t) { return static_cast<int>(static_cast<int64_t>(nSims) * t / threads); };
  for (int t = 1; t < threads; ++t) {
    const int first = bound(t), last = bound(t + 1);
    try {
      pool.emplace_back(simulateRange, p, df, seed, first, last, &work[t], rows);
    } catch (const std::system_error&) {
      leftOver.emplace_back(first, last);
    }
  }
  simulateRange(p, df, seed, 0, bound(1), &work[0], rows);
  for (auto [first, last] : leftOver) simulateRange(p, df, seed, first, last, &work[0], rows);
  for (std::thread& t : pool) t.join();
}

// Every simulation's eigenvalues are kept for the quantiles. More than the
// machine's memory could only be had by swapping for hours, or not at all
// (a request the system grants lazily, then ends the process for): it is
// refused as memory running out, before anything is allocated.
void requireRowsFit(int nSims, int p) {
  const double bytes = static_cast<double>(nSims) * p * sizeof(double);
  const long pages = sysconf(_SC_PHYS_PAGES), pageSize = sysconf(_SC_PAGE_SIZE);
  if (pages > 0 && pageSize > 0 && bytes > static_cast<double>(pages) * pageSize)
    throw std::bad_alloc();
}

}  // namespace

void simulatedEigenvalues(int p, double df, uint32_t seed, uint64_t s, double* values) {
  SimulationWork work(p);
  simulate(p, df, seed, s, work, values);
}

int parallelAnalysis(const ParallelAnalysisInput& in, ParallelAnalysisResult& out) {
  const int p = in.p;
  const double df = in.aboutZero ? in.nObs : in.nObs - 1.0;
  if (p < 1 || !in.corr || in.nSims < 1 || !(in.nObs >= p) || !(df > 0.0)) return 1;
  if (!(in.level > 0.0 && in.level < 1.0)) return 1;
  const double rank = std::floor((1.0 - in.level) * (in.nSims + 1.0));
  if (!(rank > 0 && rank < in.nSims)) return 1;
  const int k = static_cast<int>(rank);
  // A variable without variance (a zero diagonal) has no correlations and
  // adds an observed eigenvalue 0: the random data have only the q
  // variables with variance, and their eigenvalues beyond q are 0 too.
  int q = 0;
  for (int i = 0; i < p; ++i) q += in.corr[packedIndex(i, i)] > 0.0;
  requireRowsFit(in.nSims, q);

  out.observed.assign(static_cast<size_t>(p), 0.0);
  {
    std::vector<double> a(in.corr, in.corr + kernels::packedSize(p));
    std::vector<double> work(9 * static_cast<size_t>(p));
    if (!eigenvaluesOf(p, a.data(), out.observed.data(), work.data())) return 2;
  }

  std::vector<double> rows(static_cast<size_t>(in.nSims) * q);
  if (q > 0) simulateAll(q, df, in.seed, in.nSims, in.threads, rows.data());

  out.mean.assign(static_cast<size_t>(p), 0.0);
  out.critical.assign(static_cast<size_t>(p), 0.0);
  std::vector<double> column(static_cast<size_t>(in.nSims));
  for (int j = 0; j < q; ++j) {
    double sum = 0.0;
    for (int s = 0; s < in.nSims; ++s) {
      column[s] = rows[static_cast<size_t>(s) * q + j];
      sum += column[s];
    }
    out.mean[j] = sum / in.nSims;
    std::nth_element(column.begin(), column.begin() + (k - 1), column.end());
    out.critical[j] = column[k - 1];
  }
  out.factors = 0;
  while (out.factors < p && out.observed[out.factors] > out.critical[out.factors]) ++out.factors;
  return 0;
}

}  // namespace qkxfac
