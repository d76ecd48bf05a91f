// The SQL dialects of the databases a library can live in (SQLite and
// PostgreSQL), and the few pieces of SQL text in which they differ.
//
// Every statement the system generates is written once, in standard SQL,
// by the generators of this folder; where a database lacks a construct
// (SQLite: typed date literals and `extract`; both: "select top 1"), the
// functions here write its equivalent, and nowhere else differs. Nothing
// here talks to a database: the texts are run by the host's connection.
#pragma once

#include <string>
#include <string_view>

namespace sqlgen {

enum class Dialect { kSqlite, kPostgres };

// A double-quoted identifier: "a""b" for a"b. Names are always written so,
// whatever their spelling: no input can change the statement.
std::string quoteIdentifier(std::string_view name);

// A single-quoted string literal: 'O''Brien'. A NUL byte ends the text
// (neither database keeps one in a string).
std::string quoteString(std::string_view text);

// A text value as a literal of the dialect: quoteString(), but for an
// SQLite text that holds a NUL byte (SQLite keeps one; PostgreSQL never
// does), written whole as cast(x'6162006364' as text), so that it matches
// that value and no other.
std::string textLiteral(Dialect d, std::string_view text);

// A numeric literal that reads back as the same double (shortest form
// that round-trips), or "null" for a missing or non-finite value.
std::string numberLiteral(double x);

// "select BODY limit 1": the first row of a query. Both databases write
// "top 1" so.
std::string firstRowQuery(Dialect d, std::string_view body);

// A boolean expression, true when the double-precision expression `x` is
// null, NaN or infinite: such a value counts as missing.
std::string notFinite(Dialect d, std::string_view x);

// The double-precision expression `x`, or null when it is NaN or infinite:
// such a value is missing, and a score computed from it must be missing
// too, not NaN or infinite.
std::string finiteOrNull(Dialect d, std::string_view x);

// The frequency of an observation: its value truncated to an integer
// (values at or below 0 are dropped whatever the rounding, so truncation
// toward zero and floor agree where it matters).
std::string truncated(Dialect d, std::string_view x);

// Null-safe equality of two expressions (two nulls are equal), for joining
// a BY group with its own first-pass means; text says they are character.
// PostgreSQL joins on "is not distinct from" only by a nested loop, rows
// times groups; the form written there is two plain equalities, which it
// can hash.
std::string sameValue(Dialect d, std::string_view a, std::string_view b, bool text);

// A character column's value as zul compares BY values: without its
// trailing blanks ('A ' and 'A' are one group, as in the rows read one by
// one). Equality under a deterministic collation compares bytes; where
// the order matters (ORDER BY, min()), inByteOrder() makes it the bytes'
// whatever the column's collation.
std::string comparedText(Dialect d, std::string_view column);

// An expression of text ordered by its bytes (ORDER BY, min()).
std::string inByteOrder(Dialect d, std::string_view text);

// Days, seconds of the day, and seconds since 1 January 1960 of a date, a
// time and a timestamp column, as double-precision expressions. The day
// count of a timestamp is cast to double precision before it is multiplied
// by 86400, so that dates after 2028 do not overflow a 32-bit integer.
std::string daysSince1960(Dialect d, std::string_view column);
std::string secondsOfDay(Dialect d, std::string_view column);
std::string secondsSince1960(Dialect d, std::string_view column);

// The end of a derived table that the planner must keep as it stands:
// " offset 0" (PostgreSQL) or " limit -1 offset 0" (SQLite; it flattens
// no subquery with an offset). A derived table the planner pulls up into
// its query has each of its column expressions copied wherever the column
// is used: a record's status (a test of every variable) used by each of
// n(n+1)/2 crossproducts makes a statement whose size, planning time and
// work per row grow like n^3. Kept apart, each row's values are computed
// once and still stream (neither database materialises such a subquery).
std::string fence(Dialect d);

// The database's name, for messages and traces.
const char* dialectName(Dialect d);

}  // namespace sqlgen
