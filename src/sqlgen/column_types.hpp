// Column types of database tables as the in-database scoring sees them:
// the SQL type codes of the standard call-level interface (ODBC), reached
// from a PostgreSQL type OID or from a SQLite declared type, and their
// classification into what a score can be computed from.
#pragma once

#include <string>
#include <string_view>

#include "sqlgen/dialect.hpp"

namespace sqlgen {

// Classes of a scoring input column: numeric 2, boolean -7 (a number 0 or
// 1, which PostgreSQL casts to an integer but not to a double), real 7 (a
// single precision number, which zul reads by its decimal text: 0.1, not
// 0.10000000149011612), date 91, time 92, timestamp 93; 1 a character
// type, 0 a type that is not supported.
inline constexpr int kTypeNumeric = 2;
inline constexpr int kTypeBoolean = -7;
inline constexpr int kTypeReal = 7;
inline constexpr int kTypeDate = 91;
inline constexpr int kTypeTime = 92;
inline constexpr int kTypeTimestamp = 93;
inline constexpr int kTypeCharacter = 1;
inline constexpr int kTypeUnsupported = 0;

// The class of an SQL type code: the dates, times, booleans (BIT, -7) and
// reals (REAL, 7) keep their code, the other numeric codes (-6, -5, 2 to
// 6, 8) give 2, the character codes (-10, -9,
// -8, -1, 1, 10, 12) give kTypeCharacter, everything else
// kTypeUnsupported.
int classifySqlType(int code);

// The SQL type code of a PostgreSQL type OID (pg_type.oid), 0 when it has
// none (an unknown code).
int sqlTypeOfPostgresOid(unsigned oid);

// The SQL type code of a SQLite declared column type. Dates, times and
// timestamps are recognised by name first (SQLite keeps them as text or
// numbers, which must not be refused as characters); then SQLite's own
// affinity rules: INT, CHAR/CLOB/TEXT, BLOB, REAL/FLOA/DOUB; no declared
// type, or any other, is numeric affinity.
int sqlTypeOfSqliteDecl(std::string_view declared);

// A column of class `type` as the number zul reads from it: a date counts
// days, a time seconds of the day and a timestamp seconds, from 1 January
// 1960; a boolean is 0 or 1; a real is the number its decimal text
// writes; any other column is itself, but for text kept in a numeric
// SQLite column, which is null. `column` is quoted by the caller.
std::string columnNumber(Dialect d, const std::string& column, int type);

// A BY column of class `type` as the value its groups are formed by: its
// number, null for a NaN or an infinity (zul reads both as missing, as it
// reads a null, so all three are the one missing group).
std::string groupNumber(Dialect d, const std::string& column, int type);

}  // namespace sqlgen
