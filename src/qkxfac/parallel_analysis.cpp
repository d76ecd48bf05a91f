#include "qkxfac/parallel_analysis.hpp"

#include <algorithm>
#include <cmath>
#include <system_error>
#include <thread>

#include "qkxfac/random_stream.hpp"
#include "qkxfac/symmetric_eigen.hpp"

namespace qkxfac {

namespace {

// Everything one thread needs for its simulations.
struct SimulationWork {
  explicit SimulationWork(int p) : eigen(p), lower(static_cast<size_t>(p) * p) {}
  SymmetricEigen eigen;
  std::vector<double> lower;  // Bartlett factor L, row-major
};

// One simulated correlation matrix into work.eigen's matrix, then its
// eigenvalues into values.
void simulate(int p, double df, uint32_t seed, uint64_t s, SimulationWork& work,
              double* values) {
  RandomStream random(seed, s);
  double* l = work.lower.data();
  for (int i = 0; i < p; ++i) {
    double* row = l + static_cast<size_t>(i) * p;
    for (int j = 0; j < i; ++j) row[j] = random.normal();
    row[i] = std::sqrt(random.chiSquare(df - i));
  }
  // W = L L' (lower triangle), then the correlations w_ij / sqrt(w_ii w_jj)
  // into both triangles.
  double* a = work.eigen.matrix();
  for (int i = 0; i < p; ++i) {
    const double* li = l + static_cast<size_t>(i) * p;
    for (int j = 0; j <= i; ++j) {
      const double* lj = l + static_cast<size_t>(j) * p;
      double sum = 0.0;
      for (int k = 0; k <= j; ++k) sum += li[k] * lj[k];
      a[static_cast<size_t>(i) * p + j] = sum;
    }
  }
  double* scale = values;  // the roots 1/sqrt(w_ii) until the eigenvalues come
  for (int i = 0; i < p; ++i) scale[i] = 1.0 / std::sqrt(a[static_cast<size_t>(i) * p + i]);
  for (int i = 0; i < p; ++i) {
    for (int j = 0; j < i; ++j) {
      const double r = a[static_cast<size_t>(i) * p + j] * scale[i] * scale[j];
      a[static_cast<size_t>(i) * p + j] = r;
      a[static_cast<size_t>(j) * p + i] = r;
    }
    a[static_cast<size_t>(i) * p + i] = 1.0;
  }
  work.eigen.solve(values, nullptr);
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

}  // namespace

void simulatedEigenvalues(int p, double df, uint32_t seed, uint64_t s, double* values) {
  SimulationWork work(p);
  simulate(p, df, seed, s, work, values);
}

int parallelAnalysis(const ParallelAnalysisInput& in, ParallelAnalysisResult& out) {
  const int p = in.p;
  const double df = in.nObs - 1.0;
  if (p < 1 || !in.corr || in.nSims < 1 || !(in.nObs >= p) || !(df > 0.0)) return 1;
  if (!(in.level > 0.0 && in.level < 1.0)) return 1;
  const double rank = std::floor((1.0 - in.level) * (in.nSims + 1.0));
  if (!(rank > 0 && rank < in.nSims)) return 1;
  const int k = static_cast<int>(rank);

  out.observed.assign(static_cast<size_t>(p), 0.0);
  {
    SymmetricEigen eigen(p);
    double* a = eigen.matrix();
    for (int i = 0; i < p; ++i)
      for (int j = 0; j <= i; ++j) {
        const double r = in.corr[static_cast<size_t>(i) * (i + 1) / 2 + j];
        a[static_cast<size_t>(i) * p + j] = r;
        a[static_cast<size_t>(j) * p + i] = r;
      }
    if (eigen.solve(out.observed.data(), nullptr) != 0) return 2;
  }

  std::vector<double> rows(static_cast<size_t>(in.nSims) * p);
  simulateAll(p, df, in.seed, in.nSims, in.threads, rows.data());

  out.mean.assign(static_cast<size_t>(p), 0.0);
  out.critical.assign(static_cast<size_t>(p), 0.0);
  std::vector<double> column(static_cast<size_t>(in.nSims));
  for (int j = 0; j < p; ++j) {
    double sum = 0.0;
    for (int s = 0; s < in.nSims; ++s) {
      column[s] = rows[static_cast<size_t>(s) * p + j];
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
