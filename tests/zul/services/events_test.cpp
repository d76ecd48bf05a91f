// Events (400/10 to 400/14): a set event wakes the threads that wait for
// it, and only those; wait-any reports a set event and leaves it set.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "zul/services/threads.hpp"

namespace zs = zul::services;

namespace {

TEST(Events, WaitAnyReturnsTheSetEventAndLeavesItSet) {
  zul_event* e[3] = {zs::eventCreate(), zs::eventCreate(), zs::eventCreate()};
  zs::eventSet(e[2]);
  EXPECT_EQ(zs::eventWaitAny(e, 3), 2);
  EXPECT_EQ(zs::eventWaitAny(e, 3), 2);  // still set
  zs::eventSet(e[1]);
  EXPECT_EQ(zs::eventWaitAny(e, 3), 1);  // the lowest set index
  zs::eventReset(e[1]);
  zs::eventReset(e[2]);
  // A waiter on all three is woken by the one set from another thread.
  std::atomic<int> got{-2};
  std::thread waiter([&] { got = zs::eventWaitAny(e, 3); });
  zs::eventSet(e[0]);
  waiter.join();
  EXPECT_EQ(got.load(), 0);
  EXPECT_EQ(zs::eventWaitAny(nullptr, 1), -1);
  EXPECT_EQ(zs::eventWaitAny(e, 0), -1);
  for (zul_event* x : e) zs::eventDestroy(x);
}

// Four waiters, each on its own event, are woken one at a time in a mixed
// order; each acknowledges on an event of its own. When the k-th
// acknowledgement arrives exactly k waiters have woken, and they are the
// ones whose events were set (a set that woke every waiter, or a waiter
// that returned without its event set, shows here).
TEST(Events, SettingOneEventWakesOnlyItsWaiters) {
  constexpr int kWaiters = 4;
  zul_event* go[kWaiters];
  zul_event* ack[kWaiters];
  std::atomic<int> woke[kWaiters];
  std::vector<std::thread> threads;
  for (int i = 0; i < kWaiters; ++i) {
    go[i] = zs::eventCreate();
    ack[i] = zs::eventCreate();
    woke[i] = 0;
  }
  for (int i = 0; i < kWaiters; ++i)
    threads.emplace_back([&, i] {
      EXPECT_EQ(zs::eventWaitAny(&go[i], 1), 0);
      ++woke[i];
      zs::eventSet(ack[i]);
    });
  const int order[kWaiters] = {2, 0, 3, 1};
  for (int k = 0; k < kWaiters; ++k) {
    zs::eventSet(go[order[k]]);
    EXPECT_EQ(zs::eventWaitAny(&ack[order[k]], 1), 0);
    for (int j = 0; j < kWaiters; ++j) {
      const bool wasSet = std::find(order, order + k + 1, j) != order + k + 1;
      EXPECT_EQ(woke[j].load(), wasSet ? 1 : 0) << "after setting " << order[k];
    }
  }
  for (auto& t : threads) t.join();
  for (int i = 0; i < kWaiters; ++i) {
    zs::eventDestroy(go[i]);
    zs::eventDestroy(ack[i]);
  }
}

// A worker started by the host's thread service and the caller hand a
// token back and forth many times, as the pool does with its blocks: a
// lost wake-up would hang here.
struct HandOff {
  static constexpr int kRounds = 20000;
  zul_event* go = zs::eventCreate();
  zul_event* done = zs::eventCreate();
  long sum = 0;
};

void handOffWorker(void* arg) {
  auto* h = static_cast<HandOff*>(arg);
  for (int i = 0; i < HandOff::kRounds; ++i) {
    zs::eventWaitAny(&h->go, 1);
    zs::eventReset(h->go);
    h->sum += i;
    zs::eventSet(h->done);
  }
}

TEST(Events, ManyHandOffsLoseNoWakeUp) {
  HandOff h;
  zul_thread* worker = zs::threadCreate(&handOffWorker, &h);
  ASSERT_NE(worker, nullptr);
  for (int i = 0; i < HandOff::kRounds; ++i) {
    zs::eventSet(h.go);
    zs::eventWaitAny(&h.done, 1);
    zs::eventReset(h.done);
  }
  zs::threadJoin(worker);
  EXPECT_EQ(zs::liveThreads(), 0);
  EXPECT_EQ(h.sum, static_cast<long>(HandOff::kRounds) * (HandOff::kRounds - 1) / 2);  // Gauss
  zs::eventDestroy(h.go);
  zs::eventDestroy(h.done);
  EXPECT_EQ(zs::threadCreate(nullptr, nullptr), nullptr);
}

}  // namespace
