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

}  // namespace
}  // namespace zulfact
