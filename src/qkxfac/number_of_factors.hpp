// The engine's number-of-factors analyses of one BY group: parallel
// analysis (items 60, 61, 62 and the observed eigenvalues, 18) and MAP
// (items 63 to 66), computed from the group's N (item 3) and correlation
// matrix (item 11) the first time one of their items is asked for, and
// kept until the group's data change or the engine is reset.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "zul/abi.h"

namespace qkxfac {

using ItemBytes = std::map<int32_t, std::vector<uint8_t>>;

class NumberOfFactors {
 public:
  static bool provides(int32_t item);

  // The bytes of `item`, computed on first use from the items set so far;
  // null when they cannot be computed (no matrix or N, too few
  // observations, non-finite elements). Throws std::bad_alloc when memory
  // runs out.
  const std::vector<uint8_t>* result(int32_t item, const zul_engine_config& config,
                                     int32_t threads, const ItemBytes& given);

  void clear() { results_.clear(); }

 private:
  bool runParallel(const zul_engine_config& config, int32_t threads, const ItemBytes& given);
  bool runMap(const zul_engine_config& config, const ItemBytes& given);

  ItemBytes results_;
};

}  // namespace qkxfac
