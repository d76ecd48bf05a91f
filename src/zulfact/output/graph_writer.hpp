// Graphs for the host to draw: a named graph with the data tables it is
// drawn from and its dynamic values (zul/abi_output.h, "Graphs").
//
// The module computes every number a graph shows; the host only draws.
// The data tables travel with the graph: the JSON file carries them (each
// marked with its graph), the listing never prints them. A graph in a few
// lines:
//
//   GraphWriter g(ps.sink);
//   if (g.begin("ScreePlot", "Stat.Factor.Graphics.ScreePlot1",
//               Text::message(msg::kScreePlotLabel))) {
//     TableWriter data(g.handle());        // a data table of this graph
//     data.beginTable("ScreePlot");
//     ... columns and rows as for any table ...
//     data.endTable();
//     g.value("NEigen", 10);               // dynamic values
//     g.end();                             // published: drawn in the report
//   }
//
// With a null sink (NOPRINT) every call does nothing. The destructor ends
// a graph still open. End each data table before the graph: ending the
// graph publishes the tables still open with it, and their handles die. Statuses are checked as for tables
// (checkSinkStatus).
#pragma once

#include <string_view>

#include "zulfact/output/table_writer.hpp"

namespace zulfact {

class GraphWriter {
 public:
  explicit GraphWriter(void* sink) : sink_(sink) {}
  ~GraphWriter();
  GraphWriter(const GraphWriter&) = delete;
  GraphWriter& operator=(const GraphWriter&) = delete;

  // Opens the graph (operation 2826); false when nothing was opened.
  // templatePath empty: "Stat.Factor.Graphics." + name.
  bool begin(std::string_view name, std::string_view templatePath, const Text& label);
  // The graph's handle, on which a TableWriter builds its data tables.
  void* handle() const { return graph_; }
  void title(const Text& text);
  void value(std::string_view name, double number);
  void value(std::string_view name, std::string_view text);
  void end();  // publishes the graph (operation 451)

 private:
  void* sink_;
  void* graph_ = nullptr;
};

}  // namespace zulfact
