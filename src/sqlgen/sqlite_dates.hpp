// SQLite keeps dates and times as ISO 8601 text. These expressions read
// that text field by field, as the host reads the rows one by one
// (zul/table/db_dates.cpp), rather than through SQLite's date functions,
// which move a date by its offset, keep only milliseconds, and accept
// spellings the host does not ('now', Julian day numbers, '-0044-03-15').
#pragma once

#include <string>

namespace sqlgen {

// The days since 1960-01-01 of a date "Y-MM-DD" (a year of 4 to 9 digits,
// " BC" after the value counting it back), optionally followed by a time
// as below, which does not move the day; null for any other text.
std::string sqliteTextDays(const std::string& column);

// The seconds of a time of day "HH:MM[:SS[.f]]" with an optional offset
// ("Z", "+HH", "+HHMM", "+HH:MM"), which does not move it; null otherwise.
std::string sqliteTextSecondsOfDay(const std::string& column);

// The seconds since 1960-01-01 00:00 UTC of a date with an optional time
// after a blank or a 'T', less its offset; null for any other text.
std::string sqliteTextSeconds(const std::string& column);

// A date column (days) or a time (seconds of the day) holding a number
// written as the text the host writes for it: "YYYY-MM-DD",
// "HH:MM:SS[.ffffff]"; other values, and dates outside the years 1 to
// 9999, as they are.
std::string sqliteNumberAsDateText(const std::string& column);
std::string sqliteNumberAsTimeText(const std::string& column);

}  // namespace sqlgen
