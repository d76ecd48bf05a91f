// The crossproduct engine's core on in-memory records: observation rules,
// the block update, merging across threads, the finishing steps and the
// variance divisor. Expected values come from a two-pass textbook formula
// computed here, or from hand calculations noted beside them.
#include "zulfact/data/crossproducts.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <condition_variable>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "memory_platform.hpp"
#include "zulfact/data/vardef.hpp"
#include "zul/abi.h"

namespace zulfact {
namespace {

const double kMiss = zul_missing();

struct Result {
  CrossRun run;
  FinishOutcome fin;
  MomentsOut out;
  std::vector<double> means, sds, scale, corr;
};

Result runEngine(MemoryPlatform& pf, const BlockShape& shape, int threads,
                 const char* vardef = "DF      ") {
  Result r;
  const int n = shape.n;
  std::vector<double> sums(n), shift(n);
  r.corr.assign(static_cast<size_t>(n) * (n + 1) / 2, 0.0);
  r.means.assign(n, 0.0);
  r.sds.assign(n, 0.0);
  r.scale.assign(n, 0.0);
  ObsCounters counts;
  r.run = accumulateGroup(pf, shape, threads, sums.data(), r.corr.data(), shift.data(), counts);
  r.out.means = r.means.data();
  r.out.stdDevs = r.sds.data();
  r.out.scale = r.scale.data();
  r.fin = finishMoments(shape, vardef, false, counts, sums.data(), r.corr.data(), shift.data(),
                        r.out, r.run.scale);
  return r;
}

double corrAt(const std::vector<double>& packed, int i, int j) {
  if (i < j) std::swap(i, j);
  return packed[static_cast<size_t>(i) * (i + 1) / 2 + j];
}

// The notes of a finish as (number, first argument).
using Notes = std::vector<std::pair<int, double>>;
Notes notesOf(const Result& r) {
  Notes n;
  for (int k = 0; k < r.fin.nNotes; ++k) n.emplace_back(r.fin.notes[k].number, r.fin.notes[k].a);
  return n;
}

// Textbook two-pass weighted moments: mean, then sums of squared
// deviations, divided by sum(f) - 1.
struct TwoPass {
  std::vector<double> mean, sd;
  std::vector<std::vector<double>> corr;
};
TwoPass twoPass(const std::vector<std::vector<double>>& rows, int n, bool hasF, bool hasW) {
  TwoPass t;
  double sw = 0, sf = 0;
  std::vector<std::vector<double>> used;
  std::vector<double> wt;
  for (const auto& r : rows) {
    double f = hasF ? std::floor(r[n]) : 1, w = hasW ? r[n + hasF] : 1;
    bool ok = !(hasF && !(f > 0)) && !(hasW && !(w > 0));
    for (int i = 0; i < n && ok; ++i) ok = !std::isnan(r[i]);
    if (!ok) continue;
    used.push_back(r);
    wt.push_back(w * f);
    sw += w * f;
    sf += f;
  }
  t.mean.assign(n, 0);
  for (size_t k = 0; k < used.size(); ++k)
    for (int i = 0; i < n; ++i) t.mean[i] += wt[k] * used[k][i] / sw;
  std::vector<std::vector<double>> c(n, std::vector<double>(n, 0));
  for (size_t k = 0; k < used.size(); ++k)
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j)
        c[i][j] += wt[k] * (used[k][i] - t.mean[i]) * (used[k][j] - t.mean[j]);
  t.sd.assign(n, 0);
  t.corr = c;
  for (int i = 0; i < n; ++i) t.sd[i] = std::sqrt(c[i][i] / (sf - 1));
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) t.corr[i][j] = c[i][j] / std::sqrt(c[i][i] * c[j][j]);
  return t;
}

