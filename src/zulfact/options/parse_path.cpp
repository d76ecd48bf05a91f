// The path diagram requests: one per PATHDIAGRAM statement, or one with
// the defaults when PLOTS=PATHDIAGRAM stands alone.
#include <strings.h>

#include "zulfact/options/grammar.hpp"
#include "zulfact/options/statement_parser.hpp"
#include "zulfact/state/message_ids.hpp"

namespace zulfact::detail {

namespace {

// Read access to one occurrence of the statement.
class Occurrence {
 public:
  explicit Occurrence(const zul_occurrence& o) : o_(o) {}
  bool bit(int b) const { return zul_flag_test(o_.flags, b) != 0; }
  const zul_slot& slot(int s) const { return o_.slots[s]; }
  double number(int s) const { return slot(s).given ? slot(s).v.number : -1; }
  const char* text(int s) const {
    return slot(s).given ? static_cast<const char*>(slot(s).data) : nullptr;
  }

 private:
  const zul_occurrence& o_;
};

PathRequest defaultRequest() {
  PathRequest r{};
  r.alpha = r.factorSize = r.fuzz = r.cover = r.scale = -1;
  r.decp = r.designHeight = r.designWidth = r.textSizeMin = -1;
  return r;
}

PathRequest readRequest(const Occurrence& o) {
  PathRequest r = defaultRequest();
  r.arrange = o.slot(kSlotPathArrange).given ? toInt(o.number(kSlotPathArrange)) : 0;
  r.nodeLabel = o.slot(kSlotPathNodeLabel).given ? toInt(o.number(kSlotPathNodeLabel)) : 0;
  r.alpha = o.number(kSlotPathAlpha);
  r.factorSize = o.number(kSlotPathFactorSize);
  r.fuzz = o.number(kSlotPathFuzz);
  r.cover = o.number(kSlotPathCover);
  r.scale = o.number(kSlotPathDiagramScale);
  r.decp = toInt(o.number(kSlotPathDecp));
  r.designHeight = toInt(o.number(kSlotPathDesignHeight));
  r.designWidth = toInt(o.number(kSlotPathDesignWidth));
  r.textSizeMin = toInt(o.number(kSlotPathTextSizeMin));
  r.noEstim = o.bit(kBitPathNoEstim);
  r.noVariance = o.bit(kBitPathNoVariance);
  r.noErrVar = o.bit(kBitPathNoErrVar);
  r.noFactorVar = o.bit(kBitPathNoFactorVar);
  r.noTitle = o.bit(kBitPathNoTitle);
  const zul_slot& labels = o.slot(kSlotPathLabel);
  if (labels.given && labels.data) {
    r.labels = static_cast<const zul_pair*>(labels.data);
    r.nLabels = labels.count;
  }
  r.diagramLabel = o.text(kSlotPathDiagramLabel);
  r.title = o.text(kSlotPathTitle);
  return r;
}

}  // namespace

// A LABEL= name must be an analysis variable or a factor; another name is
// most likely misspelt, and a diagram with the label silently missing would
// hide it.
void StatementParser::checkPathLabels(const PathRequest& r) {
  for (int k = 0; k < r.nLabels; ++k) {
    const char* name = r.labels[k].name;
    bool known = false;
    for (int i = 0; i < p_ && !known; ++i) known = strcasecmp(name, varName(i).c_str()) == 0;
    for (size_t f = 0; f < factorNames_.size() && !known; ++f)
      known = strcasecmp(name, factorNames_[f].c_str()) == 0;
    // A solution read from DATA= names its own factors, unknown here.
    if (!known && hasFactorNames_) h_.message(msg::kPathLabelUnknownName, {std::string(name)});
  }
}

void StatementParser::pathRequests() {
  ps_.opt.pathRequests = nullptr;
  ps_.opt.nPathRequests = 0;
  if (!ps_.opt.plots.pathDiagram) return;
  const zul_parsed& rec = rec_.record();
  // PATHDIAGRAM is the grammar's only repeatable statement.
  const int n = rec.occurrences ? rec.nOccurrences : 0;
  ps_.opt.pathRequests = arrays_.get<PathRequest>(std::max(n, 1));
  if (!ps_.opt.pathRequests) return;
  if (n == 0) {
    ps_.opt.pathRequests[0] = defaultRequest();
    ps_.opt.nPathRequests = 1;
    return;
  }
  for (int k = 0; k < n; ++k) {
    const PathRequest r = readRequest(Occurrence(rec.occurrences[k]));
    checkPathLabels(r);
    ps_.opt.pathRequests[ps_.opt.nPathRequests++] = r;
  }
}

}  // namespace zulfact::detail
