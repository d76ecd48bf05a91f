// The same SQLite text gives the same day or second count, bit for bit,
// read row by row (parseTemporal) and inside the database (the generated
// SQL), for every spelling either side might take; unreadable text is
// missing on both.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cmath>
#include <cstring>
#include <string>

#include "sqlgen/dialect.hpp"
#include "sqlgen/sqlite_dates.hpp"
#include "zul/table/db_dates.hpp"

namespace zul::table {
namespace {

using db::ColumnKind;

// The value of the generated expression for `text` in a column of `kind`.
double inDatabase(ColumnKind kind, const std::string& text) {
  sqlite3* db = nullptr;
  sqlite3_open(":memory:", &db);
  db::registerSqliteFunctions(db);
  const char* decl = kind == ColumnKind::Date ? "DATE" : kind == ColumnKind::Time ? "TIME" : "TIMESTAMP";
  sqlite3_exec(db, (std::string("create table t (c ") + decl + ")").c_str(), nullptr, nullptr, nullptr);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "insert into t values (?1)", -1, &st, nullptr);
  sqlite3_bind_text(st, 1, text.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_step(st);
  sqlite3_finalize(st);
  const auto d = sqlgen::Dialect::kSqlite;
  const std::string e = kind == ColumnKind::Date   ? sqlgen::daysSince1960(d, "\"c\"")
                        : kind == ColumnKind::Time ? sqlgen::secondsOfDay(d, "\"c\"")
                                                   : sqlgen::secondsSince1960(d, "\"c\"");
  EXPECT_EQ(sqlite3_prepare_v2(db, ("select " + e + " from t").c_str(), -1, &st, nullptr), SQLITE_OK)
      << sqlite3_errmsg(db);
  sqlite3_step(st);
  const double v = sqlite3_column_type(st, 0) == SQLITE_NULL ? NAN : sqlite3_column_double(st, 0);
  sqlite3_finalize(st);
  sqlite3_close(db);
  return v;
}

double byRows(ColumnKind kind, const std::string& text) {
  double x;
  return db::parseTemporal(kind, text, x) ? x : NAN;
}

TEST(DbDatesSqlite, EverySpellingReadsAlikeOnBothPaths) {
  struct Case {
    ColumnKind kind;
    const char* text;
  };
  const Case cases[] = {
      // A date with a time keeps its day, whatever the offset.
      {ColumnKind::Date, "2030-01-01 10:00"}, {ColumnKind::Date, "2030-01-01T23:30:00-05:00"},
      {ColumnKind::Date, "0000-03-01"}, {ColumnKind::Date, "0001-01-01 BC"}, {ColumnKind::Date, "12345-06-30"},
      {ColumnKind::Date, "2030-02-31"}, {ColumnKind::Date, "2030-1-1"}, {ColumnKind::Date, "-0044-03-15"},
      {ColumnKind::Date, "now"}, {ColumnKind::Date, "2030-01-01 "}, {ColumnKind::Date, "2030-01-01 25:00"},
      {ColumnKind::Date, "2462502.5x"},
      {ColumnKind::Time, "13:45:30.123456789123"}, {ColumnKind::Time, "13:45:30.5+02:00"},
      {ColumnKind::Time, "13:45"}, {ColumnKind::Time, "24:00:00"}, {ColumnKind::Time, "13:45.5"},
      {ColumnKind::Time, "1:02:03"}, {ColumnKind::Time, "13:45:30 "}, {ColumnKind::Time, "13:45:30Z"},
      {ColumnKind::Time, "now"},
      // Every digit to the nanosecond, not SQLite's milliseconds; an
      // offset carries into the next day.
      {ColumnKind::Timestamp, "2030-06-15 13:45:30.123456789"},
      {ColumnKind::Timestamp, "2030-06-15T23:59:59.9999999999-02:00"},
      {ColumnKind::Timestamp, "2030-01-01 10:00+0230"}, {ColumnKind::Timestamp, "2030-01-01T10:00Z"},
      {ColumnKind::Timestamp, "2030-01-01"}, {ColumnKind::Timestamp, "0001-12-31 23:00:00+00 BC"},
      {ColumnKind::Timestamp, "2030-01-01 10:00:00+02:"}, {ColumnKind::Timestamp, "2030-01-01 10:00:00."},
      {ColumnKind::Timestamp, "2030-01-01 24:00:00"}, {ColumnKind::Timestamp, "2030-01-01 10:00:00 +02:00"},
      {ColumnKind::Timestamp, "now"}, {ColumnKind::Timestamp, "0000000001-01-01"},
  };
  for (const Case& c : cases) {
    const double rows = byRows(c.kind, c.text), inside = inDatabase(c.kind, c.text);
    EXPECT_TRUE((std::isnan(rows) && std::isnan(inside)) || std::memcmp(&rows, &inside, sizeof rows) == 0)
        << c.text << ": rows " << rows << ", database " << inside;
  }
  // What the user wrote is what counts.
  EXPECT_EQ(byRows(ColumnKind::Date, "2030-01-01 10:00"), byRows(ColumnKind::Date, "2030-01-01"));
  EXPECT_NEAR(inDatabase(ColumnKind::Timestamp, "2030-06-15 13:45:30.123456789") -
                  inDatabase(ColumnKind::Timestamp, "2030-06-15 13:45:30"),
              0.123456789, 1e-6);
  EXPECT_TRUE(std::isnan(byRows(ColumnKind::Timestamp, "2030-01-01 10:00:00+02:")));
}

TEST(DbDatesSqlite, StoredNumbersReadAndCopiedAsTheRowsDo) {
  // A number stored in a date or time column is zul's count (not a Julian
  // day), an infinity missing; a copy writes the text the rows write.
  sqlite3* db = nullptr;
  sqlite3_open(":memory:", &db);
  db::registerSqliteFunctions(db);
  const struct {
    ColumnKind kind;
    const char* name;
    double count;
  } cases[] = {{ColumnKind::Date, "date", 25733},       {ColumnKind::Date, "date", -1.5},
               {ColumnKind::Time, "time", 49530.25},    {ColumnKind::Time, "time", 86399.9999999},
               {ColumnKind::Timestamp, "timestamp", 2223352800.5}, {ColumnKind::Date, "date", HUGE_VAL}};
  for (const auto& c : cases) {
    const std::string x = "(select " + sqlgen::numberLiteral(c.count) + ")";
    const std::string sql = "select zul_temporal(" + x + ", '" + c.name + "'), " +
                            sqlgen::sqliteTemporalText(x, c.name);
    sqlite3_stmt* st = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_step(st);
    if (std::isfinite(c.count)) {
      EXPECT_EQ(sqlite3_column_double(st, 0), c.count);
      const unsigned char* t = sqlite3_column_text(st, 1);
      EXPECT_EQ(std::string(t ? reinterpret_cast<const char*>(t) : "?"), db::formatTemporal(c.kind, c.count))
          << c.count;
    } else {
      EXPECT_EQ(sqlite3_column_type(st, 0), SQLITE_NULL);
      EXPECT_EQ(sqlite3_column_type(st, 1), SQLITE_NULL);
    }
    sqlite3_finalize(st);
  }
  sqlite3_close(db);
}

}  // namespace
}  // namespace zul::table
