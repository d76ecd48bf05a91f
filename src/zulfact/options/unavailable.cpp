#include "zulfact/options/unavailable.hpp"

#include <array>
#include <string>

#include "zulfact/host/host.hpp"
#include "zulfact/state/codes.hpp"
#include "zulfact/state/message_ids.hpp"

namespace zulfact {

namespace {

// A check answers the words that name what was asked for ("ROTATE=VARIMAX"),
// or "" when the statement does not ask for it.
using Check = std::string (*)(const ProcState& ps);

// Requests this version cannot carry out: none at present. Add a check
// while a feature is accepted by the grammar but not yet built; delete it
// when the feature lands.
constexpr std::array<Check, 0> kUnavailable{};

// Options accepted that change nothing in this version. Delete a line when
// the option takes effect.
const Check kNoEffect[] = {
    [](const ProcState& ps) { return ps.opt.flags.test ? std::string("TEST") : std::string(); },
    [](const ProcState& ps) { return ps.opt.flags.count ? std::string("COUNT") : std::string(); },
};

}  // namespace

bool reportUnavailableFeatures(ProcState& ps) {
  bool any = false;
  for (Check check : kUnavailable) {
    const std::string what = check(ps);
    if (what.empty()) continue;
    host().message(msg::kFeatureNotAvailable, {what});
    any = true;
  }
  if (any) raiseCode(ps, kCodeNotAllowed);
  return any;
}

void reportOptionsWithoutEffect(const ProcState& ps) {
  for (Check check : kNoEffect) {
    const std::string what = check(ps);
    if (!what.empty()) host().message(msg::kOptionHasNoEffect, {what});
  }
}

}  // namespace zulfact
