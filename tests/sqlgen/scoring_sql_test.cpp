#include "sqlgen/scoring_sql.hpp"

#include <gtest/gtest.h>

#include <cmath>

#include "sqlgen/column_types.hpp"
#include "sqlgen/sqlite_db.hpp"

namespace sqlgen {
namespace {

using sqlgen_test::SqliteDb;

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

const double kX[4][3] = {{1, 2, 4}, {2, 1, 3}, {4, 5, 1}, {3, 3, 3}};

// Input t(id, g, x1, x2, x3, p): rows 1-3 in group O'Brien, row 4 in "a b".
void makeInput(SqliteDb& db) {
  db.exec("create table t (id integer, g text, x1 double precision, x2 double precision,"
          " x3 double precision, p double precision)");
  db.exec("insert into t values (1, 'O''Brien', 1, 2, 4, 10), (2, 'O''Brien', 2, 1, 3, 12),"
          " (3, 'O''Brien', 4, 5, 1, 11), (4, 'a b', 3, 3, 3, 9)");
  db.exec("create table o (id integer, g text, r1 double precision, r2 double precision,"
          " f1 double precision, f2 double precision, f3 double precision)");
}

ScoringSpec baseSpec() {
  ScoringSpec s;
  s.inputTable = "\"t\"";
  s.outputTable = "\"o\"";
  s.copied = {"id", "g"};
  ByValue g;
  g.name = "g";
  g.numeric = false;
  g.text = "O'Brien   ";
  s.by = {g};
  s.inputNames = {"x1", "x2", "x3"};
  s.outputNames = {"f1", "f2", "f3"};
  s.inputMean = {2, 3, 0};
  s.inputStd = {0.5, 2, 1};
  s.score = {0.25, 1, 0, /**/ -0.5, 0.125, 2, /**/ 1, 1, 1};
  s.eigval = {3, 1, 1e-14};  // the third is below 1.1368683772161608E-13 * 3
  return s;
}

TEST(ScoringSql, ScoresWrittenByTheStatementEqualTheLinearCombination) {
  SqliteDb db;
  makeInput(db);
  const ScoringSpec s = baseSpec();
  const std::string sql = scoringStatement(s);
  db.exec(sql);
  EXPECT_EQ(db.changes(), 3);  // the BY condition keeps group O'Brien only
  const auto rows = db.rows("select id, f1, f2, f3 from o order by id");
  ASSERT_EQ(rows.size(), 3u);
  for (int r = 0; r < 3; ++r) {
    double z[3];
    for (int i = 0; i < 3; ++i) z[i] = (kX[r][i] - s.inputMean[i]) / s.inputStd[i];
    EXPECT_DOUBLE_EQ(rows[r][1], 0.25 * z[0] + z[1]);
    EXPECT_DOUBLE_EQ(rows[r][2], -0.5 * z[0] + 0.125 * z[1] + 2 * z[2]);
    EXPECT_EQ(rows[r][3], 0.0);  // tiny eigenvalue: an exact 0
  }
  // The pieces that carry the rules, as written.
  EXPECT_TRUE(has(sql, " cast(0 as double precision) end as \"f3\""));
  EXPECT_TRUE(has(sql, "\"_v0_\" * 0.25 + \"_v1_\" end as \"f1\""));  // coefficient 1: the bare alias
  EXPECT_TRUE(has(sql, "(nullif(nullif(cast((case when typeof(\"x3\") in ('integer', 'real') then \"x3\" end) as double precision), 9e999), -9e999)) as \"_v2_\""));  // mean 0, scale 1
  EXPECT_TRUE(has(sql, " where ((rtrim(\"g\") collate binary='O''Brien')) limit -1 offset 0) as _view1_;"));
  // An infinite value is missing: its row's scores are null, not infinite.
  // A missing value makes every score of its row null, also one without a
  // term of that variable (f1 has none of x3) and one set to 0 (f3).
  // Trailing blanks do not count: 'O''Brien  ' is in the group.
  db.exec("delete from o");
  db.exec("insert into t values (9, 'O''Brien', 9e999, 1, 1, 0), (10, 'O''Brien  ', 2, 3, 0, 0),"
          " (11, 'O''Brien', 2, 3, null, 0)");
  db.exec(sql);
  for (const auto& row : db.rows("select f1, f2, f3 from o where id in (9, 11)"))
    for (double f : row) EXPECT_TRUE(std::isnan(f));
  EXPECT_EQ(db.rows("select f1 from o where id = 10")[0][0], 0.0);
}

TEST(ScoringSql, CopiedColumnsNamedLikeTheGeneratedAliasesChangeNothing) {
  // Input columns called "_v0_", "_OK_" (SQLite names are case-blind) and
  // "_c1_" are copied: the views must not take them for the standardised
  // input, the completeness flag or another copied column.
  SqliteDb db;
  db.exec("create table t (\"_v0_\" double precision, \"_OK_\" double precision,"
          " \"_c1_\" text, x1 double precision, x2 double precision)");
  db.exec("insert into t values (100, 7, 'a', 1, 2), (200, null, 'b', 3, 5),"
          " (300, 1, 'c', 4, null)");
  db.exec("create table o (\"_v0_\" double precision, \"_OK_\" double precision,"
          " \"_c1_\" text, f1 double precision)");
  ScoringSpec s;
  s.inputTable = "\"t\"";
  s.outputTable = "\"o\"";
  s.copied = {"_v0_", "_OK_", "_c1_"};
  s.inputNames = {"x1", "x2"};
  s.outputNames = {"f1"};
  s.inputMean = {2, 3};
  s.inputStd = {0.5, 2};
  s.score = {1, 0.25};
  db.exec(scoringStatement(s));
  const auto rows = db.rows("select \"_v0_\", \"_OK_\", f1 from o order by 1");
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0][1], 7);
  EXPECT_DOUBLE_EQ(rows[0][2], (1 - 2) / 0.5 + 0.25 * (2 - 3) / 2);
  EXPECT_TRUE(std::isnan(rows[1][1]));
  EXPECT_DOUBLE_EQ(rows[1][2], (3 - 2) / 0.5 + 0.25 * (5 - 3) / 2);
  EXPECT_TRUE(std::isnan(rows[2][2]));  // x2 missing
  EXPECT_EQ(db.text("select group_concat(\"_c1_\", '') from o"), "abc");
}

