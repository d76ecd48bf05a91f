// The worker pool of the crossproduct engine hands blocks out in a fixed
// turn, so the sums of a given thread count are the same bit for bit from
// run to run, however the workers are delayed.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "memory_platform.hpp"

namespace zulfact {
namespace {

// Records in memory; setting an event sleeps now and then, so that the
// workers report idle in a different order on every run.
class JitterPlatform : public MemoryPlatform {
 public:
  JitterPlatform(const std::vector<std::vector<double>>& rows, unsigned seed)
      : MemoryPlatform(rows), gen_(seed) {}
  void beforeEventSet() override {
    int pause;
    {
      std::lock_guard<std::mutex> lock(genMu_);
      pause = static_cast<int>(gen_() % 4);
    }
    if (pause == 0) std::this_thread::sleep_for(std::chrono::microseconds(200));
  }

 private:
  std::mt19937 gen_;
  std::mutex genMu_;
};

TEST(CrossproductPool, SameBitsOnEveryRunOfAThreadCount) {
  // Large means and a small spread make the rounding of every addition
  // visible in the last bits.
  std::mt19937 gen(11);
  std::normal_distribution<double> noise(0, 1);
  std::vector<std::vector<double>> rows(3000, std::vector<double>(4));
  for (auto& r : rows)
    for (int j = 0; j < 4; ++j) r[j] = 1e6 * (j + 1) + noise(gen) * (j + 0.5);
  BlockShape shape;
  shape.n = 4;
  for (int threads : {2, 3}) {
    std::vector<double> first;
    for (unsigned run = 0; run < 4; ++run) {
      JitterPlatform pf(rows, 100 + run);
      std::vector<double> sums(4), packed(10), shift(4);
      ObsCounters counts;
      const CrossRun r = accumulateGroup(pf, shape, threads, sums.data(), packed.data(),
                                         shift.data(), counts);
      ASSERT_EQ(r.poolStatus, 0);
      ASSERT_EQ(r.threads, threads);
      EXPECT_EQ(counts.recordsUsed, 3000.0);
      std::vector<double> all = sums;
      all.insert(all.end(), packed.begin(), packed.end());
      if (run == 0) {
        first = all;
      } else {
        EXPECT_EQ(std::memcmp(all.data(), first.data(), all.size() * sizeof(double)), 0)
            << threads << " threads, run " << run;
      }
    }
  }
}

// The definition the pool must keep, written out directly: accepted
// records in file order make blocks of 64, block b is folded into the sums
// of thread b mod T, and the threads' sums are added in thread order. The
// pool hands blocks over several at a time through rings; its result must
// still be this one bit for bit, with FREQ, WEIGHT and dropped records.
TEST(CrossproductPool, BlocksGoToThreadsInTurnBitForBit) {
  std::mt19937 gen(5);
  std::normal_distribution<double> noise(0, 1);
  std::uniform_int_distribution<int> pick(0, 19);
  BlockShape shape;
  shape.n = 3;
  shape.hasFreq = true;
  shape.hasWeight = true;
  const int ncols = shape.ncols();
  std::vector<std::vector<double>> rows(7000, std::vector<double>(ncols));
  for (auto& r : rows) {
    for (int j = 0; j < 3; ++j) r[j] = 1e5 * (j + 1) + noise(gen);
    r[3] = 1 + pick(gen) % 3;          // FREQ
    r[4] = 0.5 + pick(gen) / 7.0;      // WEIGHT
    if (pick(gen) == 0) r[1] = zul_missing();  // dropped: missing value
    if (pick(gen) == 0) r[4] = -1;             // dropped: weight
  }
  for (int threads : {1, 2, 3}) {
    // Reference.
    const int vecsize = 64;
    const size_t cross = 4 * 4;
    std::vector<std::vector<double>> sumsOf(threads, std::vector<double>(cross, 0.0));
    std::vector<ThreadSums> ts(threads);
    for (int t = 0; t < threads; ++t) ts[t].cross = sumsOf[t].data();
    ObsCounters readCounts;
    std::vector<double> shift(3), block(static_cast<size_t>(vecsize) * shape.blockCols());
    bool first = true;
    double accepted = 0;
    int filled = 0;
    long b = 0;
    auto flush = [&] {
      if (filled == 0) return;
      accumulateBlock(shape, block.data(), vecsize, filled, shift.data(), ts[b % threads]);
      ++b;
      filled = 0;
    };
    for (auto r : rows) {
      if (!screenRecord(r.data(), shape, readCounts)) continue;
      ++accepted;
      if (first) {
        std::copy(r.begin(), r.begin() + 3, shift.begin());
        first = false;
      }
      for (int c = 0; c < ncols; ++c) block[static_cast<size_t>(c) * vecsize + filled] = r[c];
      if (++filled == vecsize) flush();
    }
    flush();
    std::vector<double> refSums(3, 0.0), refPacked(6, 0.0);
    for (int t = 0; t < threads; ++t) foldThreadSums(3, ts[t].cross, refSums.data(), refPacked.data());

    MemoryPlatform pf(rows);
    std::vector<double> sums(3), packed(6), engineShift(3);
    ObsCounters counts;
    const CrossRun run = accumulateGroup(pf, shape, threads, sums.data(), packed.data(),
                                         engineShift.data(), counts);
    ASSERT_EQ(run.threads, threads);
    EXPECT_EQ(std::memcmp(sums.data(), refSums.data(), sizeof(double) * 3), 0) << threads;
    EXPECT_EQ(std::memcmp(packed.data(), refPacked.data(), sizeof(double) * 6), 0) << threads;
    EXPECT_EQ(counts.recordsUsed, accepted) << threads;
  }
}

// Counts the worker threads started.
class CountingPlatform : public MemoryPlatform {
 public:
  using MemoryPlatform::MemoryPlatform;
  void* threadCreate(void (*start)(void*), void* arg) override {
    ++started;
    return MemoryPlatform::threadCreate(start, arg);
  }
  int started = 0;
};

// A group that ends within the first block (BY groups of a few rows) is
// summed on the reading thread: starting the pool for each of thousands of
// such groups cost milliseconds apiece. The sums are those of one thread,
// the counts those of every record; a group of one full block or more
// still gets the pool.
TEST(CrossproductPool, GroupWithinOneBlockStartsNoThread) {
  BlockShape shape;
  shape.n = 2;
  shape.hasFreq = true;
  for (int size : {1, 5, 63, 64, 65}) {
    std::vector<std::vector<double>> rows;
    for (int i = 0; i < size; ++i) rows.push_back({1e6 + i * 0.37, 2e6 - i * 1.3, 1.0 + i % 3});
    rows.push_back({zul_missing(), 1, 1});  // read, then dropped
    std::vector<double> want(5), sums(3), packed(3), shift(2);
    ObsCounters oneCounts, counts;
    MemoryPlatform one(rows);
    accumulateGroup(one, shape, 1, want.data(), want.data() + 2, shift.data(), oneCounts);
    CountingPlatform pf(rows);
    const CrossRun run = accumulateGroup(pf, shape, 2, sums.data(), packed.data(), shift.data(),
                                         counts);
    EXPECT_EQ(run.poolStatus, 0);
    EXPECT_EQ(pf.started, size < 64 ? 0 : 2) << size;
    if (size < 64) {
      EXPECT_EQ(std::memcmp(sums.data(), want.data(), sizeof(double) * 2), 0) << size;
      EXPECT_EQ(std::memcmp(packed.data(), want.data() + 2, sizeof(double) * 3), 0) << size;
    }
    EXPECT_EQ(counts.recordsRead, size + 1.0) << size;
    EXPECT_EQ(counts.recordsUsed, static_cast<double>(size)) << size;
    EXPECT_EQ(counts.missingRecords, 1.0) << size;
    EXPECT_EQ(counts.freqUsed, oneCounts.freqUsed) << size;
  }
}

}  // namespace
}  // namespace zulfact