std::vector<std::vector<double>> randomRows(int nRows, int n, bool hasF, bool hasW,
                                            unsigned seed, double missingShare = 0) {
  std::mt19937_64 g(seed);
  std::normal_distribution<double> z;
  std::uniform_real_distribution<double> u(0, 1);
  std::vector<std::vector<double>> rows;
  for (int k = 0; k < nRows; ++k) {
    std::vector<double> r(n + hasF + hasW);
    double common = z(g);
    for (int i = 0; i < n; ++i) r[i] = 50.0 * (i + 1) + common * (i % 3 + 1) + z(g);
    if (u(g) < missingShare) r[k % n] = kMiss;
    if (hasF) r[n] = std::floor(u(g) * 4.0) + 0.3;     // 0.3 (dropped) to 3.3
    if (hasW) r[n + hasF] = u(g) < 0.05 ? 0.0 : 0.2 + 2 * u(g);
    rows.push_back(r);
  }
  return rows;
}

TEST(CrossproductMoments, WeightedAndFrequencyWeightedMatchTwoPass) {
  const int n = 5;
  for (int variant = 0; variant < 3; ++variant) {
    const bool hasF = variant != 1, hasW = variant != 0;
    auto rows = randomRows(1000, n, hasF, hasW, 17 + variant, 0.02);
    MemoryPlatform pf(rows);
    BlockShape shape{n, hasF, hasW, false};
    Result r = runEngine(pf, shape, 1);
    ASSERT_EQ(r.fin.status, 0);
    TwoPass t = twoPass(rows, n, hasF, hasW);
    for (int i = 0; i < n; ++i) {
      EXPECT_NEAR(r.means[i], t.mean[i], 1e-12 * std::fabs(t.mean[i])) << variant;
      EXPECT_NEAR(r.sds[i], t.sd[i], 1e-11 * t.sd[i]) << variant;
      for (int j = 0; j < i; ++j) EXPECT_NEAR(corrAt(r.corr, i, j), t.corr[i][j], 1e-12);
      EXPECT_EQ(corrAt(r.corr, i, i), 1.0);
    }
  }
}

TEST(CrossproductMoments, NoInterceptMomentsAboutZero) {
  // Hand calculation: x = (1, 2, 3), y = (2, 0, 1). About zero with
  // VARDEF=DF and k = 0: sum x^2 = 14, sum y^2 = 5, sum xy = 5, N = 3.
  MemoryPlatform pf({{1, 2}, {2, 0}, {3, 1}});
  Result r = runEngine(pf, BlockShape{2, false, false, true}, 1);
  ASSERT_EQ(r.fin.status, 0);
  EXPECT_EQ(r.out.divisor, 3.0);
  EXPECT_DOUBLE_EQ(r.means[0], 2.0);
  EXPECT_DOUBLE_EQ(r.means[1], 1.0);
  EXPECT_DOUBLE_EQ(r.sds[0], std::sqrt(14.0 / 3.0));
  EXPECT_DOUBLE_EQ(r.sds[1], std::sqrt(5.0 / 3.0));
  EXPECT_DOUBLE_EQ(corrAt(r.corr, 1, 0), 5.0 / std::sqrt(70.0));
  // With NOINT a single record is analysed (about zero it has a spread).
  MemoryPlatform one({{2, 4}});
  EXPECT_EQ(runEngine(one, BlockShape{2, false, false, true}, 1).fin.status, 0);
}

TEST(CrossproductMoments, ShiftKeepsLargeMeansAccurate) {
  // 1e9 + 1..5: mean 1e9 + 3, sd sqrt(2.5) exactly as for 1..5.
  std::vector<std::vector<double>> rows;
  for (int k = 1; k <= 5; ++k) rows.push_back({1e9 + k, static_cast<double>(k * k)});
  MemoryPlatform pf(rows);
  Result r = runEngine(pf, BlockShape{2, false, false, false}, 1);
  EXPECT_EQ(r.means[0], 1e9 + 3);
  EXPECT_DOUBLE_EQ(r.sds[0], std::sqrt(2.5));
  // corr(k, k^2) over 1..5: cov = 12, var(k) = 2.5, var(k^2) = 374/4 * ... by
  // hand: sum (k-3)(k^2-11) = 60, sum (k-3)^2 = 10, sum (k^2-11)^2 = 374.
  EXPECT_NEAR(corrAt(r.corr, 1, 0), 60.0 / std::sqrt(10.0 * 374.0), 1e-15);
}

