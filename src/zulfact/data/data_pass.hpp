// The data pass: the first step of every BY group.
#pragma once

#include "zulfact/state/proc_state.hpp"

namespace zulfact {

// Turns the group's input into means, standard deviations, N, the sum of
// weights, the variance divisor and the (partial) correlation matrix;
// prints the observation counts and the data tables, saves a copy of the
// matrix, writes the leading OUTSTAT= rows and hands the data to the
// numeric engine. Sets ps.factorsRetained to -1 when the group cannot be
// analysed.
void dataPass(ProcState& ps);

}  // namespace zulfact
