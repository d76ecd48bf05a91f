#include "zul/output/svg_path_layout.hpp"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace zul::output::pathdiagram {

namespace {

constexpr double kFont = 12;
constexpr double kLabelFont = 11;  // the path labels (".plabel")
constexpr double kMargin = 16;
constexpr double kPad = 8;          // between a node's label and its edge
constexpr double kLoopReach = 20;   // how far a variance loop stands out
constexpr double kVarHalfHeight = 11;

double titleBand(const Settings& s) { return s.title.empty() ? 12 : 40; }
double keyBand(const Diagram& d) { return anyTested(d) ? 28 : 0; }

// Code points, so that a label is never cut inside a character.
std::vector<size_t> codePointStarts(const std::string& s) {
  std::vector<size_t> starts;
  for (size_t i = 0; i < s.size(); ++i)
    if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) starts.push_back(i);
  return starts;
}

bool overlaps(const Box& a, const Box& b) {
  return a.x < b.x + b.w && b.x < a.x + a.w && a.y < b.y + b.h && b.y < a.y + a.h;
}

Box nodeBox(const Node& n, double inflate) {
  return {n.c.x - n.hw - inflate, n.c.y - n.hh - inflate, 2 * (n.hw + inflate),
          2 * (n.hh + inflate)};
}

Point along(Point a, Point b, double t) { return {a.x + t * (b.x - a.x), a.y + t * (b.y - a.y)}; }

// ---- node sizes ----

double widestLabel(const Diagram& d, bool factor) {
  double w = 0;
  for (const Node& n : d.nodes)
    if (n.factor == factor) w = std::max(w, labelWidth(n.label, kFont));
  return w;
}

// Variables as rectangles of one width, factors as ellipses of one size
// (scaled by the factor size, 1.5 by default); each label fitted to the
// room its shape leaves.
void sizeNodes(Diagram& d, const Settings& s, double maxRectWidth) {
  const double rectHalf = std::clamp(widestLabel(d, false) + 2 * kPad, 56.0, maxRectWidth) / 2;
  const double ovalText = std::clamp(widestLabel(d, true), 40.0, 2 * maxRectWidth * 0.8);
  for (Node& n : d.nodes) {
    double room;
    if (n.factor) {
      const double scale = std::clamp(n.size / 1.5, 0.7, 1.5);
      n.hh = std::max(kVarHalfHeight, 15 * scale);
      n.hw = std::max(ovalText / 1.6 + 4, 34 * scale);
      room = 1.6 * n.hw - 4;  // the width of the ellipse at the text's height, roughly
    } else {
      n.hw = rectHalf;
      n.hh = kVarHalfHeight;
      room = 2 * (rectHalf - kPad / 2);
    }
    const FittedLabel f = fitLabel(n.label, room, kFont, s.minFont);
    n.shown = f.text;
    n.font = f.font;
  }
}

std::vector<int> factorsOf(const Diagram& d) {
  std::vector<int> f;
  for (size_t i = 0; i < d.nodes.size(); ++i)
    if (d.nodes[i].factor) f.push_back(static_cast<int>(i));
  return f;
}

// Each variable's factor: the one it loads on most (-1 for none).
std::vector<int> primaryFactors(const Diagram& d, std::vector<double>& strength) {
  std::vector<int> primary(d.nodes.size(), -1);
  strength.assign(d.nodes.size(), -1);
  for (const Link& l : d.links) {
    if (l.both || l.from == l.to || !d.nodes[size_t(l.from)].factor) continue;
    const double v = std::fabs(l.value);
    if (v > strength[size_t(l.to)]) strength[size_t(l.to)] = v, primary[size_t(l.to)] = l.from;
  }
  return primary;
}

// The variables grouped by their factor, in the factors' order, the
// strongest loading first; variables without a path last.
std::vector<std::vector<int>> groups(const Diagram& d, const std::vector<int>& factors) {
  std::vector<double> strength;
  const std::vector<int> primary = primaryFactors(d, strength);
  std::vector<std::vector<int>> g(factors.size() + 1);
  for (size_t v = 0; v < d.nodes.size(); ++v) {
    if (d.nodes[v].factor) continue;
    const auto f = std::find(factors.begin(), factors.end(), primary[v]);
    g[size_t(f - factors.begin())].push_back(static_cast<int>(v));
  }
  for (auto& members : g)
    std::stable_sort(members.begin(), members.end(),
                     [&](int a, int b) { return strength[size_t(a)] > strength[size_t(b)]; });
  return g;
}

