// A table's heading items (Item::values: "NSims", "Seed", "Alpha" of the
// parallel analysis) as a line a reader sees under the table, so that a
// run can be repeated from the listing or the report alone.
#pragma once

#include <string>
#include <vector>

#include "zul/output/model.hpp"

namespace zul::output {

// "Simulations = 1000, Seed = 5, Alpha = 0.05", or "" when the table has
// nothing to show. Left out: names starting with "_" (values for scripts,
// such as "_OverallMSA", which a title already shows), "FootN" (which
// footnote applies) and any text a title or footnote already holds.
std::string headingItemsLine(const Item& item);

// The table's footnotes followed by its heading-items line, if any.
std::vector<std::string> footnoteLines(const Item& item);

}  // namespace zul::output