// One observation of overwhelming weight, away from the first one: about
// the first, Q - S S'/W cancelled (sd 0, or 1e141, for a weight of 1e300).
// The group is summed again about its means. Exact values by rational
// arithmetic: x1 = 1..5, x2 = (2, 1, 5, 3, 1), weights (1, W, 1, 1, 1),
// divisor N - 1 = 4; for W from 1e15 up, sd = sqrt(15/4) and sqrt(21/4).
TEST(CrossproductMoments, OverwhelmingWeightIsSummedAgainAboutTheMeans) {
  const BlockShape shape{2, false, true, false};
  for (double w : {1.0, 1e12, 1e20, 1e300, 1e50}) {
    std::vector<std::vector<double>> rows = {{1, 2, 1}, {2, 1, w}, {3, 5, 1}, {4, 3, 1}, {5, 1, 1}};
    std::vector<double> sums(2), shift(2), means(2), packed(3);
    ObsCounters counts;
    MemoryPlatform first(rows);
    CrossRun run =
        accumulateGroup(first, shape, 1, sums.data(), packed.data(), shift.data(), counts);
    const bool far = shiftTooFar(shape, counts.weightsUsed, sums.data(), packed.data(),
                                 shift.data(), run.scale, means.data());
    EXPECT_EQ(far, w > 1) << w;
    MemoryPlatform again(rows);
    run = accumulateGroup(again, shape, 2, sums.data(), packed.data(), shift.data(), counts,
                          means.data());
    EXPECT_EQ(shift, means);
    // 1e50: the rounding of the mean of x2 (1 + 2^-52), times the weight,
    // still swamps the spread; the caller skips the group.
    std::vector<double> unused(2);
    EXPECT_EQ(shiftTooFar(shape, counts.weightsUsed, sums.data(), packed.data(), shift.data(),
                          run.scale, unused.data()), w == 1e50) << w;
    if (w == 1e50) continue;
    std::vector<double> m(2), sd(2), scale(2);
    MomentsOut out{m.data(), sd.data(), scale.data()};
    ASSERT_EQ(finishMoments(shape, "DF      ", false, counts, sums.data(), packed.data(),
                            shift.data(), out, run.scale).status, 0);
    if (w == 1.0) continue;  // equal weights: checked against two passes above
    const double want1 = w == 1e12 ? 1.9364916731020947 : std::sqrt(15.0 / 4);
    const double want2 = w == 1e12 ? 2.291287847475247 : std::sqrt(21.0 / 4);
    EXPECT_NEAR(sd[0], want1, 1e-13 * want1) << w;
    EXPECT_NEAR(sd[1], want2, 1e-13 * want2) << w;
  }
}

