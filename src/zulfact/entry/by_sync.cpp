#include "zulfact/entry/by_sync.hpp"

#include <algorithm>
#include <cstring>

#include "zulfact/state/codes.hpp"
#include "zulfact/host/host.hpp"

namespace zulfact {

namespace {

[[noreturn]] void fault(ProcState& ps, const char* text) {
  host().logLine(ZUL_LOG_ERROR, text);
  ps.completionCode = kCodeInternal;
  host().endStep(kCodeInternal, ps.maxFactorsRetained);
}

}  // namespace

int zbysync(ProcState& ps, zul_table* input, zul_table* target, int mode) {
  if (!input || !target) return 0;
  if (mode < 0 || mode > 2) fault(ps, "zbysync: invalid listrc");
  if (mode != 0) {
    // The target has not (all) the BY variables: it is used whole for every
    // group, and its BY values are listed so the user sees what was used.
    host().byList(target, 70);
    return 0;
  }
  int r = host().byCompare(input, target);
  if (r < 0 || r > 2) fault(ps, "zbysync: invalid return code from xbysync");
  if (r == 0) return 0;
  std::string inDesc = host().byDescription(input);
  std::string targetDesc = host().byDescription(target, ZUL_ATTR_BYDESC_TARGET);
  host().message(msg::kTargetGroupMissing, {inDesc, targetDesc});
  if (r == 2) {
    raiseCode(ps, kCodeBadVariables);
    host().endStep(ps.completionCode, ps.maxFactorsRetained);
  }
  return r;
}

}  // namespace zulfact
