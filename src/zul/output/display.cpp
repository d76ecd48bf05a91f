#include "zul/output/display.hpp"

#include <fmt/format.h>

namespace zul::output {

namespace {

std::string headerOf(const Column& c) {
  if (c.role == Role::Flag) return {};
  if (c.labelGiven) return c.label;
  if (c.role == Role::HeaderText) return {};
  return c.name;
}

}  // namespace

std::vector<DisplayColumn> displayColumns(const Item& item) {
  std::vector<DisplayColumn> shown;
  for (size_t j = 0; j < item.columns.size(); ++j) {
    const Column& c = item.columns[j];
    if (c.role == Role::OriginalVal) {
      // The exact values behind the last rounded or fuzzed column.
      for (auto it = shown.rbegin(); it != shown.rend(); ++it) {
        if (item.columns[it->source].role == Role::RoundFuzzVal) {
          if (!it->original) it->original = j;
          break;
        }
      }
      continue;
    }
    DisplayColumn d;
    d.source = j;
    d.header = headerOf(c);
    d.numeric = !c.isCharacter;
    d.attached = c.role == Role::Flag && !shown.empty();
    if (d.numeric) d.format = resolveFormat(c, item.rows, j);
    d.cells.reserve(item.rows.size());
    for (const auto& row : item.rows) {
      const Value& v = j < row.size() ? row[j] : Value{};
      if (v.isNumber()) {
        d.cells.push_back(d.numeric ? formatNumber(v.number, d.format)
                                    : formatNumber(v.number, NumericFormat{}));
      } else if (v.isText()) {
        d.cells.push_back(v.text);
      } else {
        d.cells.emplace_back();
      }
    }
    shown.push_back(std::move(d));
  }
  return shown;
}

std::string resolvedFormatText(const Item& item, size_t column) {
  const Column& c = item.columns[column];
  if (c.isCharacter) return c.width > 0 ? fmt::format("${}.", c.width) : std::string("$");
  return resolveFormat(c, item.rows, column).text();
}

std::vector<std::string> newSectionHeadings(const Model& model, const Item& item,
                                            std::set<int>& shown) {
  std::vector<int> chain;
  for (int s = item.section; s >= 0; s = model.sections[static_cast<size_t>(s)].parent) {
    if (shown.count(s)) break;
    chain.push_back(s);
  }
  std::vector<std::string> headings;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    shown.insert(*it);
    const Section& sec = model.sections[static_cast<size_t>(*it)];
    const std::string& text = sec.heading.empty() ? sec.label : sec.heading;
    if (!text.empty()) headings.push_back(text);
  }
  return headings;
}

std::string stepEnding(const Step& step) {
  if (step.completionCode <= 4) return {};
  if (step.completionCode >= 1000)
    return fmt::format("This step was stopped (completion code {}): its results are missing or "
                       "incomplete. The log says why.",
                       step.completionCode);
  return fmt::format("This step ended with completion code {}: some of its results may be "
                     "missing. The log says why.",
                     step.completionCode);
}

}  // namespace zul::output
