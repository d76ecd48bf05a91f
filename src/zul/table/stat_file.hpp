// zul/table/stat_file.hpp -- SPSS (.sav, .zsav) and Stata (.dta) data files
// as read-only input tables, read through libreadstat.
//
// The library calls back once per value; the values are written, as they
// come, into a CSV file that InputTable then maps like any other table, so
// nothing but one row is ever held in memory. That file is private (mode
// 0600) and is removed as soon as it is mapped: no copy of the data stays
// on disk, even when the run is killed later.
//
// Dates and times are counted as zul counts them, by their display formats:
// days (dates) and seconds (datetimes) since 1 January 1960, seconds for
// times; the columns are marked as date, time or timestamp columns.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "zul/table/table.hpp"

namespace zul::table::detail {

// "SPSS" or "Stata" for a path whose extension names such a file (without
// regard to case), nullptr otherwise.
const char* statFileKind(const std::filesystem::path& file);

// "an SPSS" or "a Stata": the kind with its article, for messages.
std::string withArticle(const char* kind);

struct StatFile {
  std::vector<Column> columns;  // names, labels, types, widths
  std::string label;            // the file label
  std::vector<std::string> notes;  // how the rows were found, the file's weight
};

// Writes the rows of file, header line first, as CSV to the descriptor fd:
// user-missing values (SPSS missing values and ranges, Stata .a to .z) and
// system-missing values as empty fields. Throws TableError naming the
// table when the file cannot be read.
StatFile convertStatFile(const std::filesystem::path& file, const std::string& tableName, int fd);

}  // namespace zul::table::detail
