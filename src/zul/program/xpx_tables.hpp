// zul/program/xpx_tables.hpp -- crossproduct tables as the CROSSPRODUCTS
// step writes and combines them (the columns: sqlgen/xpx_table.hpp).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "sqlgen/xpx_table.hpp"
#include "zul/table/table.hpp"

namespace zul::program {

// Whether a table has the leading columns of a crossproduct table.
bool isXpxTable(const table::InputTable& t);

// Declares the columns of a crossproduct table of `variables`; byColumns
// declares the BY columns (between _DNAME_ and the sums). Ends the
// declarations.
void declareXpxColumns(table::OutputTable& out, const std::vector<std::string>& variables,
                       const std::function<void()>& byColumns);

// A BY value as written into a declared BY column.
struct XpxByValue {
  double number = 0;
  std::string text;  // character columns; trailing blanks cut
};

// Appends a group's row; `by` holds the values of declared BY columns
// (none when they are copied from an input).
void writeXpxGroup(table::OutputTable& out, const sqlgen::XpxGroup& g, int key,
                   const std::string& dname, const std::vector<XpxByValue>& by = {});

// Writes the groups of crossproduct table a, with those of b (when given)
// added: groups with equal BY values are combined about a's shift, the
// others kept; the rows come in ascending BY order, numbered again.
// TableError when a table is no crossproduct table or the two do not
// summarise the same variables under the same BY variables.
void combineXpxTables(table::InputTable& a, table::InputTable* b, table::OutputTable& out);

}  // namespace zul::program
