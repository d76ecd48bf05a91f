#include "sqlgen/sqlite_dates.hpp"

namespace sqlgen {

// The host registers zul_temporal and zul_temporal_text on every SQLite
// connection: one parser of the text for both paths.

std::string sqliteTextDays(const std::string& column) { return " zul_temporal(" + column + ", 'date') "; }

std::string sqliteTextSecondsOfDay(const std::string& column) {
  return " zul_temporal(" + column + ", 'time') ";
}

std::string sqliteTextSeconds(const std::string& column) {
  return " zul_temporal(" + column + ", 'timestamp') ";
}

std::string sqliteTemporalText(const std::string& column, const char* kind) {
  return "zul_temporal_text(" + column + ", '" + kind + "')";
}

}  // namespace sqlgen
