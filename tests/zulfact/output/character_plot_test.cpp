// Character plots laid out by hand from the grid rules (no host).
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "zulfact/output/character_plot.hpp"

namespace zulfact {
namespace {

std::string repeat(char c, int n) { return std::string(static_cast<size_t>(n), c); }

TEST(PatternGrid, RowsAndColumnsOfLoadings) {
  struct Case {
    double loading;
    int row, column;
  };
  const Case cases[] = {
      {1.0, 0, 63},   {0.0, 20, 33},  {-1.0, 40, 3},   {0.98, 0, 62},
      {0.97, 1, 62},  {0.9, 2, 60},   {-0.1, 22, 30},  {-0.02, 20, 32},
      {1.5, 0, 64},   {-2.0, 40, 1},  {0.024, 20, 33}, {0.026, 19, 33},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(patternRow(c.loading), c.row) << c.loading;
    EXPECT_EQ(patternColumn(c.loading), c.column) << c.loading;
  }
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(patternRow(nan), 0);
  EXPECT_EQ(patternColumn(nan), 1);
}

// The rows of 1 and 0, the axes and the scale of these two points are the
// first page of the charplots program; here the lines it does not show.
TEST(PatternGrid, LoadingOfOneAndZeroWithAxesAndScales) {
  const std::vector<std::string> lines =
      patternPlotLines({{1.0, 1.0, "A"}, {0.0, 0.0, "B"}}, "Factor1", "Factor2");
  ASSERT_EQ(lines.size(), 43u);  // name, 41 rows, scale
  // The vertical axis is column 33, the 37th character of a line.
  EXPECT_EQ(lines[0], repeat(' ', 33) + "Factor1");
  EXPECT_EQ(lines[2], "    " + repeat(' ', 32) + "|");
  EXPECT_EQ(lines[3], " .9 " + repeat(' ', 32) + "|");
  EXPECT_EQ(lines[23], "-.1 " + repeat(' ', 32) + "|");
}

TEST(PatternGrid, ASharedCellKeepsTheFirstSymbol) {
  // 27 variables in one cell: the letters run A to Z and A again; the cell
  // shows the first one and no other letter appears.
  std::vector<PlotPoint> points;
  for (int i = 0; i < 27; ++i) points.push_back({-0.5, 0.5, patternSymbol(i, "", 0)});
  EXPECT_EQ(points[25].symbol, "Z");
  EXPECT_EQ(points[26].symbol, "A");
  std::vector<std::string> lines = patternPlotLines(points, "", "");
  EXPECT_EQ(lines[1 + 10], " .5 " + repeat(' ', 17) + "A" + repeat(' ', 14) + "|");
  std::string all;
  for (const std::string& l : lines) all += l;
  EXPECT_EQ(all.find_first_of("BCDEFGHIJKLMNOPQRSTUVWXYZ"), std::string::npos);
  // A later letter never replaces an earlier one.
  lines = patternPlotLines({{0.3, 0.3, "C"}, {0.3, 0.3, "D"}}, "", "");
  EXPECT_NE(lines[1 + 14].find('C'), std::string::npos);
  EXPECT_EQ(lines[1 + 14].find('D'), std::string::npos);
}

TEST(PatternGrid, NamesAreCentredInsideTheGridAndNeverOverwritten) {
  EXPECT_EQ(patternSymbol(0, "Income", 3), "Inc");
  EXPECT_EQ(patternSymbol(27, "Income", 0), "B");
  // "Income" centred on column 63 would leave the grid: it ends in column 64.
  std::vector<std::string> lines = patternPlotLines(
      {{1.0, 0.5, "Income"}, {-2.0, 0.5, "Age"}, {0.0, 0.5, "Height"}, {0.1, 0.5, "Weight"}}, "", "");
  const std::string row10 = lines[1 + 10];
  EXPECT_EQ(row10.substr(4, 3), "Age");
  EXPECT_EQ(row10.substr(4 + 58, 6), "Income");
  // Height centred on column 33 covers 31..36; Weight (column 36) finds its
  // own cell taken and shares it.
  EXPECT_EQ(row10.substr(4 + 30, 6), "Height");
  EXPECT_EQ(row10.find('W'), std::string::npos);
  // A name whose own cell is free fills the free cells of its span only:
  // "abcd" holds 32..35, so "wxyz" (column 36) keeps its "xyz".
  lines = patternPlotLines({{0.0, 0.5, "abcd"}, {0.1, 0.5, "wxyz"}}, "", "");
  EXPECT_EQ(lines[1 + 10].substr(4 + 31), "abcdxyz");
  // Names in any script are cut and placed by whole characters (an accent
  // stays with its letter): no byte of a character is ever split off.
  EXPECT_EQ(patternSymbol(0, "\u4e2d\u6587\u540d\u5b57", 3), "\u4e2d\u6587\u540d");
  EXPECT_EQ(patternSymbol(0, "cafe\u0301s", 4), "cafe\u0301");
  lines = patternPlotLines({{0.0, 0.5, "na\u00efve"}, {0.1, 0.5, "\u20ac\u20acxy"}}, "", "");
  EXPECT_EQ(lines[1 + 10].substr(4 + 30), "na\u00efve\u20acxy");
  // A CJK character takes two columns, so what follows on its row keeps its
  // place: "\u4e2d\u6587" (4 columns) centred on column 33 holds 32..35.
  lines = patternPlotLines({{0.0, 0.5, "\u4e2d\u6587"}, {0.5, 0.5, "Z"}}, "", "");
  EXPECT_EQ(lines[1 + 10].substr(4 + 31), "\u4e2d\u6587" + repeat(' ', 12) + "Z");
}

TEST(PatternLegend, EntriesOfFourteenCharactersAsManyAsFit) {
  const std::vector<std::string> symbols{"A", "B", "C", "D"};
  const std::vector<std::string> names{"x1", "x2", "AVeryLongName", "x4"};
  const std::vector<std::string> lines = legendLines(symbols, names, 42);
  ASSERT_EQ(lines.size(), 2u);
  // "C=AVeryLongName" takes two entries: it does not fit beside A and B.
  EXPECT_EQ(lines[0], "A=x1" + repeat(' ', 10) + "B=x2");
  EXPECT_EQ(lines[1], "C=AVeryLongName" + repeat(' ', 13) + "D=x4");
  EXPECT_EQ(legendLines(symbols, names, 1).size(), 4u);  // one entry a line at least
  // Entries are measured in terminal columns: "é=café" takes 6 of its 14,
  EXPECT_EQ(legendLines({"\u00e9", "B"}, {"caf\u00e9", "x2"}, 42)[0],
            "\u00e9=caf\u00e9" + repeat(' ', 8) + "B=x2");
  // "\u65e5=\u65e5\u672c" takes 7 (a CJK character two).
  EXPECT_EQ(legendLines({"\u65e5", "B"}, {"\u65e5\u672c", "x2"}, 42)[0],
            "\u65e5=\u65e5\u672c" + repeat(' ', 7) + "B=x2");
}

TEST(ScreePlot, HandLaidOutEigenvalues) {
  const double values[] = {3.0, 1.5, 0.5, 0.0};
  const std::vector<std::string> lines = screePlotLines(values, 4, 1, "Eigenvalue", "Number");
  ASSERT_EQ(lines.size(), 25u);  // label, 21 rows, axis, numbers, label
  EXPECT_EQ(lines[0], "Eigenvalue");
  // Five columns apart; rows round((3 - v) / 3 * 20): 0, 10, 17, 20.
  EXPECT_EQ(lines[1], "         3 |1");
  EXPECT_EQ(lines[2], repeat(' ', 11) + "|");
  EXPECT_EQ(lines[6], "      2.25 |");
  EXPECT_EQ(lines[11], "       1.5 |     2");
  EXPECT_EQ(lines[18], repeat(' ', 11) + "|" + repeat(' ', 10) + "3");
  EXPECT_EQ(lines[21], "         0 |" + repeat(' ', 15) + "4");
  EXPECT_EQ(lines[22], repeat(' ', 11) + "+" + repeat('-', 16));
  EXPECT_EQ(lines[23], repeat(' ', 12) + "1    2    3    4");
  EXPECT_EQ(lines[24], repeat(' ', 17) + "Number");
}

TEST(ScreePlot, NegativeValuesManyNumbersAndPlotsThatCannotBeSetUp) {
  // The bottom is the smallest value below 0; numbers from 11 drawn with
  // their last digit.
  const double negative[] = {2.0, -2.0};
  std::vector<std::string> lines = screePlotLines(negative, 2, 11, "", "");
  EXPECT_EQ(lines[1], "         2 |1");
  EXPECT_EQ(lines[11], "         0 |");
  EXPECT_EQ(lines[21], "        -2 |     2");
  // 100 numbers squeezed into 61 columns: the first in a column stays.
  std::vector<double> many(100);
  for (int i = 0; i < 100; ++i) many[size_t(i)] = 100.0 - i;
  lines = screePlotLines(many.data(), 100, 1, "", "");
  EXPECT_EQ(lines[22], repeat(' ', 11) + "+" + repeat('-', 61));
  EXPECT_EQ(lines[1], "       100 |12");
  // Nothing to plot, no vertical range, a value that is not a number.
  const double flat[] = {0.0, 0.0};
  const double broken[] = {2.0, std::numeric_limits<double>::quiet_NaN()};
  EXPECT_TRUE(screePlotLines(negative, 0, 1, "", "").empty());
  EXPECT_TRUE(screePlotLines(flat, 2, 1, "", "").empty());
  EXPECT_TRUE(screePlotLines(broken, 2, 1, "", "").empty());
}

}  // namespace
}  // namespace zulfact