// Correlations do not depend on the units of a variable: a variable (or
// the weights) multiplied by a power of ten from 1e-170 (squares below the
// smallest double) to 1e307 gives the same correlations, its means and
// standard deviations times that factor, in every accumulation mode.
// Large values and weights overflowed the squares or the centring of the
// sums before; tiny ones lost their squares.
TEST(CrossproductScale, AnyFiniteScaleGivesTheSameCorrelations) {
  const int n = 3;
  const auto rows = randomRows(700, n, false, true, 23);
  BlockShape shape{n, false, true, false};
  // Under VARDEF=WEIGHT the standard deviations do not depend on the
  // units of the weights either (under DF they grow with them).
  MemoryPlatform base(rows), baseW(rows);
  const Result ref = runEngine(base, shape, 1);
  const Result refW = runEngine(baseW, shape, 1, "WEIGHT  ");
  ASSERT_EQ(ref.fin.status, 0);
  struct Case {
    const char* what;
    int column;     // the variable scaled, or n for the weights
    double factor;
    bool centre;    // variable about 0 first, so that deviations span +-factor
  };
  const Case cases[] = {
      {"3e152", 1, 3e152, false},      {"1e200", 0, 1e200, false},
      {"1e307 about 0", 2, 1e307, true}, {"1e-100", 1, 1e-100, false},
      {"1e-170 (squares below the smallest double)", 1, 1e-170, false},
      {"weights 1e300", n, 1e300, false}, {"weights 1e-300", n, 1e-300, false},
  };
  for (const Case& c : cases) {
    auto scaled = rows;
    double centre = 0;
    if (c.centre) centre = ref.means[c.column];
    for (auto& r : scaled) r[c.column] = (r[c.column] - centre) * c.factor;
    for (int threads : {0, 1, 3}) {
      SCOPED_TRACE(std::string(c.what) + ", threads " + std::to_string(threads));
      MemoryPlatform pf(scaled);
      const bool weights = c.column == n;
      const Result r = runEngine(pf, shape, threads, weights ? "WEIGHT  " : "DF      ");
      const Result& want = weights ? refW : ref;
      ASSERT_EQ(r.fin.status, 0);
      for (size_t p = 0; p < ref.corr.size(); ++p) EXPECT_NEAR(r.corr[p], want.corr[p], 1e-13);
      for (int i = 0; i < n; ++i) {
        const double f = i == c.column ? c.factor : 1.0;
        const double mean = i == c.column ? (want.means[i] - centre) * f : want.means[i];
        EXPECT_NEAR(r.means[i], mean, 1e-12 * std::fabs(mean) + 1e-9 * want.sds[i] * f);
        EXPECT_NEAR(r.sds[i] / f, want.sds[i], 1e-12 * want.sds[i]);
      }
    }
  }
}

// (A FREQ of 2.7 counted as 2 and one of 0.5 dropping its record, with
// their counts: the datapass_weights program, against Python's statistics
// on the expanded rows.)
TEST(CrossproductRules, CountsWithMissingValuesWeightsAndFrequencies) {
  // Records: ok (w 2, f 3); missing x (w 1, f 1); weight 0 (f 2); missing
  // weight (f 1); ok (w 0.5, f 2). Frequencies read: 3 + 1 + 2 + 1 + 2 = 9
  // (the weight is checked after the frequency); weights read: 6 + 1 + 1 = 8.
  MemoryPlatform pf({{1, 3, 2}, {kMiss, 1, 1}, {2, 2, 0}, {3, 1, kMiss}, {4, 2, 0.5}});
  Result r = runEngine(pf, BlockShape{1, true, true, false}, 1);
  ASSERT_EQ(r.fin.status, 0);
  EXPECT_EQ(r.out.counts.recordsRead, 5);
  EXPECT_EQ(r.out.counts.recordsUsed, 2);
  EXPECT_EQ(r.out.counts.freqRead, 9);
  EXPECT_EQ(r.out.counts.freqUsed, 5);
  EXPECT_EQ(r.out.counts.weightsRead, 8);
  EXPECT_EQ(r.out.counts.weightsUsed, 7);
  // Weighted mean (6*1 + 1*4) / 7.
  EXPECT_DOUBLE_EQ(r.means[0], 10.0 / 7.0);
  EXPECT_EQ(notesOf(r), (Notes{{3, 1}, {4, 2}}));
}

