#include "zulfact/extract/pending_steps.hpp"

#include "zulfact/host/host.hpp"
#include "zulfact/rotate/unrotated_pattern.hpp"

namespace zulfact {

void screeAndVariancePlots(ProcState&) {}
void patternPlot(ProcState&, bool, int) {}
void loadingsGraph(ProcState&, bool, int) {}

int engineRotation(ProcState&, int code, int) {
  host().message(msg::kRotationNotAvailable, {code});
  return 0;
}

int targetRotation(ProcState&, int code, int) {
  host().message(msg::kRotationNotAvailable, {code});
  return 0;
}

void pathDiagram(ProcState&) {}

}  // namespace zulfact