double meanOf(const Diagram& d, const std::vector<int>& members, bool x, double fallback) {
  if (members.empty()) return fallback;
  double sum = 0;
  for (int v : members) sum += x ? d.nodes[size_t(v)].c.x : d.nodes[size_t(v)].c.y;
  return sum / static_cast<double>(members.size());
}

// Positions along one axis in their order, at least `gap` apart, none
// before `first`.
void spreadApart(std::vector<double>& at, double first, double gap) {
  for (size_t i = 0; i < at.size(); ++i)
    at[i] = std::max(at[i], i == 0 ? first : at[i - 1] + gap);
}

// ---- the flow arrangements: factors in a column on the left ----

double arcBulge(double distance) { return std::min(24 + 0.2 * distance, 140.0); }

// The rows of the variables (y) and the factors beside them; the grouped
// flow keeps each factor's variables in a block of their own.
void flowRows(Diagram& d, Settings& s, bool grouped) {
  const std::vector<int> factors = factorsOf(d);
  const auto g = groups(d, factors);
  const double ovalHalf = factors.empty() ? 0 : d.nodes[size_t(factors[0])].hh;
  const double factorGap = 2 * ovalHalf + 2 * kLoopReach + 16;  // loops stand above the ovals
  const double top = titleBand(s) + 2 * kLoopReach, pitch = 2 * kVarHalfHeight + 10;
  size_t nVars = 0;
  for (const auto& m : g) nVars += m.size();
  double y = top;
  const double spare = s.height - top - keyBand(d) - kMargin;
  const double rowPitch = grouped ? pitch : std::max(pitch, spare / std::max<size_t>(nVars, 1));
  std::vector<double> fy;
  for (size_t k = 0; k < g.size(); ++k) {
    const double rows = grouped && k < factors.size()
                            ? std::max<double>(g[k].size(), std::ceil(factorGap / pitch))
                            : g[k].size();
    const double blockTop = y;
    y += rows * rowPitch;
    const double first = blockTop + (rows - g[k].size()) * rowPitch / 2;
    for (size_t i = 0; i < g[k].size(); ++i)
      d.nodes[size_t(g[k][i])].c.y = first + (i + 0.5) * rowPitch;
    if (k < factors.size()) fy.push_back(grouped ? (blockTop + y) / 2 : meanOf(d, g[k], false, y));
    if (grouped && !g[k].empty()) y += pitch * 0.6;
  }
  spreadApart(fy, top + ovalHalf, factorGap);
  for (size_t k = 0; k < factors.size(); ++k) d.nodes[size_t(factors[k])].c.y = fy[k];
  const double bottom = std::max(y, fy.empty() ? 0 : fy.back() + ovalHalf);
  s.height = std::max(s.height, bottom + kMargin + keyBand(d));
}

// The room left of the factors for the correlation arcs and their labels.
double arcRoom(const Diagram& d) {
  double room = 0;
  for (const Link& l : d.links) {
    if (!l.both || l.from == l.to) continue;
    const double dy = std::fabs(d.nodes[size_t(l.from)].c.y - d.nodes[size_t(l.to)].c.y);
    room = std::max(room, arcBulge(dy) + labelWidth(l.label, kLabelFont) + 8);
  }
  return room;
}

double loopLabelRoom(const Diagram& d, bool factors) {
  double w = 0;
  for (const Link& l : d.links)
    if (l.from == l.to && d.nodes[size_t(l.from)].factor == factors)
      w = std::max(w, labelWidth(l.label, kLabelFont) + kLoopReach + 8);
  return w;
}

void flowColumns(Diagram& d, Settings& s) {
  double factorHalf = 0, varHalf = 0;
  for (const Node& n : d.nodes) {
    double& half = n.factor ? factorHalf : varHalf;
    half = std::max(half, n.hw);
  }
  const double fx = kMargin + arcRoom(d) + factorHalf;
  const double right = loopLabelRoom(d, false) + kMargin;
  // The paths need room between the columns for their labels.
  const double minGap = 160;
  s.width = std::max(s.width, fx + factorHalf + minGap + 2 * varHalf + right);
  const double vx = s.width - right - varHalf;
  for (Node& n : d.nodes) {
    n.c.x = n.factor ? fx : vx;
    n.loopSide = n.factor ? Side::Up : Side::Right;
  }
}

