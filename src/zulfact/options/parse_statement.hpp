// Statement parsing and validation: runs once per step, after ProcState has
// been zeroed and before the first BY group.
#pragma once

#include "zulfact/state/proc_state.hpp"

namespace zulfact {

// Has the host parse the step's statements with the module's grammar,
// copies every option into ps with its default, derives the implied
// options, checks combinations, allocates the per-run arrays, declares the
// output tables' columns and creates the numeric engine. Ends the step
// through the host when ps.completionCode exceeds 999.
void parseStatement(StepRecord& ps);

}  // namespace zulfact
