#include "zul/output/svg_graphs.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include <fmt/format.h>

#include "zul/output/svg_chart.hpp"

namespace zul::output {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

int columnIndex(const Item& t, std::string_view name) {
  for (size_t j = 0; j < t.columns.size(); ++j)
    if (t.columns[j].name == name) return static_cast<int>(j);
  return -1;
}

// A numeric column's values, NaN where missing; empty when absent.
std::vector<double> numbers(const Item& t, std::string_view name) {
  std::vector<double> v;
  const int j = columnIndex(t, name);
  if (j < 0) return v;
  for (const auto& row : t.rows) {
    const Value& c = row[static_cast<size_t>(j)];
    v.push_back(c.isNumber() ? c.number : kNaN);
  }
  return v;
}

std::string columnLabel(const Item& t, std::string_view name) {
  const int j = columnIndex(t, name);
  if (j < 0) return std::string(name);
  const Column& c = t.columns[static_cast<size_t>(j)];
  return c.label.empty() ? c.name : c.label;
}

double number(const Item& g, std::string_view name, double fallback) {
  const Value* v = g.value(name);
  return v && v->isNumber() ? v->number : fallback;
}

std::string titleOf(const Item& g) {
  return g.titles.empty() ? (g.label.empty() ? g.name : g.label) : g.titles.front().text;
}

void range(const std::vector<double>& v, double& lo, double& hi) {
  for (double x : v)
    if (std::isfinite(x)) lo = std::min(lo, x), hi = std::max(hi, x);
}

std::vector<Point> pointsOf(const std::vector<double>& x, const std::vector<double>& y) {
  std::vector<Point> p;
  for (size_t i = 0; i < x.size() && i < y.size(); ++i) p.push_back({x[i], y[i]});
  return p;
}

const Series kFirst{"", "s1", "circle"};
const Series kSecond{"", "s2", "square"};
const Series kThird{"", "s3", "triangle"};

Series named(Series s, std::string label) {
  s.label = std::move(label);
  return s;
}

// The x axis from the first to the last number; a data table that came
// without its number column draws an empty frame rather than reading
// past an empty vector.
void setRangesAlong(Chart& c, const std::vector<double>& x, double lo, double hi) {
  c.setRanges(x.empty() ? 0.0 : x.front(), x.empty() ? 1.0 : x.back(), lo, hi, true);
}

// ---- scree and variance explained ----

void screeChart(SvgWriter& svg, Box box, const Item& data, const std::string& title) {
  const std::vector<double> n = numbers(data, "Number"), e = numbers(data, "Eigenvalue");
  double lo = 0, hi = 0;
  range(e, lo, hi);
  Chart c(svg, box, title, 0);
  setRangesAlong(c, n, lo, hi);
  c.drawFrame(columnLabel(data, "Number"), columnLabel(data, "Eigenvalue"));
  c.drawSeries(pointsOf(n, e), kFirst);
}

void varianceChart(SvgWriter& svg, Box box, const Item& data, const std::string& title) {
  const std::vector<double> n = numbers(data, "Number");
  const std::vector<double> p = numbers(data, "Proportion"), q = numbers(data, "Cumulative");
  double lo = 0, hi = 1;
  range(p, lo, hi);
  range(q, lo, hi);
  Chart c(svg, box, title, 2);
  setRangesAlong(c, n, lo, hi);
  c.drawFrame(columnLabel(data, "Number"), columnLabel(data, "Proportion"));
  const Series a = named(kFirst, columnLabel(data, "Proportion"));
  const Series b = named(kSecond, columnLabel(data, "Cumulative"));
  c.drawSeries(pointsOf(n, p), a);
  c.drawSeries(pointsOf(n, q), b);
  c.drawLegend({a, b});
}

std::string screeSvg(const Item& g, bool standalone) {
  const Item* data = g.dataTable("ScreePlotData");
  if (!data || data->rows.empty()) return {};
  const bool panel = g.templatePath.size() > 0 && g.templatePath.back() == '2';
  const bool variance = g.name == "VariancePlot";
  const std::string desc = fmt::format(
      "{} by number; {} retained.",
      counted(static_cast<long long>(data->rows.size()), "eigenvalue"),
      counted(static_cast<long long>(number(g, "NFactors", 0)), "factor"));
  if (!panel) {
    SvgWriter svg(480, variance ? 396 : 360, titleOf(g), desc);
    if (variance) {
      varianceChart(svg, {0, 0, 480, 396}, *data, titleOf(g));
    } else {
      screeChart(svg, {0, 0, 480, 360}, *data, titleOf(g));
    }
    return svg.str(standalone);
  }
  // The panel: one title over both plots.
  SvgWriter svg(900, 416, titleOf(g), desc);
  svg.text({450, 20}, titleOf(g), Anchor::Middle, "title");
  screeChart(svg, {0, 20, 450, 360}, *data, "");
  varianceChart(svg, {450, 20, 450, 396}, *data, "");
  return svg.str(standalone);
}

// ---- parallel analysis and MAP ----

std::string parallelSvg(const Item& g, bool standalone) {
  const Item* data = g.dataTable("ParallelPlotData");
  if (!data || data->rows.empty()) return {};
  const std::vector<double> n = numbers(*data, "Number");
  std::vector<Series> series;
  double lo = 0, hi = 0;
  SvgWriter svg(520, 436, titleOf(g),
                fmt::format("Observed, mean and critical simulated eigenvalues of {} "
                            "by number; {} retained.",
                            counted(static_cast<long long>(number(g, "NSims", 0)), "simulation"),
                            counted(static_cast<long long>(number(g, "NFactors", 0)), "factor")));
  const char* names[3] = {"Eigenvalue", "AveEigPA", "CritEigPA"};
  const Series styles[3] = {kFirst, kSecond, kThird};
  for (const char* name : names) range(numbers(*data, name), lo, hi);
  Chart c(svg, {0, 0, 520, 436}, titleOf(g), 3);
  setRangesAlong(c, n, lo, hi);
  c.drawFrame(columnLabel(*data, "Number"), columnLabel(*data, "Eigenvalue"));
  for (int k = 0; k < 3; ++k) {
    series.push_back(named(styles[k], columnLabel(*data, names[k])));
    c.drawSeries(pointsOf(n, numbers(*data, names[k])), series.back());
  }
  c.drawLegend(series);
  return svg.str(standalone);
}

std::string mapSvg(const Item& g, bool standalone) {
  const Item* data = g.dataTable("MAPPlotData");
  if (!data || data->rows.empty()) return {};
  const std::vector<double> n = numbers(*data, "NComp");
  SvgWriter svg(520, 418, titleOf(g),
                "Average partial correlations by the number of components removed; the "
                "minimum of each is ringed.");
  double lo = 0, hi = 0;
  const char* names[2] = {"AveParCor2", "AveParCor4"};
  const char* minima[2] = {"Minimum2", "Minimum4"};
  for (const char* name : names) range(numbers(*data, name), lo, hi);
  Chart c(svg, {0, 0, 520, 418}, titleOf(g), 2);
  setRangesAlong(c, n, lo, hi);
  c.drawFrame(columnLabel(*data, "NComp"), "");
  std::vector<Series> series;
  for (int k = 0; k < 2; ++k) {
    const std::vector<double> v = numbers(*data, names[k]);
    if (v.empty()) continue;
    series.push_back(named(k == 0 ? kFirst : kSecond, columnLabel(*data, names[k])));
    c.drawSeries(pointsOf(n, v), series.back());
    const double m = number(g, minima[k], kNaN);
    for (size_t i = 0; i < n.size(); ++i)
      if (n[i] == m && std::isfinite(v[i])) svg.circle(c.at({n[i], v[i]}), 9, "mark");
  }
  c.drawLegend(series);
  return svg.str(standalone);
}

}  // namespace

std::string graphSvg(const Item& graph, bool standalone) {
  if (graph.kind != Item::Kind::Graph) return {};
  if (graph.name == "ScreePlot" || graph.name == "VariancePlot") return screeSvg(graph, standalone);
  if (graph.name == "ParallelPlot") return parallelSvg(graph, standalone);
  if (graph.name == "MAPPlot" || graph.name == "MAP2Plot" || graph.name == "MAP4Plot")
    return mapSvg(graph, standalone);
  if (graph.dataTable("Pattern")) return loadingsSvg(graph, standalone);
  if (graph.dataTable("PathDiagramData")) return pathDiagramSvg(graph, standalone);
  return {};
}

}  // namespace zul::output
