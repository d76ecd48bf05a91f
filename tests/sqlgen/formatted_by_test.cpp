// BY variables with a display format, run on SQLite: the crossproducts
// form their groups by the formatted value, in every statement shape, and
// the scoring statement selects every row of such a group.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "sqlgen/crossproduct_sql.hpp"
#include "sqlgen/scoring_sql.hpp"
#include "sqlgen/sqlite_db.hpp"

namespace sqlgen {
namespace {

using sqlgen_test::SqliteDb;

// Raw BY values and the same values as "3." and "$1." write them: three
// groups and the missing one. 999.6 is wider than its format ("1000").
struct RawRow {
  const char* g;
  const char* c;
  const char* gShown;
  const char* cShown;
};
const RawRow kRaw[] = {{"1.4", "'Anna'", "1", "'A'"},     {"1.2", "'Abe'", "1", "'A'"},
                       {"2.3", "'Bob'", "2", "'B'"},      {"2.1", "'Bea'", "2", "'B'"},
                       {"1000.2", "'Cyd'", "1000", "'C'"}, {"999.6", "'Cy'", "1000", "'C'"},
                       {"null", "null", "null", "null"}};

// Tables raw1, raw2 (the rows split in two parts) and raw; shown1, shown2
// and shown hold the same rows with the BY values as formatted.
void makeTables(SqliteDb& db) {
  for (const char* t : {"raw", "raw1", "raw2", "shown", "shown1", "shown2"})
    db.exec(std::string("create table ") + t +
            " (g double precision, c text, x double precision, y double precision, z double precision)");
  int row = 0;
  for (const RawRow& r : kRaw) {
    for (int k = 0; k < 3; ++k, ++row) {
      const std::string xyz = ", " + std::to_string(row % 5) + ", " + std::to_string((row * row) % 7) + ", " +
                              std::to_string((row * 3) % 4) + ")";
      const std::string part = row % 2 ? "1" : "2";
      db.exec("insert into raw" + part + " values (" + r.g + ", " + r.c + xyz);
      db.exec("insert into shown" + part + " values (" + r.gShown + ", " + r.cShown + xyz);
    }
  }
  db.exec("insert into raw select * from raw1 union all select * from raw2");
  db.exec("insert into shown select * from shown1 union all select * from shown2");
}

CrossRequest request(const std::vector<std::string>& by, const std::vector<std::string>& formats) {
  CrossRequest r;
  r.variables = {"x", "y", "z"};
  r.by = by;
  r.byFormats = formats;
  for (const auto& b : by) r.byCharacter.push_back(b != "g");
  return r;
}

// Every statement shape, on the table `t` or its parts t1 and t2, in BY
// order (the blocks of a group by block number).
std::vector<std::vector<double>> shapes(SqliteDb& db, CrossRequest r, const std::string& t) {
  r.from = "\"" + t + "\"";
  const std::vector<double> shift = {2, 3, 1};
  std::vector<std::vector<double>> out;
  auto add = [&](const std::string& sql) {
    for (auto& row : db.rows(sql)) out.push_back(row);
  };
  add(crossproductStatement(r, ShiftKind::kMeans));
  add(crossproductStatement(r, ShiftKind::kConstant, shift));
  add(crossproductStatement(r, ShiftKind::kZero));
  add(partsCrossproductStatement(r, {"\"" + t + "1\"", "\"" + t + "2\""}, ShiftKind::kConstant, shift));
  std::string order;
  for (const auto& b : r.by) order += quoteIdentifier(b) + " nulls first, ";
  add("select * from (" + crossproductBlockStatement(r, ShiftKind::kMeans, {}, 7) + ") as s order by " + order +
      "\"_BLOCK_\"");
  return out;
}

// The formatted groups of raw give the numbers of the groups of shown, in
// the same order; each group's BY value is its smallest raw value.
TEST(FormattedBy, CrossproductsOfFormattedGroupsAreThoseOfTheFormattedValues) {
  SqliteDb db;
  makeTables(db);
  const std::vector<std::vector<std::string>> bys = {{"g"}, {"c"}, {"c", "g"}};
  for (const auto& by : bys) {
    std::vector<std::string> formats;
    for (const auto& b : by) formats.push_back(b == "g" ? "3." : "$1.");
    const auto got = shapes(db, request(by, formats), "raw");
    const auto want = shapes(db, request(by, {}), "shown");
    ASSERT_EQ(got.size(), want.size()) << by.size();
    for (size_t i = 0; i < want.size(); ++i) {
      ASSERT_EQ(got[i].size(), want[i].size());
      for (size_t c = by.size(); c < want[i].size(); ++c) {
        if (std::isnan(want[i][c])) EXPECT_TRUE(std::isnan(got[i][c])) << i << "," << c;
        else EXPECT_NEAR(got[i][c], want[i][c], 1e-9 * (1 + std::fabs(want[i][c]))) << i << "," << c;
      }
      if (by.back() != "g") continue;
      // The numeric BY value: the smallest raw value of the group.
      const double g = got[i][by.size() - 1];
      const double shown = want[i][by.size() - 1];
      if (std::isnan(shown)) EXPECT_TRUE(std::isnan(g)) << i;
      else EXPECT_EQ(g, shown == 1 ? 1.2 : shown == 2 ? 2.1 : 999.6) << i;
    }
  }
  CrossRequest r = request({"c"}, {"$1."});
  r.from = "\"raw\"";
  EXPECT_EQ(db.text("select c from (" + crossproductStatement(r, ShiftKind::kMeans) + ") as s where c <> ''"),
            "Abe");
}

// A formatted BY variable followed by another: the groups come in the
// order of the formatted value, then the next variable, in every statement
// shape, also when a group's smallest raw value says otherwise. Rows
// (2.4, Ab, k=1) and (2, Aa, k=2): by g "1." or c "$1.", then k, the
// groups are k=1 and k=2 in that order, though k=2 has the smaller g or c.
TEST(FormattedBy, GroupsInTheOrderOfTheFormattedValueThenTheNextVariable) {
  SqliteDb db;
  for (const char* t : {"t", "t1", "t2"})
    db.exec(std::string("create table ") + t + " (g double precision, c text, k double precision, "
            "x double precision, y double precision, z double precision)");
  for (int i = 0; i < 12; ++i) {
    const std::string values = std::string(i % 2 ? "2.4, 'Ab', 1, " : "2, 'Aa', 2, ") + std::to_string(i % 5) +
                               ", " + std::to_string(i * i % 7) + ", " + std::to_string(i * 3 % 4) + ")";
    db.exec("insert into t values (" + values);
    db.exec(std::string("insert into t") + (i % 4 < 2 ? "1" : "2") + " values (" + values);
  }
  for (const char* first : {"g", "c"}) {
    CrossRequest r = request({first, "k"}, {first[0] == 'g' ? "1." : "$1.", ""});
    r.from = "\"t\"";
    const std::string statements[] = {
        crossproductStatement(r, ShiftKind::kMeans), crossproductStatement(r, ShiftKind::kZero),
        partsCrossproductStatement(r, {"\"t1\"", "\"t2\""}, ShiftKind::kConstant, {2, 3, 1}),
        crossproductBlockStatement(r, ShiftKind::kMeans, {}, 7)};
    for (const std::string& sql : statements) {
      std::vector<double> k;
      for (const auto& row : db.rows(sql))
        if (k.empty() || k.back() != row[1]) k.push_back(row[1]);
      EXPECT_EQ(k, (std::vector<double>{1, 2})) << first << ": " << sql;
    }
  }
}

// The scoring statement of a group whose value is its first row's selects
// all of the group's rows, not only those equal to that value; a missing
// value selects the null rows.
TEST(FormattedBy, ScoringSelectsEveryRowOfTheFormattedGroup) {
  SqliteDb db;
  makeTables(db);
  db.exec("create table o (g double precision, c text, s double precision)");
  ScoringSpec s;
  s.inputTable = "\"raw\"";
  s.outputTable = "\"o\"";
  s.copied = {"g", "c"};
  s.inputNames = {"x"};
  s.outputNames = {"s"};
  s.score = {1};
  struct Case {
    bool numeric;
    double number;
    const char* text;
    int rows;
  };
  const Case cases[] = {{true, 1.2, "", 6}, {true, 999.6, "", 6}, {true, NAN, "", 3},
                        {false, 0, "Abe", 6}, {false, 0, "Cy", 6}, {false, 0, "", 3}};
  for (const Case& k : cases) {
    ByValue b;
    b.name = k.numeric ? "g" : "c";
    b.numeric = k.numeric;
    b.number = k.number;
    b.text = k.text;
    b.formatName = k.numeric ? "" : "$";
    b.formatWidth = k.numeric ? 3 : 1;
    s.by = {b};
    db.exec("delete from o");
    db.exec(scoringStatement(s));
    EXPECT_EQ(db.changes(), k.rows) << b.name << " " << k.number << " " << k.text;
  }
}

}  // namespace
}  // namespace sqlgen
