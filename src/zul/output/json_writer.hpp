// The run's JSON file: one object that scripts can rely on.
//
//   {"steps":  [{"program", "line", "completionCode"}, ...],
//    "tables": [{"step", "by", "section", "name", "template", "titles",
//                "footnotes", "notes", "columns": [{"name", "label",
//                "type", "format", "role"}], "rows": [[...], ...]}, ...]}
//
// "by" maps each BY variable to its value (a number for numeric BY
// variables); "section" is the section path ("" outside sections). Rows
// hold every column, OriginalVal ones included, in column order; numbers
// are full precision in shortest round-trip form (integral values as
// integers), missing values null. A table with named extra values
// ("_OverallMSA") has them in "values". A note printed outside any table
// is an entry with its name, its text in "notes" and no columns. Graphs
// are not written yet.
#pragma once

#include <iosfwd>

#include <nlohmann/json.hpp>

#include "zul/output/model.hpp"

namespace zul::output {

nlohmann::ordered_json toJson(const Model& model);
void writeJson(const Model& model, std::ostream& out);

// The same file written as the run goes, so that the tables need not be
// held until its end: writeJsonItem appends the entries of one published
// item to `tables` (counting them in `written`), writeJsonFile writes the
// steps and then those entries.
void writeJsonItem(const Model& model, const Item& item, std::ostream& tables, size_t& written);
void writeJsonFile(const Model& model, std::iostream& tables, std::ostream& out);

}  // namespace zul::output
