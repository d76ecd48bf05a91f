// The numeric engine object behind the operation table of zul/abi_engine.h.
//
// The engine keeps every item it is given (set) and answers gets from what
// it holds: the values set, its own results, and the thread count. Items
// have fixed widths; a set or get whose byte length does not fit the item
// is refused, so a caller with a wrong size learns it at once instead of
// reading half a matrix. run carries out a criterion rotation of the
// pattern set (rotation.hpp) and keeps its results as items; an unknown
// method code ends with status 7. Parallel analysis and MAP
// (number_of_factors.hpp) are computed from the group's N and correlation
// matrix when their items are first asked for.
#pragma once

#include <cstdint>
#include <map>
#include <new>
#include <vector>

#include "qkxfac/number_of_factors.hpp"
#include "zul/abi.h"

namespace qkxfac {

class Engine : public zul_engine {
 public:
  explicit Engine(const zul_engine_config& config);

  const zul_engine_config& config() const { return config_; }
  // Threads the engine will use: the request bounded by the processors it
  // may run on, and at least 1.
  int32_t threads() const { return threads_; }

  void reset();
  int32_t run(const zul_rotation_request& request);
  int32_t get(int32_t item, void* buffer, int64_t* length);
  int32_t set(int32_t item, const void* buffer, int64_t length);

 private:
  // Byte length an item must have when set, from what is known so far; -1
  // when it cannot be known yet (the caller's length is then taken).
  int64_t setLength(int32_t item) const;
  int64_t getLength(int32_t item) const;
  int32_t intItem(int32_t item, int32_t fallback) const;

  zul_engine_config config_;
  int32_t threads_ = 1;
  std::map<int32_t, std::vector<uint8_t>> given_;    // items set, this BY group
  std::map<int32_t, std::vector<uint8_t>> results_;  // items computed by run
  NumberOfFactors factorCounts_;  // parallel analysis and MAP, on first get
};

// Runs the body of a C entry point of the engine and returns its status.
// No exception leaves: memory running out becomes ZUL_ENGINE_NO_MEMORY,
// anything else ZUL_ENGINE_INTERNAL_FAULT, and the caller (the module)
// ends the step with 1012.
template <class Body>
int32_t guarded(Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return ZUL_ENGINE_NO_MEMORY;
  } catch (...) {
    return ZUL_ENGINE_INTERNAL_FAULT;
  }
}

}  // namespace qkxfac