TEST(CrossproductRules, ConstantVariableToWorkingPrecision) {
  // 1e6 + noise of 1e-9: relative spread ~1e-15, below 1.1e-13.
  std::vector<std::vector<double>> rows;
  for (int k = 0; k < 200; ++k) rows.push_back({1e6 + 1e-9 * (k % 5), double(k % 7), double(k)});
  MemoryPlatform pf(rows);
  Result r = runEngine(pf, BlockShape{3, false, false, false}, 1);
  ASSERT_EQ(r.fin.status, 0);
  EXPECT_EQ(r.sds[0], 0.0);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(corrAt(r.corr, i, 0), 0.0) << i;
  EXPECT_EQ(corrAt(r.corr, 1, 1), 1.0);
  EXPECT_GT(r.sds[1], 0.0);
}

// Each stops the group (status 108) with its notes: 5 no records, 4 the
// records dropped for their weight then 6 no positive weight, 7 with the
// N + 1 = 2 needed beside an intercept, 8 a divisor W - 1 = 0 (WDF).
TEST(CrossproductFinish, GroupsWithoutUsableData) {
  const struct {
    std::vector<std::vector<double>> rows;
    bool weighted;
    const char* vardef;
    Notes notes;
  } cases[] = {
      {{}, false, "DF      ", {{5, 0}}},
      {{{1, 0}, {2, 0}}, true, "DF      ", {{4, 2}, {6, 0}}},
      {{{1}, {kMiss}}, false, "DF      ", {{3, 1}, {7, 2}}},
      {{{1, 0.5}, {2, 0.5}}, true, "WDF     ", {{8, 0}}},
  };
  for (const auto& c : cases) {
    MemoryPlatform pf(c.rows);
    Result r = runEngine(pf, BlockShape{1, false, c.weighted, false}, 1, c.vardef);
    EXPECT_EQ(r.fin.status, 108) << c.notes[0].first;
    EXPECT_EQ(notesOf(r), c.notes);
    EXPECT_EQ(r.fin.notes[0].tableName, c.notes[0].first == 5);
  }
}

TEST(CrossproductThreads, SameMatrixForAnyThreadCountAndMemoryFallback) {
  const int n = 7;
  auto rows = randomRows(20011, n, true, true, 5, 0.01);
  BlockShape shape{n, true, true, false};
  MemoryPlatform base(rows);
  Result ref = runEngine(base, shape, 1);
  ASSERT_EQ(ref.fin.status, 0);
  EXPECT_EQ(ref.run.vecsize, 64);
  // Threads asked for, the memory the platform gives (bytes per request,
  // and the units of 1000 bytes it says are available), and the run it
  // must lead to (threads 0: single-observation mode).
  const double any = 1e18;
  const struct {
    const char* what;
    int threads;
    double allocLimit, available;
    int wantThreads, wantVecsize;
  } cases[] = {
      {"2 threads", 2, any, -1, 2, 64},
      {"4 threads", 4, any, -1, 4, 64},
      {"zacorr_threads=0", 0, any, -1, 0, 0},
      {"memory for one thread with a 16-slot block only", 4, perThreadBytes(shape, 16), -1, 1, 16},
      {"no memory at all", 2, 0, -1, 0, 0},
      // The main block and room for two and a half contexts.
      {"memory bound", 8, any, (64.0 * shape.ncols() * 8 + 2.5 * perThreadBytes(shape, 64)) / 1000.0, 2, 64},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    MemoryPlatform pf(rows);
    pf.allocLimit_ = c.allocLimit;
    pf.available_ = c.available;
    const Result r = runEngine(pf, shape, c.threads);
    EXPECT_EQ(r.run.singleObservation, c.wantThreads == 0);
    if (c.wantThreads > 0) {
      EXPECT_EQ(r.run.threads, c.wantThreads);
      EXPECT_EQ(r.run.vecsize, c.wantVecsize);
    }
    EXPECT_EQ(r.fin.status, 0);
    EXPECT_EQ(r.out.counts.recordsUsed, ref.out.counts.recordsUsed);
    EXPECT_EQ(r.out.nObs, ref.out.nObs);
    EXPECT_NEAR(r.out.sumWeights, ref.out.sumWeights, 1e-9);
    for (int i = 0; i < n; ++i) {
      EXPECT_NEAR(r.means[i], ref.means[i], 1e-12 * std::fabs(ref.means[i]));
      EXPECT_NEAR(r.sds[i], ref.sds[i], 1e-12 * ref.sds[i]);
    }
    for (size_t p = 0; p < ref.corr.size(); ++p) EXPECT_NEAR(r.corr[p], ref.corr[p], 1e-13);
  }
}

