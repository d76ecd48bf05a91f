// Velicer's minimum average partial criterion (Velicer 1976), with the
// fourth-power variant of Velicer, Eaton and Fava (2000).
//
// For m = 0, 1, ..., p - 1 the first m principal components of R are
// partialled out: C = R - A_m A_m' with A_m = V_m diag(sqrt(lambda)), and
// the partial correlations c_ij / sqrt(c_ii c_jj) are averaged over the
// pairs i != j, squared (MAP2) or to the fourth power (MAP4). The number of
// components is the m at the smallest average (the first one on ties).
// C is formed as the sum of the components not partialled out, from the
// last one up, rather than by subtraction from R, which would leave the
// small residuals of a large m to cancellation.
//
// Variables without variance (a zero diagonal in R) have no correlations
// and are left out of the averages. When a remaining variable has no
// residual variance left after m components (c_ii at or below
// 1.0536712127723509e-8 times r_ii), its partial correlations do not
// exist and the averages of that m are missing (the host's missing value,
// a NaN); missing averages take no part in the minimum.
#pragma once

#include <cstdint>
#include <vector>

namespace qkxfac {

struct MapResult {
  int32_t factors2 = 0;
  int32_t factors4 = 0;
  std::vector<double> average2;  // p averages, index m; missing value when none
  std::vector<double> average4;
};

// R is packed lower triangle by rows, order p >= 1. Returns 0, or 2 when
// the eigen solver failed (non-finite elements). May throw std::bad_alloc.
int velicerMap(int p, const double* corr, MapResult& out);

}  // namespace qkxfac
