// Splitting a table wider than the listing's line into panels: the row
// labels (the leading text columns) start every panel, the other columns
// follow in order, as many as fit the line.
#pragma once

#include <cstddef>
#include <vector>

namespace zul::output {

struct PanelColumn {
  int width = 0;
  bool attached = false;  // printed right after the column before (a flag)
};

// The columns of each panel, by index. The first `labels` columns are in
// every panel; a column and the flags attached to it stay together; a
// column too wide for any panel gets one of its own. A table that fits
// `limit` (or limit <= 0) is one panel.
std::vector<std::vector<size_t>> splitIntoPanels(const std::vector<PanelColumn>& columns,
                                                 size_t labels, int limit, int gap,
                                                 int attachedGap);

}  // namespace zul::output
