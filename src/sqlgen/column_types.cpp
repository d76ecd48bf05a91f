#include "sqlgen/column_types.hpp"

#include <cctype>
#include <string>

namespace sqlgen {

int classifySqlType(int code) {
  switch (code) {
    case 91:
    case 92:
    case 93:
    case -7:
    case 7:
      return code;
    case -6: case -5: case 2: case 3: case 4: case 5: case 6: case 8:
      return kTypeNumeric;
    case -10: case -9: case -8: case -1: case 1: case 10: case 12:
      return kTypeCharacter;
    default:
      return kTypeUnsupported;
  }
}

int sqlTypeOfPostgresOid(unsigned oid) {
  switch (oid) {
    case 16: return -7;     // boolean: BIT
    case 20: return -5;     // int8: BIGINT
    case 21: return 5;      // int2: SMALLINT
    case 23: return 4;      // int4: INTEGER
    case 26: return 4;      // oid
    case 700: return 7;     // float4: REAL
    case 701: return 8;     // float8: DOUBLE
    case 1700: return 2;    // numeric: NUMERIC
    case 1082: return 91;   // date
    case 1083: return 92;   // time
    case 1266: return 92;   // timetz
    case 1114: return 93;   // timestamp
    case 1184: return 93;   // timestamptz
    case 18: return 1;      // "char"
    case 1042: return 1;    // bpchar: CHAR
    case 19: return 12;     // name
    case 1043: return 12;   // varchar: VARCHAR
    case 25: return -1;     // text: LONGVARCHAR
    case 17: return -3;     // bytea: VARBINARY
    default: return 0;
  }
}

namespace {

bool contains(const std::string& upper, const char* part) {
  return upper.find(part) != std::string::npos;
}

}  // namespace

int sqlTypeOfSqliteDecl(std::string_view declared) {
  std::string u;
  for (char c : declared) u += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  // DATETIME and TIMESTAMP before DATE and TIME, which they contain.
  if (contains(u, "TIMESTAMP") || contains(u, "DATETIME")) return 93;
  if (contains(u, "DATE")) return 91;
  if (contains(u, "TIME")) return 92;
  if (contains(u, "INT")) return -5;
  if (contains(u, "CHAR") || contains(u, "CLOB") || contains(u, "TEXT")) return 12;
  if (contains(u, "BLOB")) return -4;
  if (contains(u, "REAL") || contains(u, "FLOA") || contains(u, "DOUB")) return 8;
  return 2;
}

std::string columnNumber(Dialect d, const std::string& column, int type) {
  if (type == kTypeDate) return daysSince1960(d, column);
  if (type == kTypeTime) return secondsOfDay(d, column);
  if (type == kTypeTimestamp) return secondsSince1960(d, column);
  if (type == kTypeBoolean) return "cast(" + column + " as integer)";
  if (type == kTypeReal) return "cast(cast(" + column + " as text) as double precision)";
  // SQLite keeps in a numeric column the text it could not read as a
  // number ('abc', ''), which cast() would make 0; zul reads it as missing.
  if (d == Dialect::kSqlite) return "(case when typeof(" + column + ") in ('integer', 'real') then " + column + " end)";
  return column;
}

std::string groupNumber(Dialect d, const std::string& column, int type) {
  const std::string number = columnNumber(d, column, type);
  if (type != kTypeNumeric && type != kTypeReal) return number;
  return finiteOrNull(d, "cast(" + number + " as double precision)");
}

}  // namespace sqlgen
