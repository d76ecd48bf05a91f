// A block of doubles from the host's memory pool for the length of one
// extraction, returned when it goes out of scope (also when the host ends
// the step by unwinding through the method).
#pragma once

#include <cstddef>

#include "zulfact/state/codes.hpp"
#include "zulfact/state/constants.hpp"
#include "zulfact/state/message_ids.hpp"
#include "zulfact/host/host.hpp"

namespace zulfact {

class WorkBlock {
 public:
  // count doubles; a size of 2,147,483,647 bytes or more, or a pool that
  // cannot give it, is message 180/91 and the end of the step with 1016.
  explicit WorkBlock(double count) {
    const double bytes = 8.0 * (count < 1.0 ? 1.0 : count);
    if (bytes < kMaxAllocationBytes) data_ = static_cast<double*>(host().alloc(bytes));
    if (data_ == nullptr) {
      host().message(msg::kArraysTooLarge);
      host().endStep(kCodeMemory);
    }
  }
  ~WorkBlock() { host().release(data_); }
  WorkBlock(const WorkBlock&) = delete;
  WorkBlock& operator=(const WorkBlock&) = delete;
  double* data() const { return data_; }

 private:
  double* data_ = nullptr;
};

}  // namespace zulfact
