// An in-memory stand-in for the host side of the crossproduct engine: the
// records come from a vector, threads and events from the standard library.
// Shared by the engine's unit tests.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "zulfact/data/crossproducts.hpp"

namespace zulfact {

class MemoryPlatform : public CrossPlatform {
 public:
  explicit MemoryPlatform(std::vector<std::vector<double>> rows) : rows_(std::move(rows)) {}
  virtual ~MemoryPlatform() = default;
  // Called before an event is set: a test may delay the hand-off here.
  virtual void beforeEventSet() {}
  int readRecord(double* values, int32_t& status) override {
    status = 0;
    if (failAt_ >= 0 && next_ == static_cast<size_t>(failAt_)) {
      status = 5;
      return 0;
    }
    if (next_ >= rows_.size()) return 0;
    const auto& r = rows_[next_++];
    std::copy(r.begin(), r.end(), values);
    status = (next_ % 7 == 0) ? ZUL_READ_REMARK : 0;  // remarks are not errors
    return 1;
  }
  double availableMemory() override { return available_; }
  void* alloc(double bytes) override {
    if (bytes > allocLimit_) return nullptr;
    return ::operator new(static_cast<size_t>(bytes));
  }
  void release(void* block) override { ::operator delete(block); }
  void* threadCreate(void (*start)(void*), void* arg) override {
    return new std::thread(start, arg);
  }
  void threadJoin(void* t) override {
    auto* th = static_cast<std::thread*>(t);
    th->join();
    delete th;
  }
  void* eventCreate() override { return new bool(false); }
  void eventSet(void* e) override {
    beforeEventSet();
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

  double available_ = -1;
  double allocLimit_ = 1e18;
  long failAt_ = -1;

 private:
  std::vector<std::vector<double>> rows_;
  size_t next_ = 0;
  std::mutex mu_;
  std::condition_variable cv_;
};

}  // namespace zulfact
