// Image component analysis (Guttman 1953; Harris 1962; Jöreskog 1963):
// each variable is regressed on all the others, the predicted parts (the
// images) form the image covariance matrix G = W R W', whose leading
// eigenvectors give the image components.
#pragma once

#include <functional>
#include <vector>

#include "zulfact/extract/principal.hpp"
#include "zulfact/state/proc_state.hpp"

namespace zulfact {

// METHOD=IMAGE for one BY group: inverse correlations, squared multiple
// correlations (into priorCommunalities), the image coefficients W (row i
// holds the regression weights of the other variables in the prediction
// of variable i), G into corrMatrix, its eigenvalues and the number of
// factors (default threshold the mean image variance), the image factor
// loadings, and finally the loadings replaced by the solutions x of
// W x = a. Prints InvCorr (PRINT), MultipleCorr, ImageCoef, ImageCov,
// Eigenvalues and ImageFactors, and writes the IMAGE and IMAGECOV rows of
// OUTSTAT=. A singular R gives message 180/13 (code 112), pivots that
// cannot be swept 180/179, a singular W message 180/28, code 108 and no
// factors.
void imageExtract(ProcState& ps);

// One pivot k of the sweep of the packed matrix a of order n, flags '1'
// for swept pivots, with the rule that refuses a singular pivot (the
// host's sweep in a run).
using SweepPivot = std::function<void(double* a, int k, int n, char* flags, const double* scale,
                                      double singularity)>;

// The image coefficients and squared multiple correlations of the packed
// correlation matrix r of order p, by sweeping one pivot at a time: w
// (p x p, row i contiguous) and smc (p). r is overwritten; flags and ones
// are work areas of p characters and p doubles. Returns the number of
// coefficients set to 0 because their variable could not be swept.
int imageCoefficients(int p, double* r, double* w, double* smc, char* flags, double* ones,
                      double singularity, const SweepPivot& sweep);

// The image covariance of the packed correlation matrix corr of order p:
// the coefficients W (p x p, row i contiguous), the squared multiple
// correlations, G = W R W' (packed) and the number of coefficients set to
// 0 because their variable could not be swept.
struct ImageCovariance {
  std::vector<double> coefficients;
  std::vector<double> smc;
  std::vector<double> imageCov;
  int unsweepable = 0;
};
ImageCovariance imageCovariance(int p, const double* corr, double singularity,
                                const SweepPivot& sweep);

// The first k image factors from the eigen decomposition of G (weighted
// when weights are given; see principalEigenvalues): the eigenvectors, the
// image factor loadings, and the loadings finally reported, the solutions
// x of W x = a for every image factor a. solved is false when W is
// singular (the final loadings are then meaningless).
struct ImageLoadings {
  PrincipalLoadings factors;
  std::vector<double> loadings;
  bool solved = false;
};
ImageLoadings imageLoadings(const PrincipalEigen& eigen, int k, const double* weights,
                            const std::vector<double>& coefficients);

}  // namespace zulfact
