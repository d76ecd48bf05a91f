// The HTML report: one self-contained file (inline style, no scripts, no
// network fetches) with every table of the run, grouped by step, BY group
// and section, and a contents list. Cells show what the listing shows; a
// rounded or fuzzed entry carries its exact value as a tooltip. Graphs
// have their place (a figure per graph) and are drawn there once the
// graph renderer exists.
#pragma once

#include <ios>
#include <iosfwd>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "zul/output/model.hpp"

namespace zul::output {

std::string htmlEscape(std::string_view text);
void writeHtml(const Model& model, std::ostream& out, const std::string& title);

// The same report written as the run goes, so that the tables need not be
// held until its end: add() writes an item's entry in the contents list to
// `contents` and its part of the page to `body` (temporary files in a long
// run); write() puts the page together, with each step's heading, which
// says how the step ended, in front of the step's part.
class HtmlReportParts {
 public:
  HtmlReportParts(std::iostream& contents, std::iostream& body);
  void add(const Model& model, const Item& item);
  void write(const Model& model, std::ostream& out, const std::string& title);

 private:
  std::iostream& contents_;
  std::iostream& body_;
  size_t index_ = 0;    // the item's place in the run: its anchor
  std::string group_;   // the contents' open section list, "" none
  int lastStep_ = -1;   // the step, group and BY line last written
  int lastGroup_ = -1;
  std::string lastBy_;
  std::set<int> sectionsShown_;
  std::vector<std::streamoff> stepStarts_;  // where each step's part begins in body
};

}  // namespace zul::output
