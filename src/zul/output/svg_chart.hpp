// Axes, ticks and legends of the report's graphs, over SvgWriter.
//
// A Chart maps data to a plot area and draws its frame: the title above,
// tick marks and labels on the left and bottom edges, the axis labels
// beside them (the vertical one turned), and a legend below, an entry a
// line so that long labels never run off the graph. Tick labels
// are thinned until they do not touch at the graph's size.
#pragma once

#include <string>
#include <vector>

#include "zul/output/svg_writer.hpp"

namespace zul::output {

// A linear map from data [lo, hi] to pixels [from, to].
struct Scale {
  double lo = 0, hi = 1, from = 0, to = 1;
  double at(double v) const { return from + (v - lo) / (hi - lo) * (to - from); }
};

// Round tick values covering [lo, hi] with at most `maxTicks` of them
// (steps of 1, 2 or 5 times a power of 10); lo and hi are widened to the
// outer ticks.
std::vector<double> niceTicks(double& lo, double& hi, int maxTicks);
// A tick value as shown: as few decimals as the step needs.
std::string tickLabel(double v, double step);

struct Series {
  std::string label;
  std::string cls;     // "s1", "s2", "s3"
  std::string marker;  // "circle", "square", "diamond", "triangle"
};

struct Box {
  double x = 0, y = 0, w = 0, h = 0;
};

class Chart {
 public:
  // The plot area inside `outer` (room is kept for title, ticks, labels
  // and a legend line for each of `legendEntries`).
  Chart(SvgWriter& svg, Box outer, std::string title, int legendEntries);
  // Data ranges; integer axes get integer ticks.
  void setRanges(double xlo, double xhi, double ylo, double yhi, bool integerX);
  void drawFrame(const std::string& xLabel, const std::string& yLabel);
  void drawSeries(const std::vector<Point>& data, const Series& s);
  void drawLegend(const std::vector<Series>& series);
  Point at(Point data) const { return {x_.at(data.x), y_.at(data.y)}; }
  const Box& area() const { return area_; }

 private:
  void xTicks();
  void yTicks();

  SvgWriter& svg_;
  Box outer_, area_;
  std::string title_;
  Scale x_, y_;
  std::vector<double> xt_, yt_;
  double xStep_ = 1, yStep_ = 1;
};

}  // namespace zul::output
