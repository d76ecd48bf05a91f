// Events (400/10 to 400/14): a set event wakes the threads that wait for
// it, and only those; wait-any reports a set event and leaves it set.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "zul/services/threads.hpp"

namespace zs = zul::services;

namespace {

using namespace std::chrono_literals;

TEST(Events, WaitAnyReturnsTheSetEventAndLeavesItSet) {
  zul_event* e[3] = {zs::eventCreate(), zs::eventCreate(), zs::eventCreate()};
  zs::eventSet(e[2]);
  EXPECT_EQ(zs::eventWaitAny(e, 3), 2);
  EXPECT_EQ(zs::eventWaitAny(e, 3), 2);  // still set
  zs::eventSet(e[1]);
  EXPECT_EQ(zs::eventWaitAny(e, 3), 1);  // the lowest set index
  zs::eventReset(e[1]);
  zs::eventReset(e[2]);
  std::atomic<int> got{-2};
  std::thread waiter([&] { got = zs::eventWaitAny(e, 3); });
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(got.load(), -2);  // nothing set: still waiting
  zs::eventSet(e[0]);
  waiter.join();
  EXPECT_EQ(got.load(), 0);
  EXPECT_EQ(zs::eventWaitAny(nullptr, 1), -1);
  EXPECT_EQ(zs::eventWaitAny(e, 0), -1);
  for (zul_event* x : e) zs::eventDestroy(x);
}

TEST(Events, SettingOneEventLeavesTheWaitersOfOthersAsleep) {
  zul_event* a = zs::eventCreate();
  zul_event* b = zs::eventCreate();
  std::atomic<int> wokeA{0}, wokeB{0};
  std::thread ta([&] {
    zs::eventWaitAny(&a, 1);
    ++wokeA;
  });
  std::thread tb([&] {
    zs::eventWaitAny(&b, 1);
    ++wokeB;
  });
  std::this_thread::sleep_for(20ms);
  zs::eventSet(a);
  ta.join();
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(wokeA.load(), 1);
  EXPECT_EQ(wokeB.load(), 0);
  zs::eventSet(b);
  tb.join();
  EXPECT_EQ(wokeB.load(), 1);
  zs::eventDestroy(a);
  zs::eventDestroy(b);
}

// Two threads hand a token back and forth many times, as the pool does
// with its blocks: a lost wake-up would hang here.
TEST(Events, ManyHandOffsLoseNoWakeUp) {
  zul_event* go = zs::eventCreate();
  zul_event* done = zs::eventCreate();
  constexpr int kRounds = 20000;
  long sum = 0;
  std::thread worker([&] {
    for (int i = 0; i < kRounds; ++i) {
      zs::eventWaitAny(&go, 1);
      zs::eventReset(go);
      sum += i;
      zs::eventSet(done);
    }
  });
  for (int i = 0; i < kRounds; ++i) {
    zs::eventSet(go);
    zs::eventWaitAny(&done, 1);
    zs::eventReset(done);
  }
  worker.join();
  EXPECT_EQ(sum, static_cast<long>(kRounds) * (kRounds - 1) / 2);  // Gauss
  zs::eventDestroy(go);
  zs::eventDestroy(done);
}

}  // namespace
