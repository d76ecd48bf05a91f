// The geometry of the path diagram (svg_path.cpp draws it): node sizes
// and labels that fit, the three arrangements, the route of each path
// and a place for its label on the path but off every node.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "zul/output/model.hpp"
#include "zul/output/svg_chart.hpp"
#include "zul/output/svg_writer.hpp"

namespace zul::output::pathdiagram {

enum class Arrangement { Flow, GroupedFlow, Grip };

// The side of a node that a variance loop stands on.
enum class Side { Left, Right, Up, Down };

struct Node {
  std::string name;   // the variable's or factor's name
  std::string label;  // what the diagram shows (a label, else the name)
  bool factor = false;
  double size = 1;
  // Set by layOut:
  Point c;
  double hw = 0, hh = 0;  // half width and half height
  double font = 12;
  std::string shown;  // the label as drawn: shrunk, and if need be shortened
  Side loopSide = Side::Right;
};

struct Link {
  int from = 0, to = 0;  // node indices; equal for a variance
  bool both = false;     // two-headed
  std::string label;
  double value = 0;
  bool tested = false;  // has a standard error
  bool significant = false;
};

struct Diagram {
  std::vector<Node> nodes;
  std::vector<Link> links;
};

struct Settings {
  double width = 640, height = 480;  // grown by layOut when the nodes need it
  double minFont = 7;
  Arrangement arrangement = Arrangement::Flow;
  std::string title;
};

struct Loop {
  Point start, c1, c2, end;
};

// A straight path from a to b, an arc through `control`, or a loop.
struct Route {
  Point a, b, control;
  Loop loop;
};

struct PlacedLabel {
  Box box;
  double baseline = 0;
};

struct Placement {
  std::vector<Route> routes;         // one per link
  std::vector<PlacedLabel> labels;   // one per link
};

// The nodes and links of a PathDiagramData table (svg_path.cpp); links
// whose ends are not nodes are left out.
Diagram readDiagram(const output::Item& data);

// The smallest font in pixels for _TextSizeMin, a fraction of the
// 12-pixel font; 4 to 12 pixels (7 when not given).
double minimumFont(double textSizeMin);
Arrangement arrangementOf(std::string_view name);  // flow unless named
const char* arrangementName(Arrangement a);
bool anyTested(const Diagram& d);

struct FittedLabel {
  std::string text;
  double font = 12;
};
// A label within `room` pixels: as it is, else in a smaller font down to
// minFont, else shortened with an ellipsis at minFont.
FittedLabel fitLabel(const std::string& label, double room, double font, double minFont);

// The width a label takes: a bound for the wide capitals of sans-serif
// fonts, above textWidth's average.
double labelWidth(std::string_view s, double font);

// Sizes and places the nodes (s.width and s.height grow when the nodes
// need more room than the design gives), routes the links and places
// their labels.
Placement layOut(Diagram& d, Settings& s);

}  // namespace zul::output::pathdiagram
