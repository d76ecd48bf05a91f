// zul/table/type_scan.hpp -- the type pass of an input table: one fast
// pass over the rows that decides which columns are numeric, how wide
// the character columns are, and that every line has as many fields as
// the header. Internal to this folder.
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

#include "zul/table/input_cursor.hpp"

namespace zul::table::detail {

// Column types and widths found by the type pass.
struct ScanResult {
  std::vector<ColumnType> types;
  std::vector<int> maxLengths;  // longest value of each column, in bytes
  std::vector<NonNumeric> nonNumeric;  // of columns holding numbers and other text
  std::vector<NonNumeric> text;        // of every column: the fields that are no numbers
  std::vector<uint8_t> valued;  // per column: some field is not empty (nor ".")
  int64_t rows = 0;
};

// The type pass over the data rows of the table open in im (whose file is
// file). Results are kept for the run, so that a table opened again (by a
// later step) is not scanned again unless its file changed. Throws
// TableError on a broken line, naming the file line.
ScanResult columnTypes(InputTable::Impl& im, const std::filesystem::path& file);

}  // namespace zul::table::detail
