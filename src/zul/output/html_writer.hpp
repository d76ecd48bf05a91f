// The HTML report: one self-contained file (inline style, no scripts, no
// network fetches) with every table of the run, grouped by step, BY group
// and section, and a contents list. Cells show what the listing shows; a
// rounded or fuzzed entry carries its exact value as a tooltip. Graphs
// have their place (a figure per graph) and are drawn there once the
// graph renderer exists.
#pragma once

#include <iosfwd>
#include <string>
#include <string_view>

#include "zul/output/model.hpp"

namespace zul::output {

std::string htmlEscape(std::string_view text);
void writeHtml(const Model& model, std::ostream& out, const std::string& title);

}  // namespace zul::output