// (A text BY value with a NUL byte selecting its own rows, not those of
// the value cut at the NUL: nul_byte_in_text_by of the databases check.)
TEST(ScoringSql, TextRulesForAbsentMeansMissingValuesAndBlankGroups) {
  ScoringSpec s = baseSpec();
  s.inputMean.clear();
  s.inputStd.clear();
  s.eigval = {2, std::nan(""), 0};
  s.intercept = {1.5, 0, 0};
  s.score[1] = 1;
  ByValue blank;
  blank.name = "h";
  blank.numeric = false;
  blank.text = "   ";
  ByValue missing;
  missing.name = "k";
  missing.number = std::nan("");
  s.by = {blank, missing};
  s.inputWhere = "\"id\" > 0";
  const std::string sql = scoringStatement(s);
  // No means and no scales: the bare cast, no parentheses, no arithmetic.
  EXPECT_TRUE(has(sql, " select \"id\" as \"_c0_\", \"g\" as \"_c1_\", nullif(nullif(cast((case when typeof(\"x1\") in ('integer', 'real') then \"x1\" end) as double precision), 9e999), -9e999) as \"_v0_\", "));
  EXPECT_TRUE(has(sql, "1.5 + \"_v0_\" * 0.25 + \"_v1_\" end as \"f1\""));
  EXPECT_TRUE(has(sql, " cast(null as double precision) end as \"f2\""));
  EXPECT_TRUE(has(sql, " cast(0 as double precision) end as \"f3\""));
  // A missing number selects NaN and the infinities too, which zul reads as missing.
  EXPECT_TRUE(has(sql, " where (\"id\" > 0) and ((rtrim(\"h\") collate binary='' or \"h\" is null) and "
                       "(nullif(nullif(cast((case when typeof(\"k\") in ('integer', 'real') then \"k\" end) as double precision), 9e999), -9e999) is null))"));
  // A missing coefficient makes the score null.
  s.eigval.clear();
  s.score[4] = std::nan("");
  EXPECT_TRUE(has(scoringStatement(s), " cast(null as double precision) end as \"f2\""));
  // BY values as constant columns instead of a condition.
  s.byConstants = true;
  const std::string c = scoringStatement(s);
  EXPECT_TRUE(has(c, "( \"id\", \"g\", \"h\", \"k\", \"f1\""));
  EXPECT_TRUE(has(c, "'' as \"h\", cast( null  as double precision) as \"k\""));
  EXPECT_FALSE(has(c, "is null"));
}

// n inputs, n partials and n scores with every coefficient set: the
// statement's compiled size in SQLite (one "explain" row per instruction).
double compiledScoringSize(size_t n) {
  SqliteDb db;
  ScoringSpec s;
  s.inputTable = "\"t\"";
  s.outputTable = "\"o\"";
  std::string in, out;
  for (size_t i = 0; i < n; ++i) {
    const std::string k = std::to_string(i);
    s.inputNames.push_back("x" + k);
    s.partialNames.push_back("p" + k);
    s.outputNames.push_back("f" + k);
    s.residualNames.push_back("r" + k);
    in += (i ? ", " : "") + ("x" + k + " real, p" + k + " real");
    out += (i ? ", " : "") + ("f" + k + " real, r" + k + " real");
    s.inputMean.push_back(1.5);
    s.inputStd.push_back(2.5);
    s.partialMean.push_back(0.5);
    s.partialStd.push_back(3.5);
    s.condStd.push_back(0.75);
    s.prsq.push_back(0.5);
  }
  s.partial.assign(n * n, 0.125);
  s.score.assign(n * n, 0.25);
  db.exec("create table t (" + in + ")");
  db.exec("create table o (" + out + ")");
  std::string sql = scoringStatement(s);
  sql.pop_back();  // the ";"
  return static_cast<double>(db.rows("explain " + sql).size());
}

