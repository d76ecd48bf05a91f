// The number of processors this process may run on, for the thread counts
// of the host (CPUCOUNT=) and of the engine.
#pragma once

namespace kernels {

// The processors in the process's affinity mask (a container or taskset
// limits them), else the hardware threads, at least 1.
int processorCount() noexcept;

}  // namespace kernels
