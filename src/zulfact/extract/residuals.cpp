#include "zulfact/extract/residuals.hpp"

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "zulfact/host/host.hpp"
#include "kernels/linalg.hpp"
#include "zulfact/output/matrix_printer.hpp"
#include "zulfact/output/outstat_rows.hpp"
#include "zulfact/output/vector_table.hpp"
#include "zulfact/state/codes.hpp"
#include "zulfact/state/constants.hpp"
#include "zulfact/state/message_ids.hpp"

namespace zulfact {

using kernels::covToCorr;
using kernels::packedIndex;

namespace {

void printRms(ProcState& ps, const double* a, msg::Id text, const char* name) {
  const int p = ps.nVars;
  std::vector<double> rms(static_cast<size_t>(p));
  const double overall = offDiagonalRms(p, a, rms.data());
  if (ps.sink == nullptr) return;
  VectorTable t;
  t.name = name;
  t.title = titleLine(text,
                      {p - 1, overall, static_cast<int64_t>(p) * (p - 1)}, true);
  t.labelKind = 'V';
  t.nRows = p;
  t.columns.push_back({"RMS", "Root Mean Square", rms.data()});
  printVectorTable(ps, t);
}

void writeResidualRows(ProcState& ps, const double* a) {
  if (!ps.flags.outstatRequested || !ps.outstatTable) return;
  const int p = ps.nVars;
  const std::string prefix =
      ps.nPartial > 0 ? std::string(ps.parPrefix, static_cast<size_t>(ps.parPrefixLength)) : "";
  std::vector<double> row(static_cast<size_t>(p));
  for (int i = 0; i < p; ++i) {
    for (int j = 0; j < p; ++j) row[static_cast<size_t>(j)] = a[packedIndex(i, j)];
    appendStatRow(ps, "RESIDUAL", (prefix + variableName(ps, i)).substr(0, 32), row.data(), p);
  }
}

}  // namespace

void subtractFitted(int p, int m, const double* loadings, const double* phi, double* a) {
  for (int i = 0; i < p; ++i)
    for (int j = 0; j <= i; ++j) {
      double fitted = 0.0;
      for (int k = 0; k < m; ++k) {
        const double lik = loadings[i + static_cast<int64_t>(k) * p];
        if (phi == nullptr) {
          fitted += lik * loadings[j + static_cast<int64_t>(k) * p];
          continue;
        }
        for (int l = 0; l < m; ++l)
          fitted += lik * phi[packedIndex(k, l)] * loadings[j + static_cast<int64_t>(l) * p];
      }
      double& x = a[packedIndex(i, j)];
      x -= fitted;
      if (std::fabs(x) < kSqrtHalfEpsilon) x = 0.0;
    }
}

double offDiagonalRms(int p, const double* a, double* rms) {
  if (p < 2) {
    for (int i = 0; i < p; ++i) rms[i] = 0.0;
    return 0.0;
  }
  double total = 0.0;
  for (int i = 0; i < p; ++i) {
    double sum = 0.0;
    for (int j = 0; j < p; ++j)
      if (j != i) sum += a[packedIndex(i, j)] * a[packedIndex(i, j)];
    rms[i] = std::sqrt(sum / (p - 1));
    total += sum;
  }
  return std::sqrt(total / (static_cast<double>(p) * (p - 1)));
}

void residualCorrelations(ProcState& ps) {
  Host& h = host();
  const int p = ps.nVars;
  const int m = ps.nFactors;
  double* a = ps.corrMatrix;
  if (a == nullptr || p < 1) return;
  const int64_t bytes = static_cast<int64_t>(8) * p * (p + 1) / 2;
  int st = h.workPosition(ps.workFile, ps.corrKey);
  if (st == 0) st = h.workRead(ps.workFile, a, bytes);
  if (st != 0) {
    h.statusReport(st);
    raiseCode(ps, kCodeWorkFile);
    h.endStep(kCodeWorkFile);
  }

  subtractFitted(p, m, ps.loadings, ps.obliqueCount > 0 ? ps.factorCorr : nullptr, a);
  if (ps.sink)
    printMatrixTable(ps, 'S', a, nullptr, p, p, 'V', 'V', kTitleResidualCorr, 0,
                     "ResCorrUniqueDiag", "Stat.Factor.ResCorrUniqueDiag", 0);
  printRms(ps, a, msg::kRmsResidualsText, "RMSOffDiagResids");
  writeResidualRows(ps, a);

  // A variable whose uniqueness is not positive (a Heywood case) keeps a
  // zero row, column and diagonal.
  std::vector<double> s(static_cast<size_t>(p));
  covToCorr(p, a, s.data());
  if (ps.sink)
    printMatrixTable(ps, 'S', a, nullptr, p, p, 'V', 'V', kTitlePartialControlFactors, 0,
                     "ParCorrControlFactor", "Stat.Factor.ParCorrControlFactor", 0);
  printRms(ps, a, msg::kRmsPartialsText, "RMSOffDiagPartials");
}

}  // namespace zulfact
