// The path diagram: factors (ovals) with one-headed arrows to the
// variables (rectangles) they load on, two-headed arcs for the
// correlations of factors and small two-headed loops for variances, each
// path labelled with its estimate. Three arrangements (src/README.md,
// "Path diagrams"): flow, grouped flow and grip.
#include <algorithm>
#include <cmath>
#include <map>

#include <fmt/format.h>

#include "zul/output/svg_graphs.hpp"
#include "zul/output/svg_path_layout.hpp"
#include "zul/output/svg_writer.hpp"

namespace zul::output {

namespace {

using namespace pathdiagram;

constexpr double kHeadingFontSize = 14;  // the size .title gives

int column(const Item& t, std::string_view name) {
  for (size_t j = 0; j < t.columns.size(); ++j)
    if (t.columns[j].name == name) return static_cast<int>(j);
  return -1;
}

// A cell as text: a number in its shortest form, a text without the
// blanks that pad it; "" when missing or when the column is absent.
std::string cellText(const std::vector<Value>& row, int j) {
  if (j < 0) return {};
  const Value& v = row[static_cast<size_t>(j)];
  if (v.isNumber()) return fmt::format("{}", v.number);
  if (!v.isText()) return {};
  const size_t a = v.text.find_first_not_of(' '), b = v.text.find_last_not_of(' ');
  return a == std::string::npos ? std::string() : v.text.substr(a, b - a + 1);
}

double cellNumber(const std::vector<Value>& row, int j, double fallback) {
  if (j < 0 || !row[static_cast<size_t>(j)].isNumber()) return fallback;
  return row[static_cast<size_t>(j)].number;
}

struct Columns {
  int nodeId, varLabel, nodeLabel, shape, size, linkId, from, to, dir, label, val, se;
  explicit Columns(const Item& t)
      : nodeId(column(t, "NodeId")), varLabel(column(t, "VarLabel")),
        nodeLabel(column(t, "NodeLabel")), shape(column(t, "NodeShape")),
        size(column(t, "NodeSize")), linkId(column(t, "LinkId")), from(column(t, "FromId")),
        to(column(t, "ToId")), dir(column(t, "LinkDir")), label(column(t, "LinkLabel")),
        val(column(t, "PathVal")), se(column(t, "PathSe")) {}
};

}  // namespace

namespace pathdiagram {

Diagram readDiagram(const Item& data) {
  const Columns c(data);
  Diagram d;
  std::map<std::string, int> index;
  for (const auto& row : data.rows) {
    const std::string id = cellText(row, c.nodeId);
    if (id.empty() || index.count(id)) continue;
    Node n;
    n.name = cellText(row, c.varLabel);
    n.label = cellText(row, c.nodeLabel);
    if (n.label.empty()) n.label = n.name.empty() ? id : n.name;
    if (n.name.empty()) n.name = n.label;
    n.factor = cellText(row, c.shape) == "oval";
    n.size = cellNumber(row, c.size, n.factor ? 1.5 : 1);
    index[id] = static_cast<int>(d.nodes.size());
    d.nodes.push_back(std::move(n));
  }
  for (const auto& row : data.rows) {
    if (cellText(row, c.linkId).empty()) continue;
    const auto a = index.find(cellText(row, c.from)), b = index.find(cellText(row, c.to));
    if (a == index.end() || b == index.end()) continue;
    Link l;
    l.from = a->second;
    l.to = b->second;
    l.both = cellText(row, c.dir) == "Both";
    l.label = cellText(row, c.label);
    l.value = cellNumber(row, c.val, 0);
    // (a standard error of -1: no interval could be formed, so no test)
    l.tested = cellNumber(row, c.se, -1) >= 0;
    l.significant = !l.label.empty() && l.label.back() == '*';
    d.links.push_back(std::move(l));
  }
  return d;
}

}  // namespace pathdiagram

namespace {

std::string textValue(const Item& g, std::string_view name) {
  const Value* v = g.value(name);
  return v && v->isText() ? v->text : std::string();
}

double numberValue(const Item& g, std::string_view name, double fallback) {
  const Value* v = g.value(name);
  return v && v->isNumber() && std::isfinite(v->number) ? v->number : fallback;
}

// DIAGRAMSCALE= (0 to 6) zooms the drawing; anything else (the module's
// default of 10, or 0) leaves it at its design size.
double zoomOf(double scale) { return scale > 0 && scale <= 6 ? scale : 1; }

Settings readSettings(const Item& g) {
  Settings s;
  s.width = numberValue(g, "_DesignWidth", 0);
  s.height = numberValue(g, "_DesignHeight", 0);
  if (s.width < 200) s.width = 640;
  if (s.height < 150) s.height = 480;
  s.minFont = minimumFont(numberValue(g, "_TextSizeMin", 0));
  s.arrangement = arrangementOf(textValue(g, "_pdalg"));
  s.title = textValue(g, "_TitleText");
  return s;
}

// ---- drawing ----

std::string curve(Point a, Point c, Point b) {
  return fmt::format("M{},{} Q{},{} {},{}", svgNumber(a.x), svgNumber(a.y), svgNumber(c.x),
                     svgNumber(c.y), svgNumber(b.x), svgNumber(b.y));
}

std::string loopPath(const Loop& l) {
  return fmt::format("M{},{} C{},{} {},{} {},{}", svgNumber(l.start.x), svgNumber(l.start.y),
                     svgNumber(l.c1.x), svgNumber(l.c1.y), svgNumber(l.c2.x), svgNumber(l.c2.y),
                     svgNumber(l.end.x), svgNumber(l.end.y));
}

// Only a path with a standard error is marked either way: a fixed value
// (a factor's variance of 1) is drawn plain.
std::string pathClass(const Link& l, const char* kind) {
  std::string cls = std::string("path ") + kind;
  if (l.tested) cls += l.significant ? " sig" : " ns";
  return cls;
}

void drawLabel(SvgWriter& svg, const PlacedLabel& p, const std::string& text) {
  if (text.empty()) return;
  svg.text({p.box.x + p.box.w / 2, p.baseline}, text, Anchor::Middle, "plabel");
}

void drawLinks(SvgWriter& svg, const Diagram& d, const Placement& pl) {
  svg.beginGroup("links");
  for (size_t i = 0; i < d.links.size(); ++i) {
    const Link& l = d.links[i];
    const Route& r = pl.routes[i];
    if (l.from == l.to) {
      svg.path(loopPath(r.loop), pathClass(l, "var"));
      svg.arrowHead(r.loop.start, r.loop.c1, "phead");
      svg.arrowHead(r.loop.end, r.loop.c2, "phead");
    } else if (l.both) {
      svg.path(curve(r.a, r.control, r.b), pathClass(l, "corr"));
      svg.arrowHead(r.a, r.control, "phead");
      svg.arrowHead(r.b, r.control, "phead");
    } else {
      svg.line(r.a, r.b, pathClass(l, "load"));
      svg.arrowHead(r.b, r.a, "phead");
    }
  }
  for (size_t i = 0; i < d.links.size(); ++i) drawLabel(svg, pl.labels[i], d.links[i].label);
  svg.endGroup();
}

void drawNodes(SvgWriter& svg, const Diagram& d) {
  for (const Node& n : d.nodes) {
    if (n.shown != n.label) {
      svg.beginGroup(n.factor ? "factor" : "variable", n.label);
    } else {
      svg.beginGroup(n.factor ? "factor" : "variable");
    }
    if (n.factor) {
      svg.ellipse(n.c, n.hw, n.hh, "node");
    } else {
      svg.rect({n.c.x - n.hw, n.c.y - n.hh}, 2 * n.hw, 2 * n.hh, "node");
    }
    svg.sizedText({n.c.x, n.c.y + 0.35 * n.font}, n.shown, Anchor::Middle, "nodelabel", n.font);
    svg.endGroup();
  }
}

// The key to the line styles, under the diagram, when paths were tested.
void drawKey(SvgWriter& svg, double y) {
  svg.beginGroup("legend");
  svg.line({16, y - 4}, {48, y - 4}, "path load sig");
  svg.text({54, y}, "significant (*)", Anchor::Start, "entry");
  svg.line({180, y - 4}, {212, y - 4}, "path load ns");
  svg.text({218, y}, "not significant", Anchor::Start, "entry");
  svg.endGroup();
}

std::string describe(const Diagram& d, const Settings& s) {
  int factors = 0, loadings = 0, corr = 0;
  for (const Node& n : d.nodes) factors += n.factor ? 1 : 0;
  for (const Link& l : d.links) {
    if (l.from == l.to) continue;
    (l.both ? corr : loadings) += 1;
  }
  std::string text = fmt::format(
      "Path diagram ({} arrangement) of {} and {}: {} drawn as "
      "arrows from factor to variable, {} as two-headed arcs",
      arrangementName(s.arrangement), counted(factors, "factor"),
      counted(static_cast<long long>(d.nodes.size()) - factors, "variable"),
      counted(loadings, "loading"), counted(corr, "factor correlation"));
  if (anyTested(d)) text += "; significant paths are solid, bold and marked *, the others dashed";
  return text + ".";
}

}  // namespace

std::string pathDiagramSvg(const Item& g, bool standalone) {
  const Item* data = g.dataTable("PathDiagramData");
  if (!data) return {};
  Diagram d = readDiagram(*data);
  if (d.nodes.empty()) return {};
  Settings s = readSettings(g);
  const Placement pl = layOut(d, s);
  const std::string title =
      !s.title.empty() ? s.title
                       : !g.titles.empty() ? g.titles.front().text
                                           : (g.label.empty() ? g.name : g.label);
  SvgWriter svg(s.width, s.height, title, describe(d, s));
  svg.setZoom(zoomOf(numberValue(g, "_pdScale", 0)));
  if (!s.title.empty()) {
    // A TITLE= too long for the drawing shrinks, then is shortened: the
    // whole of it stays the drawing's <title>.
    const FittedLabel t = fitLabel(s.title, s.width - 20, kHeadingFontSize, s.minFont);
    svg.sizedText({s.width / 2, 22}, t.text, Anchor::Middle, "title", t.font);
  }
  drawLinks(svg, d, pl);
  drawNodes(svg, d);
  if (anyTested(d)) drawKey(svg, s.height - 10);
  return svg.str(standalone);
}

}  // namespace zul::output
