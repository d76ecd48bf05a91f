// Speed of the iterative extractions in process, printing off: maximum
// likelihood and iterated principal factors on Harman's 24 tests (the
// stored correlations in examples/harman74.csv) with 4 factors, and ML on
// simulated correlation matrices of 50 to 200 variables with 10 factors.
//
// One ML fit is what METHOD=ML computes after the data pass: squared
// multiple correlations as priors, the Cholesky factor of R and its
// inverse, the preliminary eigenvalues at the start values, the
// Newton-Raphson fit to CONVERGE=0.001, the full eigen decomposition at the
// solution and the loadings. PRINIT runs its passes to CONVERGE=1e-6 from
// the same priors. The number of ML iterations is reported as a counter.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "zulfact/extract/fit_problem.hpp"
#include "zulfact/extract/fit_state.hpp"
#include "zulfact/extract/iterated.hpp"
#include "zulfact/extract/likelihood.hpp"
#include "zulfact/extract/newton_ridge.hpp"
#include "kernels/eigen.hpp"
#include "kernels/linalg.hpp"

using namespace zulfact;
using namespace kernels;

namespace {

struct Correlations {
  int p = 0;
  std::vector<double> packed;
};

Correlations harman74() {
  std::ifstream in(std::string(ZUL_SOURCE_DIR) + "/examples/harman74.csv");
  Correlations c;
  std::string line;
  std::getline(in, line);
  while (std::getline(in, line)) {
    if (line.rfind("CORR,", 0) != 0) continue;
    std::stringstream fields(line);
    std::string cell;
    std::getline(fields, cell, ',');
    std::getline(fields, cell, ',');
    std::vector<double> row;
    while (std::getline(fields, cell, ',')) row.push_back(std::stod(cell));
    for (int j = 0; j <= c.p; ++j) c.packed.push_back(row[j]);
    ++c.p;
  }
  return c;
}

// The sample correlations of 1000 observations from a population with k
// factors, each variable loading about 0.6 on one factor and 0.2 on the
// next: a realistic matrix for which k factors are the right model.
Correlations simulated(int p, int k) {
  std::mt19937_64 gen(4417 + p);
  std::normal_distribution<double> normal;
  const int n = 1000;
  std::vector<double> data(static_cast<std::size_t>(n) * p);
  for (int r = 0; r < n; ++r) {
    std::vector<double> f(k);
    for (double& v : f) v = normal(gen);
    for (int i = 0; i < p; ++i) {
      const double a = 0.6, b = 0.2;
      const double common = a * f[i % k] + b * f[(i + 1) % k];
      data[static_cast<std::size_t>(r) * p + i] = common + std::sqrt(1 - a * a - b * b) * normal(gen);
    }
  }
  Correlations c;
  c.p = p;
  c.packed.assign(packedRow(p), 0.0);
  std::vector<double> mean(p, 0.0), sd(p, 0.0);
  for (int r = 0; r < n; ++r)
    for (int i = 0; i < p; ++i) mean[i] += data[static_cast<std::size_t>(r) * p + i] / n;
  for (int r = 0; r < n; ++r) {
    const double* x = &data[static_cast<std::size_t>(r) * p];
    for (int i = 0; i < p; ++i)
      for (int j = 0; j <= i; ++j) c.packed[packedIndex(i, j)] += (x[i] - mean[i]) * (x[j] - mean[j]);
  }
  for (int i = 0; i < p; ++i) sd[i] = std::sqrt(c.packed[packedIndex(i, i)]);
  for (int i = 0; i < p; ++i)
    for (int j = 0; j <= i; ++j) c.packed[packedIndex(i, j)] /= sd[i] * sd[j];
  return c;
}

// What METHOD=ML computes for k factors, without printing; exact false
// keeps the optimiser on the approximate second derivatives (the method
// before the exact ones). Returns the number of iterations.
struct MlWork {
  std::vector<double> r, inverse, sweepRow, block, optim, psi, loadings;
  explicit MlWork(int p)
      : r(packedRow(p)), inverse(packedRow(p)), sweepRow(p), block(fitStateDoubles(p)),
        optim(zoptimDoubles(p)), psi(p), loadings(static_cast<std::size_t>(p) * p) {}
};

int mlFit(const Correlations& c, int k, MlWork& w, bool exact) {
  const int p = c.p;
  // Priors: squared multiple correlations from R^-1.
  std::copy(c.packed.begin(), c.packed.end(), w.inverse.begin());
  sweepInvert(p, w.inverse.data(), w.sweepRow.data(), 0, nullptr, 1e-8);
  std::copy(c.packed.begin(), c.packed.end(), w.r.begin());
  double lnDet = 0;
  inverseCholeskyFactor(p, w.r.data(), 1e-8, lnDet);
  FitState fs;
  fitStateInit(fs, FitKind::Ml, p, k, w.r.data(), nullptr, w.block.data());
  fs.exactHessian = exact;
  for (int i = 0; i < p; ++i)
    fs.psi[i] = fs.previousPsi[i] = std::max(1.0 / w.inverse[packedIndex(i, i)], 0.001);
  fitObjective(fs, fs.psi);  // the preliminary eigenvalues
  FitProblem problem(fs, 0.001, true);
  zoptim(p, 30, 1e-8, problem, fs.psi, nullptr, nullptr, nullptr, w.optim.data());
  fitFullDecomposition(fs, fs.psi);
  for (int j = 0; j < k; ++j) {
    const int c2 = p - 1 - j;
    double* a = w.loadings.data() + static_cast<std::size_t>(j) * p;
    std::memcpy(a, fs.vectors + static_cast<std::size_t>(c2) * p, p * sizeof(double));
    solveLower(p, w.r.data(), a);
    const double scale = std::sqrt(std::max(0.0, 1.0 - fs.values[c2]));
    for (int i = 0; i < p; ++i) a[i] *= scale;
  }
  return fs.iteration;
}

void BM_MlHarman74(benchmark::State& state) {
  const Correlations c = harman74();
  MlWork w(c.p);
  int iterations = 0;
  for (auto _ : state) {
    iterations = mlFit(c, 4, w, state.range(0) != 0);
    benchmark::DoNotOptimize(w.loadings.data());
  }
  state.counters["iterations"] = iterations;
  state.counters["fits/s"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                benchmark::Counter::kIsRate);
}
BENCHMARK(BM_MlHarman74)->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond);

