#include "zulfact/extract/image.hpp"

#include <algorithm>
#include <cmath>
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

ImageCovariance imageCovariance(int p, const double* corr, double singularity,
                                const SweepPivot& sweep) {
  ImageCovariance out;
  const size_t packed = packedSize(p);
  std::vector<double> swept(corr, corr + packed);
  std::vector<char> flags(static_cast<size_t>(p));
  std::vector<double> ones(static_cast<size_t>(p)), work(static_cast<size_t>(p));
  out.coefficients.resize(static_cast<size_t>(p) * p);
  out.smc.resize(static_cast<size_t>(p));
  out.imageCov.resize(packed);
  out.unsweepable = imageCoefficients(p, swept.data(), out.coefficients.data(), out.smc.data(),
                                      flags.data(), ones.data(), singularity, sweep);
  quadForm(corr, p, out.coefficients.data(), p, out.imageCov.data(), work.data(), false);
  return out;
}

ImageLoadings imageLoadings(const PrincipalEigen& eigen, int k, const double* weights,
                            const std::vector<double>& coefficients) {
  ImageLoadings out;
  out.factors = principalLoadings(eigen, k, weights);
  out.loadings = out.factors.loadings;
  out.solved = solveForLoadings(eigen.p, k, coefficients.data(), out.loadings.data());
  return out;
}

namespace {

// The pool holds the working blocks of the analysis; asking for them up
// front keeps the run's memory limit (1016, message 180/91) in force.
void reserveImageBlocks(ProcState& ps, int p) {
  PoolArray copy(ps, 0.5 * p * (p + 1.0)), w(ps, static_cast<double>(p) * p);
}

void printImageCoefficients(ProcState& ps, const ImageCovariance& image) {
  const int p = ps.opt.nVars;
  VectorTable t;
  t.name = "MultipleCorr";
  t.title = titleLine(msg::kSmcTitle, {});
  t.nRows = p;
  t.columns.push_back({"SMC", "", ps.priorCommunalities});
  printVectorTable(ps, t);
  printMatrixTable(ps, {.storage = 'R', .values = image.coefficients.data(), .nRows = p,
                        .nCols = p, .rowLabels = 'V', .colLabels = 'V', .title = kTitleImageCoef,
                        .name = "ImageCoef"});
  printMatrixTable(ps, {.storage = 'S', .values = image.imageCov.data(), .nRows = p, .nCols = p,
                        .rowLabels = 'V', .colLabels = 'V', .title = kTitleImageCov,
                        .name = "ImageCov", .role = MatrixRole::Correlation});
}

void printImageFactors(ProcState& ps, const ImageLoadings& solution, int k) {
  const int p = ps.opt.nVars;
  if (ps.opt.flags.eigenvectors)
    printMatrixTable(ps, {.storage = 'C', .values = solution.factors.vectors.data(), .nRows = p,
                          .nCols = k, .rowLabels = 'V', .colLabels = 'F',
                          .title = kTitleEigenvectors, .name = "Eigenvectors",
                          .role = MatrixRole::Loadings});
  printMatrixTable(ps, {.storage = 'C', .values = solution.factors.loadings.data(), .nRows = p,
                        .nCols = k, .rowLabels = 'V', .colLabels = 'F',
                        .title = kTitleImageFactors, .name = "ImageFactors",
                        .role = MatrixRole::Loadings});
}

}  // namespace

void imageExtract(ProcState& ps) {
  const int p = ps.opt.nVars;
  if (p < 1) return;
  const bool printing = ps.sink != nullptr;

  // The inverse correlation matrix (the priors are always SMC here),
  // shown with PRINT; 112 when R is singular.
  inverseCorrelations(ps);
  reserveImageBlocks(ps, p);
  const SweepPivot hostSweep = [](double* a, int k, int n, char* f, const double* scale,
                                  double singular) { host().sweep(a, k, n, f, scale, singular); };
  const ImageCovariance image = imageCovariance(p, ps.groupCorr, ps.opt.singularity, hostSweep);
  if (image.unsweepable > 0) host().message(msg::kImageUnsweepable);
  std::copy(image.smc.begin(), image.smc.end(), ps.priorCommunalities);
  std::copy(image.imageCov.begin(), image.imageCov.end(), ps.corrMatrix);
  if (printing) printImageCoefficients(ps, image);
  writeImageRows(ps, image.coefficients.data(), ps.corrMatrix);

  imageWeights(ps);
  const double* weights = ps.opt.flags.weighted ? ps.varWeights : nullptr;
  const PrincipalEigen eigen = principalEigenvalues(p, ps.corrMatrix, weights);
  eigenNote(eigen.code, ps.sink);
  std::copy(eigen.eigenvalues.begin(), eigen.eigenvalues.end(), ps.eigenvalues);
  if (printing)
    printEigenvalueTable(ps, requiredText(ps.opt.flags.covariance ? msg::kImageEigenCovTitle
                                                                  : msg::kImageEigenTitle));

  decideImageFactorCount(ps);
  const int k = ps.factorsRetained;
  if (k < 1) return;
  const ImageLoadings solution = imageLoadings(eigen, k, weights, image.coefficients);
  eigenNote(solution.factors.code, ps.sink);
  if (printing) printImageFactors(ps, solution, k);
  std::copy(solution.loadings.begin(), solution.loadings.end(), ps.loadings);
  if (!solution.solved) {
    host().message(msg::kImageCoefSingular);
    raiseCode(ps, kCodeNoData);
    ps.factorsRetained = 0;
    failGroupRows();
  }
}

}  // namespace zulfact