TEST(CrossproductThreads, ReadErrorKeepsWhatWasRead) {
  // The reader fails at record 100 of 1000: the moments are those of the
  // first 100 records, for one thread and for two.
  auto rows = randomRows(1000, 3, false, false, 9);
  std::vector<std::vector<double>> first(rows.begin(), rows.begin() + 100);
  TwoPass t = twoPass(first, 3, false, false);
  for (int threads : {1, 2}) {
    MemoryPlatform pf(rows);
    pf.failAt_ = 100;
    Result r = runEngine(pf, BlockShape{3, false, false, false}, threads);
    EXPECT_TRUE(r.run.readError);
    EXPECT_EQ(r.out.counts.recordsRead, 100);
    EXPECT_NEAR(r.sds[2], t.sd[2], 1e-12 * t.sd[2]);
  }
}

TEST(CrossproductThreads, ThreadCountFromSettings) {
  bool fb = false;
  EXPECT_EQ(decideThreadCount(2.9, false, kMiss, &fb), 2);
  EXPECT_FALSE(fb);
  EXPECT_EQ(decideThreadCount(0, true, 8, &fb), 0);  // single-observation mode
  EXPECT_EQ(decideThreadCount(250, false, kMiss, &fb), 100);
  EXPECT_EQ(decideThreadCount(-4, false, kMiss, &fb), 0);
  EXPECT_EQ(decideThreadCount(kMiss, true, 6.5, &fb), 6);
  EXPECT_EQ(decideThreadCount(kMiss, true, 400, &fb), 100);
  EXPECT_EQ(decideThreadCount(kMiss, true, 1, &fb), 1);
  EXPECT_TRUE(fb);
  EXPECT_EQ(decideThreadCount(kMiss, false, 8, &fb), 1);
  EXPECT_TRUE(fb);
}

TEST(Vardef, DivisorsBySecondCharacter) {
  // N = 10, k = 1, W = 7.5 unless given; never below 0; W - k = 1e-13
  // beside k = 1 vanishes in 0.0001 (W - k) + k.
  const struct {
    const char* vardef;
    double n, k, w, divisor;
  } cases[] = {{"DF      ", 10, 1, 7.5, 9},  {"N       ", 10, 1, 7.5, 10}, {"", 10, 1, 7.5, 10},
               {"WEIGHT  ", 10, 1, 7.5, 7.5}, {"WGT     ", 10, 1, 7.5, 7.5}, {"WDF     ", 10, 1, 7.5, 6.5},
               {"DF      ", 1, 2, 7.5, 0},   {"WDF     ", 10, 2, 1.5, 0},
               {"WDF     ", 10, 1, 1 + 1e-13, 0}};
  for (const auto& c : cases) {
    bool bad = true;
    EXPECT_EQ(vardefDivisor(c.vardef, c.n, c.k, c.w, &bad), c.divisor) << c.vardef << " " << c.w;
    EXPECT_FALSE(bad);
  }
  bool bad = false;
  EXPECT_EQ(vardefDivisor("XYZ     ", 10, 1, 7.5, &bad), 9);
  EXPECT_TRUE(bad);
  EXPECT_TRUE(vardefIs("WDF     ", "WDF"));
  EXPECT_FALSE(vardefIs("WDF     ", "DF"));
}

}  // namespace
}  // namespace zulfact