// ---- grip: the factors in a row, their variables above and below ----

void gripBands(Diagram& d, Settings& s, const std::vector<std::vector<int>>& g,
               std::vector<int>& upper, std::vector<int>& lower) {
  for (const auto& members : g)
    for (size_t i = 0; i < members.size(); ++i) (i % 2 == 0 ? upper : lower).push_back(members[i]);
  double varHalf = 28;
  for (const Node& n : d.nodes)
    if (!n.factor) varHalf = n.hw;
  const double pitch = 2 * varHalf + 12;
  const size_t cols = std::max(upper.size(), lower.size());
  s.width = std::max(s.width, static_cast<double>(cols) * pitch + 2 * kMargin);
  for (const auto* band : {&upper, &lower}) {
    const double x0 = (s.width - static_cast<double>(band->size()) * pitch) / 2 + pitch / 2;
    for (size_t i = 0; i < band->size(); ++i) d.nodes[size_t((*band)[i])].c.x = x0 + i * pitch;
  }
}

void gripLayout(Diagram& d, Settings& s) {
  const std::vector<int> factors = factorsOf(d);
  const auto g = groups(d, factors);
  std::vector<int> upper, lower;
  gripBands(d, s, g, upper, lower);
  const double ovalHalf = factors.empty() ? 0 : d.nodes[size_t(factors[0])].hh;
  const double reach = kLoopReach + kLabelFont + 8;  // a loop and its label
  const double fixed = titleBand(s) + 2 * (reach + 2 * kVarHalfHeight) + 2 * ovalHalf +
                       keyBand(d) + kMargin;
  const double gap = std::max(120.0, (s.height - fixed) / 2);
  const double upperY = titleBand(s) + reach + kVarHalfHeight;
  const double factorY = upperY + kVarHalfHeight + gap + ovalHalf;
  const double lowerY = factorY + ovalHalf + gap + kVarHalfHeight;
  s.height = std::max(s.height, lowerY + kVarHalfHeight + reach + keyBand(d) + kMargin);
  for (int v : upper) d.nodes[size_t(v)].c.y = upperY, d.nodes[size_t(v)].loopSide = Side::Up;
  for (int v : lower) d.nodes[size_t(v)].c.y = lowerY, d.nodes[size_t(v)].loopSide = Side::Down;
  // Each factor above the middle of its variables, the loops on their left.
  std::vector<double> fx;
  double factorHalf = 0;
  for (size_t k = 0; k < factors.size(); ++k) {
    fx.push_back(meanOf(d, g[k], true, s.width / 2));
    factorHalf = std::max(factorHalf, d.nodes[size_t(factors[k])].hw);
  }
  const double left = loopLabelRoom(d, true);
  spreadApart(fx, kMargin + left + factorHalf, 2 * factorHalf + left + 8);
  if (!fx.empty()) s.width = std::max(s.width, fx.back() + factorHalf + kMargin);
  for (size_t k = 0; k < factors.size(); ++k) {
    Node& f = d.nodes[size_t(factors[k])];
    f.c = {fx[k], factorY};
    f.loopSide = Side::Left;
  }
}

// ---- routes and labels ----

Point border(const Node& n, Point toward) {
  const double dx = toward.x - n.c.x, dy = toward.y - n.c.y;
  if (std::fabs(dx) < 1e-9 && std::fabs(dy) < 1e-9) return n.c;
  double t;
  if (n.factor) {
    t = 1 / std::sqrt(dx * dx / (n.hw * n.hw) + dy * dy / (n.hh * n.hh));
  } else {
    t = std::min(std::fabs(dx) > 1e-9 ? n.hw / std::fabs(dx) : 1e9,
                 std::fabs(dy) > 1e-9 ? n.hh / std::fabs(dy) : 1e9);
  }
  return {n.c.x + t * dx, n.c.y + t * dy};
}

// A path ends at the middle of the variable's side that faces the
// factors, so that it never runs through the other variables of its row
// or column on the way in.
Point facingSide(const Node& n, Point from, Arrangement a) {
  if (a == Arrangement::Grip) return {n.c.x, n.c.y + (from.y > n.c.y ? n.hh : -n.hh)};
  return {n.c.x + (from.x < n.c.x ? -n.hw : n.hw), n.c.y};
}

