#include "sqlgen/dialect.hpp"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "sqlgen/sqlite_dates.hpp"

namespace sqlgen {

std::string quoteIdentifier(std::string_view name) {
  std::string out = "\"";
  for (char c : name) {
    if (c == '\0') break;
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
  return out;
}

std::string quoteString(std::string_view text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\0') break;
    if (c == '\'') out += '\'';
    out += c;
  }
  out += '\'';
  return out;
}

std::string textLiteral(Dialect d, std::string_view text) {
  if (d != Dialect::kSqlite || text.find('\0') == std::string_view::npos) return quoteString(text);
  static const char* const kHex = "0123456789abcdef";
  std::string out = "cast(x'";
  for (unsigned char c : text) {
    out += kHex[c >> 4];
    out += kHex[c & 15];
  }
  return out + "' as text)";
}

std::string numberLiteral(double x) {
  // The host's missing value is a NaN: "not finite" covers it.
  if (!std::isfinite(x)) return "null";
  char buf[40];
  const auto res = std::to_chars(buf, buf + sizeof buf, x);
  std::string out(buf, res.ptr);
  // A literal never begins with "-" after another "-": callers write
  // " - " before it, so "--" (a comment) cannot arise; 0 has no sign.
  if (out == "-0") out = "0";
  return out;
}

std::string firstRowQuery(Dialect, std::string_view body) {
  return "select " + std::string(body) + " limit 1";
}

std::string notFinite(Dialect d, std::string_view x) {
  const std::string e(x);
  if (d == Dialect::kPostgres)
    // 'NaN' equals itself in PostgreSQL and sorts above every number.
    return "(" + e + " is null or " + e + " = cast('NaN' as double precision) or abs(" + e +
           ") = cast('Infinity' as double precision))";
  // SQLite stores a NaN as null; an infinity is a real beyond the largest
  // double.
  return "(" + e + " is null or abs(" + e + ") > 1.7976931348623157e308)";
}

std::string finiteOrNull(Dialect d, std::string_view x) {
  const std::string e(x);
  if (d == Dialect::kPostgres)
    return "nullif(nullif(nullif(" + e + ", cast('NaN' as double precision)), cast('Infinity' as double precision)), cast('-Infinity' as double precision))";
  // 9e999 is an infinity to SQLite; a NaN is stored as null already.
  return "nullif(nullif(" + e + ", 9e999), -9e999)";
}

std::string truncated(Dialect d, std::string_view x) {
  if (d == Dialect::kPostgres) return "floor(" + std::string(x) + ")";
  // SQLite's floor() exists only in builds with the math functions; its
  // integers stop at 2^63, where a double from 2^52 on is whole already.
  const std::string e(x);
  return "(case when abs(" + e + ") < 4503599627370496.0 then cast(cast(" + e +
         " as integer) as double precision) else " + e + " end)";
}

std::string sameValue(Dialect d, std::string_view a, std::string_view b, bool text) {
  const std::string x(a), y(b);
  if (d != Dialect::kPostgres) return x + " is " + y;
  const std::string none = text ? "''" : "0";
  return "(" + x + " is null) = (" + y + " is null) and coalesce(" + x + ", " + none +
         ") = coalesce(" + y + ", " + none + ")";
}

std::string comparedText(Dialect d, std::string_view column) {
  // PostgreSQL's rtrim() takes text: a char(n) or varchar column is cast.
  return "rtrim(" + std::string(column) + (d == Dialect::kPostgres ? "::text)" : ")");
}

std::string inByteOrder(Dialect d, std::string_view text) {
  return std::string(text) + (d == Dialect::kPostgres ? " collate \"C\"" : " collate binary");
}


std::string daysSince1960(Dialect d, std::string_view column) {
  const std::string c(column);
  // An infinite date is missing to zul; PostgreSQL refuses to subtract it.
  if (d == Dialect::kPostgres)
    return " (case when isfinite(cast( " + c + " as date)) then cast( " + c + " as date) - date '1960-01-01' end) ";
  // SQLite keeps a date as text (or as zul's own count), read as the rows
  // read one by one read it.
  return sqliteTextDays(c);
}

std::string secondsOfDay(Dialect d, std::string_view column) {
  const std::string c(column);
  if (d == Dialect::kPostgres)
    return " extract(hour from " + c + " ) * 3600 " + " + extract(minute from " + c + " ) * 60 " +
           " + extract(second from " + c + " ) ";
  return sqliteTextSecondsOfDay(c);
}

std::string secondsSince1960(Dialect d, std::string_view column) {
  const std::string c(column);
  if (d == Dialect::kPostgres)
    return " cast(" + daysSince1960(d, column) + " as double precision) * 86400 " + std::string(" +") +
           secondsOfDay(d, column);
  return sqliteTextSeconds(c);
}

std::string fence(Dialect d) { return d == Dialect::kPostgres ? " offset 0" : " limit -1 offset 0"; }

const char* dialectName(Dialect d) { return d == Dialect::kPostgres ? "PostgreSQL" : "SQLite"; }

}  // namespace sqlgen