TEST(ScoringSql, CompiledStatementGrowsAsTheCoefficients) {
  // n scores of n residuals of n partials each: pulled up into the scores,
  // every residual would be written out in each score (n^3); computed once
  // per row, the statement grows as its n^2 coefficients (ratio 4).
  const double small = compiledScoringSize(10), large = compiledScoringSize(20);
  EXPECT_LT(large / small, 5.0) << small << " -> " << large;
}

TEST(ScoringSql, PartialVariablesGiveResidualsAndScoresOfResiduals) {
  SqliteDb db;
  makeInput(db);
  ScoringSpec s = baseSpec();
  s.by.clear();
  s.inputNames = {"x1", "x2"};
  s.outputNames = {"f1", "f2"};
  s.residualNames = {"r1", "r2"};
  s.partialNames = {"p"};
  s.inputMean = {2.5, 2.75};
  s.inputStd = {1.25, 1.5};
  s.partialMean = {10.5};
  s.partialStd = {1.2};
  s.partial = {0.4, 1};  // regression of x1 and x2 on p
  s.condStd = {0.9, 0.5};
  s.prsq = {0.19, 0.9999999999998863};  // x2 wholly explained: residual 0
  s.score = {0.5, 0.25, /**/ 1, -1};
  s.eigval.clear();
  const std::string sql = scoringStatement(s);
  EXPECT_TRUE(has(sql, " ( (\"_v0_\" - (0.4 * \"_p0_\") ) / 0.9) as \"_r0_\""));
  EXPECT_TRUE(has(sql, " cast(0 as double precision) as \"_r1_\""));
  EXPECT_TRUE(has(sql, " limit -1 offset 0) as _view1_ limit -1 offset 0) as _view2_;"));
  db.exec(sql);
  const auto rows = db.rows("select id, r1, r2, f1, f2 from o order by id");
  ASSERT_EQ(rows.size(), 4u);
  const double p[4] = {10, 12, 11, 9};
  for (int r = 0; r < 4; ++r) {
    const double v0 = (kX[r][0] - 2.5) / 1.25, pz = (p[r] - 10.5) / 1.2;
    const double r0 = (v0 - 0.4 * pz) / 0.9;
    EXPECT_NEAR(rows[r][1], r0 * 0.9 * 1.25, 1e-12);
    EXPECT_EQ(rows[r][2], 0.0);
    EXPECT_NEAR(rows[r][3], 0.5 * r0, 1e-12);
    EXPECT_NEAR(rows[r][4], r0, 1e-12);
  }
  // A missing partial value: every residual and score of the row is null,
  // the one of a wholly explained input (written as 0) too.
  db.exec("delete from o");
  db.exec("insert into t values (12, 'a', 1, 2, 3, null)");
  db.exec(sql);
  const auto missing = db.rows("select r1, r2, f1, f2 from o where id = 12");
  ASSERT_EQ(missing.size(), 1u);
  for (double v : missing[0]) EXPECT_TRUE(std::isnan(v));
}

TEST(ScoringSql, DatesTimesAndTimestampsScoreAsDaysAndSecondsSince1960) {
  SqliteDb db;
  db.exec("create table t (d date, tm time, ts timestamp)");
  db.exec("insert into t values ('1960-01-02', '00:01:00', '2030-06-15 13:45:30')");
  db.exec("create table o (a double precision, b double precision, c double precision)");
  ScoringSpec s;
  s.inputTable = "\"t\"";
  s.outputTable = "\"o\"";
  s.inputNames = {"d", "tm", "ts"};
  s.outputNames = {"a", "b", "c"};
  s.score = {1, 0, 0, /**/ 0, 1, 0, /**/ 0, 0, 1};
  s.columnTypes = {kTypeDate, kTypeTime, kTypeTimestamp};
  db.exec(scoringStatement(s));
  const auto row = db.rows("select a, b, c from o")[0];
  EXPECT_EQ(row[0], 1);
  EXPECT_EQ(row[1], 60);
  // 25733 days from 1960-01-01 to 2030-06-15 (see the dialect test).
  EXPECT_EQ(row[2], 25733.0 * 86400 + 13 * 3600 + 45 * 60 + 30);
  EXPECT_EQ(typeProbeStatement(s), " select \"d\", \"tm\", \"ts\" from \"t\"");
}

}  // namespace
}  // namespace sqlgen
