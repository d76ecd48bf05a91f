// Shared by the fit tests: the 24 psychological tests of Harman (1976,
// Holzinger and Swineford 1939) as a packed correlation matrix, read from
// the copy in examples/, and the module's host-free fit of the
// concentrated ULS, ML or GLS function from squared multiple correlations.
#pragma once

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "zulfact/extract/fit_problem.hpp"
#include "zulfact/extract/fit_state.hpp"
#include "zulfact/extract/likelihood.hpp"
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

// The module's ML, GLS or ULS fit of k factors (likelihoodStart and
// likelihoodFit): start values 1 - SMC (at least `convergence` for ML and
// GLS), the optimiser to its own gradient tolerance (convergence 0 never
// stops it earlier), bounds 0 <= psi <= 1 when asked, and a negative
// uniqueness never stopping the fit. exactHessian false keeps ML and GLS
// on the approximate second derivatives.
inline FitResult fitFactors(FitKind kind, const CorrelationData& d, int k,
                            double convergence = 0.0, int maxIter = 100,
                            bool bounds = false, bool exactHessian = true) {
  const int p = d.p;
  const std::vector<double> h = smc(p, d.packed), weights(p, 1.0);
  const LikelihoodInputs in{.kind = kind, .p = p, .r = d.packed.data(), .h2 = h.data(),
                            .weights = weights.data(), .singularity = 1e-8,
                            .convergence = convergence, .maxIter = maxIter,
                            .heywood = bounds, .ultraHeywood = true};
  std::vector<double> block(likelihoodDoubles(p));
  LikelihoodStart start = likelihoodStart(in, block.data());
  FitResult out;
  out.lnDet = start.lnDetR;
  if (start.singular) return out;
  start.fs.exactHessian = start.fs.exactHessian && exactHessian;
  const LikelihoodResult fit = likelihoodFit(in, start, k, block.data());
  out.code = fit.code;
  out.iterations = start.fs.iteration;
  out.criterion = fit.criterion;
  out.psi = fit.psi;
  out.loadings.assign(fit.loadings.begin(), fit.loadings.begin() + static_cast<std::ptrdiff_t>(p) * k);
  return out;
}

}  // namespace zulfact::testing
