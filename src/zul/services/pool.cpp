#include "zul/services/pool.hpp"

#include <cstdlib>

namespace zul::services {

MemoryPool::~MemoryPool() { releaseAll(); }

void* MemoryPool::alloc(size_t bytes, uint32_t /*flags*/) {
  if (static_cast<double>(bytes) >= kLimit) return nullptr;
  std::lock_guard<std::mutex> lock(mutex_);
  if (byteLimit_ && inUse_ + bytes > byteLimit_) return nullptr;
  void* p = std::calloc(bytes ? bytes : 1, 1);
  if (!p) return nullptr;
  blocks_.emplace(p, bytes);
  inUse_ += bytes;
  return p;
}

void MemoryPool::release(void* block) {
  if (!block) return;
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = blocks_.find(block);
  if (it == blocks_.end()) return;
  inUse_ -= it->second;
  blocks_.erase(it);
  std::free(block);
}

void MemoryPool::releaseAll() {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto& [p, n] : blocks_) std::free(p);
  blocks_.clear();
  inUse_ = 0;
}

size_t MemoryPool::bytesInUse() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return inUse_;
}

size_t MemoryPool::blocksInUse() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return blocks_.size();
}

void MemoryPool::setByteLimit(size_t bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  byteLimit_ = bytes;
}

}  // namespace zul::services
