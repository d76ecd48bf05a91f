// Velicer's MAP: averages checked by hand on two variables (minimum at no
// component) and on a matrix of three components, missing averages.
#include "qkxfac/map.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "zul/abi.h"

namespace qkxfac {
namespace {

std::vector<double> packed(int p, double (*r)(int, int)) {
  std::vector<double> a(static_cast<size_t>(p) * (p + 1) / 2);
  for (int i = 0; i < p; ++i)
    for (int j = 0; j <= i; ++j) a[i * (i + 1) / 2 + j] = i == j ? 1.0 : r(i, j);
  return a;
}

TEST(VelicerMap, TwoVariablesByHand) {
  // R = [1 r; r 1]: with no component removed the averages are r^2 and
  // r^4; removing the first component (1 + r, (1, 1)/sqrt 2) leaves
  // (1 - r)/2 [1 -1; -1 1], whose partial correlation is -1.
  const double r = 0.3;
  std::vector<double> a = {1.0, r, 1.0};
  MapResult out;
  ASSERT_EQ(velicerMap(2, a.data(), out), 0);
  EXPECT_NEAR(out.average2[0], r * r, 1e-15);
  EXPECT_NEAR(out.average4[0], r * r * r * r, 1e-15);
  EXPECT_NEAR(out.average2[1], 1.0, 1e-12);
  EXPECT_NEAR(out.average4[1], 1.0, 1e-12);
  EXPECT_EQ(out.factors2, 0);
  EXPECT_EQ(out.factors4, 0);
}

TEST(VelicerMap, ThreeBlocksOfFourGiveThree) {
  std::vector<double> a = packed(12, [](int i, int j) { return i / 4 == j / 4 ? 0.6 : 0.0; });
  MapResult out;
  ASSERT_EQ(velicerMap(12, a.data(), out), 0);
  EXPECT_EQ(out.factors2, 3);
  EXPECT_EQ(out.factors4, 3);
  // No component removed: 18 of the 66 pairs correlate 0.6.
  EXPECT_NEAR(out.average2[0], 18 * 0.36 / 66, 1e-14);
  EXPECT_NEAR(out.average4[0], 18 * 0.1296 / 66, 1e-14);
  // With the three block components removed, each block's residual is
  // 0.4 (I - J/4): partial correlations -1/3 inside blocks, 0 between.
  EXPECT_NEAR(out.average2[3], 18.0 / 9 / 66, 1e-12);
  EXPECT_NEAR(out.average4[3], 18.0 / 81 / 66, 1e-12);
}

TEST(VelicerMap, OneComponentLeftIsRankOneToTheLastBits) {
  // With p - 1 components partialled out the residual is lambda_p v v',
  // whose partial correlations are all +-1: both averages are 1. Formed by
  // subtraction from R they lost up to 1e-12 to cancellation.
  const int p = 9;
  std::mt19937 gen(3);
  std::normal_distribution<double> normal;
  std::vector<double> x(static_cast<size_t>(200) * p);
  for (double& v : x) v = normal(gen);
  for (int r = 0; r < 200; ++r) x[r * p + 1] += x[r * p], x[r * p + 4] += x[r * p + 3];
  std::vector<double> a(static_cast<size_t>(p) * (p + 1) / 2);
  for (int i = 0; i < p; ++i)
    for (int j = 0; j <= i; ++j) {
      double sij = 0, sii = 0, sjj = 0;
      for (int r = 0; r < 200; ++r) {
        sij += x[r * p + i] * x[r * p + j];
        sii += x[r * p + i] * x[r * p + i];
        sjj += x[r * p + j] * x[r * p + j];
      }
      a[i * (i + 1) / 2 + j] = i == j ? 1.0 : sij / std::sqrt(sii * sjj);
    }
  MapResult out;
  ASSERT_EQ(velicerMap(p, a.data(), out), 0);
  EXPECT_NEAR(out.average2[p - 1], 1.0, 4e-16);
  EXPECT_NEAR(out.average4[p - 1], 1.0, 8e-16);
}

TEST(VelicerMap, MissingAveragesAndVariablesWithoutVariance) {
  // The identity: removing a component removes a whole variable, whose
  // partial correlations then do not exist.
  std::vector<double> identity = packed(4, [](int, int) { return 0.0; });
  MapResult out;
  ASSERT_EQ(velicerMap(4, identity.data(), out), 0);
  EXPECT_EQ(out.average2[0], 0.0);
  for (int m = 1; m < 4; ++m) {
    EXPECT_TRUE(zul_is_missing(out.average2[m])) << m;
    EXPECT_TRUE(zul_is_missing(out.average4[m])) << m;
  }
  EXPECT_EQ(out.factors2, 0);

  // A constant third variable (zero row and diagonal) is left out: the
  // averages are those of the other two.
  std::vector<double> withConstant = {1.0, 0.5, 1.0, 0.0, 0.0, 0.0};
  ASSERT_EQ(velicerMap(3, withConstant.data(), out), 0);
  EXPECT_NEAR(out.average2[0], 0.25, 1e-15);
}

}  // namespace
}  // namespace qkxfac
