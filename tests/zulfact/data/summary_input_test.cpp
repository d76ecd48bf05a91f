// The in-database crossproducts against the row path: the same records,
// once through the aggregate statement run on SQLite and once through the
// crossproduct engine, give the same counts, notes and moments.
#include "zulfact/data/summary_input.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "memory_platform.hpp"
#include "sqlgen/crossproduct_sql.hpp"
#include "sqlgen/sqlite_db.hpp"
#include "zul/abi.h"

namespace zulfact {
namespace {

struct Moments {
  FinishOutcome fin;
  MomentsOut out;
  std::vector<double> means, sds, scale, corr;
  explicit Moments(int n) : means(n), sds(n), scale(n) {
    out.means = means.data();
    out.stdDevs = sds.data();
    out.scale = scale.data();
  }
};

std::string literal(double x) { return zul_is_missing(x) ? "null" : sqlgen::numberLiteral(x); }

// Rows of (x, y, z, f, w): large means, a few missing values, frequencies
// to truncate and non-positive weights.
std::vector<std::vector<double>> sampleRows() {
  std::mt19937_64 gen(11);
  std::normal_distribution<double> z;
  std::vector<std::vector<double>> rows;
  for (int i = 0; i < 300; ++i) {
    const double u = z(gen);
    std::vector<double> r = {1e6 + u, 5e5 + 0.3 * u + z(gen), z(gen), 1 + (i % 4) * 0.7,
                             i % 5 == 0 ? 0.0 : 0.5 + (i % 3)};
    if (i % 17 == 0) r[1] = zul_missing();
    if (i % 23 == 0) r[3] = 0.4;
    rows.push_back(r);
  }
  return rows;
}

void compare(const Moments& a, const Moments& b, int n) {
  ASSERT_EQ(a.fin.status, b.fin.status);
  ASSERT_EQ(a.fin.nNotes, b.fin.nNotes);
  for (int k = 0; k < a.fin.nNotes; ++k) {
    EXPECT_EQ(a.fin.notes[k].number, b.fin.notes[k].number);
    EXPECT_EQ(a.fin.notes[k].a, b.fin.notes[k].a);
  }
  const double* ca = &a.out.counts.recordsRead;
  const double* cb = &b.out.counts.recordsRead;
  for (int k = 0; k < 6; ++k) EXPECT_EQ(ca[k], cb[k]) << "count " << k;
  for (int i = 0; i < n; ++i) {
    EXPECT_NEAR(a.means[i], b.means[i], 1e-9 * std::max(1.0, std::fabs(b.means[i])));
    EXPECT_NEAR(a.sds[i], b.sds[i], 1e-10 * b.sds[i]);
  }
  for (size_t p = 0; p < a.corr.size(); ++p) EXPECT_NEAR(a.corr[p], b.corr[p], 1e-12) << p;
}

TEST(SummaryInput, DatabaseSumsFinishLikeTheRowPath) {
  const auto rows = sampleRows();
  sqlgen_test::SqliteDb db;
  db.exec("create table t (x double precision, y double precision, z double precision,"
          " f double precision, w double precision)");
  for (const auto& r : rows)
    db.exec("insert into t values (" + literal(r[0]) + ", " + literal(r[1]) + ", " + literal(r[2]) +
            ", " + literal(r[3]) + ", " + literal(r[4]) + ")");
  sqlgen::CrossRequest req;
  req.from = "\"t\"";
  req.variables = {"x", "y", "z"};
  req.freq = "f";
  req.weight = "w";
  const int n = 3;
  for (bool noint : {false, true}) {
    BlockShape shape{n, true, true, noint};
    Moments engine(n), indb(n);
    MemoryPlatform pf(rows);
    std::vector<double> sums(n), shift(n);
    engine.corr.assign(6, 0.0);
    ObsCounters counts;
    const CrossRun run = accumulateGroup(pf, shape, 2, sums.data(), engine.corr.data(), shift.data(), counts);
    engine.fin = finishMoments(shape, "DF      ", false, counts, sums.data(), engine.corr.data(),
                               shift.data(), engine.out, run.scale);

    const auto kind = noint ? sqlgen::ShiftKind::kZero : sqlgen::ShiftKind::kMeans;
    const auto row = db.rows(sqlgen::crossproductStatement(req, kind))[0];
    SummarySums s = summaryFromZsql(row.data(), n, noint);
    indb.corr = s.packed;
    indb.fin = finishMoments(shape, "DF      ", false, s.counts, s.sums.data(), indb.corr.data(),
                             s.shift.data(), indb.out);
    SCOPED_TRACE(noint ? "NOINT" : "about the means");
    compare(indb, engine, n);
  }
}

}  // namespace
}  // namespace zulfact
