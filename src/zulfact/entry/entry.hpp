// The module's entry: what the host calls.
#pragma once

#include <cstdint>

#include "zul/abi.h"

namespace zulfact {

// The procedure entry named by the module record: runs one step from the
// start-up block to the exit through the host (steps in entry.cpp).
int32_t procedureEntry();
// Registered with the host at the start of each step; runs when the step
// ends or is abandoned: closes the output tables, destroys the engine and
// releases the engine library.
void cleanupHandler();

// The processor-feature word the host passed to mcn_main (0 when none).
uint32_t processorFeatures();
const zul_image_info* imageInformation();

}  // namespace zulfact
