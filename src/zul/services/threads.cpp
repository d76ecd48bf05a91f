#include "zul/services/threads.hpp"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <new>
#include <set>
#include <system_error>
#include <thread>
#include <vector>

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

struct zul_thread {
  std::thread thread;
  std::atomic<bool> finished{false};
};
namespace zul::services {
namespace {
// A thread inside eventWaitAny(): the events it waits for hold a pointer
// to it while it sleeps on its word (a futex), which eventSet() turns to 1.
struct Waiter {
  std::atomic<uint32_t> word{0};
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

// Sleeps while *word is still `expected` (or until any wake-up).
void futexWait(std::atomic<uint32_t>* word, uint32_t expected) {
  ::syscall(SYS_futex, reinterpret_cast<uint32_t*>(word), FUTEX_WAIT_PRIVATE, expected, nullptr,
            nullptr, 0);
}
void futexWake(std::atomic<uint32_t>* word) {
  ::syscall(SYS_futex, reinterpret_cast<uint32_t*>(word), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr,
            0);
}

std::mutex g_threadMutex;
std::set<zul_thread*> g_threads;
// Records of threads detached at the end of a step: the thread still
// writes its record, so it is kept, and listed here, for the life of the
// process (the list is never destroyed, since such a thread may outlive
// the static destructors).
std::vector<zul_thread*>& detachedThreads() {
  static auto* list = new std::vector<zul_thread*>;
  return *list;
}

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
      std::lock_guard<std::mutex> lock(g_threadMutex);
      detachedThreads().push_back(t);
      ++detached;
    }
  }
  return detached;
}

zul_event* eventCreate() { return new (std::nothrow) zul_event; }

void eventSet(zul_event* event) {
  if (!event) return;
  // The waiters are woken after the lock is released, so that they do not
  // wake only to wait for it. A waiter may have returned by then (it saw
  // its word) and its word be gone: a futex wake-up on such an address
  // wakes nobody, or makes a later wait there return early, which every
  // futex wait here (and in the C library) tolerates by checking again.
  Waiter* few[4];
  std::vector<Waiter*> many;
  Waiter** wake = few;
  size_t count = 0;
  {
    std::lock_guard<std::mutex> lock(g_eventMutex);
    event->set = true;
    count = event->waiters.size();
    if (count > 4) {
      many = event->waiters;
      wake = many.data();
    } else {
      std::copy(event->waiters.begin(), event->waiters.end(), few);
    }
    for (size_t i = 0; i < count; ++i) wake[i]->word.store(1, std::memory_order_release);
  }
  for (size_t i = 0; i < count; ++i) futexWake(&wake[i]->word);
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
  for (;;) {
    lock.unlock();
    while (self.word.load(std::memory_order_acquire) == 0) futexWait(&self.word, 0);
    lock.lock();
    if ((found = firstSet()) >= 0) break;
    self.word.store(0, std::memory_order_relaxed);  // reset again meanwhile
  }
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
