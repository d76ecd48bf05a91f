// Criterion rotation in the numeric engine alone: VARIMAX, QUARTIMIN and
// OBLIMIN (tau 0 and 0.5) of a 100 x 10, a 1,000 x 30 and an 800 x 100
// pattern to the default RCONVERGE=1e-9, Kaiser-normalised rows as by
// default. Counters: iterations of the optimiser, the final convergence
// measure (Jennrich's projected-gradient norm) and the criterion value.
// OBLIMIN(0.5) has a column-complexity term and is run from six starts.
// The products are BLAS calls: set OPENBLAS_NUM_THREADS=1 to time one core,
// as zul runs them.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "kernels/dense.hpp"
#include "qkxfac/rotation.hpp"

namespace {

// A simple-structure pattern (each variable loads 0.6 on one factor) with
// noise, turned by a random rotation: what an unrotated solution looks like.
std::vector<double> makePattern(int p, int m) {
  std::mt19937_64 gen(1958);
  std::normal_distribution<double> noise(0.0, 1.0);
  std::vector<double> simple(static_cast<size_t>(p) * m), t(static_cast<size_t>(m) * m);
  for (int i = 0; i < p; ++i)
    for (int j = 0; j < m; ++j) simple[i + j * p] = (i % m == j ? 0.6 : 0.0) + 0.15 * noise(gen);
  for (double& x : t) x = noise(gen);
  kernels::orthonormalize(t.data(), m);
  std::vector<double> a(simple.size());
  kernels::multiply(simple.data(), t.data(), a.data(), p, m, m);
  return a;
}

enum Criterion { kVarimax, kQuartimin, kOblimin0, kOblimin05 };

zul_rotation_request request(Criterion c, int p) {
  zul_rotation_request r{};
  r.normalization = ZUL_NORM_BY_FLAG;
  r.rowNormalize = 1;
  r.one = r.wantTransform = 1;
  r.maxIter = std::max(100, 10 * p);
  r.gamma = r.tau = r.hkPower = r.power = zul_missing();
  r.convergence = 1e-9;
  const double tau = c == kOblimin05 ? 0.5 : 0.0;
  switch (c) {
    case kVarimax:
      r.method = ZUL_METHOD_VARIMAX;
      r.coefficients[2] = -1;
      r.coefficients[3] = p;
      break;
    case kQuartimin:
      r.method = ZUL_METHOD_QUARTIMIN;
      r.coefficients[1] = 1;
      r.coefficients[3] = -1;
      break;
    default:
      r.method = ZUL_METHOD_OBLIMIN;
      r.coefficients[0] = -tau / p;
      r.coefficients[1] = 1;
      r.coefficients[2] = tau / p;
      r.coefficients[3] = -1;
      break;
  }
  return r;
}

void BM_Rotation(benchmark::State& state) {
  const int p = static_cast<int>(state.range(0)), m = static_cast<int>(state.range(1));
  const auto criterion = static_cast<Criterion>(state.range(2));
  const std::vector<double> a = makePattern(p, m);
  const zul_rotation_request r = request(criterion, p);
  qkxfac::RotationInput in;
  in.p = p;
  in.m = m;
  in.pattern = a.data();
  qkxfac::RotationOutput out;
  for (auto _ : state) {
    out = qkxfac::rotate(r, in);
    benchmark::DoNotOptimize(out.pattern.data());
  }
  state.counters["status"] = out.status;
  state.counters["iterations"] = out.iterations;
  state.counters["measure"] = out.measure;
  state.counters["criterion"] = out.criterion;
}

BENCHMARK(BM_Rotation)
    ->ArgNames({"p", "m", "crit"})
    ->Args({100, 10, kVarimax})
    ->Args({100, 10, kQuartimin})
    ->Args({100, 10, kOblimin0})
    ->Args({100, 10, kOblimin05})
    ->Args({1000, 30, kVarimax})
    ->Args({1000, 30, kQuartimin})
    ->Args({1000, 30, kOblimin05})
    // Many factors: the m x m work of each trial point (the Cayley step,
    // T^-1) and the optimiser's m*m vectors weigh as much as the p x m
    // products.
    ->Args({800, 100, kVarimax})
    ->Args({800, 100, kQuartimin})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
