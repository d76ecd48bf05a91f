// The path diagram: what is drawn for each arrangement, and the geometry
// that keeps nodes apart and path labels off the nodes.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "zul/output/svg_graphs.hpp"
#include "zul/output/svg_path_layout.hpp"

namespace zul::output {
namespace {

using namespace pathdiagram;

Column col(std::string name, bool character) {
  Column c;
  c.name = std::move(name);
  c.isCharacter = character;
  return c;
}

Value num(double x) { return Value::of(x); }
Value txt(std::string s) { return Value::of(std::move(s)); }
const Value kNone = Value::missing();

// A diagram as the FACTOR module publishes it: node rows, then link rows
// (loadings above 0.3, factor correlations, variances).
struct Fixture {
  int factors = 2, variables = 6;
  bool tested = false;
  std::string arrangement = "flow";
  std::string longName;  // the first variable's name, when given
};

Item diagram(const Fixture& f) {
  Item t;
  t.name = "PathDiagramData";
  for (const char* c : {"NodeId", "VarLabel", "NodeLabel", "NodeShape", "NodeSize",
                        "NodePriority", "LinkId", "FromId", "ToId", "LinkDir", "LinkLabel",
                        "PathVal", "PathSe", "LinkPriority"}) {
    const std::string n = c;
    t.columns.push_back(col(n, n == "VarLabel" || n == "NodeLabel" || n == "NodeShape" ||
                                   n == "LinkDir" || n == "LinkLabel"));
  }
  const auto node = [&](int id, std::string name, bool factor) {
    t.rows.push_back({num(id), txt(name), txt(name), txt(factor ? "oval" : "rectangle"),
                      num(factor ? 1.5 : 1), num(1), kNone, kNone, kNone, kNone, kNone, kNone,
                      kNone, kNone});
  };
  int link = 0;
  const auto path = [&](int from, int to, bool both, double v, bool sig, bool fixed = false) {
    const std::string label = std::to_string(v).substr(0, 4) + (sig ? "*" : "");
    t.rows.push_back({kNone, kNone, kNone, kNone, kNone, kNone, num(++link), num(from), num(to),
                      txt(both ? "Both" : "Link"), txt(label), num(v),
                      f.tested && !fixed ? num(0.05) : kNone, num(1)});
  };
  for (int k = 1; k <= f.factors; ++k) node(k, "Factor" + std::to_string(k), true);
  for (int v = 1; v <= f.variables; ++v)
    node(100 + v, v == 1 && !f.longName.empty() ? f.longName : "x" + std::to_string(v), false);
  // Variables in turn on each factor, every third one on the next as well.
  for (int v = 1; v <= f.variables; ++v) {
    const int k = (v - 1) % f.factors + 1;
    path(k, 100 + v, false, 0.8, true);
    if (v % 3 == 0) path(k % f.factors + 1, 100 + v, false, 0.4, false);
  }
  for (int k = 2; k <= f.factors; ++k) path(1, k, true, 0.3, false);
  for (int v = 1; v <= f.variables; ++v) path(100 + v, 100 + v, true, 0.36, false);
  path(1, 1, true, 1, false, true);  // a factor's variance, fixed at 1
  Item g;
  g.kind = Item::Kind::Graph;
  g.name = "PathDiagram";
  g.data = {t};
  g.values = {{"_DesignWidth", num(640)},   {"_DesignHeight", num(480)},
              {"_TextSizeMin", num(0.6)},   {"_pdScale", num(1)},
              {"_pdalg", txt(f.arrangement)}, {"_TitleText", txt("Path Diagram")}};
  return g;
}

size_t count(const std::string& s, const std::string& what) {
  size_t n = 0;
  for (size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + 1)) ++n;
  return n;
}

bool apart(const Node& a, const Node& b) {
  return std::fabs(a.c.x - b.c.x) >= a.hw + b.hw || std::fabs(a.c.y - b.c.y) >= a.hh + b.hh;
}

// The fixture read and laid out as the drawing does it.
struct Laid {
  Diagram d;
  Settings s;
  Placement p;
};

Laid laidOut(const Fixture& f) {
  Laid l;
  l.d = readDiagram(diagram(f).data.front());
  l.s.arrangement = arrangementOf(f.arrangement);
  l.s.title = "Path Diagram";
  l.p = layOut(l.d, l.s);
  return l;
}

// Every node, path head and label drawn; nodes apart, labels off the
// nodes, all inside the drawing; for each arrangement, small and large.
TEST(PathDiagram, EachArrangementDrawsEverythingApartAndInside) {
  for (const char* alg : {"flow", "groupedflow", "grip"}) {
    for (int vars : {5, 30}) {
      Fixture f;
      f.arrangement = alg;
      f.variables = vars;
      f.factors = 4;
      SCOPED_TRACE(std::string(alg) + " " + std::to_string(vars));
      const std::string svg = graphSvg(diagram(f), true);
      const size_t cross = vars / 3, corr = 3, variances = vars + 1;
      EXPECT_EQ(count(svg, "<ellipse class=\"node\""), 4u);
      EXPECT_EQ(count(svg, "<rect class=\"node\""), size_t(vars));
      EXPECT_EQ(count(svg, "class=\"phead\""), vars + cross + 2 * (corr + variances));
      EXPECT_EQ(count(svg, "class=\"plabel\""), vars + cross + corr + variances);
      EXPECT_EQ(count(svg, "<path class=\"path corr\""), corr);
      EXPECT_EQ(count(svg, "<path class=\"path var\""), variances);
      EXPECT_EQ(count(svg, "<title>"), 1u);  // every label fits whole
      EXPECT_NE(svg.find("<desc>Path diagram ("), std::string::npos);
      const Laid l = laidOut(f);
      for (size_t i = 0; i < l.d.nodes.size(); ++i) {
        const Node& a = l.d.nodes[i];
        EXPECT_GE(a.c.x - a.hw, 0);
        EXPECT_LE(a.c.x + a.hw, l.s.width);
        EXPECT_GE(a.c.y - a.hh, 0);
        EXPECT_LE(a.c.y + a.hh, l.s.height);
        for (size_t j = i + 1; j < l.d.nodes.size(); ++j) EXPECT_TRUE(apart(a, l.d.nodes[j])) << i << " " << j;
      }
      for (const PlacedLabel& p : l.p.labels) {
        EXPECT_GE(p.box.x, 0);
        EXPECT_LE(p.box.x + p.box.w, l.s.width);
        for (const Node& n : l.d.nodes) {
          const bool off = p.box.x + p.box.w <= n.c.x - n.hw || p.box.x >= n.c.x + n.hw ||
                           p.box.y + p.box.h <= n.c.y - n.hh || p.box.y >= n.c.y + n.hh;
          EXPECT_TRUE(off) << n.label;
        }
      }
    }
  }
}

TEST(PathDiagram, ArrangementsPlaceFactorsAsNamed) {
  Fixture f;
  f.factors = 3;
  f.variables = 9;
  const auto factorsAndVariables = [](const Laid& l, auto check) {
    for (const Node& a : l.d.nodes)
      for (const Node& b : l.d.nodes)
        if (a.factor && !b.factor) check(a, b);
  };
  f.arrangement = "flow";
  factorsAndVariables(laidOut(f), [](const Node& a, const Node& b) { EXPECT_LT(a.c.x, b.c.x); });
  // Variables ordered by the factor they load on most: x1, x4, x7 first.
  const Laid flow = laidOut(f);
  EXPECT_LT(flow.d.nodes[3 + 6].c.y, flow.d.nodes[3 + 1].c.y);
  f.arrangement = "grip";
  const Laid grip = laidOut(f);
  factorsAndVariables(grip, [](const Node& a, const Node& b) { EXPECT_NE(a.c.y, b.c.y); });
  EXPECT_EQ(grip.d.nodes[0].c.y, grip.d.nodes[2].c.y);  // one row of factors
  f.arrangement = "groupedflow";
  const Laid grouped = laidOut(f);
  // Factor 1 beside its own variables x1, x4, x7 (nodes 3, 6, 9).
  EXPECT_NEAR(grouped.d.nodes[0].c.y, (grouped.d.nodes[3].c.y + grouped.d.nodes[9].c.y) / 2, 1e-9);
}

TEST(PathDiagram, SignificantPathsAreBoldAndTheOthersDashed) {
  Fixture f;
  f.tested = true;
  const std::string svg = graphSvg(diagram(f), false);
  EXPECT_EQ(count(svg, "<line class=\"path load sig\""), 6u + 1);  // one more in the key
  EXPECT_EQ(count(svg, "<line class=\"path load ns\""), 2u + 1);
  EXPECT_NE(svg.find(">0.80*</text>"), std::string::npos);  // the mark kept
  EXPECT_EQ(count(svg, "<path class=\"path var\""), 1u);  // fixed, so neither
  f.tested = false;
  EXPECT_EQ(count(graphSvg(diagram(f), false), " sig\""), 0u);  // untested: all plain
}

TEST(PathDiagram, LongLabelsShrinkThenShortenWithTheWholeNameInATooltip) {
  const FittedLabel same = fitLabel("x1", 60, 12, 7);
  EXPECT_EQ(same.text, "x1");
  EXPECT_EQ(same.font, 12);
  const FittedLabel smaller = fitLabel("abcdefghij", labelWidth("abcdefghij", 9), 12, 7);
  EXPECT_EQ(smaller.text, "abcdefghij");
  EXPECT_NEAR(smaller.font, 9, 1e-9);
  const FittedLabel cut = fitLabel("\u00e9tude de la population active", 60, 12, 7);
  EXPECT_EQ(cut.font, 7);
  EXPECT_LE(labelWidth(cut.text, 7), 60);
  EXPECT_EQ(cut.text.substr(cut.text.size() - 3), "\u2026");
  EXPECT_EQ(cut.text.rfind("\u00e9", 0), 0u);  // not cut inside a character
  Fixture f;
  f.longName = "Percentage of the population employed in professional services";
  const std::string svg = graphSvg(diagram(f), false);
  EXPECT_NE(svg.find("<title>" + f.longName + "</title>"), std::string::npos);
  // A TITLE= wider than the drawing (640 wide) is fitted the same way; the
  // whole stays the drawing's title.
  Item g = diagram(Fixture{});
  const std::string longTitle = "Factors of " + std::string(120, 'w');
  for (auto& [name, v] : g.values)
    if (name == "_TitleText") v = Value::of(longTitle);
  const std::string titled = graphSvg(g, false);
  EXPECT_NE(titled.find("<title>" + longTitle + "</title>"), std::string::npos);
  const size_t at = titled.find("class=\"title\"");
  ASSERT_NE(at, std::string::npos);
  const size_t begin = titled.find('>', at) + 1;
  const std::string shown = titled.substr(begin, titled.find("</text>", begin) - begin);
  EXPECT_EQ(shown.rfind("Factors of w", 0), 0u);
  EXPECT_LE(labelWidth(shown, 7), 620);
}

TEST(PathDiagram, SettingsReadAsDocumented) {
  EXPECT_EQ(minimumFont(0.5), 6);
  EXPECT_EQ(minimumFont(0.1), 4);
  EXPECT_EQ(minimumFont(4), 12);
  EXPECT_EQ(minimumFont(0), 7);
  EXPECT_EQ(arrangementOf("grip"), Arrangement::Grip);
  EXPECT_EQ(arrangementOf("unknown"), Arrangement::Flow);
  // The smallest diagrams still draw (one factor, one variable), an empty one not.
  for (const char* alg : {"flow", "groupedflow", "grip"}) {
    Fixture one;
    one.factors = one.variables = 1;
    one.arrangement = alg;
    const std::string svg = graphSvg(diagram(one), true);
    EXPECT_EQ(count(svg, "class=\"node\""), 2u) << alg;
    EXPECT_NE(svg.find("of 1 factor and 1 variable: 1 loading drawn"), std::string::npos) << alg;
  }
  Item empty = diagram(Fixture{});
  empty.data.front().rows.clear();
  EXPECT_EQ(graphSvg(empty, false), "");
  // A link to a node that is not in the table is left out, not drawn to nowhere.
  Item g = diagram(Fixture{});
  Item& t = g.data.front();
  t.rows.push_back(t.rows.back());
  t.rows.back()[8] = num(999);
  EXPECT_EQ(count(graphSvg(g, false), "class=\"plabel\""), 6u + 2 + 1 + 6 + 1);
}

}  // namespace
}  // namespace zul::output
