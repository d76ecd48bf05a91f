// Cost of the standard errors of an ML solution against the fit itself, on
// Harman's 24 tests (examples/harman74.csv, N = 145) with 4 factors: the
// fit as METHOD=ML computes it after the data pass, then the standard
// errors of the unrotated loadings (observed information bordered by the
// identification, inverted, delta method to the correlation structure),
// and those of the QUARTIMIN solution from them (the delta method through
// the criterion's stationarity conditions).
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "kernels/linalg.hpp"
#include "kernels/packed.hpp"
#include "zulfact/extract/fit_problem.hpp"
#include "zulfact/extract/fit_state.hpp"
#include "zulfact/extract/newton_ridge.hpp"
#include "qkxfac/rotation.hpp"
#include "zulfact/inference/rotation_errors.hpp"
#include "zulfact/inference/unrotated_errors.hpp"
#include "zulfact/rotate/rotation_codes.hpp"

using namespace zulfact;
using namespace kernels;

namespace {

constexpr int kFactors = 4;

std::vector<double> harman74(int& p) {
  std::ifstream in(std::string(ZUL_SOURCE_DIR) + "/examples/harman74.csv");
  std::vector<double> packed;
  std::string line;
  p = 0;
  while (std::getline(in, line)) {
    if (line.rfind("CORR,", 0) != 0) continue;
    std::stringstream fields(line);
    std::string cell;
    std::getline(fields, cell, ',');
    std::getline(fields, cell, ',');
    std::vector<double> row;
    while (std::getline(fields, cell, ',')) row.push_back(std::stod(cell));
    for (int j = 0; j <= p; ++j) packed.push_back(row[j]);
    ++p;
  }
  return packed;
}

// The ML fit from SMC priors to CONVERGE=0.001 and its loadings (p x k).
std::vector<double> mlLoadings(const std::vector<double>& corr, int p, int k) {
  std::vector<double> inverse = corr, row(p), r = corr, block(fitStateDoubles(p)),
                      optim(zoptimDoubles(p)), loadings(static_cast<std::size_t>(p) * k);
  sweepInvert(p, inverse.data(), row.data(), 0, nullptr, 1e-8);
  double lnDet = 0;
  inverseCholeskyFactor(p, r.data(), 1e-8, lnDet);
  FitState fs;
  fitStateInit(fs, FitKind::Ml, p, k, r.data(), nullptr, block.data());
  for (int i = 0; i < p; ++i)
    fs.psi[i] = fs.previousPsi[i] = std::max(1.0 / inverse[packedIndex(i, i)], 0.001);
  fitObjective(fs, fs.psi);
  FitProblem problem(fs, 0.001, true);
  zoptim(p, 30, 1e-8, problem, fs.psi, nullptr, nullptr, nullptr, optim.data());
  fitFullDecomposition(fs, fs.psi);
  for (int j = 0; j < k; ++j) {
    const int c = p - 1 - j;
    double* a = loadings.data() + static_cast<std::size_t>(j) * p;
    std::memcpy(a, fs.vectors + static_cast<std::size_t>(c) * p, p * sizeof(double));
    solveLower(p, r.data(), a);
    const double scale = std::sqrt(std::max(0.0, 1.0 - fs.values[c]));
    for (int i = 0; i < p; ++i) a[i] *= scale;
  }
  return loadings;
}

void BM_MlFitHarman74(benchmark::State& state) {
  int p = 0;
  const std::vector<double> corr = harman74(p);
  for (auto _ : state) {
    std::vector<double> loadings = mlLoadings(corr, p, kFactors);
    benchmark::DoNotOptimize(loadings.data());
  }
}
BENCHMARK(BM_MlFitHarman74)->Unit(benchmark::kMicrosecond);

// Argument 1: correlation structure (the default), 0: covariance (COV).
void BM_UnrotatedErrorsHarman74(benchmark::State& state) {
  int p = 0;
  const std::vector<double> corr = harman74(p);
  const std::vector<double> loadings = mlLoadings(corr, p, kFactors);
  UnrotatedErrorsInput in;
  in.corr = corr.data();
  in.loadings = loadings.data();
  in.p = p;
  in.m = kFactors;
  in.divisor = 144;
  in.correlationStructure = state.range(0) != 0;
  for (auto _ : state) {
    UnrotatedErrors out = unrotatedStdErrors(in);
    benchmark::DoNotOptimize(out.stdErrors.data());
  }
}
BENCHMARK(BM_UnrotatedErrorsHarman74)->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond);

// The Kaiser-normalised QUARTIMIN rotation of the loadings by the engine;
// timed: the Jacobian of the rotated solution and its standard errors
// from the covariance of the unrotated loadings.
void BM_QuartiminErrorsHarman74(benchmark::State& state) {
  int p = 0;
  const std::vector<double> corr = harman74(p);
  const std::vector<double> loadings = mlLoadings(corr, p, kFactors);
  UnrotatedErrorsInput in;
  in.corr = corr.data();
  in.loadings = loadings.data();
  in.p = p;
  in.m = kFactors;
  in.divisor = 144;
  const UnrotatedErrors unrotated = unrotatedStdErrors(in);
  const RotationParams k = criterionCoefficients(kRotQuartimin, p, kFactors, {0.0, 0.0, 0.0, 0.0});
  zul_rotation_request request{};
  request.method = ZUL_METHOD_QUARTIMIN;
  request.normalization = ZUL_NORM_BY_FLAG;
  request.rowNormalize = 1;
  request.one = request.wantTransform = 1;
  request.maxIter = 1000;
  request.gamma = request.tau = request.hkPower = request.power = zul_missing();
  request.convergence = 1e-9;
  for (int i = 0; i < 4; ++i) request.coefficients[i] = request.workCoefficients[i] = k[i];
  const qkxfac::RotationOutput rotated =
      qkxfac::rotate(request, qkxfac::RotationInput{p, kFactors, loadings.data(), nullptr});
  RotationCriterion criterion;
  criterion.k = {k[0], k[1], k[2], k[3]};
  criterion.oblique = true;
  for (auto _ : state) {
    SolutionJacobian jacobian;
    criterionJacobian(loadings.data(), rotated.transform.data(), p, kFactors, criterion, jacobian);
    SolutionErrors errors = solutionErrors(jacobian, unrotated.covariance.data());
    benchmark::DoNotOptimize(errors.pattern.data());
  }
}
BENCHMARK(BM_QuartiminErrorsHarman74)->Unit(benchmark::kMicrosecond);

}  // namespace

// glibc gives the freed work arrays back to the system after each
// repetition, and the next one faults them in again: under a virtual
// machine that page-fault time outweighs the arithmetic of both
// benchmarks. A process that keeps its heap, as zul does within one step,
// pays it once; so both are timed with the heap kept.
int main(int argc, char** argv) {
  mallopt(M_TRIM_THRESHOLD, 256 << 20);
  mallopt(M_MMAP_THRESHOLD, 256 << 20);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
