// The vector-table printer: one value per variable (or per factor) in one
// or more numeric columns, beside a name column.
//
// Used for the simple statistics, conditional standard deviations, sampling
// adequacy, prior and final communalities, variance explained and the
// like. Numeric columns have width 10; the host chooses their decimals from
// one tenth of the column's largest absolute non-missing value.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "zulfact/host/host.hpp"
#include "zulfact/state/proc_state.hpp"

namespace zulfact {

struct VectorColumn {
  std::string name;    // column name ("MSA", "Mean")
  std::string label;   // heading; empty: the name
  const double* values = nullptr;  // nRows values; missing prints empty
};

// A value printed beside the table under its own name ("_OverallMSA").
struct NamedValue {
  std::string name;
  double value = 0.0;
};

struct VectorTable {
  std::string name;          // table name; template "Stat.Factor." + name
  std::string title;         // text line; empty: none
  // Row labels: 'V' the first nRows analysis variables (ProcState order),
  // 'F' the factor names, 'T' the texts in rowLabels.
  char labelKind = 'V';
  int nRows = 0;
  std::vector<std::string> rowLabels;  // 'T' only
  std::string labelColumn;   // empty: "Variable" ('V'), "Factor" ('F')
  std::vector<VectorColumn> columns;
  std::vector<NamedValue> extras;
};

// Prints the table; nothing happens without an output sink.
void printVectorTable(ProcState& ps, const VectorTable& table);

// Prints a table made of its title line only (the note form used when
// there is nothing to list, such as PRIORS=ONE).
void printTextTable(ProcState& ps, std::string_view name, std::string_view text);

// The name of analysis variable i (0-based), and of factor k.
std::string variableName(const ProcState& ps, int i);
std::string factorName(const ProcState& ps, int k);

// The message text of group/number with its arguments for a title line of
// at most 120 characters. A text of 120 characters or more gives message
// 180/174 with the argument 120 and is cut to 120, or dropped (empty
// result) when `dropWhenLong`.
std::string titleLine(int group, int number, Args args, bool dropWhenLong = false);
inline std::string titleLine(msg::Id id, Args args, bool dropWhenLong = false) {
  return titleLine(id.group, id.number, args, dropWhenLong);
}

}  // namespace zulfact
