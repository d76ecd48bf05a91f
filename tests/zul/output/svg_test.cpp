// The SVG writer, the chart axes, the loadings geometry and the shading
// of matrices.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>

#include <unistd.h>

#include "zul/output/matrix_shading.hpp"
#include "zul/output/svg_chart.hpp"
#include "zul/output/svg_graphs.hpp"
#include "zul/program/graph_files.hpp"

namespace zul::output {
namespace {

TEST(Svg, TextIsEscapedAndTheStandaloneFileNamesItsNamespace) {
  SvgWriter svg(100, 50, "a <b> & c", "d\"e");
  svg.text({1, 2}, "x<y", Anchor::Start, "tick");
  const std::string inlined = svg.str(false), file = svg.str(true);
  EXPECT_NE(inlined.find("<title>a &lt;b&gt; &amp; c</title>"), std::string::npos);
  EXPECT_NE(inlined.find(">x&lt;y</text>"), std::string::npos);
  EXPECT_EQ(inlined.find("xmlns"), std::string::npos);  // the report names no address
  EXPECT_EQ(file.rfind("<?xml", 0), 0u);
  EXPECT_NE(file.find("xmlns=\"http://www.w3.org/2000/svg\""), std::string::npos);
  EXPECT_EQ(svgNumber(-0.001), "0.00");
  // Noncharacters are no XML characters; U+FFFD and the other text stay.
  EXPECT_EQ(xmlEscape("a\xEF\xBF\xBE\xEF\xBF\xBF\xEF\xBF\xBD&"),
            "a\\uFFFE\\uFFFF\xEF\xBF\xBD&amp;");
}

TEST(Svg, TicksAreRoundAndCoverTheRange) {
  struct Case {
    double lo, hi;
    int max;
    double first, last, step;
  } cases[] = {{0, 3.7, 6, 0, 4, 1}, {-0.23, 0.91, 7, -0.4, 1.0, 0.2}, {0, 0, 5, 0, 1, 0.5}};
  for (const Case& c : cases) {
    double lo = c.lo, hi = c.hi;
    const std::vector<double> t = niceTicks(lo, hi, c.max);
    ASSERT_GE(t.size(), 2u);
    EXPECT_NEAR(t.front(), c.first, 1e-12) << c.lo;
    EXPECT_NEAR(t.back(), c.last, 1e-12) << c.hi;
    EXPECT_NEAR(t[1] - t[0], c.step, 1e-12);
    EXPECT_LE(static_cast<int>(t.size()), c.max + 1);
  }
  EXPECT_EQ(tickLabel(0.6000000001, 0.2), "0.6");
  EXPECT_EQ(tickLabel(-1e-17, 0.2), "0.0");
  EXPECT_EQ(tickLabel(3, 1), "3");
  // Axes of very large or very small values: powers of ten, not 300 digits
  // or ticks that all read 0.000000.
  EXPECT_EQ(tickLabel(1e300, 5e299), "1.0e+300");
  EXPECT_EQ(tickLabel(-5e299, 5e299), "-5e+299");
  EXPECT_EQ(tickLabel(0.0, 5e299), "0");
  EXPECT_EQ(tickLabel(2.5e-8, 5e-9), "2.5e-08");
  EXPECT_EQ(tickLabel(1.5e7, 5e6), "1.5e+07");
  EXPECT_EQ(tickLabel(500000, 100000), "500000");
}

Column named(std::string name, bool character = false) {
  Column c;
  c.name = std::move(name);
  c.isCharacter = character;
  return c;
}

Item loadingsGraph(double angle) {
  Item pattern;
  pattern.name = "Pattern";
  pattern.columns = {named("Variable", true), named("Factor1"), named("Factor2")};
  pattern.rows = {{Value::of(std::string("x1")), Value::of(0.8), Value::of(0.1)},
                  {Value::of(std::string("x2")), Value::of(0.0), Value::of(1.0)}};
  Item g;
  g.kind = Item::Kind::Graph;
  g.name = "RefStructurePlot";
  g.data = {pattern};
  g.values = {{"XVAR", Value::of(std::string("Factor1"))},
              {"YVAR", Value::of(std::string("Factor2"))},
              {"Axis_Ang", Value::of(angle)},
              {"Oblique", Value::of(angle != 90 ? 1.0 : 0.0)},
              {"Radius1", Value::of(0.5)}};
  return g;
}

// The pixel position of the point labelled `name`: the x= and y= of the
// `<text class="small point" ...>name</text>` element.
std::pair<double, double> labelAt(const std::string& svg, const std::string& name) {
  const std::string open = "<text class=\"small point\" x=\"";
  for (size_t at = svg.find(open); at != std::string::npos; at = svg.find(open, at + 1)) {
    const size_t close = svg.find('>', at);
    if (close == std::string::npos || svg.compare(close + 1, name.size() + 7, name + "</text>") != 0)
      continue;
    const size_t x = at + open.size();
    const size_t y = svg.find("y=\"", x);
    if (y == std::string::npos || y > close) continue;
    return {std::stod(svg.substr(x)), std::stod(svg.substr(y + 3))};
  }
  return {std::nan(""), std::nan("")};
}

// A graph's data table without its number column (a module older or newer
// than the host) draws an empty frame; the axis must not read past it.
TEST(Svg, GraphDataWithoutTheirNumberColumnDrawAFrame) {
  const std::pair<const char*, const char*> graphs[] = {
      {"ScreePlot", "ScreePlotData"}, {"VariancePlot", "ScreePlotData"},
      {"ParallelPlot", "ParallelPlotData"}, {"MAPPlot", "MAPPlotData"}};
  for (const auto& [name, table] : graphs) {
    Item data;
    data.name = table;
    Column eigenvalue;
    eigenvalue.name = "Eigenvalue";
    data.columns = {eigenvalue};
    data.rows = {{Value::of(2.0)}, {Value::of(1.0)}};
    Item graph;
    graph.kind = Item::Kind::Graph;
    graph.name = name;
    graph.data = {data};
    EXPECT_NE(graphSvg(graph, true).find("<svg"), std::string::npos) << name;
  }
}

TEST(Svg, ObliqueAxesPlaceAPointOnTheVerticalAxisAtItsAngle) {
  // x2 loads only on the second axis: straight above the origin when the
  // axes are at right angles, leaning right at 60 degrees (cos 60 = 0.5 of
  // its length, the plot's half width being 200 pixels for a range of 1).
  const std::string right = graphSvg(loadingsGraph(90), false);
  const std::string oblique = graphSvg(loadingsGraph(60), false);
  const auto a = labelAt(right, "x2"), b = labelAt(oblique, "x2");
  ASSERT_FALSE(std::isnan(a.first));
  ASSERT_FALSE(std::isnan(b.first));
  EXPECT_NEAR(b.first - a.first, 100, 0.02);
  EXPECT_NEAR(a.second - b.second, 200 * (std::sqrt(3.0) / 2 - 1), 0.02);
  EXPECT_NE(right.find("<circle class=\"ref\""), std::string::npos);
  EXPECT_EQ(graphSvg(Item{}, false), "");  // not a graph this host draws
}

TEST(Svg, LabelsOfNearlyEqualLoadingsGoToDifferentCorners) {
  Item g = loadingsGraph(90);
  Item& pattern = g.data.front();
  pattern.rows = {{Value::of(std::string("HouseValue")), Value::of(0.74), Value::of(-0.58)},
                  {Value::of(std::string("School")), Value::of(0.71), Value::of(-0.56)}};
  const std::string svg = graphSvg(g, false);
  const auto a = labelAt(svg, "HouseValue"), b = labelAt(svg, "School");
  ASSERT_FALSE(std::isnan(a.first));
  ASSERT_FALSE(std::isnan(b.first));
  // The second label moves to the left of its point, anchored at its end.
  EXPECT_NE(svg.find("text-anchor=\"end\">School</text>"), std::string::npos);

  // A name of 32 characters beside a loading near 1 would run past the
  // right edge: it goes to the left of its point, whole.
  const std::string longName(32, 'W');
  pattern.rows = {{Value::of(longName), Value::of(0.95), Value::of(0.2)}};
  const std::string edge = graphSvg(g, false);
  EXPECT_NE(edge.find("text-anchor=\"end\">" + longName + "</text>"), std::string::npos);
}

TEST(Shading, DivergingScaleWhiteAtZeroAndResidualsScaledOffTheDiagonal) {
  EXPECT_EQ(shadeColour(0, 1), "#ffffff");
  EXPECT_EQ(shadeColour(0.5, 1), shadeColour(5, 10));
  EXPECT_NE(shadeColour(0.5, 1), shadeColour(-0.5, 1));
  EXPECT_EQ(shadeColour(3, 1), shadeColour(1, 1));  // held at the darkest
  Item res;
  res.name = "ResCorrUniqueDiag";
  res.columns = {named("Variable", true), named("x1"), named("x2")};
  res.rows = {{Value::of(std::string("x1")), Value::of(0.6), Value::of(-0.04)},
              {Value::of(std::string("x2")), Value::of(-0.04), Value::of(0.5)}};
  EXPECT_DOUBLE_EQ(matrixShading(res).scale, 0.04);
  // With ROUND the shown column holds 100 times the value: the scale is
  // still taken from the exact values.
  Column rounded = named("Rx2");
  rounded.role = Role::RoundFuzzVal;
  Item shown = res;
  shown.columns.push_back(rounded);
  for (auto& row : shown.rows) row.push_back(Value::of(-4.0));
  EXPECT_DOUBLE_EQ(matrixShading(shown).scale, 0.04);
  EXPECT_EQ(matrixShading(res).style(res, 0, 0), "");  // the row label
  Item other = res;
  other.name = "Eigenvalues";
  EXPECT_EQ(matrixShading(other).style(other, 1, 0), "");
}

TEST(GraphFiles, NamesAreNumberedAndCannotLeaveTheDirectory) {
  EXPECT_EQ(program::graphFileName(3, "PatternPlot"), "03-PatternPlot.svg");
  EXPECT_EQ(program::graphFileName(12, "../x/y"), "12-xy.svg");
  EXPECT_EQ(program::graphFileName(1, "/"), "01-graph.svg");
}

TEST(GraphFiles, AGraphFileNeverOverwritesAnInputOfTheRun) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("zul_graph_files_" + std::to_string(::getpid()));
  fs::remove_all(dir);
  ASSERT_EQ(program::prepareGraphDirectory(dir.string()), "");
  const fs::path program = dir / "01-RefStructurePlot.svg";
  std::ofstream(program) << "FACTOR DATA=x; RUN;\n";
  Model model;
  model.items = {loadingsGraph(90), loadingsGraph(60)};
  std::vector<table::Place> inputs = {table::filePlace("program", program)}, outputs;
  const std::vector<std::string> problems =
      program::writeGraphFiles(model, dir.string(), inputs, outputs).problems;
  ASSERT_EQ(problems.size(), 1u);
  std::ifstream in(program);
  std::string first;
  std::getline(in, first);
  EXPECT_EQ(first, "FACTOR DATA=x; RUN;");             // left as it was
  EXPECT_TRUE(fs::exists(dir / "02-RefStructurePlot.svg"));  // the other is written
  EXPECT_EQ(outputs.size(), 1u);
  // A file where the directory should be is refused before the run.
  EXPECT_NE(program::prepareGraphDirectory(program.string()), "");

