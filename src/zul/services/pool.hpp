// zul/services/pool.hpp -- the step's memory pool (service vector word 4).
//
// Blocks are zeroed, tracked, and released one by one or all together when
// the step ends, so a step that is stopped half way leaks nothing. A
// request of 2,147,483,647 bytes or more is refused, as are requests while
// an optional byte limit (for tests of the module's out-of-memory paths)
// would be exceeded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <unordered_map>

namespace zul::services {

class MemoryPool {
 public:
  static constexpr double kLimit = 2147483647.0;
  MemoryPool() = default;
  ~MemoryPool();
  MemoryPool(const MemoryPool&) = delete;
  MemoryPool& operator=(const MemoryPool&) = delete;

  // A zeroed block, or nullptr (request too large, limit reached, or no
  // memory). flags are the module's (0x3006, 0x2004, 8192, 8196); every
  // block is zeroed whatever they say.
  void* alloc(size_t bytes, uint32_t flags);
  // Releases a block of this pool; anything else is ignored.
  void release(void* block);
  // Releases every block (end of step).
  void releaseAll();

  size_t bytesInUse() const;
  size_t blocksInUse() const;
  // Total bytes the pool may hand out; 0 means no limit but kLimit per block.
  void setByteLimit(size_t bytes);

 private:
  mutable std::mutex mutex_;
  std::unordered_map<void*, size_t> blocks_;
  size_t inUse_ = 0;
  size_t byteLimit_ = 0;
};

}  // namespace zul::services
