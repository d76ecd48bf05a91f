// The reader for raw data: the crossproduct engine wired to the host.
#pragma once

#include "zulfact/state/proc_state.hpp"

namespace zulfact {

// Reads the current BY group of the input table through the host, with the
// thread count of "zacorr_threads" / THREADS / CPUCOUNT, and finishes the
// moments into ps.means, stdDevs, scaleVector, corrMatrix (packed order
// nAll), nObs, sumWeights, varianceDivisor and obsCounts. Issues the
// messages of group 230 and the "-znthreads" and "-zacorr" lines.
// Returns 0, or 108 when the group has no usable data (message issued).
// A failure of the thread pool ends the step with 1012.
int crossproductEngine(ProcState& ps);

}  // namespace zulfact