Point outward(Side s) {
  switch (s) {
    case Side::Left: return {-1, 0};
    case Side::Right: return {1, 0};
    case Side::Up: return {0, -1};
    case Side::Down: return {0, 1};
  }
  return {1, 0};
}

Loop loopAt(const Node& n) {
  const Point out = outward(n.loopSide), along{-out.y, out.x};
  const Point foot{n.c.x + out.x * n.hw, n.c.y + out.y * n.hh};
  const auto at = [&](double o, double a) {
    return Point{foot.x + out.x * o + along.x * a, foot.y + out.y * o + along.y * a};
  };
  return {at(0, -7), at(kLoopReach * 4 / 3, -14), at(kLoopReach * 4 / 3, 14), at(0, 7)};
}

// A label box centred `gap` beyond point p in direction u.
PlacedLabel labelBeyond(Point p, Point u, const std::string& text, double gap) {
  const double w = labelWidth(text, kLabelFont), h = kLabelFont * 1.25;
  const double reach = std::fabs(u.x) * w / 2 + std::fabs(u.y) * h / 2 + gap;
  const Point c{p.x + u.x * reach, p.y + u.y * reach};
  return {{c.x - w / 2, c.y - h / 2, w, h}, c.y + 0.35 * kLabelFont};
}

PlacedLabel labelAt(Point c, const std::string& text) { return labelBeyond(c, {0, 0}, text, 0); }

class LabelPlacer {
 public:
  LabelPlacer(const Diagram& d, const Settings& s) : d_(d), s_(s) {}

  // The first candidate clear of nodes and other labels; else the
  // first clear of nodes; else the first.
  PlacedLabel place(const std::vector<PlacedLabel>& candidates) {
    for (int strict = 1; strict >= 0; --strict)
      for (const PlacedLabel& c : candidates)
        if (clear(c.box, strict != 0)) return keep(c);
    return keep(candidates.front());
  }

 private:
  bool clear(const Box& b, bool strict) const {
    if (b.x < 0 || b.y < 0 || b.x + b.w > s_.width || b.y + b.h > s_.height) return false;
    for (const Node& n : d_.nodes)
      if (overlaps(b, nodeBox(n, 2))) return false;
    if (strict)
      for (const Box& other : placed_)
        if (overlaps(b, other)) return false;
    return true;
  }
  PlacedLabel keep(const PlacedLabel& p) {
    placed_.push_back(p.box);
    return p;
  }

  const Diagram& d_;
  const Settings& s_;
  std::vector<Box> placed_;
};

Route routeOf(const Diagram& d, const Link& l, const Settings& s) {
  const Node &a = d.nodes[size_t(l.from)], &b = d.nodes[size_t(l.to)];
  Route r;
  if (l.from == l.to) {
    r.loop = loopAt(a);
    return r;
  }
  if (!l.both) {
    r.b = b.factor ? border(b, a.c) : facingSide(b, a.c, s.arrangement);
    r.a = border(a, r.b);
    return r;
  }
  // An arc bulging away from the arrangement: left of the factor column in
  // the flows, below the row of factors in grip.
  const bool row = s.arrangement == Arrangement::Grip;
  const Side side = row ? Side::Down : Side::Left;
  const Point out = outward(side);
  r.a = {a.c.x + out.x * a.hw, a.c.y + out.y * a.hh};
  r.b = {b.c.x + out.x * b.hw, b.c.y + out.y * b.hh};
  // (in grip the arcs stay well inside the 120 pixels between the factors
  // and the lower variables)
  const double bulge = arcBulge(std::hypot(r.b.x - r.a.x, r.b.y - r.a.y));
  const double depth = 2 * (row ? std::min(bulge, 45.0) : bulge);
  r.control = {(r.a.x + r.b.x) / 2 + out.x * depth, (r.a.y + r.b.y) / 2 + out.y * depth};
  return r;
}

