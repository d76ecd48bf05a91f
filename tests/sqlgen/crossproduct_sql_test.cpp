#include "sqlgen/crossproduct_sql.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>

#include "sqlgen/sqlite_db.hpp"

namespace sqlgen {
namespace {

using sqlgen_test::SqliteDb;

CrossRequest request(std::vector<std::string> variables, std::string from = "\"t\"") {
  CrossRequest r;
  r.from = std::move(from);
  r.variables = std::move(variables);
  return r;
}

// The correlation of variables a and b from one result row.
double correlation(const std::vector<double>& row, const CrossLayout& L, int a, int b) {
  auto q = [&](int i, int j) {
    if (i < j) std::swap(i, j);
    const double w = row[static_cast<size_t>(L.weightsUsed())];
    const double si = row[static_cast<size_t>(L.sum(i))], sj = row[static_cast<size_t>(L.sum(j))];
    return row[static_cast<size_t>(L.cross(i * (i + 1) / 2 + j))] - si * sj / w;
  };
  return q(a, b) / std::sqrt(q(a, a) * q(b, b));
}

TEST(CrossproductSql, ObservationRulesMatchTheRowPath) {
  SqliteDb db;
  db.exec("create table t (x integer, y double precision, f double precision, w double precision)");
  // Used: (1,2,f=2.7->2,w=1), (3,5,f=1,w=0.5). Dropped as non-positive:
  // f=0.5, f=null, w=0, w=-1. Dropped as missing: y null, x infinite.
  db.exec("insert into t values (1, 2, 2.7, 1), (3, 5, 1, 0.5), (4, 4, 0.5, 1), (4, 4, null, 1),"
          " (4, 4, 1, 0), (4, 4, 1, -1), (4, null, 1, 1), (9e999, 1, 3, 1)");
  CrossRequest r = request({"x", "y"});
  r.freq = "f";
  r.weight = "w";
  const CrossLayout L{0, 2};
  const auto row = db.rows(crossproductStatement(r, ShiftKind::kZero))[0];
  ASSERT_EQ(row.size(), static_cast<size_t>(L.columns()));
  // Frequencies read are those of records past the FREQ test (2, 1, 1, 1,
  // 1, 3); weights read, times their frequencies, of records past both
  // tests (2, 0.5, 1, 3).
  const std::pair<int, double> want[] = {
      {L.used(), 2}, {L.freqUsed(), 3}, {L.weightsUsed(), 2 * 1 + 1 * 0.5},
      {L.sum(0), 2 * 1 + 0.5 * 3}, {L.sum(1), 2 * 2 + 0.5 * 5}, {L.cross(0), 2 * 1 + 0.5 * 9},
      {L.cross(1), 2 * 2 + 0.5 * 15}, {L.cross(2), 2 * 4 + 0.5 * 25}, {L.recordsRead(), 8},
      {L.missing(), 2}, {L.nonPositive(), 4}, {L.freqRead(), 9}, {L.weightsRead(), 6.5}};
  for (const auto& [column, value] : want) EXPECT_EQ(row[column], value) << "column " << column;
}

// Without FREQ and WEIGHT the sums leave out the combined weight; the
// records not used (a missing and an infinite value) still add nothing.
TEST(CrossproductSql, UnweightedSumsSkipTheWeightAndTheRecordsNotUsed) {
  SqliteDb db;
  db.exec("create table t (x double precision, y double precision)");
  db.exec("insert into t values (1, 2), (3, 5), (null, 4), (9e999, 1)");
  CrossRequest r = request({"x", "y"});
  const std::string sql = crossproductStatement(r, ShiftKind::kZero);
  EXPECT_EQ(sql.find("\"_cw_\" * \"_d"), std::string::npos);
  const CrossLayout L{0, 2};
  const auto row = db.rows(sql)[0];
  const std::pair<int, double> want[] = {{L.used(), 2},    {L.weightsUsed(), 2}, {L.sum(0), 4},
                                         {L.sum(1), 7},    {L.cross(0), 10},     {L.cross(1), 17},
                                         {L.cross(2), 29}, {L.missing(), 2}};
  for (const auto& [column, value] : want) EXPECT_EQ(row[column], value) << "column " << column;
  r.weight = "y";  // weighted: the combined weight is back in every sum
  EXPECT_NE(crossproductStatement(r, ShiftKind::kZero).find("\"_cw_\" * \"_d"), std::string::npos);
}

TEST(CrossproductSql, LargeMeansGiveTheRightCorrelation) {
  // Values near 1e6 with unit spread: raw sums cancel to nothing, sums about
  // the means or about one observation keep every digit that matters.
  SqliteDb db;
  db.exec("create table t (a double precision, b double precision)");
  std::mt19937_64 gen(7);
  std::normal_distribution<double> z;
  double sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0;
  std::vector<std::pair<double, double>> data;
  std::string values;
  for (int i = 0; i < 400; ++i) {
    const double u = z(gen), v = 0.6 * u + 0.8 * z(gen);
    data.emplace_back(u, v);
    values += (i ? ", (" : "(") + numberLiteral(1e6 + u) + ", " + numberLiteral(1e6 + v) + ")";
  }
  db.exec("insert into t values " + values);
  // The exact correlation, from the values the table holds, about their mean.
  const auto stored = db.rows("select a, b from t");
  double ma = 0, mb = 0;
  for (const auto& s : stored) ma += s[0] / 400, mb += s[1] / 400;
  for (const auto& s : stored) {
    const double da = s[0] - ma, dbv = s[1] - mb;
    saa += da * da, sbb += dbv * dbv, sab += da * dbv, sa += da, sb += dbv;
  }
  const double exact = sab / std::sqrt(saa * sbb);

  CrossRequest r = request({"a", "b"});
  const CrossLayout L{0, 2};
  const auto means = db.rows(crossproductStatement(r, ShiftKind::kMeans))[0];
  EXPECT_NEAR(correlation(means, L, 1, 0), exact, 1e-12);
  EXPECT_NEAR(means[L.shift(0)], ma, 1e-6);
  const auto first = db.rows(firstUsableRowStatement(r))[0];
  const auto shifted = db.rows(crossproductStatement(r, ShiftKind::kConstant, first))[0];
  EXPECT_NEAR(correlation(shifted, L, 1, 0), exact, 1e-12);
  EXPECT_EQ(shifted[L.shift(1)], first[1]);
  // Raw sums are far off: this is what the shift is for.
  const auto raw = db.rows(crossproductStatement(r, ShiftKind::kZero))[0];
  EXPECT_GT(std::fabs(correlation(raw, L, 1, 0) - exact), 1e-6);
}

TEST(CrossproductSql, ByGroupsInOrderWithNullsFirstAndQuotedValues) {
  SqliteDb db;
  db.exec("create table t (\"grp name\" text, x double precision)");
  db.exec("insert into t values ('O''Brien', 1), ('O''Brien', 3), (null, 10), (null, 14),"
          " ('a b', 5), ('a b', null)");
  CrossRequest r = request({"x"});
  r.by = {"grp name"};
  r.byCharacter = {true};
  const CrossLayout L{1, 1};
  const auto rows = db.rows(crossproductStatement(r, ShiftKind::kMeans));
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0][L.shift(0)], 12);  // the missing group (null, blank text) first
  EXPECT_EQ(rows[0][L.cross(0)], 8);  // (10-12)^2 + (14-12)^2
  EXPECT_EQ(rows[1][L.shift(0)], 2);   // "O'Brien" sorts before "a b"
  EXPECT_EQ(rows[2][L.used()], 1);
  EXPECT_EQ(rows[2][L.missing()], 1);
  EXPECT_EQ(db.text("select \"grp name\" from (" + crossproductStatement(r, ShiftKind::kMeans) +
                    ") as s where \"_S1_\" = 0 and \"_USED_\" = 2 and \"_SHIFT1_\" = 2"),
            "O'Brien");
}

