#include "options/parse_statement.hpp"

namespace zulfact {

// Placeholder until the statement language lands.
void parseStatement(ProcState& ps) { ps.completionCode = 0; }

}  // namespace zulfact
