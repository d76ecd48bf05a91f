#include "zul/services/threads.hpp"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <new>
#include <set>
#include <system_error>
#include <thread>
#include <vector>

struct zul_thread {
  std::thread thread;
  std::atomic<bool> finished{false};
};
namespace zul::services {
namespace {
// A thread inside eventWaitAny(): the events it waits for hold a pointer
// to it while it sleeps.
struct Waiter {
  std::condition_variable wake;
};
}  // namespace
}  // namespace zul::services

struct zul_event {
  bool set = false;
  // One node per waiting thread; a thread waits for a handful of events at
  // most, so the list stays short.
  std::vector<zul::services::Waiter*> waiters;
};

namespace zul::services {

namespace {

std::mutex g_eventMutex;

std::mutex g_threadMutex;
std::set<zul_thread*> g_threads;

}  // namespace

zul_thread* threadCreate(void (*start)(void*), void* arg) {
  if (!start) return nullptr;
  auto* t = new (std::nothrow) zul_thread;
  if (!t) return nullptr;
  try {
    t->thread = std::thread([t, start, arg] {
      start(arg);
      t->finished = true;
    });
  } catch (const std::system_error&) {
    delete t;
    return nullptr;
  }
  std::lock_guard<std::mutex> lock(g_threadMutex);
  g_threads.insert(t);
  return t;
}

void threadJoin(zul_thread* thread) {
  if (!thread) return;
  {
    std::lock_guard<std::mutex> lock(g_threadMutex);
    if (!g_threads.erase(thread)) return;  // not ours, or joined already
  }
  if (thread->thread.joinable()) thread->thread.join();
  delete thread;
}

int liveThreads() {
  std::lock_guard<std::mutex> lock(g_threadMutex);
  return static_cast<int>(g_threads.size());
}

int joinAllThreads(std::chrono::milliseconds grace) {
  std::set<zul_thread*> all;
  {
    std::lock_guard<std::mutex> lock(g_threadMutex);
    all.swap(g_threads);
  }
  auto deadline = std::chrono::steady_clock::now() + grace;
  int detached = 0;
  for (zul_thread* t : all) {
    while (!t->finished && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (t->finished) {
      t->thread.join();
      delete t;
    } else {
      // The record stays with the running thread (it sets finished).
      t->thread.detach();
      ++detached;
    }
  }
  return detached;
}

zul_event* eventCreate() { return new (std::nothrow) zul_event; }

void eventSet(zul_event* event) {
  if (!event) return;
  std::lock_guard<std::mutex> lock(g_eventMutex);
  event->set = true;
  // Notified under the lock: a waiter woken here cannot return and
  // destroy its condition variable before the notification is done.
  for (Waiter* w : event->waiters) w->wake.notify_one();
}

void eventReset(zul_event* event) {
  if (!event) return;
  std::lock_guard<std::mutex> lock(g_eventMutex);
  event->set = false;
}

int32_t eventWaitAny(zul_event* const* events, int32_t count) {
  if (!events || count < 1) return -1;
  for (int32_t i = 0; i < count; ++i)
    if (!events[i]) return -1;
  std::unique_lock<std::mutex> lock(g_eventMutex);
  auto firstSet = [&]() -> int32_t {
    for (int32_t i = 0; i < count; ++i)
      if (events[i]->set) return i;
    return -1;
  };
  int32_t found = firstSet();
  if (found >= 0) return found;
  Waiter self;
  try {
    for (int32_t i = 0; i < count; ++i) events[i]->waiters.push_back(&self);
  } catch (const std::bad_alloc&) {
    for (int32_t i = 0; i < count; ++i) {
      auto& v = events[i]->waiters;
      v.erase(std::remove(v.begin(), v.end(), &self), v.end());
    }
    return -1;
  }
  while ((found = firstSet()) < 0) self.wake.wait(lock);
  for (int32_t i = 0; i < count; ++i) {
    auto& v = events[i]->waiters;
    v.erase(std::remove(v.begin(), v.end(), &self), v.end());
  }
  return found;
}

void eventDestroy(zul_event* event) {
  std::lock_guard<std::mutex> lock(g_eventMutex);
  delete event;
}

}  // namespace zul::services