// Candidates along a straight path, between the two nodes; the k-th path
// into the same node starts at another point so that labels alternate.
std::vector<PlacedLabel> alongPath(const Route& r, const std::string& text, int k) {
  static const double kAt[] = {0.7, 0.5, 0.85, 0.35, 0.6, 0.78, 0.42, 0.25, 0.9};
  std::vector<PlacedLabel> c;
  const size_t n = std::size(kAt);
  for (size_t i = 0; i < n; ++i) c.push_back(labelAt(along(r.a, r.b, kAt[(i + size_t(k)) % n]), text));
  return c;
}

std::vector<PlacedLabel> besideCurve(const Route& r, const Link& l, const Diagram& d) {
  if (l.from == l.to) {
    const Node& n = d.nodes[size_t(l.from)];
    const Point out = outward(n.loopSide);
    const Point apex = along(r.loop.c1, r.loop.c2, 0.5);
    const Point tip{apex.x - out.x * kLoopReach / 4, apex.y - out.y * kLoopReach / 4};
    return {labelBeyond(tip, out, l.label, 3), labelBeyond(tip, {-out.y, out.x}, l.label, 16),
            labelBeyond(tip, {out.y, -out.x}, l.label, 16)};
  }
  const Point mid = along(r.a, r.b, 0.5);
  const Point apex = along(mid, r.control, 0.5);
  const double len = std::hypot(r.control.x - mid.x, r.control.y - mid.y);
  const Point u = len > 1e-9 ? Point{(r.control.x - mid.x) / len, (r.control.y - mid.y) / len}
                             : Point{-1, 0};
  return {labelBeyond(apex, u, l.label, 3), labelAt(apex, l.label)};
}

Placement route(const Diagram& d, const Settings& s) {
  Placement p;
  p.labels.resize(d.links.size());
  for (const Link& l : d.links) p.routes.push_back(routeOf(d, l, s));
  LabelPlacer placer(d, s);
  // The curves' labels first: they have fewer places to go.
  for (size_t i = 0; i < d.links.size(); ++i)
    if (d.links[i].both) p.labels[i] = placer.place(besideCurve(p.routes[i], d.links[i], d));
  std::vector<int> into(d.nodes.size(), 0);
  for (size_t i = 0; i < d.links.size(); ++i) {
    const Link& l = d.links[i];
    if (!l.both) p.labels[i] = placer.place(alongPath(p.routes[i], l.label, into[size_t(l.to)]++));
  }
  return p;
}

}  // namespace

double minimumFont(double textSizeMin) {
  if (!(textSizeMin > 0)) return 7;
  return std::clamp(kFont * textSizeMin, 4.0, kFont);
}

Arrangement arrangementOf(std::string_view name) {
  if (name == "groupedflow") return Arrangement::GroupedFlow;
  if (name == "grip") return Arrangement::Grip;
  return Arrangement::Flow;
}

const char* arrangementName(Arrangement a) {
  switch (a) {
    case Arrangement::GroupedFlow: return "grouped flow";
    case Arrangement::Grip: return "grip";
    case Arrangement::Flow: break;
  }
  return "flow";
}

bool anyTested(const Diagram& d) {
  return std::any_of(d.links.begin(), d.links.end(),
                     [](const Link& l) { return l.tested && l.from != l.to; });
}

double labelWidth(std::string_view s, double font) { return textWidth(s, font) * 1.12; }

FittedLabel fitLabel(const std::string& label, double room, double font, double minFont) {
  const double full = labelWidth(label, font);
  if (full <= room) return {label, font};
  const double shrunk = std::max(minFont, font * room / full);
  if (labelWidth(label, shrunk) <= room + 1e-9) return {label, shrunk};
  const std::vector<size_t> starts = codePointStarts(label);
  const std::string ellipsis = "\u2026";
  for (size_t n = starts.size(); n-- > 1;) {
    std::string cut = label.substr(0, starts[n]) + ellipsis;
    if (labelWidth(cut, minFont) <= room) return {cut, minFont};
  }
  return {label.substr(0, starts.size() > 1 ? starts[1] : label.size()) + ellipsis, minFont};
}

Placement layOut(Diagram& d, Settings& s) {
  const bool grip = s.arrangement == Arrangement::Grip;
  sizeNodes(d, s, grip ? 110 : 180);
  if (grip) {
    gripLayout(d, s);
  } else {
    flowRows(d, s, s.arrangement == Arrangement::GroupedFlow);
    flowColumns(d, s);
  }
  return route(d, s);
}

}  // namespace zul::output::pathdiagram
