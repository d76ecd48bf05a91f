#include "zul/services/threads.hpp"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <new>
#include <set>
#include <system_error>
#include <thread>

struct zul_thread {
  std::thread thread;
  std::atomic<bool> finished{false};
};
struct zul_event {
  bool set = false;
};

namespace zul::services {

namespace {

std::mutex g_eventMutex;
std::condition_variable g_eventChanged;

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
  {
    std::lock_guard<std::mutex> lock(g_eventMutex);
    event->set = true;
  }
  g_eventChanged.notify_all();
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
  int32_t found = -1;
  g_eventChanged.wait(lock, [&] {
    for (int32_t i = 0; i < count; ++i)
      if (events[i]->set) {
        found = i;
        return true;
      }
    return false;
  });
  return found;
}

void eventDestroy(zul_event* event) {
  std::lock_guard<std::mutex> lock(g_eventMutex);
  delete event;
}

}  // namespace zul::services
