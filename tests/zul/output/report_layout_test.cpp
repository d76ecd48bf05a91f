// What a reader needs to repeat a run and find a table: heading items
// under the table, captions that stay in view, contents by solution.
#include <gtest/gtest.h>

#include <sstream>

#include "helpers.hpp"
#include "zul/output/heading_items.hpp"
#include "zul/output/listing.hpp"
#include "zul/output/listing_panels.hpp"
#include "kernels/text_width.hpp"

namespace zul::output {
namespace {

using testing::htmlOf;

Item parallelTable() {
  Item t;
  t.name = "ParallelAnalysis";
  t.titles = {{"", "Parallel Analysis"}};
  t.footnotes = {"Retained = 1 marks the leading factors."};
  Column c;
  c.name = "Number";
  c.format = "8.0";
  t.columns = {c};
  t.rows = {{Value::of(1)}};
  t.values = {{"NSims", Value::of(1000)},
              {"Seed", Value::of(123456789)},
              {"Alpha", Value::of(std::string("Alpha = 0.05"))},
              {"Foot0", Value::of(1)},
              {"_OverallMSA", Value::of(0.5)}};
  return t;
}

size_t at(const std::string& text, const std::string& what) {
  size_t p = text.find(what);
  EXPECT_NE(p, std::string::npos) << what << " not in\n" << text;
  return p;
}

// Table of cases: which values become the line, and how they read.
TEST(HeadingItems, ShownOnceAndOnlyWhatAReaderUses) {
  Item t = parallelTable();
  EXPECT_EQ(headingItemsLine(t), "Simulations = 1000, Seed = 123456789, Alpha = 0.05");
  t.titles.push_back({"", "Seed = 123456789"});  // a title already says it
  EXPECT_EQ(headingItemsLine(t), "Simulations = 1000, Alpha = 0.05");
  Item plain;
  plain.values = {{"Foot1", Value::of(0)}, {"_x", Value::of(1)}};
  EXPECT_EQ(headingItemsLine(plain), "");
  EXPECT_TRUE(footnoteLines(plain).empty());
}

TEST(HeadingItems, ListingAndReportShowThemUnderTheTable) {
  Item t = parallelTable();
  const std::string listing = renderTable(t, 80);
  EXPECT_LT(at(listing, "Retained = 1 marks"), at(listing, "Seed = 123456789"));
  const std::string html = htmlOf({t});
  EXPECT_LT(at(html, "</table>"),
            at(html, "<p class=\"footnote\">Simulations = 1000, Seed = 123456789, Alpha = 0.05</p>"));
}

TEST(Html, CaptionsStayOutsideTheScrollingBoxAndEveryTableHasOne) {
  Item counts;
  counts.name = counts.label = "NObs";
  const std::string html = htmlOf({parallelTable(), counts});
  const size_t caption = at(html, "<p class=\"caption\" id=\"t0c\">Parallel Analysis</p>");
  EXPECT_LT(caption, at(html, "<div class=\"scroll\"><table"));
  EXPECT_EQ(html.find("<caption>"), std::string::npos);
  at(html, "<p class=\"caption\" id=\"t1c\">Number of Observations</p>");
  at(html, "overflow-x: auto");
}

TEST(Html, ContentsListTablesUnderTheirSectionHeadings) {
  Item first, initial, rotated;
  first.name = "NObs";
  initial.name = rotated.name = "VarExplain";
  initial.titles = rotated.titles = {{"", "Variance Explained by Each Factor"}};
  initial.section = 0;
  rotated.section = 1;
  const std::string html =
      htmlOf({first, initial, rotated},
             {{"InitialSolution", "", "Initial Factor Method: Principal Components", -1},
              {"RotatedSolution", "", "Rotation Method: Varimax", -1}});
  const size_t nav = at(html, "<nav>");
  const size_t obs = at(html, ">Number of Observations</a>");
  const size_t init = at(html, "<li>Initial Factor Method: Principal Components<ol>");
  const size_t rot = at(html, "<li>Rotation Method: Varimax<ol>");
  EXPECT_LT(nav, obs);
  EXPECT_LT(obs, init);
  EXPECT_LT(init, html.find("\">Variance Explained by Each Factor</a>"));
  EXPECT_LT(html.find("\">Variance Explained by Each Factor</a>"), rot);
  EXPECT_LT(rot, html.rfind("\">Variance Explained by Each Factor</a>"));
  EXPECT_LT(html.rfind("\">Variance Explained by Each Factor</a>"), html.find("</nav>"));
}

TEST(Html, ContentsListGraphsUnderTheirSectionsNamedByTheirPair) {
  Item table, plot, path;
  table.name = "VarExplain";
  table.titles = {{"", "Variance Explained by Each Factor"}};
  plot.kind = path.kind = Item::Kind::Graph;
  plot.name = "PatternPlot";
  plot.titles = {{"", "Rotated Factor Pattern"}, {"", "Factor 1 Against Factor 2"}};
  path.name = "PathDiagram";
  path.label = "Path Diagram";
  table.section = plot.section = path.section = 0;
  const std::string html =
      htmlOf({table, plot, path}, {{"RotatedSolution", "", "Rotation Method: Varimax", -1}});
  const size_t rot = at(html, "<li>Rotation Method: Varimax<ol>");
  const size_t entry =
      at(html, "<a href=\"#t1\">Rotated Factor Pattern: Factor 1 Against Factor 2</a>");
  const size_t diagram = at(html, "<a href=\"#t2\">Path Diagram</a>");
  EXPECT_LT(rot, entry);
  EXPECT_LT(entry, diagram);
  EXPECT_LT(diagram, html.find("</nav>"));
  at(html, "<figure class=\"graph\" id=\"t1\"");  // where the entry leads
}

// Table of cases: widths with the 2-blank gap (1 before a flag).
TEST(ListingPanels, ColumnsFillPanelsThatFitTheLine) {
  using Panels = std::vector<std::vector<size_t>>;
  const std::vector<PanelColumn> cols = {{10, false}, {8, false}, {8, false}, {8, false}};
  // 10+2+8+2+8+2+8 = 40 fits 40: one panel.
  EXPECT_EQ(splitIntoPanels(cols, 1, 40, 2, 1), (Panels{{0, 1, 2, 3}}));
  EXPECT_EQ(splitIntoPanels(cols, 1, 0, 2, 1), (Panels{{0, 1, 2, 3}}));
  // 39: the label column starts each panel.
  EXPECT_EQ(splitIntoPanels(cols, 1, 39, 2, 1), (Panels{{0, 1, 2}, {0, 3}}));
  // A column wider than the room still gets a panel of its own.
  EXPECT_EQ(splitIntoPanels(cols, 1, 15, 2, 1), (Panels{{0, 1}, {0, 2}, {0, 3}}));
  // A flag stays with its value: 10+2+8+1+1 = 22, the next pair would pass 30.
  const std::vector<PanelColumn> flagged = {{10, false}, {8, false}, {1, true}, {8, false}, {1, true}};
  EXPECT_EQ(splitIntoPanels(flagged, 1, 30, 2, 1), (Panels{{0, 1, 2}, {0, 3, 4}}));
  // Only labels, nothing to split.
  EXPECT_EQ(splitIntoPanels({{50, false}, {50, false}}, 2, 40, 2, 1), (Panels{{0, 1}}));
}

// At the narrowest LINESIZE= every table fits: a single label column (the
// observation counts), a text column beside a numbered one, numbers under a
// long variable name, and long names beside their labels. What is cut keeps
// the rows apart: names and texts keep their ends.
TEST(ListingPanels, EveryTableFitsTheNarrowestLine) {
  auto text = [](const std::string& name, int width) {
    Column c;
    c.name = name;
    c.isCharacter = true;
    c.width = width;
    c.role = Role::HeaderText;
    return c;
  };
  auto number = [](const std::string& name, const std::string& format) {
    Column c;
    c.name = name;
    c.format = format;
    return c;
  };
  const std::string a = "VeryLongVariableNameNumber01xxxx", b = "VeryLongVariableNameNumber02xxxx";
  Item counts, status, named, labelled;
  counts.columns = {text("", 40), number("N", "12.0")};
  counts.rows = {{Value::of("Number of Observations Read"), Value::of(60)},
                 {Value::of("Number of Observations Used"), Value::of(58)}};
  status.columns = {number("Status", "8.0"), text("Reason", 40)};
  status.rows = {{Value::of(0), Value::of("Convergence criterion satisfied")}};
  named.columns = {number("Iteration", "9.0"), number(a, "10.5")};
  named.rows = {{Value::of(1), Value::of(0.5)}};
  labelled.columns = {text("Variable", 32), text("Label", 80), number(a, "10.5"),
                      number(b, "10.5")};
  labelled.rows = {{Value::of(a), Value::of("How strongly the respondent agrees"), Value::of(1),
                    Value::of(0.5)},
                   {Value::of(b), Value::of("How strongly the respondent agrees"),
                    Value::of(0.5), Value::of(1)}};
  const std::pair<const Item*, std::vector<std::string>> cases[] = {
      {&counts, {"ations Read", "ations Used"}},
      {&status, {"0  Convergence criterion sa"}},
      {&named, {"Iteration  ", "1xxxx"}},
      {&labelled, {"r01xxxx  How str", "r02xxxx  How str", "2xxxx"}}};
  for (const auto& [item, shown] : cases) {
    const std::string listing = renderTable(*item, 40, 40);
    std::istringstream in(listing);
    for (std::string l; std::getline(in, l);) EXPECT_LE(kernels::displayWidth(l), 40) << l;
    for (const std::string& s : shown) EXPECT_NE(listing.find(s), std::string::npos) << listing;
  }
}

TEST(ListingPanels, AWideTableIsSplitWithItsRowLabelsOnEachPanel) {
  Item t;
  t.titles = {{"", "Correlations"}};
  Column label;
  label.name = "Variable";
  label.isCharacter = true;
  label.width = 8;
  label.role = Role::HeaderText;
  t.columns = {label};
  for (int j = 0; j < 10; ++j) {
    Column c;
    c.name = "Question" + std::to_string(j + 1);
    c.format = "12.5";
    t.columns.push_back(c);
  }
  for (int r = 0; r < 3; ++r) {
    std::vector<Value> row = {Value::of("q" + std::to_string(r + 1))};
    for (int j = 0; j < 10; ++j) row.push_back(Value::of(0.5));
    t.rows.push_back(row);
  }
  const std::string text = renderTable(t, 80, 60);
  std::istringstream in(text);
  int headers = 0, q2 = 0, titles = 0;
  std::string allColumns;
  for (std::string l; std::getline(in, l);) {
    EXPECT_LE(l.size(), 60u) << l;
    if (l.find("Question") != std::string::npos) ++headers, allColumns += l + " ";
    if (l.find("q2 ") != std::string::npos) ++q2;
    if (l.find("Correlations") != std::string::npos) ++titles;
  }
  // Labels 2 wide + 10 x (2 + 12) = 142 characters; 2 + 4 x 14 = 58 fit
  // 60: panels of 4, 4 and 2 columns.
  EXPECT_EQ(headers, 3);
  EXPECT_EQ(q2, 3);
  EXPECT_EQ(titles, 1);
  for (int j = 1; j <= 10; ++j)
    EXPECT_NE(allColumns.find("Question" + std::to_string(j) + " "), std::string::npos) << j;
  // Without a limit the table stays whole: one header line.
  const std::string whole = renderTable(t, 80);
  EXPECT_EQ(whole.find('\n', whole.find("Question1 ")), whole.find('\n', whole.find("Question10")));

  // Names with labels too wide for one column beside them at LINESIZE=40:
  // the label is cut (an ellipsis ends it), the name stays whole.
  Item labelled;
  labelled.columns = {t.columns[0], t.columns[0], t.columns[1]};
  labelled.columns[1].name = "Label";
  labelled.rows = {{Value::of("q1"), Value::of("How often do you read a daily newspaper?"),
                    Value::of(0.5)}};
  std::istringstream cut(renderTable(labelled, 40, 40));
  bool shown = false;
  for (std::string l; std::getline(cut, l);) {
    EXPECT_LE(kernels::displayWidth(l), 40) << l;
    shown = shown || l.find("q1  How often do you read\u2026  ") != std::string::npos;
  }
  EXPECT_TRUE(shown);
  // A narrow table is centred, but its footnote keeps within LINESIZE=40.
  Item narrow;
  narrow.columns = {t.columns[0], t.columns[1]};
  narrow.rows = {{Value::of("q1"), Value::of(0.5)}};
  narrow.footnotes = {"Printed values are multiplied by 100 and rounded to the nearest integer."};
  std::istringstream note(renderTable(narrow, 40, 40));
  int noteLines = 0;
  for (std::string l; std::getline(note, l);) {
    EXPECT_LE(kernels::displayWidth(l), 40) << l;
    noteLines += l.find("Printed") != std::string::npos || l.find("integer.") != std::string::npos;
  }
  EXPECT_EQ(noteLines, 2);

  // A table without a text column (the eigenvalues) repeats its first
  // column, which numbers the rows, on each panel.
  t.columns[0] = Column{};
  t.columns[0].name = "Number";
  t.columns[0].format = "6.0";
  for (int r = 0; r < 3; ++r) t.rows[static_cast<size_t>(r)][0] = Value::of(r + 1);
  std::istringstream numbered(renderTable(t, 80, 60));
  int panels = 0, numberHeaders = 0;
  for (std::string l; std::getline(numbered, l);) {
    if (l.find("Question") == std::string::npos) continue;
    ++panels;
    if (l.find("Number") != std::string::npos) ++numberHeaders;
  }
  EXPECT_GT(panels, 1);
  EXPECT_EQ(numberHeaders, panels);
}

}  // namespace
}  // namespace zul::output
