// Parallel analysis in the numeric engine: NSIMS=1000 simulated correlation
// matrices of N = 500 observations, for p = 20 and p = 100 variables, on
// one and on two threads. The observed matrix is the identity (its
// eigenvalues cost nothing next to the simulations).
#include <benchmark/benchmark.h>

#include <vector>

#include "qkxfac/parallel_analysis.hpp"

namespace {

void BM_ParallelAnalysis(benchmark::State& state) {
  const int p = static_cast<int>(state.range(0));
  const int threads = static_cast<int>(state.range(1));
  std::vector<double> corr(static_cast<size_t>(p) * (p + 1) / 2, 0.0);
  for (int i = 0; i < p; ++i) corr[static_cast<size_t>(i) * (i + 1) / 2 + i] = 1.0;
  qkxfac::ParallelAnalysisInput in;
  in.p = p;
  in.corr = corr.data();
  in.nObs = 500;
  in.nSims = 1000;
  in.level = 0.05;
  in.seed = 1965;
  in.threads = threads;
  for (auto _ : state) {
    qkxfac::ParallelAnalysisResult out;
    benchmark::DoNotOptimize(qkxfac::parallelAnalysis(in, out));
    benchmark::DoNotOptimize(out.critical.data());
  }
  state.counters["sims/s"] =
      benchmark::Counter(1000.0 * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

BENCHMARK(BM_ParallelAnalysis)
    ->ArgNames({"p", "threads"})
    ->Args({20, 1})
    ->Args({20, 2})
    ->Args({100, 1})
    ->Args({100, 2})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
