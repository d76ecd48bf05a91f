// The module's C boundary: the host calls the procedure entry and the
// clean-up handler through C function pointers, so no C++ exception of the
// module may leave them. The one exception that must pass is the host's own
// end of step (the exit service unwinds to the host by throwing its type,
// which the module cannot name and which is not a std::exception).
#pragma once

#include <exception>
#include <new>

#include "zulfact/host/host.hpp"
#include "zulfact/state/codes.hpp"
#include "zulfact/state/message_ids.hpp"

namespace zulfact {

// Runs the body of the procedure entry. Memory running out (std::bad_alloc)
// ends the step with message kOutOfMemory and code 1016; any other
// std::exception with kInternalFault naming it and code 9999. Call it in
// the frame that owns ProcState: ending the step runs the clean-up
// handler, which still reads it.
template <class Body>
void guardStep(ProcState& ps, Body&& body) {
  int code = 0;
  try {
    body();
    return;
  } catch (const std::bad_alloc&) {
    host().message(msg::kOutOfMemory);
    code = kCodeMemory;
  } catch (const std::exception& e) {
    host().message(msg::kInternalFault, {e.what()});
    code = kCodeInternal;
  }
  // Outside the handlers: the host's end-of-step exception starts afresh.
  raiseCode(ps, code);
  host().endStep(ps.completionCode, 0);
}

// Runs a body that must not end the step by an exception of the module
// (the clean-up handler): a std::exception is reported and dropped.
template <class Body>
void guardCleanup(Body&& body) {
  try {
    body();
  } catch (const std::exception& e) {
    host().message(msg::kInternalFault, {e.what()});
  }
}

}  // namespace zulfact
