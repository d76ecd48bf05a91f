#include "zulfact/extract/image.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "zulfact/extract/principal.hpp"
#include "zulfact/extract/priors.hpp"
#include "zulfact/host/host.hpp"
#include "kernels/eigen.hpp"
#include "kernels/linalg.hpp"
#include "kernels/lu.hpp"
#include "zulfact/output/matrix_printer.hpp"
#include "zulfact/output/outstat_rows.hpp"
#include "zulfact/output/vector_table.hpp"
#include "zulfact/state/codes.hpp"
#include "zulfact/state/constants.hpp"
#include "zulfact/state/message_ids.hpp"

namespace zulfact {

using kernels::quadForm;
using kernels::packedIndex;
using kernels::packedSize;
using kernels::zeigen;
using kernels::zeigvec;
using kernels::luFactor;
using kernels::luSolve;

namespace {

// A block from the host pool, released when the owner goes away; a size
// the pool cannot give ends the run with 1016 (message 180/91).
class PoolArray {
 public:
  PoolArray(ProcState& ps, double count) {
    const double bytes = 8.0 * std::max(count, 1.0);
    if (bytes >= 2147483647.0) fail(ps);
    data_ = static_cast<double*>(host().alloc(bytes));
    if (!data_) fail(ps);
  }
  ~PoolArray() { host().release(data_); }
  PoolArray(const PoolArray&) = delete;
  PoolArray& operator=(const PoolArray&) = delete;
  double* get() const { return data_; }

