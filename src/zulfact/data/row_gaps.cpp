#include "zulfact/data/row_gaps.hpp"

#include "zulfact/host/host.hpp"
#include "zulfact/state/codes.hpp"
#include "zulfact/state/message_ids.hpp"

namespace zulfact {

void RowGaps::look(const StepOptions& opt, const double* values, int n, std::string_view type,
                   std::string_view name, const int32_t* columns) {
  zul_table* table = table_ ? table_ : opt.mainInput;
  for (int i = 0; i < n; ++i) {
    if (!zul_is_missing(values[i])) continue;
    if (count_++ > 0) continue;
    while (!type.empty() && (type.back() == ' ' || type.back() == '\0')) type.remove_suffix(1);
    type_ = type;
    name_ = name;
    zul_var_desc d{};
    if (columns && host().varDesc(table, columns[i], d) == 0)
      variable_ = d.name;
    else
      variable_ = opt.varNames ? std::string(opt.varNames + 33 * static_cast<size_t>(i)) : "";
    line_ = host().recordLine(table);
  }
}

void RowGaps::report(ProcState& ps) const {
  if (count_ == 0) return;
  Host& h = host();
  char lib[33] = {0}, member[33] = {0};
  zul_table* table = table_ ? table_ : ps.opt.mainInput;
  h.getAttribute(table, ZUL_ATTR_LIBRARY, lib);
  h.getAttribute(table, ZUL_ATTR_MEMBER, member);
  lib[32] = member[32] = '\0';
  const std::string others = count_ > 1 ? std::to_string(count_ - 1) : std::string();
  h.message(msg::kStoredRowGap, {std::string(lib), std::string(member), line_, type_, name_, variable_, others});
  raiseCode(ps, kCodeWarning);
}

}  // namespace zulfact
