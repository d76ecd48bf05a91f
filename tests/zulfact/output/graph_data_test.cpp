#include "zulfact/output/graph_data.hpp"

#include <gtest/gtest.h>

#include "zul/abi.h"

namespace zulfact {
namespace {

TEST(GraphData, ScreeRowsShareOfTheSumFromTheFirstPlotted) {
  // A reduced matrix has negative eigenvalues: the shares are of the sum
  // of all plotted ones, so the cumulative share ends at exactly 1.
  const double lambda[] = {zul_missing(), 3.0, 1.5, 0.5, -1.0};
  const std::vector<ScreeRow> rows = screeRows(5, 1, lambda);
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[0].number, 2);
  EXPECT_DOUBLE_EQ(rows[0].proportion, 0.75);
  EXPECT_DOUBLE_EQ(rows[1].cumulative, 4.5 / 4);
  EXPECT_DOUBLE_EQ(rows[3].proportion, -0.25);
  EXPECT_DOUBLE_EQ(rows[3].cumulative, 1.0);
}

TEST(GraphData, ScreeRowsSkipMissingAndHaveNoShareOfAZeroSum) {
  const double lambda[] = {1.0, zul_missing(), -1.0};
  const std::vector<ScreeRow> rows = screeRows(3, 0, lambda);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1].number, 3);
  EXPECT_TRUE(zul_is_missing(rows[0].proportion));
  EXPECT_TRUE(zul_is_missing(rows[1].cumulative));
}

TEST(GraphData, PairsOfThePlottedFactorsWithFlipSwappingTheAxes) {
  const std::vector<FactorPair> pairs = factorPairs(3, false);
  ASSERT_EQ(pairs.size(), 3u);
  // The lower factor on the vertical axis, as on the character plot's page.
  EXPECT_EQ(pairs[2].y, 1);
  EXPECT_EQ(pairs[2].x, 2);
  const std::vector<FactorPair> flipped = factorPairs(3, true);
  EXPECT_EQ(flipped[0].y, 1);
  EXPECT_EQ(flipped[0].x, 0);
  EXPECT_TRUE(factorPairs(1, false).empty());
}

TEST(GraphData, NPlotIsCappedAtTheFactorsRetained) {
  struct Case {
    int nPlot, retained, expected;
  } cases[] = {{0, 4, 4}, {2, 4, 2}, {6, 3, 3}, {3, 0, 0}};
  for (const Case& c : cases)
    EXPECT_EQ(factorsPlotted(c.nPlot, c.retained), c.expected) << c.nPlot << " " << c.retained;
}

TEST(GraphData, AxisAngleAndCircleLabels) {
  EXPECT_DOUBLE_EQ(axisAngle(0), 90);
  EXPECT_NEAR(axisAngle(0.5), 60, 1e-12);
  EXPECT_DOUBLE_EQ(axisAngle(1.5), 0);  // held at the end of the range
  EXPECT_EQ(circleLabel(0.5), "   25%");
  EXPECT_EQ(circleLabel(1), "  100%");
  EXPECT_EQ(circleLabel(0.3), "    9%");
}

}  // namespace
}  // namespace zulfact