// The result row written in blocks (a union of aggregates over one view of
// the deviations) holds exactly the single statement's values, for each BY
// group, the null group included; the last block is padded with nulls.
TEST(CrossproductSql, BlocksReassembleTheSingleRow) {
  SqliteDb db;
  db.exec("create table t (g double precision, a double precision, b double precision, c double precision)");
  db.exec("insert into t values (1, 1, 2, 4), (1, 3, 1, 0.5), (1, 2, 7, 1), (null, 5, 5, 2),"
          " (null, 1, 0, 9), (2, 4, null, 1)");
  CrossRequest r = request({"a", "b", "c"});
  r.by = {"g"};
  const int k = 7;  // 20 columns after the BY column: blocks of 7, 7, 6 and a null
  const auto single = db.rows(crossproductStatement(r, ShiftKind::kMeans));
  const auto blocks = db.rows(crossproductBlockStatement(r, ShiftKind::kMeans, {}, k));
  const size_t width = crossColumnNames(3).size();
  ASSERT_EQ(crossBlockCount(3, k), 3);
  ASSERT_EQ(blocks.size(), 3 * single.size());
  for (size_t g = 0; g < single.size(); ++g) {
    std::vector<double> row(width, -1);
    for (const auto& b : blocks) {
      const bool same = std::isnan(b[0]) ? std::isnan(single[g][0]) : b[0] == single[g][0];
      if (!same) continue;
      ASSERT_EQ(b.size(), 2u + k);
      for (int c = 0; c < k; ++c) {
        const size_t at = static_cast<size_t>(b[1]) * k + c;
        if (at < width) row[at] = b[2 + c];
        else EXPECT_TRUE(std::isnan(b[2 + c]));
      }
    }
    for (size_t c = 0; c < width; ++c) {
      const double want = single[g][1 + c];  // the shift of a group with no usable record is null
      if (std::isnan(want)) EXPECT_TRUE(std::isnan(row[c])) << g << " " << c;
      else EXPECT_DOUBLE_EQ(row[c], want) << g << " " << c;
    }
  }
  // The deviations in a temporary table (SQLite's form) give the same rows
  // to the last bit, about either shift.
  for (ShiftKind kind : {ShiftKind::kMeans, ShiftKind::kConstant}) {
    const std::vector<double> shift{1, 2, 4};
    db.exec(deviationTableStatement(r, kind, shift, "dev"));
    const auto fromTable = db.rows(crossproductBlockStatement(r, kind, shift, k, "dev"));
    const auto fromCte = db.rows(crossproductBlockStatement(r, kind, shift, k));
    ASSERT_EQ(fromTable.size(), fromCte.size());
    for (size_t i = 0; i < fromCte.size(); ++i)
      for (size_t c = 0; c < fromCte[i].size(); ++c)
        EXPECT_TRUE(fromTable[i][c] == fromCte[i][c] ||
                    (std::isnan(fromTable[i][c]) && std::isnan(fromCte[i][c])))
            << i << " " << c;
    db.exec("drop table temp.\"dev\"");
  }
}

