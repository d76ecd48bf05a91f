// The module's C boundary: the host calls the procedure entry and the
// clean-up handler through C function pointers, so no C++ exception may
// leave them. Module code ends a step from any depth by Host::endStep,
// which throws EndOfStep; the procedure entry catches it here, once, and
// then calls the host's exit service, which records the end and returns.
#pragma once

#include <algorithm>
#include <exception>
#include <new>

#include "zulfact/host/host.hpp"
#include "zulfact/state/codes.hpp"
#include "zulfact/state/message_ids.hpp"

namespace zulfact {

// Runs the body of the procedure entry and returns the step's completion
// code. An EndOfStep goes to the host's exit service with its values;
// memory running out (std::bad_alloc) ends the step with message
// kOutOfMemory and code 1016; any other std::exception with kInternalFault
// naming it and code 9999. An end of step a destructor had to keep
// (Host::deferEndStep) raises the code. Call it in the frame that owns
// ProcState: the exit service runs the clean-up handler, which reads it.
// A body that returns ends nothing (the host is not called).
template <class Body>
int guardStep(ProcState& ps, Body&& body) {
  EndOfStep end{0, 0};
  (void)host().takeDeferredEnd();  // none left from an earlier step
  try {
    body();
    return std::max(ps.completionCode, host().takeDeferredEnd());
  } catch (const EndOfStep& e) {
    end = e;
  } catch (const std::bad_alloc&) {
    host().message(msg::kOutOfMemory);
    raiseCode(ps, kCodeMemory);
    end = {ps.completionCode, 0};
  } catch (const std::exception& e) {
    host().message(msg::kInternalFault, {e.what()});
    raiseCode(ps, kCodeInternal);
    end = {ps.completionCode, 0};
  }
  end.completionCode = std::max(end.completionCode, host().takeDeferredEnd());
  host().exitService(end.completionCode, end.second);
  return end.completionCode;
}

// Runs the clean-up handler's body (inside the host's exit service): a
// std::exception is reported and dropped; an end of step goes to the exit
// service, which keeps the higher code and does not run the handler again.
template <class Body>
void guardCleanup(Body&& body) {
  try {
    body();
  } catch (const EndOfStep& e) {
    host().exitService(e.completionCode, e.second);
  } catch (const std::exception& e) {
    host().message(msg::kInternalFault, {e.what()});
  }
}

}  // namespace zulfact
