#include "zul/table/column_format.hpp"

#include "sqlgen/put_format.hpp"
#include "zul/table/table.hpp"

namespace zul::table::detail {

std::string storedFormat(std::string_view text, const std::string& table,
                         const std::string& column) {
  if (text.empty()) return {};
  if (auto canonical = sqlgen::canonicalPutFormat(text)) return *canonical;
  throw TableError("Table " + table + ": the column " + column + " has the display format \"" +
                   std::string(text) + "\", which is no display format; the formats are " +
                   sqlgen::kPutFormatsAccepted + ".");
}

}  // namespace zul::table::detail