  // One graph that cannot be written (here a directory holds its name; a
  // full disk alike): none of the run is put in place, so the graphs of
  // two runs are never mixed.
  fs::remove(program);
  std::ofstream(dir / "01-RefStructurePlot.svg") << "earlier run\n";
  fs::remove(dir / "02-RefStructurePlot.svg");
  fs::create_directory(dir / "02-RefStructurePlot.svg");
  outputs.clear();
  EXPECT_EQ(program::writeGraphFiles(model, dir.string(), {}, outputs).problems.size(), 2u);
  std::ifstream earlier(dir / "01-RefStructurePlot.svg");
  std::getline(earlier, first);
  EXPECT_EQ(first, "earlier run");
  size_t files = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir)) ++files;
  EXPECT_EQ(files, 2u);  // no temporary left behind
  fs::remove_all(dir);
}

TEST(GraphFiles, GraphFilesOfAnEarlierRunAreNamedNotRemoved) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("zul_graph_earlier_" + std::to_string(::getpid()));
  fs::remove_all(dir);
  ASSERT_EQ(program::prepareGraphDirectory(dir.string()), "");
  for (const char* name : {"02-RefStructurePlot.svg", "03-ScreePlot.svg", "mine.svg", "1-x.svg", "04-.svg", "05-a.b.svg"})
    std::ofstream(dir / name) << "earlier run\n";
  Model model;
  model.items = {loadingsGraph(90)};
  std::vector<table::Place> outputs;
  const program::GraphFiles written = program::writeGraphFiles(model, dir.string(), {}, outputs);
  EXPECT_TRUE(written.problems.empty());
  EXPECT_EQ(written.earlier, (std::vector<std::string>{"02-RefStructurePlot.svg", "03-ScreePlot.svg"}));
  EXPECT_TRUE(fs::exists(dir / "03-ScreePlot.svg"));
  EXPECT_EQ(program::earlierGraphsWarning("g", written.earlier),
            "The --graphs directory g also holds 2 graph files that this run did not draw "
            "(02-RefStructurePlot.svg, 03-ScreePlot.svg), left by an earlier run; remove them if "
            "they are not wanted beside this run's graphs.");
  fs::remove_all(dir);
}

}  // namespace
}  // namespace zul::output