// The same fit through the module's own numeric core (likelihoodStart and
// likelihoodFit), which also records the history rows and forms the SRMR,
// the canonical correlations and every column of the stored loadings.
void BM_MlCoreHarman74(benchmark::State& state) {
  const Correlations c = harman74();
  const int p = c.p;
  std::vector<double> inverse = c.packed, row(p), h2(p), weights(p, 1.0),
      block(likelihoodDoubles(p));
  sweepInvert(p, inverse.data(), row.data(), 0, nullptr, 1e-8);
  for (int i = 0; i < p; ++i) h2[i] = 1.0 - 1.0 / inverse[packedIndex(i, i)];
  const LikelihoodInputs in{.kind = FitKind::Ml, .p = p, .r = c.packed.data(), .h2 = h2.data(),
                            .weights = weights.data(), .singularity = 1e-8,
                            .convergence = 0.001, .maxIter = 30};
  int iterations = 0;
  for (auto _ : state) {
    LikelihoodStart start = likelihoodStart(in, block.data());
    start.fs.exactHessian = state.range(0) != 0;
    const LikelihoodResult fit = likelihoodFit(in, start, 4, block.data());
    benchmark::DoNotOptimize(fit.loadings.data());
    iterations = start.fs.iteration;
  }
  state.counters["iterations"] = iterations;
}
BENCHMARK(BM_MlCoreHarman74)->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond);

// Iterated principal factors as METHOD=PRINIT runs its passes: restore the
// matrix, priors on the diagonal, eigenvalues, k vectors, new estimates.
void BM_PrinitHarman74(benchmark::State& state) {
  const Correlations c = harman74();
  const int p = c.p, k = 4;
  std::vector<double> inverse(packedRow(p)), row(p), r(packedRow(p)), h(p), previous(p),
      weights(p, 1.0), lambda(p), vectors(static_cast<std::size_t>(p) * k), work(9 * p);
  int passes = 0;
  for (auto _ : state) {
    std::copy(c.packed.begin(), c.packed.end(), inverse.begin());
    sweepInvert(p, inverse.data(), row.data(), 0, nullptr, 1e-8);
    for (int i = 0; i < p; ++i) h[i] = 1.0 - 1.0 / inverse[packedIndex(i, i)];
    for (passes = 1; passes <= 1000; ++passes) {
      std::copy(c.packed.begin(), c.packed.end(), r.begin());
      for (int i = 0; i < p; ++i) r[packedIndex(i, i)] = previous[i] = h[i];
      zeigen(p, r.data(), lambda.data(), 0, nullptr, work.data());
      zeigvec(p, k, r.data(), lambda.data(), vectors.data(), work.data());
      communalitiesFromVectors(p, k, lambda.data(), vectors.data(), weights.data(), false, h.data());
      double change = 0;
      for (int i = 0; i < p; ++i) change = std::max(change, std::fabs(h[i] - previous[i]));
      if (1e-6 > change) break;
    }
    benchmark::DoNotOptimize(h.data());
  }
  state.counters["passes"] = passes;
}
BENCHMARK(BM_PrinitHarman74)->Unit(benchmark::kMicrosecond);

// Where the time of one ML iteration on the 24 tests goes: the
// eigenvalues of M = T Psi T' at a trial point, then the vectors of the
// 20 discarded directions at an accepted one.
void BM_Eigen24(benchmark::State& state) {
  const Correlations c = harman74();
  const int p = c.p, m = static_cast<int>(state.range(0));
  std::vector<double> a(packedRow(p)), w(p), z(static_cast<std::size_t>(p) * p), work(9 * p);
  for (auto _ : state) {
    std::copy(c.packed.begin(), c.packed.end(), a.begin());
    zeigen(p, a.data(), w.data(), 0, nullptr, work.data());
    if (m > 0) zeigvec(p, m, a.data(), w.data(), z.data(), work.data());
    benchmark::DoNotOptimize(z.data());
  }
}
BENCHMARK(BM_Eigen24)->Arg(0)->Arg(4)->Arg(20)->Unit(benchmark::kMicrosecond);

void BM_MlSimulated(benchmark::State& state) {
  const int p = static_cast<int>(state.range(0)), k = 10;
  const bool exact = state.range(1) != 0;
  const Correlations c = simulated(p, k);
  MlWork w(p);
  int iterations = 0;
  for (auto _ : state) {
    iterations = mlFit(c, k, w, exact);
    benchmark::DoNotOptimize(w.loadings.data());
  }
  state.counters["iterations"] = iterations;
}
BENCHMARK(BM_MlSimulated)
    ->ArgsProduct({{50, 100, 200}, {1, 0}})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
