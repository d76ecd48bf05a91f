// The loadings graphs: each variable a point (or, with VPLOT, a vector
// from the origin) in the plane of two factors, with the reference
// circles and, for an oblique solution, the vertical axis drawn at its
// angle to the horizontal one.
#include <algorithm>
#include <cmath>

#include <fmt/format.h>

#include "zul/output/svg_chart.hpp"
#include "zul/output/svg_graphs.hpp"

namespace zul::output {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kWidth = 600;
constexpr double kSide = 400;  // the square plot area

struct Plane {
  double left = 80, top = 0, half = kSide / 2, range = 1;
  double cosA = 0, sinA = 1;  // the vertical axis's direction
  // Axis coordinates (a along the horizontal axis, b along the other) to
  // pixels.
  Point at(double a, double b) const {
    const double x = a + b * cosA, y = b * sinA;
    return {left + half + x / range * half, top + half - y / range * half};
  }
};

double value(const Item& g, std::string_view name, double fallback) {
  const Value* v = g.value(name);
  return v && v->isNumber() ? v->number : fallback;
}

std::string text(const Item& g, std::string_view name) {
  const Value* v = g.value(name);
  return v && v->isText() ? v->text : std::string();
}

int column(const Item& t, std::string_view name) {
  for (size_t j = 0; j < t.columns.size(); ++j)
    if (t.columns[j].name == name) return static_cast<int>(j);
  return -1;
}

double cell(const std::vector<Value>& row, int j) {
  return j >= 0 && row[static_cast<size_t>(j)].isNumber() ? row[static_cast<size_t>(j)].number
                                                          : NAN;
}

// The data range: 1, or more when a loading (or its oblique image) lies
// beyond it.
double rangeOf(const Item& pattern, int jx, int jy, const Plane& p) {
  double m = 1;
  for (const auto& row : pattern.rows) {
    const double a = cell(row, jx), b = cell(row, jy);
    if (!std::isfinite(a) || !std::isfinite(b)) continue;
    m = std::max({m, std::fabs(a + b * p.cosA), std::fabs(b * p.sinA)});
  }
  return std::ceil(m * 10 - 1e-9) / 10;
}

void drawAxes(SvgWriter& svg, const Plane& p, const Item& g) {
  svg.rect({p.left, p.top}, 2 * p.half, 2 * p.half, "grid");
  double lo = -p.range, hi = p.range;
  const std::vector<double> ticks = niceTicks(lo, hi, 9);
  const double step = ticks.size() > 1 ? ticks[1] - ticks[0] : 1;
  svg.beginGroup("axis");
  svg.line(p.at(-p.range, 0), p.at(p.range, 0), "");
  const double t = p.range / std::max(std::fabs(p.cosA), std::fabs(p.sinA));
  const double b = std::min(p.range, t);
  svg.line(p.at(0, -b), p.at(0, b), "");
  const double base = p.top + 2 * p.half;
  for (double v : ticks) {
    if (v < -p.range - 1e-9 || v > p.range + 1e-9) continue;
    const double x = p.at(v, 0).x;
    svg.line({x, base}, {x, base + 5}, "");
    svg.text({x, base + 18}, tickLabel(v, step), Anchor::Middle, "tick");
    // Ticks of the vertical axis along it: at its angle when oblique.
    if (std::fabs(v) > 1e-9 && std::fabs(v) <= b + 1e-9) {
      const Point q = p.at(0, v);
      svg.line({q.x - 4, q.y}, {q.x + 4, q.y}, "");
      svg.text({q.x - 7, q.y + 4}, tickLabel(v, step), Anchor::End, "tick small");
    }
  }
  svg.endGroup();
  svg.text({p.left + p.half, base + 40}, text(g, "XVAR_label2"), Anchor::Middle, "label");
  const Point end = p.at(0, b);
  if (value(g, "Oblique", 0) != 0) {
    svg.text({end.x + 6, end.y + 14}, text(g, "YVAR_label2"), Anchor::Start, "label");
  } else {
    svg.text({p.left - 40, p.top + p.half}, text(g, "YVAR_label2"), Anchor::Middle, "label", -90);
  }
}

void drawCircles(SvgWriter& svg, const Plane& p, const Item& g) {
  for (int k = 1; k <= 5; ++k) {
    const double r = value(g, "Radius" + std::to_string(k), NAN);
    if (std::isfinite(r) && r > 0) svg.circle(p.at(0, 0), r / p.range * p.half, "ref");
  }
  const Item* labels = g.dataTable("CirclePhantom");
  if (!labels) return;
  const int jl = column(*labels, "CircleLabel"), jx = column(*labels, "xCircleLabel"),
            jy = column(*labels, "yCircleLabel");
  for (const auto& row : labels->rows) {
    const double x = cell(row, jx), y = cell(row, jy);
    if (jl < 0 || !std::isfinite(x) || !std::isfinite(y)) continue;
    const Point q{p.left + p.half + x / p.range * p.half, p.top + p.half - y / p.range * p.half};
    const std::string& s = row[static_cast<size_t>(jl)].text;
    svg.text(q, s.substr(s.find_first_not_of(' ') == std::string::npos ? 0 : s.find_first_not_of(' ')),
             Anchor::Middle, "small circlelabel");
  }
}

// A point's label goes above right of it, or when that would cover a
// label already placed or run past the drawing's edge (a long name near a
// loading of 1), to another corner: variables with nearly equal loadings
// stay readable and no name is cut off.
class PointLabels {
 public:
  explicit PointLabels(double width) : width_(width) {}

