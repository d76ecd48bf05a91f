#include "zulfact/output/graph_data.hpp"

#include <algorithm>
#include <cmath>

#include <fmt/format.h>

#include "zul/abi.h"

namespace zulfact {

std::vector<ScreeRow> screeRows(int p, int first, const double* eigenvalues) {
  std::vector<ScreeRow> rows;
  double sum = 0.0;
  for (int k = std::max(first, 0); k < p; ++k)
    if (!zul_is_missing(eigenvalues[k])) sum += eigenvalues[k];
  const double missing = zul_missing();
  double cumulative = 0.0;
  for (int k = std::max(first, 0); k < p; ++k) {
    const double lambda = eigenvalues[k];
    if (zul_is_missing(lambda)) continue;
    cumulative += lambda;
    rows.push_back({k + 1, lambda, sum != 0 ? lambda / sum : missing,
                    sum != 0 ? cumulative / sum : missing});
  }
  return rows;
}

std::vector<FactorPair> factorPairs(int nPlotted, bool flip) {
  std::vector<FactorPair> pairs;
  for (int i = 0; i < nPlotted; ++i)
    for (int j = i + 1; j < nPlotted; ++j) pairs.push_back(flip ? FactorPair{i, j} : FactorPair{j, i});
  return pairs;
}

int factorsPlotted(int nPlot, int retained) {
  return nPlot > 0 ? std::min(nPlot, retained) : retained;
}

double axisAngle(double r) {
  return std::acos(std::clamp(r, -1.0, 1.0)) * 180.0 / 3.14159265358979323846;
}

std::string circleLabel(double r) { return fmt::format("{:5g}%", 100 * r * r); }

}  // namespace zulfact