TEST(CrossproductSql, AnEmptyTableGivesZeroCounts) {
  SqliteDb db;
  db.exec("create table t (x double precision)");
  CrossRequest r = request({"x"});
  const CrossLayout L{0, 1};
  const auto rows = db.rows(crossproductStatement(r, ShiftKind::kMeans));
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][L.used()], 0);
  EXPECT_EQ(rows[0][L.recordsRead()], 0);
  EXPECT_EQ(rows[0][L.sum(0)], 0);
  EXPECT_TRUE(db.rows(firstUsableRowStatement(r)).empty());
}

TEST(CrossproductSql, PartitionsSummedOneByOneGiveTheWholeTable) {
  // Group 2 lives in one part only, the null group in two, the third part
  // is empty; a missing value and a non-positive weight are dropped where
  // they are. Each case: the partitioned statement's rows are the whole
  // table's, column by column (the shift is common, so kMeans is moved to
  // the constant one).
  SqliteDb db;
  const char* columns = "(g integer, x double precision, y double precision, w double precision)";
  for (const char* t : {"whole", "p1", "p2", "p3"}) db.exec(std::string("create table ") + t + columns);
  db.exec("insert into p1 values (1, 1, 2, 1), (null, 3, 1, 2), (1, 4, null, 1), (1, 2, 2, 0)");
  db.exec("insert into p2 values (2, 5, 7, 1), (1, 4, 4, 3), (null, 8, 1, 1), (2, 6, 9, 0.5)");
  db.exec("insert into whole select * from p1 union all select * from p2");
  CrossRequest r;
  r.variables = {"x", "y"};
  r.weight = "w";
  const std::vector<std::string> parts = {"\"p1\"", "\"p2\"", "\"p3\""};
  const std::vector<double> shift = {4, 3};
  for (bool grouped : {true, false}) {
    r.by = grouped ? std::vector<std::string>{"g"} : std::vector<std::string>{};
    r.from = "\"whole\"";
    const auto want = db.rows(crossproductStatement(r, ShiftKind::kConstant, shift));
    const auto got = db.rows(partsCrossproductStatement(r, parts, ShiftKind::kMeans, shift));
    ASSERT_EQ(got.size(), want.size()) << grouped;
    ASSERT_EQ(got.size(), grouped ? 3u : 1u);
    for (size_t i = 0; i < want.size(); ++i) {
      ASSERT_EQ(got[i].size(), want[i].size());
      for (size_t c = 0; c < want[i].size(); ++c) {
        if (std::isnan(want[i][c])) EXPECT_TRUE(std::isnan(got[i][c])) << i << "," << c;
        else EXPECT_NEAR(got[i][c], want[i][c], 1e-12 * std::fabs(want[i][c])) << i << "," << c;
      }
    }
  }
}

