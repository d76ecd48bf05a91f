// The rows of the MAP and parallel-analysis tables from plain vectors.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "zul/abi.h"
#include "zulfact/extract/parallel_map_tables.hpp"

namespace zulfact {
namespace {

double fromBits(uint64_t bits) {
  double x;
  std::memcpy(&x, &bits, sizeof x);
  return x;
}

TEST(MapTable, MinimaAndAveragesTheEngineCouldNotCompute) {
  // The engine marks an average it could not compute by ones in the top 16
  // bits; any other NaN or a plain value is shown as it is.
  const double unknown = fromBits(0xFFFF000000000001ULL);
  const std::vector<double> squared = {0.30, 0.10, 0.12, unknown};
  const std::vector<double> fourth = {0.20, 0.05, 0.04, 0.09};
  const MapTable t = mapTable(4, squared.data(), fourth.data(), 1, 2);
  ASSERT_EQ(t.rows.size(), 4u);
  EXPECT_TRUE(t.anyMissing);
  for (int m = 0; m < 4; ++m) {
    EXPECT_EQ(t.rows[m].removed, m);
    EXPECT_EQ(t.rows[m].minimum2, m == 1);
    EXPECT_EQ(t.rows[m].minimum4, m == 2);
  }
  EXPECT_TRUE(zul_is_missing(t.rows[3].squared));
  EXPECT_EQ(t.rows[3].fourth, 0.09);
  EXPECT_FALSE(mapTable(3, squared.data(), fourth.data(), 1, 2).anyMissing);
}

TEST(ParallelTable, RetainedRowsUnshownEigenvaluesAndDecimals) {
  const double inf = std::numeric_limits<double>::infinity();
  const std::vector<double> observed = {12.3, 1.4, 0.5, inf};
  const std::vector<double> mean = {1.6, 1.2, 0.9, 0.3};
  const std::vector<double> critical = {1.9, 1.4, 1.0, 0.4};
  const ParallelTable t = parallelTable(4, observed.data(), mean.data(), critical.data(), 2);
  ASSERT_EQ(t.rows.size(), 4u);
  for (int j = 0; j < 4; ++j) {
    EXPECT_EQ(t.rows[j].number, j + 1);
    EXPECT_EQ(t.rows[j].retained, j < 2);
  }
  EXPECT_EQ(t.rows[0].observed, 12.3);
  EXPECT_EQ(t.rows[1].critical, 1.4);
  // An eigenvalue that is not finite is not shown, nor are its simulations.
  EXPECT_TRUE(zul_is_missing(t.rows[3].observed));
  EXPECT_TRUE(zul_is_missing(t.rows[3].mean));
  EXPECT_TRUE(zul_is_missing(t.rows[3].critical));
  // Width 10 less the integer digits of the largest shown value ("12"),
  // the point, and a sign only when a value is negative: 7 decimals, or 6.
  EXPECT_EQ(t.decimals, 7);
  std::vector<double> negative = mean;
  negative[2] = -0.1;
  EXPECT_EQ(parallelTable(4, observed.data(), negative.data(), critical.data(), 2).decimals, 6);
}

}  // namespace
}  // namespace zulfact
