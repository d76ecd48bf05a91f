// zul/parse/format_statement.hpp -- the FORMAT statement of a step, which
// the host handles itself: the procedure's grammar never sees it.
//
//     FORMAT var1 var2 8.2 region $12. ;
//
// Each format goes to the variables named before it since the previous
// format: "w.d" for numbers (also "Fw.d"), "$w." for character values
// (sqlgen/put_format.hpp). Variables after the last format lose their
// format ("FORMAT x;"). Variables are plain names, one by one. The formats
// hold for the step's DATA= table during the step only.
#pragma once

#include <string>
#include <vector>

#include "zul/parse/program.hpp"

namespace zul::parse {

// Reads statement st (a FORMAT statement, the keyword first) into out, in
// order. A fault adds one line "ERROR: FILE:LINE:COLUMN: ..." to errors
// and ends the reading of the statement.
void readFormatStatement(const Statement& st, const std::string& file,
                         std::vector<FormatAssignment>& out, std::vector<std::string>& errors);

}  // namespace zul::parse
