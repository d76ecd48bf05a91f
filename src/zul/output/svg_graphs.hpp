// Draws the module's graphs (Item::Kind::Graph with data tables) as SVG:
// the scree and variance-explained graphs, the loadings graphs with their
// reference circles and oblique axes, parallel analysis and MAP. Each
// draws from its data tables and dynamic values alone (the table of them
// is in src/zulfact/output/graphs.hpp).
#pragma once

#include <string>

#include "zul/output/model.hpp"

namespace zul::output {

// The SVG of a graph, or "" for a graph this host does not draw (no
// data table of the kind it needs). `standalone`: a file of its own.
std::string graphSvg(const Item& graph, bool standalone);

// The loadings graphs (svg_loadings.cpp), "" without a Pattern table.
std::string loadingsSvg(const Item& graph, bool standalone);

// The path diagram (svg_path.cpp), "" without a PathDiagramData table.
std::string pathDiagramSvg(const Item& graph, bool standalone);

}  // namespace zul::output
