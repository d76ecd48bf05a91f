// SQLite keeps dates and times as ISO 8601 text (or numbers). These
// expressions read them with the functions the host registers on its SQLite
// connections (zul_temporal, zul_temporal_text), which call the host's own
// reader of the rows (zul/table/db_dates.cpp): SQLite's date functions
// move a date by its offset, keep only milliseconds, and accept spellings
// the host does not ('now', Julian day numbers, '-0044-03-15').
#pragma once

#include <string>

namespace sqlgen {

// The days since 1960-01-01 of a date column's value; null when zul reads
// it as missing.
std::string sqliteTextDays(const std::string& column);
// The seconds of the day of a time column's value.
std::string sqliteTextSecondsOfDay(const std::string& column);
// The seconds since 1960-01-01 00:00 UTC of a timestamp column's value.
std::string sqliteTextSeconds(const std::string& column);

// A date, time or timestamp column's value (kind "date", "time",
// "timestamp") as the text the host writes for it; null when missing.
std::string sqliteTemporalText(const std::string& column, const char* kind);

}  // namespace sqlgen
