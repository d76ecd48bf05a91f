#include "zul/output/listing_panels.hpp"

namespace zul::output {

namespace {

// Width of the columns [from, to) printed after something else.
int blockWidth(const std::vector<PanelColumn>& columns, size_t from, size_t to, int gap,
               int attachedGap) {
  int w = 0;
  for (size_t j = from; j < to; ++j) w += (columns[j].attached ? attachedGap : gap) + columns[j].width;
  return w;
}

}  // namespace

std::vector<std::vector<size_t>> splitIntoPanels(const std::vector<PanelColumn>& columns,
                                                 size_t labels, int limit, int gap,
                                                 int attachedGap) {
  std::vector<size_t> all;
  for (size_t j = 0; j < columns.size(); ++j) all.push_back(j);
  if (labels > columns.size()) labels = columns.size();
  const int total = columns.empty() ? 0 : blockWidth(columns, 0, columns.size(), gap, attachedGap) - gap;
  if (limit <= 0 || total <= limit || labels == columns.size()) return {all};

  const int labelWidth = labels == 0 ? -gap : blockWidth(columns, 0, labels, gap, attachedGap) - gap;
  std::vector<std::vector<size_t>> panels;
  std::vector<size_t> panel;
  int used = labelWidth;
  for (size_t j = labels; j < columns.size();) {
    size_t end = j + 1;  // the column with its attached flags
    while (end < columns.size() && columns[end].attached) ++end;
    const int w = blockWidth(columns, j, end, gap, attachedGap);
    if (!panel.empty() && used + w > limit) {
      panels.push_back(panel);
      panel.clear();
      used = labelWidth;
    }
    if (panel.empty())
      for (size_t l = 0; l < labels; ++l) panel.push_back(l);
    for (size_t k = j; k < end; ++k) panel.push_back(k);
    used += w;
    j = end;
  }
  if (!panel.empty()) panels.push_back(panel);
  return panels;
}

}  // namespace zul::output
