// The host's sweep of one pivot, against results worked by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "zul/services/sweep.hpp"

namespace {

using zul::services::sweepPivot;

// Packed lower triangle by rows of the symmetric 3 x 3 matrix
//   [ 4 2 2 ]
//   [ 2 5 1 ]
//   [ 2 1 6 ]
std::vector<double> matrixA() { return {4, 2, 5, 2, 1, 6}; }

TEST(Sweep, PivotsSweptInAndOutByTheirFlags) {
  // Sweeping pivot 0 (d = 4), by hand:
  //   a00 = -1/4; a10 = 2/4 = 0.5; a20 = 2/4 = 0.5
  //   a11 = 5 - 2*2/4 = 4; a21 = 1 - 2*2/4 = 0; a22 = 6 - 2*2/4 = 5
  std::vector<double> a = matrixA();
  char flags[] = "000";
  double scale[3] = {2, std::sqrt(5.0), std::sqrt(6.0)};
  ASSERT_EQ(sweepPivot(a.data(), 0, 3, flags, scale, 1e-7), 0);
  EXPECT_STREQ(flags, "100");
  std::vector<double> want = {-0.25, 0.5, 4, 0.5, 0, 5};
  for (size_t i = 0; i < a.size(); ++i) EXPECT_DOUBLE_EQ(a[i], want[i]) << i;
  // det = 4(30-1) - 2(12-2) + 2(2-10) = 80; cofactors: inverse =
  // [29 -10 -8; -10 20 0; -8 0 16] / 80. Every pivot swept leaves -A^-1.
  for (int k = 1; k < 3; ++k) ASSERT_EQ(sweepPivot(a.data(), k, 3, flags, nullptr, 1e-7), 0);
  EXPECT_STREQ(flags, "111");
  want = {-29.0 / 80, 10.0 / 80, -20.0 / 80, 8.0 / 80, 0, -16.0 / 80};
  for (size_t i = 0; i < a.size(); ++i) EXPECT_NEAR(a[i], want[i], 1e-15) << i;
  // A set flag sweeps back (used to step pivots in and out).
  for (int k = 0; k < 3; ++k) sweepPivot(a.data(), k, 3, flags, nullptr, 1e-7);
  EXPECT_STREQ(flags, "000");
  want = matrixA();
  for (size_t i = 0; i < a.size(); ++i) EXPECT_NEAR(a[i], want[i], 1e-14) << i;
}

TEST(Sweep, PivotTooSmallAgainstItsScaleIsLeftAlone) {
  // Two identical variables: after sweeping the first, the second's
  // residual is 0 (1 - R^2 = 0): it must not be swept, and nothing changes.
  std::vector<double> a = {1, 1, 1};
  char flags[] = "00";
  double scale[2] = {1, 1};
  sweepPivot(a.data(), 0, 2, flags, scale, 1e-7);
  std::vector<double> before = a;
  sweepPivot(a.data(), 1, 2, flags, scale, 1e-7);
  EXPECT_STREQ(flags, "10");
  EXPECT_EQ(a, before);
  // A residual of 1e-8 of a scale of 1 is below 1e-7 too; 1e-6 is not.
  std::vector<double> b = {1e-8};
  char f1[] = "0";
  sweepPivot(b.data(), 0, 1, f1, scale, 1e-7);
  EXPECT_EQ(f1[0], '0');
  b = {1e-6};
  sweepPivot(b.data(), 0, 1, f1, scale, 1e-7);
  EXPECT_EQ(f1[0], '1');
  EXPECT_DOUBLE_EQ(b[0], -1e6);
}

TEST(Sweep, ZeroOrBrokenPivotIsNeverDividedBy) {
  // A zero scale would let a zero pivot pass the relative test; the pivot
  // itself must still be positive and finite.
  double zeroScale[1] = {0};
  for (double d : {0.0, -1.0, double(NAN), double(INFINITY)}) {
    std::vector<double> a = {d};
    char f[] = "0";
    EXPECT_EQ(sweepPivot(a.data(), 0, 1, f, zeroScale, 1e-7), 0);
    EXPECT_EQ(f[0], '0') << d;
  }
  std::vector<double> a = {1};
  char f[] = "0";
  EXPECT_EQ(sweepPivot(a.data(), 1, 1, f, nullptr, 1e-7), -1);
  EXPECT_EQ(sweepPivot(a.data(), -1, 1, f, nullptr, 1e-7), -1);
}

}  // namespace
