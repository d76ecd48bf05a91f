// Parallel analysis (Horn 1965): the eigenvalues of the observed
// correlation matrix against those of correlation matrices of the same
// order p and the same N drawn from uncorrelated normal variables.
//
// Simulation. The crossproducts about the mean of N independent standard
// normal rows of p variables follow the Wishart distribution W_p(I, N - 1);
// those about zero, of a matrix without intercept (NOINT), W_p(I, N).
// Each simulation draws that matrix directly by the Bartlett decomposition
// (Bartlett 1933): W = L L' with L lower triangular, l_ii^2 a chi-square
// with N - 1 - i (N - i about zero) degrees of freedom (i = 0 .. p-1) and
// l_ij standard normal below the diagonal, all independent. This has exactly the distribution
// of the crossproducts of N simulated rows but costs O(p^3) instead of
// O(N p^2). The simulated correlation matrix is W scaled to unit diagonal,
// and its eigenvalues come from the engine's Householder/QL solver.
// Random numbers: see random_stream.hpp; simulation s uses its own stream
// drawn from (seed, s).
//
// Variables without variance (a zero diagonal in R) take no part: the
// random data have the others only, and the simulated eigenvalues beyond
// their number are 0, as the observed ones are.
//
// Results. For component j, the mean of the nSims simulated j-th largest
// eigenvalues, summed in simulation order, and the critical value: the
// k-th smallest of them with k = floor((1 - level)(nSims + 1)), the upper
// level-quantile. The number of factors retained is the number of leading
// observed eigenvalues that exceed their critical values, counted until
// the first that does not.
//
// Threads. The simulations are cut into contiguous blocks, one per thread;
// each simulation's eigenvalues go to its own row, and every reduction
// reads the rows in simulation order afterwards, so the results are the
// same, bit for bit, for any number of threads.
#pragma once

#include <cstdint>
#include <vector>

namespace qkxfac {

struct ParallelAnalysisInput {
  int p = 0;
  const double* corr = nullptr;  // packed lower triangle by rows, order p
  double nObs = 0;               // N; N - 1 degrees of freedom
  bool aboutZero = false;        // corr is about zero (NOINT): N degrees of freedom
  int nSims = 0;
  double level = 0.05;
  uint32_t seed = 0;
  int threads = 1;
};

struct ParallelAnalysisResult {
  int32_t factors = 0;
  std::vector<double> observed;  // p eigenvalues of corr, descending
  std::vector<double> mean;      // p mean simulated eigenvalues
  std::vector<double> critical;  // p critical simulated eigenvalues
};

// Runs the simulations. Returns 0; 1 for unusable input (p < 1, nSims < 1,
// N < p or no degrees of freedom, a level outside (0, 1) or one that leaves no order
// statistic below nSims); 2 when the eigen solver failed on the observed
// matrix (non-finite elements). Throws std::bad_alloc when memory runs
// out, and before allocating when the nSims x p eigenvalues kept would
// exceed the machine's physical memory.
int parallelAnalysis(const ParallelAnalysisInput& in, ParallelAnalysisResult& out);

// The eigenvalues of one simulated p x p correlation matrix of df
// degrees of freedom, from stream s of seed: exposed for tests.
void simulatedEigenvalues(int p, double df, uint32_t seed, uint64_t s, double* values);

}  // namespace qkxfac
