#include "zulfact/extract/residuals.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
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

void printRms(ProcState& ps, const std::vector<double>& rms, double overall, msg::Id text,
              msg::Id textForTwo, const char* name) {
  const int p = ps.opt.nVars;
  if (ps.sink == nullptr) return;
  VectorTable t;
  t.name = name;
  t.title = p == 2 ? titleLine(textForTwo, {overall}, true)
                   : titleLine(text, {p - 1, overall, static_cast<int64_t>(p) * (p - 1)}, true);
  t.labelKind = 'V';
  t.nRows = p;
  t.columns.push_back({"RMS", "Root Mean Square", rms.data()});
  printVectorTable(ps, t);
}

// A correlation-type table, its fuzz rule chosen by its title. Printed
// from ps.corrMatrix, the working matrix the residuals are formed in.
void printCorrelationType(ProcState& ps, const std::vector<double>& a, int title,
                          const char* name) {
  if (ps.sink == nullptr) return;
  std::copy(a.begin(), a.end(), ps.corrMatrix);
  printMatrixTable(ps, {.storage = 'S', .values = ps.corrMatrix, .nRows = ps.opt.nVars,
                        .nCols = ps.opt.nVars, .rowLabels = 'V', .colLabels = 'V', .title = title,
                        .name = name, .role = MatrixRole::Correlation});
}

void writeResidualRows(ProcState& ps, const double* a) {
  if (!ps.opt.flags.outstatRequested || !ps.opt.outstatTable) return;
  const int p = ps.opt.nVars;
  const std::string prefix =
      ps.opt.nPartial > 0 ? std::string(ps.opt.parPrefix, static_cast<size_t>(ps.opt.parPrefixLength)) : "";
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

ResidualCorrelations residualCorrelationsOf(int p, int m, const double* r,
                                            const double* loadings, const double* phi) {
  ResidualCorrelations out;
  const size_t packed = static_cast<size_t>(p) * (p + 1) / 2;
  out.residual.assign(r, r + packed);
  subtractFitted(p, m, loadings, phi, out.residual.data());
  out.residualRms.resize(static_cast<size_t>(p));
  out.residualOverall = offDiagonalRms(p, out.residual.data(), out.residualRms.data());
  out.partial = out.residual;
  std::vector<double> s(static_cast<size_t>(p));
  covToCorr(p, out.partial.data(), s.data());
  out.partialRms.resize(static_cast<size_t>(p));
  out.partialOverall = offDiagonalRms(p, out.partial.data(), out.partialRms.data());
  return out;
}

void residualCorrelations(ProcState& ps) {
  const int p = ps.opt.nVars;
  const int m = ps.nFactors;
  double* a = ps.corrMatrix;
  // Under NOPRINT only the OUTSTAT= rows take them.
  if (a == nullptr || p < 1 || (ps.sink == nullptr && ps.opt.outstatTable == nullptr)) return;
  // The residuals are formed in the working matrix from the group's R.
  std::memcpy(a, ps.groupCorr, sizeof(double) * static_cast<size_t>(p) * (p + 1) / 2);

  const ResidualCorrelations res =
      residualCorrelationsOf(p, m, a, ps.loadings, ps.obliqueCount > 0 ? ps.factorCorr : nullptr);
  printCorrelationType(ps, res.residual, kTitleResidualCorr, "ResCorrUniqueDiag");
  printRms(ps, res.residualRms, res.residualOverall, msg::kRmsResidualsText,
           msg::kRmsResidualsTwoText, "RMSOffDiagResids");
  writeResidualRows(ps, res.residual.data());
  printCorrelationType(ps, res.partial, kTitlePartialControlFactors, "ParCorrControlFactor");
  printRms(ps, res.partialRms, res.partialOverall, msg::kRmsPartialsText,
           msg::kRmsPartialsTwoText, "RMSOffDiagPartials");
}

}  // namespace zulfact
