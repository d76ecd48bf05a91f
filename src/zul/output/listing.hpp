// The text listing: each published item is printed at once, as plain
// aligned text.
//
// A table is centred on the page (the line size, or the table's own width
// when it is wider), its titles centred above it, its footnotes and notes
// below it at its left edge. Numeric columns are aligned on the decimal
// point, text columns on the left; long headers wrap onto several lines.
// A table wider than the widest line allowed is printed in panels.
// A new BY group prints a line with its BY values, and a section prints
// its heading before its first item.
#pragma once

#include <functional>
#include <iosfwd>
#include <set>
#include <string>
#include <utility>

#include "zul/output/model.hpp"

namespace zul::output {

constexpr int kDefaultLineSize = 80;
// The widest line a table may take before it is split into panels, when
// the host option LINESIZE= is not set.
constexpr int kDefaultMaxLineSize = 120;

// The lines of one table item (titles, header, rows, footnotes, notes),
// each ending in '\n'. A table wider than maxLineSize (when above 0) is
// printed in panels that fit it, the row labels repeated on each.
std::string renderTable(const Item& item, int lineSize = kDefaultLineSize, int maxLineSize = 0);
// The same lines written to out as they are made.
void writeTable(std::ostream& out, const Item& item, int lineSize, int maxLineSize);

// The lines of a preformatted item (a character plot): its titles centred,
// then its lines as they stand, the block centred on the page as a whole.
std::string renderLines(const Item& item, int lineSize = kDefaultLineSize);

class Listing {
 public:
  // maxLineSize, when given, is asked before each table (the LINESIZE=
  // host option may change between steps).
  Listing(std::ostream* out, int lineSize, std::function<int()> maxLineSize = {})
      : out_(out), lineSize_(lineSize), maxLineSize_(std::move(maxLineSize)) {}
  // Prints item (its step and sections are those of model; the item need
  // not be kept in it) with the BY line and section headings it needs
  // first. Graph items print nothing.
  void print(const Model& model, const Item& item);
  // The step ended: one with a completion code above 4 says so, under its
  // heading (printed now when the step printed nothing).
  void endStep(const Model& model, int step);

 private:
  int pageWidth() const;
  void stepHeading(const Model& model, int step);

  std::ostream* out_;
  int lineSize_;
  std::function<int()> maxLineSize_;
  int lastStep_ = -1;
  int lastByGroup_ = -1;
  std::string lastBy_;
  std::set<int> sectionsPrinted_;
};

}  // namespace zul::output
