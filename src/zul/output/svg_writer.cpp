#include "zul/output/svg_writer.hpp"

#include <cmath>

#include <fmt/format.h>

#include "zul/output/html_writer.hpp"
#include "kernels/text_width.hpp"

namespace zul::output {

namespace {

// Styles travel in the document: a standalone file looks as the inline
// one. Colours differ in lightness as well as hue, and series differ in
// marker shape and dash, so that grey-scale prints keep them apart.
constexpr const char* kStyle =
    "text{font-family:sans-serif;font-size:12px;fill:#222}"
    ".title{font-size:14px;font-weight:bold}"
    ".axis line,.axis polyline{stroke:#444;stroke-width:1}"
    ".grid{stroke:#ddd;stroke-width:1;fill:none}"
    ".s1{stroke:#1b4f9c;fill:#1b4f9c}.s2{stroke:#d9822b;fill:#d9822b}"
    ".s3{stroke:#777;fill:#777}"
    "polyline.s1,polyline.s2,polyline.s3{fill:none;stroke-width:2}"
    "polyline.s2{stroke-dasharray:6 3}polyline.s3{stroke-dasharray:2 3}"
    ".ref{stroke:#999;fill:none;stroke-dasharray:4 3}"
    ".vec{stroke:#1b4f9c;stroke-width:1.2;fill:none}"
    ".head{fill:#1b4f9c;stroke:none}"
    ".mark{stroke:#b22;stroke-width:2;fill:none}"
    ".small{font-size:10px}"
    // Path diagrams: significant paths bold and solid, the others dashed,
    // so that a grey-scale print tells them apart; labels on a white halo.
    ".node{fill:#eef3fb;stroke:#1b4f9c;stroke-width:1.5}"
    "ellipse.node{fill:#fdf1e4;stroke:#a55d12}"
    ".path{stroke:#333;stroke-width:1.3;fill:none}"
    ".path.sig{stroke-width:2.6}.path.ns{stroke-dasharray:5 3}"
    ".path.var{stroke:#666}.path.corr{stroke:#a55d12}"
    ".phead{fill:#333;stroke:none}"
    ".plabel{font-size:11px;paint-order:stroke;stroke:#fff;stroke-width:4px;"
    "stroke-linejoin:round}";

std::string pointList(const std::vector<Point>& points) {
  std::string s;
  for (const Point& p : points) {
    if (!s.empty()) s += ' ';
    s += svgNumber(p.x) + "," + svgNumber(p.y);
  }
  return s;
}

}  // namespace

// The five characters that XML and HTML both reserve, escaped alike; an
// SVG drawing is inlined in the HTML report as well. U+FFFE and U+FFFF are
// valid UTF-8 but no XML character: a label holding one would make the
// standalone file unreadable, so they are written as text, like the bytes
// of an invalid sequence.
std::string xmlEscape(std::string_view raw) {
  const std::string text = htmlEscape(raw);
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const bool nonCharacter = text.compare(i, 2, "\xEF\xBF") == 0 && i + 2 < text.size() &&
                              (text[i + 2] == '\xBE' || text[i + 2] == '\xBF');
    if (!nonCharacter) {
      out += text[i];
      continue;
    }
    out += text[i + 2] == '\xBE' ? "\\uFFFE" : "\\uFFFF";
    i += 2;
  }
  return out;
}

std::string svgNumber(double v) {
  if (!std::isfinite(v)) v = 0;
  std::string s = fmt::format("{:.2f}", v);
  if (s == "-0.00") s = "0.00";
  return s;
}

double textWidth(std::string_view s, double fontSize) {
  // Counted in columns: a multi-byte character is one glyph, a combining
  // mark none, a CJK character two.
  return 0.62 * fontSize * static_cast<double>(kernels::displayWidth(s));
}

SvgWriter::SvgWriter(double width, double height, std::string_view title, std::string_view desc)
    : width_(width), height_(height), title_(title), desc_(desc) {}

void SvgWriter::line(Point a, Point b, std::string_view cls) {
  body_ += fmt::format("<line class=\"{}\" x1=\"{}\" y1=\"{}\" x2=\"{}\" y2=\"{}\"/>\n", cls,
                       svgNumber(a.x), svgNumber(a.y), svgNumber(b.x), svgNumber(b.y));
}

void SvgWriter::polyline(const std::vector<Point>& points, std::string_view cls) {
  if (points.empty()) return;
  body_ += fmt::format("<polyline class=\"{}\" points=\"{}\"/>\n", cls, pointList(points));
}

void SvgWriter::circle(Point c, double r, std::string_view cls) {
  body_ += fmt::format("<circle class=\"{}\" cx=\"{}\" cy=\"{}\" r=\"{}\"/>\n", cls,
                       svgNumber(c.x), svgNumber(c.y), svgNumber(r));
}

void SvgWriter::rect(Point corner, double w, double h, std::string_view cls) {
  body_ += fmt::format("<rect class=\"{}\" x=\"{}\" y=\"{}\" width=\"{}\" height=\"{}\"/>\n",
                       cls, svgNumber(corner.x), svgNumber(corner.y), svgNumber(w),
                       svgNumber(h));
}

