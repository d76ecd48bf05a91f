// What a table shows, shared by the listing and the HTML report: the
// visible columns in order with their header texts and formatted cells.
//
// - OriginalVal columns are not shown (JSON keeps them); the HTML report
//   uses them for the exact value behind a rounded one (original).
// - A Flag column is attached to the column before it, so "45 *" reads as
//   one entry.
// - Header text: the label when one was given, else the name; Flag
//   columns and unlabelled HeaderText columns have none.
// - Numeric cells use the column's format with "rf" resolved over all
//   rows; missing cells are empty.
#pragma once

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "zul/output/format.hpp"
#include "zul/output/model.hpp"

namespace zul::output {

struct DisplayColumn {
  size_t source = 0;  // index into Item::columns
  std::string header;
  bool numeric = false;
  bool attached = false;  // printed right after the previous column
  NumericFormat format;   // numeric columns
  std::optional<size_t> original;  // the OriginalVal column behind it
  std::vector<std::string> cells;  // one per row
};

std::vector<DisplayColumn> displayColumns(const Item& item);

// The format JSON reports for a column: numeric formats resolved ("rf"
// becomes "10.8"), character columns "$w.".
std::string resolvedFormatText(const Item& item, size_t column);

// The headings of the sections that hold item and are not in `shown` yet,
// outermost first; they are added to `shown`. Sections without a heading
// or label are marked shown but give no text.
std::vector<std::string> newSectionHeadings(const Model& model, const Item& item,
                                            std::set<int>& shown);

// A sentence for a step that ended with a completion code above 4 (its
// results are missing or cut short); "" for one that ended normally.
std::string stepEnding(const Step& step);

}  // namespace zul::output
