// zul/table/column_format.hpp -- a column's display format as a table
// keeps it (the metadata file's "zul:format", the catalogue's type field),
// checked when it is read.
#pragma once

#include <string>
#include <string_view>

namespace zul::table::detail {

// The canonical text of a stored format (sqlgen::canonicalPutFormat); an
// empty text stays empty. Throws TableError naming the table, the column
// and the text, and saying which formats there are, for any other text.
std::string storedFormat(std::string_view text, const std::string& table,
                         const std::string& column);

}  // namespace zul::table::detail
