// The per-run arrays of the step from the host pool, and the names and
// labels of the analysis and partial variables.
#include <cstring>

#include "kernels/packed.hpp"
#include "zulfact/options/statement_parser.hpp"
#include "zulfact/state/message_ids.hpp"

namespace zulfact::detail {

using kernels::packedIndex;

void StatementParser::allocateArrays() {
  const OptionFlags& f = ps_.opt.flags;
  const int p = p_, m = m_;
  const int nAll = ps_.opt.nAll;
  const bool squareLoadings = ps_.opt.method == kMethodMl || ps_.opt.method == kMethodUls ||
                              ps_.opt.method == kMethodGls || ps_.opt.method == kMethodFuller;
  ps_.loadings = arrays_.get<double>(squareLoadings ? double(p) * p : double(p) * m);
  ps_.scaleVector = arrays_.get<double>(std::max<double>(nAll, 10.0 * p));
  if (f.correlationNeeded) {
    ps_.corrMatrix = arrays_.get<double>(double(nAll) * (nAll + 1) / 2);
    ps_.groupCorr = arrays_.get<double>(double(p) * (p + 1) / 2);
  }
  if (f.score || f.outRequested || f.outstatRequested)
    ps_.scoreCoefficients = arrays_.get<double>(double(p) * m);
  ps_.transform = arrays_.get<double>(double(m) * m);
  ps_.structure = arrays_.get<double>(double(m) * p);
  ps_.refStructure = arrays_.get<double>(double(m) * p);
  ps_.factorCorr = arrays_.get<double>(double(m) * (m + 1) / 2);
  ps_.refAxisCorr = arrays_.get<double>(double(m) * (m + 1) / 2);
  ps_.factorVector = arrays_.get<double>(m);
  for (int i = 0; i < m && ps_.factorCorr && ps_.refAxisCorr; ++i)
    ps_.factorCorr[packedIndex(i, i)] = ps_.refAxisCorr[packedIndex(i, i)] = 1.0;
  ps_.varOrder = arrays_.get<int32_t>(p);
  ps_.opt.varNames = arrays_.get<char>(33.0 * nAll);
  ps_.opt.varLabels = arrays_.get<char>(257.0 * nAll);
  ps_.factorNames = arrays_.get<char>(double(ps_.factorNameWidth) * m);
  ps_.means = arrays_.get<double>(nAll);
  ps_.stdDevs = arrays_.get<double>(nAll);
  ps_.communalities = arrays_.get<double>(p);
  ps_.varWeights = arrays_.get<double>(p);
  ps_.eigenvalues = arrays_.get<double>(p);
  if (ps_.opt.nPartial > 0 && f.outRequested) {
    ps_.rawMeans = arrays_.get<double>(nAll);
    ps_.rawStdDevs = arrays_.get<double>(nAll);
    ps_.residualScale = arrays_.get<double>(p);
  }
  ps_.sweepFlags = arrays_.get<char>(nAll);
  ps_.parallelMean = arrays_.get<double>(p);
  ps_.parallelCritical = arrays_.get<double>(p);
  ps_.observedEigen = arrays_.get<double>(p);
  ps_.mapSquared = arrays_.get<double>(p);
  ps_.mapFourth = arrays_.get<double>(p);
  if (ps_.completionCode == kCodeMemory) {
    h_.message(msg::kArraysTooLarge);
    stop(ps_, kCodeMemory);
  }
  for (int i = 0; i < p; ++i) ps_.varOrder[i] = i;
  for (int i = 0; i < nAll; ++i) {
    zul_var_desc d{};
    h_.varDesc(ps_.opt.mainInput, ps_.opt.varNumbers[i], d);
    std::memcpy(ps_.opt.varNames + 33 * i, d.name, strnlen(d.name, 32));
    std::memcpy(ps_.opt.varLabels + 257 * i, d.label, strnlen(d.label, 256));
    ps_.opt.longestName = std::max<int32_t>(ps_.opt.longestName, static_cast<int32_t>(std::strlen(d.name)));
    ps_.opt.longestLabel =
        std::max<int32_t>(ps_.opt.longestLabel, static_cast<int32_t>(std::strlen(d.label)));
  }
}

}  // namespace zulfact::detail
