// What a reader needs to repeat a run and find a table: heading items
// under the table, captions that stay in view, contents by solution.
#include <gtest/gtest.h>

#include <sstream>

#include "zul/output/heading_items.hpp"
#include "zul/output/html_writer.hpp"
#include "zul/output/listing.hpp"

namespace zul::output {
namespace {

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

  Model m;
  m.steps.push_back({"p.zul", 1, 0, true});
  m.items = {t};
  std::ostringstream out;
  writeHtml(m, out, "Report");
  const std::string html = out.str();
  EXPECT_LT(at(html, "</table>"),
            at(html, "<p class=\"footnote\">Simulations = 1000, Seed = 123456789, Alpha = 0.05</p>"));
}

TEST(Html, CaptionsStayOutsideTheScrollingBoxAndEveryTableHasOne) {
  Model m;
  m.steps.push_back({"p.zul", 1, 0, true});
  Item titled = parallelTable();
  Item counts;
  counts.name = counts.label = "NObs";
  m.items = {titled, counts};
  std::ostringstream out;
  writeHtml(m, out, "Report");
  const std::string html = out.str();
  const size_t caption = at(html, "<p class=\"caption\" id=\"t0c\">Parallel Analysis</p>");
  EXPECT_LT(caption, at(html, "<div class=\"scroll\"><table"));
  EXPECT_EQ(html.find("<caption>"), std::string::npos);
  at(html, "<p class=\"caption\" id=\"t1c\">Number of Observations</p>");
  at(html, "overflow-x: auto");
}

TEST(Html, ContentsListTablesUnderTheirSectionHeadings) {
  Model m;
  m.steps.push_back({"p.zul", 1, 0, true});
  m.sections = {{"InitialSolution", "", "Initial Factor Method: Principal Components", -1},
                {"RotatedSolution", "", "Rotation Method: Varimax", -1}};
  Item first, initial, rotated;
  first.name = "NObs";
  initial.name = rotated.name = "VarExplain";
  initial.titles = rotated.titles = {{"", "Variance Explained by Each Factor"}};
  initial.section = 0;
  rotated.section = 1;
  m.items = {first, initial, rotated};
  std::ostringstream out;
  writeHtml(m, out, "Report");
  const std::string html = out.str();
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

}  // namespace
}  // namespace zul::output
