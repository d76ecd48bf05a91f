#include "extract/driver.hpp"

namespace zulfact {

// Placeholder until the first analysis lands.
void analysisDriver(ProcState& ps) {}

}  // namespace zulfact
