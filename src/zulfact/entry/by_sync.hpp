// BY-group synchronisation of the TARGET= table with the input.
#pragma once

#include "zulfact/state/proc_state.hpp"

namespace zulfact {

// Brings target to the input's current BY group. mode is the
// synchronisation mode the parser obtained (0 same BY variables, 1 and 2
// target lacks them: its BY values are listed instead). Returns 0 when the
// group can be analysed, 1 when target has no such group (message 153/5,
// skip the group), 2 after message 153/5 when the two cannot be matched
// (the step is then ended with 1008). An out-of-range mode or host answer
// is a program fault: the step ends with 9999.
int zbysync(ProcState& ps, zul_table* input, zul_table* target, int mode);

}  // namespace zulfact
