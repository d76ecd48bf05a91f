// Residual and partial correlations of a solution from plain matrices.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "zulfact/extract/residuals.hpp"
#include "kernels/linalg.hpp"

namespace zulfact {
using kernels::packedIndex;

namespace {

TEST(Residuals, OneFactorByHand) {
  // R of three variables and loadings l: residual r_ij - l_i l_j, the
  // uniqueness 1 - l_i^2 on the diagonal, partials res_ij / sqrt(u_i u_j).
  const int p = 3;
  const std::vector<double> r = {1.0, 0.5, 1.0, 0.4, 0.3, 1.0};
  const std::vector<double> l = {0.8, 0.6, 0.5};
  const ResidualCorrelations res = residualCorrelationsOf(p, 1, r.data(), l.data(), nullptr);
  const double e01 = 0.5 - 0.48, e02 = 0.4 - 0.40;  // and 0.3 - 0.30
  const double u[3] = {0.36, 0.64, 0.75};
  EXPECT_NEAR(res.residual[packedIndex(1, 0)], e01, 1e-15);
  EXPECT_EQ(res.residual[packedIndex(2, 0)], 0.0);  // within 2^-26.5 of zero: exactly 0
  EXPECT_EQ(res.residual[packedIndex(2, 1)], 0.0);
  for (int i = 0; i < p; ++i) EXPECT_NEAR(res.residual[packedIndex(i, i)], u[i], 1e-15);
  EXPECT_NEAR(res.partial[packedIndex(1, 0)], e01 / std::sqrt(u[0] * u[1]), 1e-15);
  EXPECT_EQ(res.partial[packedIndex(0, 0)], 1.0);
  // Row RMS over the two others; overall over the six off-diagonal places.
  EXPECT_NEAR(res.residualRms[0], std::sqrt((e01 * e01 + e02 * e02) / 2), 1e-15);
  EXPECT_NEAR(res.residualRms[2], 0.0, 1e-15);
  EXPECT_NEAR(res.residualOverall, std::sqrt(2 * e01 * e01 / 6), 1e-15);
  EXPECT_NEAR(res.partialRms[1], std::abs(res.partial[packedIndex(1, 0)]) / std::sqrt(2.0), 1e-15);
}

TEST(Residuals, FactorCorrelationsEqualAnOrthogonalBasis) {
  // L Phi L' = (L C)(L C)' with Phi = C C': the residuals of (L, Phi) are
  // those of the pattern L C with orthogonal factors.
  const int p = 4, m = 2;
  const std::vector<double> r = {1.0, 0.45, 1.0, 0.30, 0.35, 1.0, 0.20, 0.25, 0.50, 1.0};
  const std::vector<double> l = {0.6, 0.5, 0.1, 0.0, 0.0, 0.1, 0.6, 0.7};
  const double rho = 0.4;
  const std::vector<double> phi = {1.0, rho, 1.0};
  const double c[4] = {1.0, rho, 0.0, std::sqrt(1 - rho * rho)};  // lower Cholesky factor
  std::vector<double> lc(static_cast<size_t>(p) * m);
  for (int i = 0; i < p; ++i)
    for (int j = 0; j < m; ++j)
      for (int k = 0; k < m; ++k) lc[i + j * p] += l[i + k * p] * c[k + j * m];
  const ResidualCorrelations a = residualCorrelationsOf(p, m, r.data(), l.data(), phi.data());
  const ResidualCorrelations b = residualCorrelationsOf(p, m, r.data(), lc.data(), nullptr);
  for (size_t k = 0; k < a.residual.size(); ++k) {
    EXPECT_NEAR(a.residual[k], b.residual[k], 1e-15) << k;
    EXPECT_NEAR(a.partial[k], b.partial[k], 1e-14) << k;
  }
  EXPECT_NEAR(a.partialOverall, b.partialOverall, 1e-14);
}

TEST(Residuals, AHeywoodVariableKeepsAZeroPartialRow) {
  // A loading of 1 leaves no uniqueness: its partial row, column and
  // diagonal are 0, and the others are unaffected by it.
  const int p = 3;
  const std::vector<double> r = {1.0, 0.6, 1.0, 0.5, 0.4, 1.0};
  const std::vector<double> l = {1.0, 0.6, 0.5};
  const ResidualCorrelations res = residualCorrelationsOf(p, 1, r.data(), l.data(), nullptr);
  EXPECT_EQ(res.residual[packedIndex(0, 0)], 0.0);
  for (int j = 0; j < p; ++j) EXPECT_EQ(res.partial[packedIndex(0, j)], 0.0) << j;
  const double e = 0.4 - 0.30, u1 = 0.64, u2 = 0.75;
  EXPECT_NEAR(res.partial[packedIndex(2, 1)], e / std::sqrt(u1 * u2), 1e-15);
  EXPECT_EQ(res.partial[packedIndex(2, 2)], 1.0);
}

}  // namespace
}  // namespace zulfact