 private:
  [[noreturn]] static void fail(ProcState& ps) {
    raiseCode(ps, kCodeMemory);
    host().message(msg::kArraysTooLarge);
    host().endStep(kCodeMemory);
  }
  double* data_ = nullptr;
};

// Step 7: the variable weights, 1 each unless the input table's WEIGHT
// row gives them; non-finite weights count as 0; under COV times the
// variances.
void imageWeights(ProcState& ps) {
  const int p = ps.opt.nVars;
  double* w = ps.varWeights;
  std::fill(w, w + p, 1.0);
  if (ps.opt.flags.weightOption && !readWeightRow(ps.opt, w)) {
    raiseCode(ps, kCodeNoData);
    host().message(msg::kNoWeightRow);
  }
  for (int i = 0; i < p; ++i) {
    if (!std::isfinite(w[i])) w[i] = 0.0;
    if (ps.opt.flags.covariance) w[i] *= ps.stdDevs[i] * ps.stdDevs[i];
  }
}

// Step 9: the default MINEIGEN= of the count is the mean image variance
// w_i SMC_i.
void decideImageFactorCount(ProcState& ps) {
  const int p = ps.opt.nVars;
  std::vector<double> imageVariances(static_cast<size_t>(p));
  for (int i = 0; i < p; ++i) imageVariances[i] = ps.varWeights[i] * ps.priorCommunalities[i];
  decideFactorCount(ps, imageVariances.data());
}

// Step 11: every loading column a becomes the solution x of W x = a (W
// factored once). False when W is singular.
bool solveForLoadings(int p, int k, const double* w, double* loadings) {
  std::vector<double> lu(static_cast<size_t>(p) * p);
  double largest = 0.0;
  for (int i = 0; i < p; ++i)
    for (int j = 0; j < p; ++j) {
      lu[static_cast<size_t>(i) + static_cast<size_t>(j) * p] = w[static_cast<size_t>(i) * p + j];
      largest = std::max(largest, std::fabs(w[static_cast<size_t>(i) * p + j]));
    }
  std::vector<int> pivots(static_cast<size_t>(p));
  if (luFactor(p, lu.data(), pivots.data(), kSqrtHalfEpsilon * largest) != 0) return false;
  for (int j = 0; j < k; ++j)
    luSolve(p, lu.data(), pivots.data(), loadings + static_cast<size_t>(j) * p);
  return true;
}

}  // namespace

int imageCoefficients(int p, double* r, double* w, double* smc, char* flags, double* ones,
                      double singularity, const SweepPivot& sweep) {
  std::vector<double> variance(static_cast<size_t>(p));
  for (int i = 0; i < p; ++i) {
    variance[i] = r[packedIndex(i, i)];
    ones[i] = 1.0;  // a correlation matrix: every variable's scale is 1
  }
  std::fill(flags, flags + p, '0');
  for (int k = 1; k < p; ++k) sweep(r, k, p, flags, ones, singularity);
  int unsweepable = 0;
  for (int i = 0; i < p; ++i) {
    // All pivots but i swept: pivot i - 1 comes in, i goes out. A pivot
    // that could not be swept in stays out for good.
    if (i > 0 && flags[i - 1] == '0') sweep(r, i - 1, p, flags, ones, singularity);
    if (flags[i] == '1') sweep(r, i, p, flags, ones, singularity);
    double* row = w + static_cast<size_t>(i) * p;
    for (int j = 0; j < p; ++j) {
      if (j == i) {
        row[j] = 0.0;
      } else if (flags[j] == '1') {
        row[j] = r[packedIndex(i, j)];  // weight of j in the prediction of i
      } else {
        row[j] = 0.0;
        ++unsweepable;
      }
    }
    // 1 - the residual variance of i given the others; a variable without
    // variance has nothing to predict.
    smc[i] = variance[i] > 0.0 ? 1.0 - r[packedIndex(i, i)] : 0.0;
  }
  return unsweepable;
}

void imageExtract(ProcState& ps) {
  Host& h = host();
  const int p = ps.opt.nVars;
  if (p < 1) return;
  double* r = ps.corrMatrix;
  const bool printing = ps.sink != nullptr;

  // 1. The inverse correlation matrix (the priors are always SMC here),
  // shown with PRINT; 112 when R is singular.
  inverseCorrelations(ps);
  std::copy_n(ps.groupCorr, packedSize(p), r);

  // 2, 3. A copy of R, then the coefficients by sweeping.
  const double packedCount = 0.5 * p * (p + 1.0);
  PoolArray copy(ps, packedCount), w(ps, static_cast<double>(p) * p);
  std::memcpy(copy.get(), r, sizeof(double) * static_cast<size_t>(packedCount));
  std::vector<char> flags(static_cast<size_t>(p));
  std::vector<double> ones(static_cast<size_t>(p));
  const SweepPivot hostSweep = [](double* a, int k, int n, char* f, const double* scale,
                                  double singular) { host().sweep(a, k, n, f, scale, singular); };
  const int unsweepable = imageCoefficients(p, r, w.get(), ps.priorCommunalities, flags.data(),
                                            ones.data(), ps.opt.singularity, hostSweep);
  if (unsweepable > 0) h.message(msg::kImageUnsweepable);

  // 4.
  if (printing) {
    VectorTable t;
    t.name = "MultipleCorr";
    t.title = titleLine(msg::kSmcTitle, {});
    t.nRows = p;
    t.columns.push_back({"SMC", "", ps.priorCommunalities});
    printVectorTable(ps, t);
    printMatrixTable(ps, {.storage = 'R', .values = w.get(), .nRows = p, .nCols = p,
                          .rowLabels = 'V', .colLabels = 'V', .title = kTitleImageCoef,
                          .name = "ImageCoef"});
  }

  // 5. G = W R W' from the copy of R into corrMatrix.
  quadForm(copy.get(), p, w.get(), p, r, ps.scaleVector, false);
  if (printing)
    printMatrixTable(ps, {.storage = 'S', .values = r, .nRows = p, .nCols = p, .rowLabels = 'V',
                          .colLabels = 'V', .title = kTitleImageCov, .name = "ImageCov",
                          .role = MatrixRole::Correlation});

  // 6.
  writeImageRows(ps, w.get(), r);

  // 7, 8.
  imageWeights(ps);
  const bool weighted = ps.opt.flags.weighted;
  if (weighted) weightMatrix(p, r, ps.varWeights, ps.scaleVector);
  eigenNote(zeigen(p, r, ps.eigenvalues, 0, nullptr, ps.scaleVector), ps.sink);
  zeroTinyEigenvalues(ps);
  if (printing)
    printEigenvalueTable(ps, requiredText(ps.opt.flags.covariance ? msg::kImageEigenCovTitle
                                                              : msg::kImageEigenTitle));

  // 9, 10.
  decideImageFactorCount(ps);
  const int k = ps.factorsRetained;
  if (k < 1) return;
  eigenNote(zeigvec(p, k, r, ps.eigenvalues, ps.loadings, ps.scaleVector), ps.sink);
  if (ps.opt.flags.eigenvectors && printing)
    printMatrixTable(ps, {.storage = 'C', .values = ps.loadings, .nRows = p, .nCols = k,
                          .rowLabels = 'V', .colLabels = 'F', .title = kTitleEigenvectors,
                          .name = "Eigenvectors", .role = MatrixRole::Loadings});
  vectorsToLoadings(p, k, ps.eigenvalues, weighted ? ps.varWeights : nullptr, ps.loadings);
  if (printing)
    printMatrixTable(ps, {.storage = 'C', .values = ps.loadings, .nRows = p, .nCols = k,
                          .rowLabels = 'V', .colLabels = 'F', .title = kTitleImageFactors,
                          .name = "ImageFactors", .role = MatrixRole::Loadings});

  // 11.
  if (!solveForLoadings(p, k, w.get(), ps.loadings)) {
    h.message(msg::kImageCoefSingular);
    raiseCode(ps, kCodeNoData);
    ps.factorsRetained = 0;
    failGroupRows();
  }
}

}  // namespace zulfact
