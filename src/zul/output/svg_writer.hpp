// A small SVG writer for the report's graphs: shapes and text into one
// <svg> element with its <title> and <desc>, every text escaped, numbers
// written with two decimals so that the files compare between runs.
//
// Our own rather than a library: the graphs need a dozen element kinds,
// the output must be byte-stable for the program tests, and the host
// links nothing it does not need.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "zul/messages/messages.hpp"

namespace zul::output {

// "3 factors" in a graph's description.
using messages::counted;

struct Point {
  double x = 0;
  double y = 0;
};

enum class Anchor { Start, Middle, End };

class SvgWriter {
 public:
  SvgWriter(double width, double height, std::string_view title, std::string_view desc);

  void line(Point a, Point b, std::string_view cls);
  void polyline(const std::vector<Point>& points, std::string_view cls);
  void circle(Point c, double r, std::string_view cls);
  void rect(Point corner, double w, double h, std::string_view cls);
  void ellipse(Point c, double rx, double ry, std::string_view cls);
  // A path from its "d" attribute (curves of the path diagrams).
  void path(std::string_view d, std::string_view cls);
  // A marker shape at c: "circle", "square", "diamond" or "triangle"
  // (told apart without colour when printed in grey).
  void marker(Point c, std::string_view shape, std::string_view cls);
  // An arrow from a to b with its head at b.
  void arrow(Point a, Point b, std::string_view cls);
  // An arrow head with its tip at `tip`, pointing away from `from`.
  void arrowHead(Point tip, Point from, std::string_view cls);
  // Text at p; `rotate` degrees about p (negative: counterclockwise).
  void text(Point p, std::string_view s, Anchor anchor, std::string_view cls,
            double rotate = 0);
  // Text at its own font size in pixels (a label shrunk to fit).
  void sizedText(Point p, std::string_view s, Anchor anchor, std::string_view cls,
                 double fontSize);
  void beginGroup(std::string_view cls);
  // A group with a tooltip: the <title> shows the whole of a shortened label.
  void beginGroup(std::string_view cls, std::string_view tooltip);
  void endGroup();

  // The finished document (a standalone file with the XML declaration
  // when `standalone`, else an element to put inline in HTML).
  std::string str(bool standalone) const;

  // Drawn `s` times its design size (the viewBox stays the design).
  void setZoom(double s) { zoom_ = s > 0 ? s : 1; }

  double width() const { return width_; }
  double height() const { return height_; }

 private:
  double width_, height_;
  double zoom_ = 1;
  std::string title_, desc_;
  std::string body_;
};

// Text escaped for XML character data and attribute values.
std::string xmlEscape(std::string_view raw);
// A coordinate as written in the file: two decimals, no "-0.00".
std::string svgNumber(double v);

// The width in pixels that a text of n characters takes at the graphs'
// font size (an upper bound for the sans-serif fonts browsers use).
double textWidth(std::string_view s, double fontSize);

}  // namespace zul::output
