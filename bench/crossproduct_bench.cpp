// Speed of the crossproduct engine's block update: one full block of 64
// observations folded into a thread's sums (shift, weights, column sums and
// the rank-64 update of the crossproducts). Reported as GFLOP/s per
// thread, counting 2 flops for each of the n(n+1)/2 x 64 products of the
// lower triangle; in the threads:2 cases two threads run the update at
// once, each on its own sums, as the engine's workers do. Rates are per
// CPU second of each thread, so a busy machine does not distort them.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "zulfact/data/crossproducts.hpp"

namespace {

using zulfact::BlockShape;
using zulfact::ThreadSums;

constexpr int kVecsize = 64;

void BM_BlockUpdate(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const bool weighted = state.range(1) != 0;
  BlockShape shape{n, false, weighted, false};
  std::vector<double> block(static_cast<size_t>(kVecsize) * shape.blockCols());
  std::mt19937_64 g(42 + state.thread_index());
  std::normal_distribution<double> z;
  for (double& x : block) x = z(g);
  // Weights of 1 leave the block unchanged by the sqrt(w) row scaling, and
  // the shift s - x applied twice gives x back: every pass sees the same
  // numbers without a copy.
  if (weighted)
    for (int t = 0; t < kVecsize; ++t) block[static_cast<size_t>(n) * kVecsize + t] = 1.0;
  std::vector<double> shift(n, 0.5), cross(static_cast<size_t>(n + 1) * (n + 1), 0.0);
  ThreadSums acc;
  acc.cross = cross.data();
  for (auto _ : state) {
    zulfact::accumulateBlock(shape, block.data(), kVecsize, kVecsize, shift.data(), acc);
    benchmark::DoNotOptimize(cross.data());
  }
  const double flops = static_cast<double>(n) * (n + 1) / 2 * kVecsize * 2;
  // Per thread: the iterations of all threads over their CPU time, divided
  // by the thread count.
  const auto perThread = static_cast<benchmark::Counter::Flags>(
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kAvgThreads);
  state.counters["GFLOP/s"] = benchmark::Counter(flops * 1e-9, perThread);
  state.counters["rows/s"] = benchmark::Counter(kVecsize, perThread);
}

BENCHMARK(BM_BlockUpdate)
    ->ArgNames({"n", "weighted"})
    ->ArgsProduct({{5, 20, 50, 100, 300}, {0, 1}})
    ->Threads(1)
    ->Threads(2);

}  // namespace

BENCHMARK_MAIN();
