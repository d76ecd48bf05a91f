// Rows of the statistics output table (OUTSTAT=): one place that fills the
// _TYPE_ and _NAME_ texts and the value columns and appends the row.
//
// The table's columns are the copied BY variables, then _TYPE_ (character
// 8), _NAME_ (character outstatNameWidth(ps)), then one numeric column per
// analysis variable in VAR order. The BY columns are filled by the host
// from the input's current group.
#pragma once

#include <string_view>

#include "zulfact/state/proc_state.hpp"

namespace zulfact {

// Width of the _NAME_ column: min(32, max(8, factorNameWidth, L)), where L
// is the longest analysis-variable name plus the length of the partial-row
// prefix (PARPREFIX=) when there are partial variables. The parser declares
// the column with it; outstatNameWidth gives the declared width (nameWidth)
// once there is one.
int nameColumnWidth(const ProcState& ps);
int outstatNameWidth(const ProcState& ps);

// Appends one row: `type` (cut or blank padded to 8), `name` (cut or blank
// padded to the _NAME_ width; empty for vector rows) and `count` values,
// the remaining analysis-variable columns holding the missing value. Does
// nothing without an OUTSTAT= table. A failed append is reported through
// the host's status service with the writer's code.
void appendStatRow(ProcState& ps, std::string_view type, std::string_view name,
                   const double* values, int count);

// The same row with one value in every column ("N", "SUMWGT").
void appendStatRowConstant(ProcState& ps, std::string_view type, double value);

}  // namespace zulfact
