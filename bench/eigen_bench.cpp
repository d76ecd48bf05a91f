// Speed of the symmetric eigen solver against LAPACK's dsyevr on the same
// random matrices of order 100, 300, 1000 and 2000.
//
// Our work: zeigen with no vectors (all eigenvalues), then zeigvec for the
// 10 largest, as the extraction methods use them. LAPACK's nearest
// equivalent is one dsyevr call for the 10 largest eigenpairs (RANGE='I'),
// which reduces the matrix once as we do; dsyevr for all eigenvalues alone
// (JOBZ='N') is timed as a second reference. Every iteration copies the
// input first (both solvers overwrite it); the copy is O(n^2) and counted
// on both sides. Wall-clock time: OpenBLAS may run dsyevr's level-2/3
// BLAS on several threads (set OPENBLAS_NUM_THREADS=1 for one core). After
// the runs a table gives zeigen+zeigvec time / dsyevr time per order.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "kernels/eigen.hpp"
#include "kernels/packed.hpp"

extern "C" void dsyevr_(const char* jobz, const char* range, const char* uplo, const int* n,
                        double* a, const int* lda, const double* vl, const double* vu,
                        const int* il, const int* iu, const double* abstol, int* m, double* w,
                        double* z, const int* ldz, int* isuppz, double* work, const int* lwork,
                        int* iwork, const int* liwork, int* info, std::size_t, std::size_t,
                        std::size_t);

namespace {

constexpr int kVectors = 10;

// Symmetric, uniform on (-1, 1), the same for every benchmark of order n.
std::vector<double> randomPacked(int n) {
  std::mt19937_64 gen(20240 + n);
  std::uniform_real_distribution<double> dist(-1.0, 1.0);
  std::vector<double> a(kernels::packedRow(n));
  for (double& x : a) x = dist(gen);
  return a;
}

std::vector<double> fullColumnMajor(const std::vector<double>& packed, int n) {
  std::vector<double> a(static_cast<std::size_t>(n) * n);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j <= i; ++j)
      a[static_cast<std::size_t>(j) * n + i] = a[static_cast<std::size_t>(i) * n + j] =
          packed[kernels::packedIndex(i, j)];
  return a;
}

void BM_Zeigen(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const std::vector<double> input = randomPacked(n);
  std::vector<double> a(input.size()), w(n), z(static_cast<std::size_t>(n) * kVectors),
      work(static_cast<std::size_t>(9) * n);
  for (auto _ : state) {
    a = input;
    int code = kernels::zeigen(n, a.data(), w.data(), 0, nullptr, work.data());
    if (code <= 0) code = kernels::zeigvec(n, kVectors, a.data(), w.data(), z.data(), work.data());
    if (code > 0 || code == -30) {
      state.SkipWithError("zeigen failed");
      break;
    }
    benchmark::DoNotOptimize(z.data());
  }
  state.counters["n"] = n;
}

// dsyevr with workspace sized by its own query.
class Dsyevr {
 public:
  Dsyevr(int n, bool vectors) : n_(n), vectors_(vectors) {
    a_.resize(static_cast<std::size_t>(n) * n);
    w_.resize(n);
    z_.resize(static_cast<std::size_t>(n) * kVectors);
    isuppz_.resize(2 * static_cast<std::size_t>(n));
    double lwork = 0.0;
    int liwork = 0;
    int lquery = -1;
    call(&lwork, &lquery, &liwork, &lquery);
    work_.resize(static_cast<std::size_t>(lwork));
    iwork_.resize(liwork);
  }
  int run(const std::vector<double>& input) {
    a_ = input;
    const int lwork = static_cast<int>(work_.size());
    const int liwork = static_cast<int>(iwork_.size());
    return call(work_.data(), &lwork, iwork_.data(), &liwork);
  }
  const double* vectors() const { return z_.data(); }

 private:
  int call(double* work, const int* lwork, int* iwork, const int* liwork) {
    const char jobz = vectors_ ? 'V' : 'N';
    const char range = vectors_ ? 'I' : 'A';
    const char uplo = 'L';
    const double vl = 0.0, vu = 0.0, abstol = 0.0;
    const int il = n_ - kVectors + 1, iu = n_;
    const int ldz = n_;
    int found = 0, info = 0;
    dsyevr_(&jobz, &range, &uplo, &n_, a_.data(), &n_, &vl, &vu, &il, &iu, &abstol, &found,
            w_.data(), z_.data(), &ldz, isuppz_.data(), work, lwork, iwork, liwork, &info, 1, 1, 1);
    return info;
  }
  int n_;
  bool vectors_;
  std::vector<double> a_, w_, z_, work_;
  std::vector<int> isuppz_, iwork_;
};

void runDsyevr(benchmark::State& state, bool vectors) {
  const int n = static_cast<int>(state.range(0));
  const std::vector<double> input = fullColumnMajor(randomPacked(n), n);
  Dsyevr solver(n, vectors);
  for (auto _ : state) {
    if (solver.run(input) != 0) {
      state.SkipWithError("dsyevr failed");
      break;
    }
    benchmark::DoNotOptimize(solver.vectors());
  }
  state.counters["n"] = n;
}

void BM_DsyevrTenVectors(benchmark::State& state) { runDsyevr(state, true); }
void BM_DsyevrValuesOnly(benchmark::State& state) { runDsyevr(state, false); }

void orders(benchmark::internal::Benchmark* b) {
  for (int n : {100, 300, 1000, 2000}) b->Arg(n);
  b->UseRealTime()->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_Zeigen)->Apply(orders);
BENCHMARK(BM_DsyevrTenVectors)->Apply(orders);
BENCHMARK(BM_DsyevrValuesOnly)->Apply(orders);

// The console report, then the ratios of the mean wall-clock times.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      // With repetitions the mean, reported after the single runs, wins.
      const bool mean = run.run_type == Run::RT_Aggregate && run.aggregate_name == "mean";
      if ((run.run_type != Run::RT_Iteration && !mean) || run.error_occurred) continue;
      const auto n = run.counters.find("n");
      if (n == run.counters.end()) continue;
      Times& t = times_[static_cast<int>(n->second.value)][run.run_name.function_name];
      t.wall = run.GetAdjustedRealTime();
      t.cpu = run.GetAdjustedCPUTime();
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\nzeigen+zeigvec time / dsyevr time (V: 10 largest pairs, N: values only)\n");
    std::printf("%6s  %10s  %10s  %10s  %10s\n", "order", "wall V", "wall N", "cpu V", "cpu N");
    for (auto& [n, byName] : times_) {
      const auto ours = byName.find("BM_Zeigen");
      if (ours == byName.end()) continue;
      std::printf("%6d", n);
      for (bool wall : {true, false}) {
        for (const char* ref : {"BM_DsyevrTenVectors", "BM_DsyevrValuesOnly"}) {
          const auto theirs = byName.find(ref);
          const double t = theirs == byName.end() ? 0.0
                           : wall                 ? theirs->second.wall
                                                  : theirs->second.cpu;
          const double o = wall ? ours->second.wall : ours->second.cpu;
          if (t <= 0.0) {
            std::printf("  %10s", "-");
          } else {
            std::printf("  %10.2f", o / t);
          }
        }
      }
      std::printf("\n");
    }
    std::printf("(cpu: the calling thread only; compare with OPENBLAS_NUM_THREADS=1)\n");
  }

 private:
  struct Times {
    double wall = 0.0;
    double cpu = 0.0;
  };
  std::map<int, std::map<std::string, Times>> times_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
