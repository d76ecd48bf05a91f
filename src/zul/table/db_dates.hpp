// zul/table/db_dates.hpp -- dates, times and timestamps of database
// columns as zul's numbers: a date is the number of days since 1 January
// 1960, a time the seconds since midnight, a timestamp the seconds since
// the start of 1 January 1960. Databases hand them over as ISO 8601 text
// and take them back the same way. Internal to this folder.
#pragma once

#include <string>
#include <string_view>

#include "zul/table/db_connection.hpp"

namespace zul::table::db {

// Days from 1960-01-01 to the civil date y-m-d (proleptic Gregorian).
long daysSince1960(long y, unsigned m, unsigned d);

// Parses "YYYY-MM-DD", "HH:MM:SS[.fff]" or "YYYY-MM-DD[ T]HH:MM:SS[.fff]
// [+HH[:MM]]" (an offset is subtracted, giving UTC) into out, a date with
// a year of more digits or " BC" at the end as PostgreSQL writes them;
// false for text of another shape or out of range ("infinity").
bool parseTemporal(ColumnKind kind, std::string_view text, double& out);

// The ISO 8601 text of a value of kind; "" for a missing or non-finite
// value. Fractions of seconds are written to the microsecond when present;
// a date before the year 1 ends in " BC", as PostgreSQL reads it.
std::string formatTemporal(ColumnKind kind, double value);

}  // namespace zul::table::db

struct sqlite3;

namespace zul::table::db {

// Registers on an SQLite connection the functions its generated statements
// call: zul_put and zul_puti (formatted BY values), zul_temporal and
// zul_temporal_text (a date, time or timestamp as the rows read one by one
// take it, and write it back). In db_sqlite.cpp.
void registerSqliteFunctions(sqlite3* db);

}  // namespace zul::table::db
