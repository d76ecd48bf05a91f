#include "data/data_pass.hpp"

namespace zulfact {

// Placeholder until the data pass lands.
void dataPass(ProcState& ps) { ps.factorsRetained = -1; }

}  // namespace zulfact