// The size of the program SQLite compiles a statement to (one row of
// "explain" per instruction): what the planner made of it, after any
// derived tables were pulled up into the aggregate.
size_t compiledSize(SqliteDb& db, const std::string& sql) { return db.rows("explain " + sql).size(); }

std::string wideTable(SqliteDb& db, const char* name, size_t n) {
  std::string cols = "g text, f double precision, w double precision";
  for (size_t i = 0; i < n; ++i) cols += ", x" + std::to_string(i) + " double precision";
  db.exec(std::string("create table ") + name + " (" + cols + ")");
  return std::string("\"") + name + "\"";
}

TEST(CrossproductSql, CompiledStatementGrowsAsTheCrossproducts) {
  // n(n+1)/2 crossproducts each testing every variable's status would grow
  // like n^3; computed once per row, the program grows like n^2 (ratio 4
  // from 20 to 40 variables). Each form: whole, blocked, about the means.
  SqliteDb db;
  auto wide = [&](size_t n) {
    CrossRequest r;
    r.from = wideTable(db, n == 20 ? "t20" : "t40", n);
    for (size_t i = 0; i < n; ++i) r.variables.push_back("x" + std::to_string(i));
    r.by = {"g"};
    r.freq = "f";
    r.weight = "w";
    return r;
  };
  const CrossRequest r20 = wide(20), r40 = wide(40);
  const std::vector<std::function<std::string(const CrossRequest&)>> forms = {
      [](const CrossRequest& r) { return crossproductStatement(r, ShiftKind::kMeans); },
      [](const CrossRequest& r) { return crossproductStatement(r, ShiftKind::kZero); },
      [](const CrossRequest& r) { return crossproductBlockStatement(r, ShiftKind::kMeans, {}, 100); },
  };
  for (size_t k = 0; k < forms.size(); ++k) {
    const double small = static_cast<double>(compiledSize(db, forms[k](r20)));
    const double large = static_cast<double>(compiledSize(db, forms[k](r40)));
    EXPECT_LT(large / small, 5.0) << k << ": " << small << " -> " << large;
  }
}

TEST(CrossproductSql, PostgresTextCastsAndTestsNaN) {
  CrossRequest r;
  r.dialect = Dialect::kPostgres;
  r.from = "\"s\".\"t\"";
  r.variables = {"x"};
  r.freq = "f";
  r.by = {"g"};
  const std::string s = crossproductStatement(r, ShiftKind::kMeans);
  EXPECT_NE(s.find("cast(\"x\" as double precision)"), std::string::npos);
  EXPECT_NE(s.find("= cast('NaN' as double precision)"), std::string::npos);
  EXPECT_NE(s.find("floor(\"_f_\") <= 0"), std::string::npos);
  // Joined to the means by equalities PostgreSQL can hash, nulls equal.
  EXPECT_NE(s.find("(\"_t_\".\"_b0_\" is null) = (\"_m_\".\"_b0_\" is null) and "
                   "coalesce(\"_t_\".\"_b0_\", 0) = coalesce(\"_m_\".\"_b0_\", 0)"),
            std::string::npos);
  EXPECT_EQ(crossColumnNames(2).size(), static_cast<size_t>(CrossLayout{0, 2}.columns()));
}

}  // namespace
}  // namespace sqlgen
