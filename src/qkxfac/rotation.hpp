// A criterion rotation as the engine runs it: for the Harris-Kaiser
// orthoblique solution (Harris and Kaiser 1964) the pattern is first
// replaced by its principal axes rescaled by a power of the square roots of
// the eigenvalues; the matrix to rotate is normalised (rows to unit length
// by Kaiser 1958, Cureton-Mulaik weights, the standard deviations of a
// covariance analysis, or not at all), rotated by the optimiser from one or
// several starts, and brought back to the original row scale.
#pragma once

#include <cstdint>
#include <vector>

#include "qkxfac/crawford_ferguson.hpp"
#include "zul/abi.h"

namespace qkxfac {

// Whether a method code (zul_engine_method) is known, and whether it is
// oblique.
bool isKnownMethod(int32_t method);
bool isObliqueMethod(int32_t method);

struct RotationInput {
  int p = 0, m = 0;
  const double* pattern = nullptr;  // p x m
  // Diagonal of the analysed matrix (variances of a covariance analysis,
  // ones for correlations); null when the engine was not given it.
  const double* variances = nullptr;
};

struct RotationOutput {
  int status = 0;
  int iterations = 0;
  double criterion = 0;
  double measure = 0;
  bool oblique = false;
  bool harrisKaiser = false;
  std::vector<double> pattern;        // p x m, L = A X
  std::vector<double> transform;      // m x m, X
  std::vector<double> factorCorr;     // packed m (oblique criteria only)
  std::vector<double> varWeights;     // p
  std::vector<double> factorWeights;  // m, M^(power/2) (Harris-Kaiser only)
};

// Runs the request on the input; never throws (memory failure: status 4).
RotationOutput rotate(const zul_rotation_request& request, const RotationInput& input);

}  // namespace qkxfac
