// The analysis driver: one complete analysis of one BY group.
#pragma once

#include "zulfact/state/proc_state.hpp"

namespace zulfact {

// Reads the group, extracts, prints, rotates, scores and writes the output
// tables of the group. Sets ps.factorsRetained (negative: the group could
// not be analysed).
void analysisDriver(ProcState& ps);

}  // namespace zulfact