void SvgWriter::ellipse(Point c, double rx, double ry, std::string_view cls) {
  body_ += fmt::format("<ellipse class=\"{}\" cx=\"{}\" cy=\"{}\" rx=\"{}\" ry=\"{}\"/>\n", cls,
                       svgNumber(c.x), svgNumber(c.y), svgNumber(rx), svgNumber(ry));
}

void SvgWriter::path(std::string_view d, std::string_view cls) {
  body_ += fmt::format("<path class=\"{}\" d=\"{}\"/>\n", cls, d);
}

void SvgWriter::marker(Point c, std::string_view shape, std::string_view cls) {
  constexpr double r = 4;
  if (shape == "square") {
    rect({c.x - r, c.y - r}, 2 * r, 2 * r, cls);
  } else if (shape == "diamond") {
    body_ += fmt::format("<polygon class=\"{}\" points=\"{}\"/>\n", cls,
                         pointList({{c.x, c.y - r - 1}, {c.x + r + 1, c.y}, {c.x, c.y + r + 1},
                                    {c.x - r - 1, c.y}}));
  } else if (shape == "triangle") {
    body_ += fmt::format("<polygon class=\"{}\" points=\"{}\"/>\n", cls,
                         pointList({{c.x, c.y - r - 1}, {c.x + r + 1, c.y + r}, {c.x - r - 1, c.y + r}}));
  } else {
    circle(c, r, cls);
  }
}

void SvgWriter::arrow(Point a, Point b, std::string_view cls) {
  line(a, b, cls);
  arrowHead(b, a, "head");
}

void SvgWriter::arrowHead(Point tip, Point from, std::string_view cls) {
  const double dx = tip.x - from.x, dy = tip.y - from.y;
  const double len = std::hypot(dx, dy);
  if (len < 1e-9) return;
  const double ux = dx / len, uy = dy / len, size = std::min(8.0, len / 2);
  const Point left{tip.x - size * ux + size * 0.45 * uy, tip.y - size * uy - size * 0.45 * ux};
  const Point right{tip.x - size * ux - size * 0.45 * uy, tip.y - size * uy + size * 0.45 * ux};
  body_ += fmt::format("<polygon class=\"{}\" points=\"{}\"/>\n", cls,
                       pointList({tip, left, right}));
}

void SvgWriter::text(Point p, std::string_view s, Anchor anchor, std::string_view cls,
                     double rotate) {
  const char* a = anchor == Anchor::Start ? "start" : anchor == Anchor::Middle ? "middle" : "end";
  std::string transform;
  if (rotate != 0)
    transform = fmt::format(" transform=\"rotate({} {} {})\"", svgNumber(rotate), svgNumber(p.x),
                            svgNumber(p.y));
  std::string klass = cls.empty() ? std::string() : fmt::format(" class=\"{}\"", cls);
  body_ += fmt::format("<text{} x=\"{}\" y=\"{}\" text-anchor=\"{}\"{}>{}</text>\n", klass,
                       svgNumber(p.x), svgNumber(p.y), a, transform, xmlEscape(s));
}

void SvgWriter::sizedText(Point p, std::string_view s, Anchor anchor, std::string_view cls,
                          double fontSize) {
  const char* a = anchor == Anchor::Start ? "start" : anchor == Anchor::Middle ? "middle" : "end";
  body_ += fmt::format("<text class=\"{}\" x=\"{}\" y=\"{}\" text-anchor=\"{}\" "
                       "style=\"font-size:{}px\">{}</text>\n",
                       cls, svgNumber(p.x), svgNumber(p.y), a, svgNumber(fontSize), xmlEscape(s));
}

void SvgWriter::beginGroup(std::string_view cls) {
  body_ += fmt::format("<g class=\"{}\">\n", cls);
}

void SvgWriter::beginGroup(std::string_view cls, std::string_view tooltip) {
  body_ += fmt::format("<g class=\"{}\"><title>{}</title>\n", cls, xmlEscape(tooltip));
}

void SvgWriter::endGroup() { body_ += "</g>\n"; }

std::string SvgWriter::str(bool standalone) const {
  std::string out;
  if (standalone) out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  // Inline in HTML the element needs no namespace (and the report names
  // no remote address); a file of its own does.
  out += fmt::format("<svg{} width=\"{}\" height=\"{}\" viewBox=\"0 0 {} {}\" role=\"img\">\n",
                     standalone ? " xmlns=\"http://www.w3.org/2000/svg\"" : "",
                     svgNumber(width_ * zoom_), svgNumber(height_ * zoom_), svgNumber(width_),
                     svgNumber(height_));
  out += "<title>" + xmlEscape(title_) + "</title>\n<desc>" + xmlEscape(desc_) + "</desc>\n";
  out += std::string("<style>") + kStyle + "</style>\n";
  out += "<rect width=\"100%\" height=\"100%\" fill=\"#fff\"/>\n";
  out += body_;
  out += "</svg>\n";
  return out;
}

}  // namespace zul::output
