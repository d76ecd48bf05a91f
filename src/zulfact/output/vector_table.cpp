#include "zulfact/output/vector_table.hpp"

#include <cstring>

namespace zulfact {

std::string variableName(const ProcState& ps, int i) {
  if (ps.varNames == nullptr || i < 0 || i >= ps.nAll) return {};
  return std::string(ps.varNames + static_cast<size_t>(i) * 33);
}

std::string factorName(const ProcState& ps, int k) {
  if (ps.factorNames == nullptr || ps.factorNameWidth <= 0 || k < 0) return {};
  const char* p = ps.factorNames + static_cast<size_t>(k) * ps.factorNameWidth;
  size_t n = strnlen(p, static_cast<size_t>(ps.factorNameWidth));
  while (n > 0 && p[n - 1] == ' ') --n;
  return std::string(p, n);
}

std::string titleLine(int group, int number, Args args, bool dropWhenLong) {
  std::string text = host().formatMessage(group, number, args);
  if (text.size() >= 120) {
    host().message(180, 174, {120});
    if (dropWhenLong) return {};
    text.resize(120);
  }
  return text;
}

void printVectorTable(ProcState& ps, const VectorTable& table) {
  if (ps.sink == nullptr) return;
  (void)table;
}

void printTextTable(ProcState& ps, std::string_view name, std::string_view text) {
  if (ps.sink == nullptr) return;
  (void)name;
  (void)text;
}

}  // namespace zulfact
