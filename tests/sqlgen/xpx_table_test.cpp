#include "sqlgen/xpx_table.hpp"

#include <gtest/gtest.h>

#include <cmath>

#include "sqlgen/crossproduct_sql.hpp"
#include "sqlgen/sqlite_db.hpp"

namespace sqlgen {
namespace {

using sqlgen_test::SqliteDb;

// Corrected crossproducts Q - S S^T / W: what does not depend on the shift.
std::vector<double> corrected(const XpxGroup& g) {
  std::vector<double> c;
  size_t p = 0;
  for (size_t i = 0; i < g.sums.size(); ++i)
    for (size_t j = 0; j <= i; ++j, ++p) c.push_back(g.packed[p] - g.sums[i] * g.sums[j] / g.weightsUsed);
  return c;
}

TEST(XpxTable, PartsAboutDifferentShiftsAddUpToTheWhole) {
  SqliteDb db;
  db.exec("create table t (part integer, x double precision, y double precision, w double precision)");
  db.exec("insert into t values (1, 1e6 + 1, 2, 1), (1, 1e6 + 2, 1, 2), (1, null, 3, 1),"
          " (2, 1e6 + 5, 7, 0.5), (2, 1e6 + 4, 4, 1), (2, 1e6 + 8, 1, 3), (3, 1e6, 0, 0)");
  CrossRequest whole;
  whole.from = "\"t\"";
  whole.variables = {"x", "y"};
  whole.weight = "w";
  XpxGroup sum;
  for (int part = 1; part <= 3; ++part) {
    CrossRequest r = whole;
    r.where = "\"part\" = " + std::to_string(part);
    // Each part about its own means: the shifts differ.
    const auto row = db.rows(crossproductStatement(r, ShiftKind::kMeans))[0];
    // Every part is a summary of records, part 3 one without a used record.
    EXPECT_EQ(xpxGroupFault(xpxFromAggregate(row.data(), 2)), "") << part;
    if (part == 1)
      sum = xpxFromAggregate(row.data(), 2);
    else
      combineParts(sum, xpxFromAggregate(row.data(), 2));
  }
  EXPECT_EQ(xpxGroupFault(sum), "");
  const XpxGroup all = xpxFromAggregate(db.rows(crossproductStatement(whole, ShiftKind::kMeans))[0].data(), 2);
  EXPECT_EQ(sum.nRead, 7);
  EXPECT_EQ(sum.nUsed, all.nUsed);
  EXPECT_EQ(sum.nMissing, 1);
  EXPECT_EQ(sum.weightsUsed, all.weightsUsed);
  const auto a = corrected(sum), b = corrected(all);
  for (size_t p = 0; p < a.size(); ++p) EXPECT_NEAR(a[p], b[p], 1e-9 * std::fabs(b[p])) << p;
  // The means agree too: shift + S / W.
  for (size_t i = 0; i < 2; ++i)
    EXPECT_NEAR(sum.shift[i] + sum.sums[i] / sum.weightsUsed, all.shift[i] + all.sums[i] / all.weightsUsed,
                1e-9);
}

TEST(XpxTable, ColumnsAndRowNumbersLineUp) {
  const auto names = xpxColumnNames({"g"}, {"x", "y"});
  const std::vector<std::string> want = {"_NREAD_", "_NUSED_", "_NMISS_", "_FREAD_",  "_FUSED_",
                                         "_WREAD_", "_WUSED_", "_NVAR_",  "_KEY_",    "_DNAME_",
                                         "g",       "x",       "y",       "_Q1_1_",   "_Q2_1_",
                                         "_Q2_2_",  "_SHIFT1_", "_SHIFT2_"};
  EXPECT_EQ(names, want);
  XpxGroup g;
  g.sums = {1, 2};
  g.packed = {3, 4, 5};
  g.shift = {6, 7};
  g.weightsUsed = 9;
  // Every column but the BY values and _DNAME_.
  EXPECT_EQ(xpxNumbers(g, 2).size(), names.size() - 2);
  EXPECT_EQ(xpxNumbers(g, 2)[kXpxCountColumns], 2);
}

TEST(XpxTable, RowsNoRecordsCanGiveAreFaults) {
  XpxGroup g;
  g.nRead = 4, g.nUsed = 3, g.nMissing = 1, g.freqRead = 5, g.freqUsed = 4;
  g.weightsRead = g.weightsUsed = 6;
  g.sums = {3, 0};
  g.packed = {1.5 * (1 + 1e-9), 0, 2};  // 3^2 / 6 = 1.5: a variance rounded to 0
  g.shift = {1e6, 2};
  EXPECT_EQ(xpxGroupFault(g), "");
  // (A negative variance, a fraction of _NUSED_ and sums without a record
  // used: the negvar, fraction and unused tables of the xpx_edited program.)
  XpxGroup bad = g;
  bad.freqUsed = 2;  // below the 3 records used, each of frequency 1 or more
  EXPECT_NE(xpxGroupFault(bad).find("_FUSED_ is less than its _NUSED_"), std::string::npos);
  bad = g;
  bad.freqRead = 3.5;
  EXPECT_EQ(xpxGroupFault(bad), "its column _FREAD_ holds 3.5, not a whole number");
  bad = g;
  bad.nUsed = bad.freqUsed = 0;  // and no sums either: a group of no record
  bad.sums = {0, 0}, bad.packed = {0, 0, 0}, bad.weightsUsed = 0;
  EXPECT_EQ(xpxGroupFault(bad), "");
}

TEST(XpxTable, OverflowedSumsOfTheDatabaseAreNotTakenForZero) {
  SqliteDb db;
  db.exec("create table t (x double precision, y double precision, w double precision)");
  db.exec("insert into t values (1, 1e200, 1e308), (2, -3e200, 1e308), (4, 2e200, 1e308)");
  CrossRequest r;
  r.from = "\"t\"";
  r.variables = {"x", "y"};
  const auto row = db.rows(crossproductStatement(r, ShiftKind::kMeans))[0];
  EXPECT_EQ(aggregateOverflow(row.data(), 2), 1);  // y's squares
  EXPECT_EQ(xpxFromAggregate(row.data(), 2).packed[2], 0);  // what a table would have held
  r.variables = {"x"};
  r.weight = "w";
  EXPECT_EQ(aggregateOverflow(db.rows(crossproductStatement(r, ShiftKind::kMeans))[0].data(), 1),
            kXpxWeightsOverflow);
  r.where = "\"x\" > 5";  // no used record: its nulls are no overflow
  EXPECT_EQ(aggregateOverflow(db.rows(crossproductStatement(r, ShiftKind::kMeans))[0].data(), 1),
            kXpxNoOverflow);
}

}  // namespace
}  // namespace sqlgen
