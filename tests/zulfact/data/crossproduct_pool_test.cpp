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

#include "data/crossproducts.hpp"

namespace zulfact {
namespace {

// Records in memory; setting an event sleeps now and then, so that the
// workers report idle in a different order on every run.
class JitterPlatform : public CrossPlatform {
 public:
  JitterPlatform(const std::vector<std::vector<double>>& rows, unsigned seed)
      : rows_(rows), gen_(seed) {}
  int readRecord(double* values, int32_t& status) override {
    status = 0;
    if (next_ >= rows_.size()) return 0;
    std::copy(rows_[next_].begin(), rows_[next_].end(), values);
    ++next_;
    return 1;
  }
  double availableMemory() override { return -1; }
  void* alloc(double bytes) override { return ::operator new(static_cast<size_t>(bytes)); }
  void release(void* block) override { ::operator delete(block); }
  void* threadCreate(void (*start)(void*), void* arg) override { return new std::thread(start, arg); }
  void threadJoin(void* t) override {
    static_cast<std::thread*>(t)->join();
    delete static_cast<std::thread*>(t);
  }
  void* eventCreate() override { return new bool(false); }
  void eventSet(void* e) override {
    int pause;
    {
      std::lock_guard<std::mutex> lock(mu_);
      pause = static_cast<int>(gen_() % 4);
    }
    if (pause == 0) std::this_thread::sleep_for(std::chrono::microseconds(200));
    std::lock_guard<std::mutex> lock(mu_);
    *static_cast<bool*>(e) = true;
    cv_.notify_all();
  }
  void eventReset(void* e) override {
    std::lock_guard<std::mutex> lock(mu_);
    *static_cast<bool*>(e) = false;
  }
  int eventWaitAny(void* const* events, int count) override {
    std::unique_lock<std::mutex> lock(mu_);
    for (;;) {
      for (int i = 0; i < count; ++i)
        if (*static_cast<bool*>(events[i])) return i;
      cv_.wait(lock);
    }
  }
  void eventDestroy(void* e) override { delete static_cast<bool*>(e); }

 private:
  const std::vector<std::vector<double>>& rows_;
  size_t next_ = 0;
  std::mt19937 gen_;
  std::mutex mu_;
  std::condition_variable cv_;
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

}  // namespace
}  // namespace zulfact
