// zul/program/crossproducts.hpp -- the CROSSPRODUCTS step: writes the
// crossproduct table (sqlgen/xpx_table.hpp, README "Crossproduct tables")
// of a table, so that a large table is summarised once and analysed many
// times by FACTOR DATA=lib._MKXPX_.
//
//     CROSSPRODUCTS DATA=lib.t OUT=sums._MKXPX_;
//       VAR x1-x20; BY g; FREQ f; WEIGHT w;
//     RUN;
//     CROSSPRODUCTS DATA=a._MKXPX_ ADD=b._MKXPX_ OUT=whole._MKXPX_; RUN;
//
// Observations follow the rules of FACTOR's data pass: a FREQ value that is
// missing or whose integer part is below 1, or a WEIGHT that is missing or
// at most 0, drops the record; then a missing value in any VAR variable
// does; the frequency is the integer part. A table of a database library
// is summarised inside its database by the aggregate statement that FACTOR
// uses (sqlgen/crossproduct_sql.hpp): about the group's means (two passes)
// or, under SQLPASSES=1, about the first usable row. A file is read once,
// its sums taken about the first usable record of each group.
//
// When DATA= is itself a crossproduct table, its groups are copied and
// those of ADD= are added (groups with equal BY values combined by
// sqlgen::combineParts), so that the tables of the parts of a table give
// the table of the whole.
#pragma once

#include "zul/services/session.hpp"

namespace zul::program {

inline constexpr const char* kCrossproductsStep = "CROSSPRODUCTS";

// Runs the step whose statements ctx.step holds; its tables are left in
// the step for the runner to commit or remove. Returns the completion
// code: 0, or 1000 and above when the step stopped (the reason logged).
int runCrossproducts(services::StepContext& ctx);

}  // namespace zul::program