  void place(SvgWriter& svg, Point q, const std::string& name) {
    const double w = textWidth(name, 10), h = 11;
    struct Spot { double dx, dy; Anchor a; double left; };
    const Spot spots[] = {{6, -6, Anchor::Start, 0}, {-6, -6, Anchor::End, w},
                          {6, 14, Anchor::Start, 0}, {-6, 14, Anchor::End, w}};
    const Spot* inside = nullptr;
    for (const Spot& s : spots) {
      const Box b{q.x + s.dx - s.left, q.y + s.dy - h + 2, w, h};
      if (b.x < 0 || b.x + b.w > width_) continue;
      if (!inside) inside = &s;
      if (std::none_of(placed_.begin(), placed_.end(), [&](const Box& o) { return meet(b, o); })) {
        placed_.push_back(b);
        svg.text({q.x + s.dx, q.y + s.dy}, name, s.a, "small point");
        return;
      }
    }
    const Spot& s = inside ? *inside : spots[0];
    svg.text({q.x + s.dx, q.y + s.dy}, name, s.a, "small point");
  }

 private:
  static bool meet(const Box& a, const Box& b) {
    return a.x < b.x + b.w && b.x < a.x + a.w && a.y < b.y + b.h && b.y < a.y + a.h;
  }
  double width_;
  std::vector<Box> placed_;
};

void drawVariables(SvgWriter& svg, const Plane& p, const Item& pattern, int jx, int jy,
                   bool vectors) {
  const int jn = column(pattern, "Variable");
  PointLabels labels(kWidth);
  svg.beginGroup("points");
  for (const auto& row : pattern.rows) {
    const double a = cell(row, jx), b = cell(row, jy);
    if (!std::isfinite(a) || !std::isfinite(b)) continue;
    const Point q = p.at(a, b);
    if (vectors) {
      svg.arrow(p.at(0, 0), q, "vec");
    } else {
      svg.marker(q, "circle", "s1");
    }
    if (jn >= 0) labels.place(svg, q, row[static_cast<size_t>(jn)].text);
  }
  svg.endGroup();
}

}  // namespace

std::string loadingsSvg(const Item& g, bool standalone) {
  const Item* pattern = g.dataTable("Pattern");
  if (!pattern) return {};
  const int jx = column(*pattern, text(g, "XVAR")), jy = column(*pattern, text(g, "YVAR"));
  if (jx < 0 || jy < 0) return {};
  Plane p;
  const double angle = value(g, "Axis_Ang", 90);
  p.cosA = std::cos(angle * kPi / 180);
  p.sinA = std::sin(angle * kPi / 180);
  p.top = 24 + 18 * static_cast<double>(g.titles.size());
  p.range = rangeOf(*pattern, jx, jy, p);
  const std::string desc = fmt::format(
      "{} plotted by their loadings on {} (horizontal) and {} ({}){}.",
      counted(static_cast<long long>(pattern->rows.size()), "variable"), text(g, "XVAR_label"),
      text(g, "YVAR_label"),
      value(g, "Oblique", 0) != 0 ? fmt::format("at {:.1f} degrees", angle) : "vertical",
      value(g, "VPLOT", 0) != 0 ? ", each as a vector from the origin" : "");
  SvgWriter svg(kWidth, p.top + kSide + 56, g.titles.empty() ? g.name : g.titles.front().text,
                desc);
  for (size_t i = 0; i < g.titles.size(); ++i)
    svg.text({kWidth / 2, 20 + 18 * static_cast<double>(i)}, g.titles[i].text, Anchor::Middle,
             i == 0 ? "title" : "subtitle");
  drawAxes(svg, p, g);
  drawCircles(svg, p, g);
  drawVariables(svg, p, *pattern, jx, jy, value(g, "VPLOT", 0) != 0);
  return svg.str(standalone);
}

}  // namespace zul::output
