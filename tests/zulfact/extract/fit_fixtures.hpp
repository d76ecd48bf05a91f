// Shared by the fit tests: the 24 psychological tests of Harman (1976,
// Holzinger and Swineford 1939) as a packed correlation matrix, read from
// the copy in examples/, and a host-free fit of the
// concentrated ULS, ML or GLS function from squared multiple correlations.
#pragma once

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "zulfact/extract/fit_problem.hpp"
#include "zulfact/extract/fit_state.hpp"
#include "zulfact/extract/newton_ridge.hpp"
#include "kernels/linalg.hpp"

namespace zulfact::testing {

using kernels::sweepInvert;
using kernels::solveLower;
using kernels::packedIndex;

struct CorrelationData {
  int p = 0;
  double nObs = 0;
  std::vector<double> packed;
};

inline CorrelationData readHarman74() {
  std::ifstream in(std::string(ZUL_SOURCE_DIR) + "/examples/harman74.csv");
  CorrelationData d;
  std::string line;
  std::vector<std::vector<double>> rows;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    std::stringstream fields(line);
    std::string type, name, cell;
    std::getline(fields, type, ',');
    std::getline(fields, name, ',');
    std::vector<double> values;
    while (std::getline(fields, cell, ',')) values.push_back(std::stod(cell));
    if (type == "N") d.nObs = values[0];
    if (type == "CORR") rows.push_back(values);
  }
  d.p = static_cast<int>(rows.size());
  for (int i = 0; i < d.p; ++i)
    for (int j = 0; j <= i; ++j) d.packed.push_back(rows[i][j]);
  return d;
}

// Squared multiple correlations 1 - 1/r^ii.
inline std::vector<double> smc(int p, const std::vector<double>& r) {
  std::vector<double> inv = r, work(p);
  sweepInvert(p, inv.data(), work.data(), 0, nullptr, 1e-12);
  std::vector<double> h(p);
  for (int i = 0; i < p; ++i) h[i] = 1.0 - 1.0 / inv[packedIndex(i, i)];
  return h;
}

struct FitResult {
  int code = -1;
  int iterations = 0;
  double criterion = 0;
  double lnDet = 0;
  std::vector<double> psi;
  std::vector<double> loadings;  // p x k, column by column
};

// The module's ML, GLS or ULS fit of k factors without host: start values
// 1 - SMC (at least `convergence` for ML and GLS), the optimiser to its own
// gradient tolerance (convergence 0 never stops it earlier), and the
// loadings from every eigenvector at the solution. exactHessian false
// keeps ML and GLS on the approximate second derivatives.
inline FitResult fitFactors(FitKind kind, const CorrelationData& d, int k,
                            double convergence = 0.0, int maxIter = 100,
                            bool bounds = false, bool exactHessian = true) {
  const int p = d.p;
  const std::vector<double> h = smc(p, d.packed);
  std::vector<double> matrix = d.packed, weights(p, 1.0);
  FitResult out;
  if (kind != FitKind::Uls && !inverseCholeskyFactor(p, matrix.data(), 1e-8, out.lnDet))
    return out;
  std::vector<double> block(fitStateDoubles(p)), work(zoptimDoubles(p));
  FitState fs;
  fitStateInit(fs, kind, p, k, matrix.data(), weights.data(), block.data());
  fs.exactHessian = fs.exactHessian && exactHessian;
  for (int i = 0; i < p; ++i) {
    double psi = 1.0 - h[i];
    if (kind != FitKind::Uls) psi = std::max(psi, convergence);
    fs.psi[i] = fs.previousPsi[i] = psi;
  }
  std::vector<double> lower(p, 0.0), upper(p, 1.0);
  FitProblem problem(fs, convergence, false);
  out.code = zoptim(p, maxIter, 1e-8, problem, fs.psi, bounds ? lower.data() : nullptr,
                    bounds ? upper.data() : nullptr, nullptr, work.data());
  out.iterations = fs.iteration;
  fitFullDecomposition(fs, fs.psi);
  out.criterion = fs.criterion;
  out.psi.assign(fs.psi, fs.psi + p);
  out.loadings.assign(static_cast<std::size_t>(p) * k, 0.0);
  for (int j = 0; j < k; ++j) {
    double* a = out.loadings.data() + static_cast<std::size_t>(j) * p;
    if (kind == FitKind::Uls) {
      for (int i = 0; i < p; ++i) a[i] = fs.vectors[j * p + i] * std::sqrt(std::max(0.0, fs.values[j]));
    } else {
      const int c = p - 1 - j;  // the vectors of the largest gamma
      for (int i = 0; i < p; ++i) a[i] = fs.vectors[c * p + i];
      solveLower(p, matrix.data(), a);
      const double scale = std::sqrt(std::max(0.0, 1.0 - fs.values[c]));
      for (int i = 0; i < p; ++i) a[i] *= scale;
    }
  }
  return out;
}

}  // namespace zulfact::testing
