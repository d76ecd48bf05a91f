#include "sqlgen/dialect.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "sqlgen/column_types.hpp"
#include "sqlgen/sqlite_db.hpp"

namespace sqlgen {
namespace {

TEST(Dialect, QuotingKeepsEveryInputInsideItsToken) {
  EXPECT_EQ(quoteIdentifier("a\"b"), "\"a\"\"b\"");
  EXPECT_EQ(quoteString("O'Brien"), "'O''Brien'");
  // A value that tries to end the statement stays one string.
  sqlgen_test::SqliteDb db;
  db.exec("create table t (s text)");
  const std::string evil = "x'); drop table t; --";
  db.exec("insert into t values (" + quoteString(evil) + ")");
  EXPECT_EQ(db.text("select s from t"), evil);
  EXPECT_EQ(db.text("select " + quoteIdentifier("we\"ird") + " from (select 'v' as " +
                    quoteIdentifier("we\"ird") + ")"),
            "v");
}

TEST(Dialect, NumberLiteralsReadBackAsTheSameDouble) {
  sqlgen_test::SqliteDb db;
  const double values[] = {0.1, -1.0 / 3.0, 1e6 + 0.5, 123456789.123456789, 1e-300,
                           -2.2250738585072014e-308, 1.7976931348623157e308, 0.0};
  for (double x : values) {
    const std::string lit = numberLiteral(x);
    const double back = db.rows("select " + lit)[0][0];
    EXPECT_EQ(std::memcmp(&back, &x, sizeof x), 0) << lit;
  }
  EXPECT_EQ(numberLiteral(std::nan("")), "null");
  EXPECT_EQ(numberLiteral(std::numeric_limits<double>::infinity()), "null");
  EXPECT_EQ(numberLiteral(-0.0), "0");
  // A negative literal after " - " is no comment.
  EXPECT_EQ(db.rows("select 1 - " + numberLiteral(-2.5))[0][0], 3.5);
}

TEST(Dialect, NotFiniteCatchesNullAndInfinityInSqlite) {
  sqlgen_test::SqliteDb db;
  db.exec("create table t (x double precision)");
  db.exec("insert into t values (1.5), (null), (9e999), (-9e999), (0)");
  const auto r = db.rows("select x from t where " + notFinite(Dialect::kSqlite, "x"));
  EXPECT_EQ(r.size(), 3u);
}

TEST(Dialect, TruncatedKeepsTheIntegerPartOfEveryDoubleInSqlite) {
  sqlgen_test::SqliteDb db;
  const auto r = db.rows("select " + truncated(Dialect::kSqlite, "2.7") + ", " +
                         truncated(Dialect::kSqlite, "-2.7") + ", " + truncated(Dialect::kSqlite, "1e19"));
  EXPECT_EQ(r[0], (std::vector<double>{2, -2, 1e19}));
}

TEST(Dialect, PostgresTimestampDaysAreWidenedBeforeTheyAreMultiplied) {
  // 25733 days * 86400 exceeds 2^31: the day count must be cast first.
  const std::string s = secondsSince1960(Dialect::kPostgres, "\"ts\"");
  const std::string days = daysSince1960(Dialect::kPostgres, "\"ts\"");
  EXPECT_NE(s.find("cast(" + days + " as double precision) * 86400"), std::string::npos);
  EXPECT_EQ(daysSince1960(Dialect::kPostgres, "\"d\""),
            " (case when isfinite(cast( \"d\" as date)) then cast( \"d\" as date) - date '1960-01-01' end) ");
  EXPECT_EQ(firstRowQuery(Dialect::kPostgres, "a from t"), "select a from t limit 1");
}

TEST(ColumnTypes, CodesFromBothDatabasesClassify) {
  struct Case {
    int code;
    int cls;
  };
  const Case pg[] = {{sqlTypeOfPostgresOid(23), kTypeNumeric},   {sqlTypeOfPostgresOid(20), kTypeNumeric},
                     {sqlTypeOfPostgresOid(701), kTypeNumeric},  {sqlTypeOfPostgresOid(1700), kTypeNumeric},
                     {sqlTypeOfPostgresOid(16), kTypeBoolean},   {sqlTypeOfPostgresOid(1082), kTypeDate},
                     {sqlTypeOfPostgresOid(1083), kTypeTime},    {sqlTypeOfPostgresOid(1184), kTypeTimestamp},
                     {sqlTypeOfPostgresOid(25), kTypeCharacter}, {sqlTypeOfPostgresOid(1043), kTypeCharacter},
                     {sqlTypeOfPostgresOid(17), kTypeUnsupported}, {sqlTypeOfPostgresOid(3802), kTypeUnsupported}};
  for (const auto& c : pg) EXPECT_EQ(classifySqlType(c.code), c.cls) << c.code;
  // SQLite keeps dates as text: they must not come out as characters.
  const std::pair<const char*, int> lite[] = {
      {"DATE", kTypeDate},        {"datetime", kTypeTimestamp}, {"TIMESTAMP", kTypeTimestamp},
      {"TIME", kTypeTime},        {"INTEGER", kTypeNumeric},    {"DOUBLE PRECISION", kTypeNumeric},
      {"NUMERIC(10,2)", kTypeNumeric}, {"", kTypeNumeric},      {"VARCHAR(20)", kTypeCharacter},
      {"TEXT", kTypeCharacter},   {"BLOB", kTypeUnsupported}};
  for (const auto& c : lite) EXPECT_EQ(classifySqlType(sqlTypeOfSqliteDecl(c.first)), c.second) << c.first;
}

}  // namespace
}  // namespace sqlgen
